// Why one candidate's bytes could not be had, or its file not written: a
// code, with the system's error number and the name or extension it is
// about beside it. The window and the command line turn it into words
// (texts/job_texts.h); nothing below them holds a sentence for it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace kestrix {

enum class FileProblemCode : uint8_t {
  None,               // nothing went wrong
  OutsideImage,       // the candidate's bytes do not lie inside the image
  ImageUnreadable,    // the image could not be read; `error` when the system said why
  ImageShrank,        // the image ended before the candidate did (file cut short, card pulled)
  NoExtension,        // the row's name has no extension to find its engine by
  NoEngine,           // no scan engine handles the extension in `detail` (".jpg")
  OutOfMemory,        // no memory for the candidate's bytes
  NotExtracted,       // the engine gave no bytes for the candidate
  EmptyName,          // the row's name is empty
  ReservedName,       // the row's name in `detail` is "." or ".."
  NameWithSeparator,  // the row's name in `detail` holds a path separator
  OutputNotCreated,   // the file could not be made or named in the folder; `error`
  WriteFailed,  // writing or flushing the file failed; `error`, or 0 for a write that took nothing
  FolderNotOpened,      // the destination folder could not be opened; `error`
  FolderNotSynced,      // the folder's entries could not be flushed; `error`
  Stopped,              // the user stopped the work
  RowUnreadable,        // the list could not give the row's details
  NameWrittenThisRun,   // a file of this name was already written by this restore
  DestinationOnSource,  // the destination folder lies on the drive being read
};
// The last code: a new one goes before this line and becomes it, so the
// programs' tables are checked for its words.
inline constexpr FileProblemCode kLastFileProblemCode = FileProblemCode::DestinationOnSource;

struct FileProblem {
  FileProblem() = default;
  // Not explicit: `return {FileProblemCode::WriteFailed, errno};` reads as what it says.
  FileProblem(FileProblemCode code, int error = 0, std::string detail = {})
      : code(code), error(error), detail(std::move(detail)) {}

  FileProblemCode code = FileProblemCode::None;
  int error = 0;       // errno beside the code; 0 when the system gave none
  std::string detail;  // the name or extension the code is about; empty for the others

  explicit operator bool() const { return code != FileProblemCode::None; }
};

}  // namespace kestrix
