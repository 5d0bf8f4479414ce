// kestrix-cli: one table row per command. A command group lives in its own
// source file and declares its entry points in a header; a row whose header
// is not in this tree stays in the help but says it is not built.
#include <cstdio>
#include <cstring>

#include "cli/scan_commands.h"

#if __has_include("cli/image_commands.h")
#include "cli/image_commands.h"
#define KESTRIX_HAVE_IMAGE_COMMANDS 1
#endif
#if __has_include("cli/media_commands.h")
#include "cli/media_commands.h"
#define KESTRIX_HAVE_MEDIA_COMMANDS 1
#endif

namespace kestrix {
namespace {

using CommandFunction = int (*)(int argc, char** argv);

struct Command {
  const char* name;
  CommandFunction run;  // null when this build lacks the command
  const char* usage;
  const char* summary;
};

// Each function gets the words from the command's name on (argv[0] is the
// name) and returns the exit code.
constexpr Command kCommands[] = {
    // name        entry point         usage / summary
    {"scan", runScanCommand, "scan IMAGE [--split] [--json]",
     "scan a disk image and list the candidates (name, start, end, size, model, date, GPS, "
     "maker, byte order; --json: a JSON array; --split: every JPEG stream separately)"},
    {"restore", runRestoreCommand,
     "restore IMAGE DEST [--split] [--set-file-time] [--tidy PREFIX:DIGITS] [NAME...]",
     "scan, optionally rename (PREFIX + DIGITS-digit serial + extension), and write the named "
     "candidates (all when none is named) into the existing folder DEST; --set-file-time dates "
     "the files from the EXIF shot date; exit 1 when any file could not be written"},
    {"report", runReportCommand, "report IMAGE [--split]",
     "scan and print the restore list (CR LF line ends)"},
#ifdef KESTRIX_HAVE_IMAGE_COMMANDS
    {"decode", runDecodeCommand, "decode JPEG OUT.bmp", "decode a JPEG with the program's decoder"},
    {"thumbnail", runThumbnailCommand, "thumbnail JPEG OUT.bmp", "make a 100 x 75 thumbnail"},
#else
    {"decode", nullptr, "decode ...", "decode a JPEG with the program's decoder"},
    {"thumbnail", nullptr, "thumbnail ...", "make a 100 x 75 thumbnail"},
#endif
#ifdef KESTRIX_HAVE_MEDIA_COMMANDS
    {"drives", runDrivesCommand, "drives", "list the drives that can be copied"},
    {"image", runImageCommand, "image DRIVE IMAGE", "copy a drive into a disk image file"},
#else
    {"drives", nullptr, "drives", "list the drives that can be copied"},
    {"image", nullptr, "image DRIVE IMAGE", "copy a drive into a disk image file"},
#endif
};

void printHelp(std::FILE* to) {
  std::fprintf(to, "kestrix-cli: recover photos and movie clips from a disk image\n\n");
  for (const Command& command : kCommands) {
    std::fprintf(to, "  kestrix-cli %s\n      %s%s\n", command.usage, command.summary,
                 command.run == nullptr ? " (not in this build)" : "");
  }
  std::fprintf(to,
               "\nExit codes: 0 done, 1 some files could not be written, 2 bad arguments "
               "or an unreadable image.\n");
}

}  // namespace
}  // namespace kestrix

int main(int argc, char** argv) {
  using namespace kestrix;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    printHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    if (command.run == nullptr) {
      std::fprintf(stderr, "kestrix-cli %s: このビルドには含まれていません。\n", command.name);
      return 2;
    }
    return command.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "不明なコマンドです: %s\n", argv[1]);
  printHelp(stderr);
  return 2;
}
