// Every sentence kestrix-cli prints of its own, each once, by name; the
// words for the codes of core/ and jobs/ come from texts/job_texts.h,
// which the window shares. A text with %-fields is a printf format.
//
//   std::fprintf(stderr, cliText(CliText::UnknownCommand), argv[1]);
//   printError(cliFormat(CliText::NoSuchCandidate, name.c_str()));
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace kestrix {

enum class CliText {
  OptionNeedsValue,       // %s: the option given last without its value
  UnknownOption,          // %s: the word
  UnknownCommand,         // %s: the word; LF-terminated
  CopyProgress,           // the copy's line, redrawn over itself after CR
  CopySummary,            // bytes read, unfinished bytes, bad sectors; LF-terminated
  MapNotWritten,          // %s map path, %s the system's reason; LF-terminated
  CopyStopped,            // LF-terminated
  CopyResumable,          // %s part image, %s map; LF-terminated
  CopyReportNotWritten,   // %s the system's reason; LF-terminated
  RetriesOutOfRange,      // --retries beyond 0 to 1000
  YesWithResume,          // --yes and --resume together
  ImageOverSource,        // %s: the image would replace the source file; LF-terminated
  ImageOverNonFile,       // %s: a device or folder stands where the image goes; LF-terminated
  NoMapToResume,          // %s: the map a --resume needs; LF-terminated
  ImageExists,            // %s: a file would be replaced without --yes; LF-terminated
  ResumeHint,             // after ImageExists for an unfinished copy's file; LF-terminated
  RestoreUsage,           // the restore command's words
  ScanUsage,              // the scan command's words
  ReportUsage,            // the report command's words
  OnlyWhichVerdict,       // --only with a word that names no verdict
  OnlyNeedsCheck,         // --only without --check
  NoDestinationFolder,    // %s: the folder
  StoppedBeforeRestore,   // a signal came before any file was written
  NoSuchCandidate,        // %s: the name
  NotRestored,            // %s name, %s why
  StoppedWhileRestoring,  // %u files written; LF-terminated
  Restored,               // %u files written; LF-terminated
  RestoredRenamed,        // %u of them under another name; LF-terminated
  RestoreFailures,        // %zu files not written; LF-terminated
  RowsNotAdded,           // %llu rows the list could not take
  ImageBytesUnreadable,   // %llu KiB the scan read as zeros
  MapUnreadable,          // %s map path, %s the map's own reason
  MapBesideUnreadable,    // %s: MapUnreadable of the map beside the image, which is passed over
  ImageIncomplete,        // %llu MiB (rounded up) the copy has not read yet
  SeamLimitReached,       // %llu photos, %llu seams each; LF-terminated
  JoinWorkLimitReached,   // %llu MiB decoded; LF-terminated
  // The help: each command's words and what it does, printed by main.cpp
  HelpHeading,       // the help's first line, then an empty one
  ScanHelp,          // the scan command's words in the help
  ScanSummary,       // what the scan command does, in the help
  RestoreHelp,       // the restore command's words in the help
  RestoreSummary,    // what the restore command does, in the help
  ReportHelp,        // the report command's words in the help
  ReportSummary,     // what the report command does, in the help
  DecodeHelp,        // the decode command's words in the help
  DecodeSummary,     // what the decode command does, in the help
  ThumbnailHelp,     // the thumbnail command's words in the help
  ThumbnailSummary,  // what the thumbnail command does, in the help
  DrivesHelp,        // the drives command's words in the help
  DrivesSummary,     // what the drives command does, in the help
  ImageHelp,         // the image command's words in the help
  ImageSummary,      // what the image command does, in the help
  HelpExitCodes,     // the help's last paragraph; LF-terminated
  // The picture and drive commands
  DecodeUsage,        // %s: the command's name; LF-terminated
  ThumbnailUsage,     // %s: the command's name; LF-terminated
  DrivesUsage,        // LF-terminated
  ImageUsage,         // LF-terminated
  DecodeError,        // %d: the decoder's error code; LF-terminated
  PictureNotWritten,  // %s the output file, %s the system's reason; LF-terminated
  DecodeStopped,      // %llu the byte offset, %s the fault's reason; LF-terminated
  PictureNotLoaded,   // %s: the input file; LF-terminated
  ListedReassembled,  // after the verdict in scan --check's list, for a joined photo
};
// A new text goes before this line, its row at the table's end.
inline constexpr size_t kCliTextCount = static_cast<size_t>(CliText::ListedReassembled) + 1;

struct CliTextEntry {
  CliText id;
  const char* text;
};

// The whole table, in the order of CliText.
std::span<const CliTextEntry> cliTexts();
const char* cliText(CliText id);

// The text with its %-fields filled in.
template <class... Values>
std::string cliFormat(CliText id, Values... values) {
  const char* format = cliText(id);
  const int length = std::snprintf(nullptr, 0, format, values...);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}

}  // namespace kestrix
