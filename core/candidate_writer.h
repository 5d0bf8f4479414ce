// The candidate writer: one found file out of the image into a folder.
//
//   CandidateWriter writer(image, &engines);   // engines of this user only
//   WrittenFile file = writer.write(info, folder, options);
//   ...
//   writer.syncFolder(folder);                 // before success is reported
//
// Every file is written to a temporary ".kxpart-XXXXXX" in the destination
// (locked while it is ours, so a later restore removes only the ones a
// killed restore left: removeStaleTemporaries), flushed, and only then
// linked under its name, so a file that carries its
// final name always holds all of its bytes, even after a power cut. A
// restore of many files defers the naming (WriteOptions::deferNaming): the
// files wait under their temporary names, and nameWaiting() flushes them all
// with one syncfs and then names them, which costs one flush per batch
// instead of one per file. A name already taken in the folder is never replaced: the file gets
// the next free name, "NAME (2).jpg", "NAME (3).jpg" and so on, decided
// atomically by the rename itself (RENAME_NOREPLACE), so a file appearing
// meanwhile is not replaced either. Previews into the program's own
// temporary folder may ask to replace instead.
//
// A file that is exactly a range of the image (Candidate::plainRange) is
// read from the medium with ImageBlock::read, which fails on bytes it
// cannot read; any other goes through its engine's Extract, which may
// complete it, and fails when the image lost pages or shrank meanwhile.
// Either way a file of zeros standing in for lost bytes is never named.
//
// Threads: one writer per thread; the engine set must be that thread's own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/candidate_list.h"
#include "core/image_block.h"

namespace kestrix {

class EngineSet;

// Only this date option value sets file times from the shot date.
inline constexpr int32_t kDateOptionSetFileTime = 1;

struct WriteOptions {
  int32_t dateOption = 0;        // kDateOptionSetFileTime sets the file times
  bool replaceExisting = false;  // previews in the private temporary folder only
  // Leave the file under its temporary name until nameWaiting(); the
  // result's path is then empty.
  bool deferNaming = false;
  // Asked between chunks; false stops the write and removes the temporary
  // file (Ctrl-C, SIGTERM, the window's stop). Empty means "go on".
  std::function<bool()> keepGoing;
};

struct WrittenFile {
  bool ok = false;
  bool stopped = false;  // keepGoing turned false; nothing was left behind
  std::string path;      // where the file went (with its " (N)" when taken); empty while waiting
  std::string name;      // the row's name it was written for
  uint64_t bytes = 0;
  FileProblem problem;  // why it failed; None when it did not
};

// Why a row name cannot become a file in the destination (EmptyName,
// ReservedName, NameWithSeparator); None when it can. A name must stay one
// plain entry of the destination folder.
FileProblem rowNameProblem(std::string_view name);

// The name with " (n)" before its extension: "IMG.jpg", 2 -> "IMG (2).jpg".
std::string numberedName(const std::string& name, int number);

// Sets the access and modification times of an open file from an EXIF date
// "YYYY:MM:DD hh:mm:ss" read as local time. True when the times were set;
// false (times untouched) for a text that is not 19 characters or a date
// the local-time conversion rejects.
bool setFileTimeFromShotDate(int fd, const char* dateText);

// This process's own folder for temporary files (previews write here),
// without a trailing '/': made once with mkdtemp (mode 0700) under $TMPDIR,
// else /tmp, and removed with its contents at exit, so other instances never
// meet its names. Falls back to the system's folder itself when it cannot be
// made.
std::string temporaryFolder();

class CandidateWriter {
 public:
  // Neither is owned; `engines` may be null when only plain ranges are
  // written.
  CandidateWriter(const ImageBlock& image, EngineSet* engines) : image_(image), engines_(engines) {}

  ~CandidateWriter();
  CandidateWriter(const CandidateWriter&) = delete;
  CandidateWriter& operator=(const CandidateWriter&) = delete;

  WrittenFile write(const CandidateInfo& info, const std::string& folder,
                    const WriteOptions& options);
  // Files written with deferNaming and not named yet, and their bytes.
  size_t waitingCount() const { return waiting_.size(); }
  uint64_t waitingBytes() const { return waitingBytes_; }
  // Flushes every waiting file's data to its medium (syncfs), gives each its
  // name (never replacing a file: "NAME (2)" …) and flushes the folders.
  // Returns one result per waiting file, in the order written; when the
  // flush fails every one fails and its temporary file is removed.
  std::vector<WrittenFile> nameWaiting();
  // Removes from `folder` the temporary files ".kxpart-XXXXXX" that no live
  // writer holds: each writer keeps an exclusive flock on its temporary
  // until the file has its name or is removed, so one whose lock can be
  // taken was left by a restore that was killed. Nothing else is touched:
  // not another name, not a link or folder of that name, not a file
  // that cannot be opened or locked. Returns how many went.
  static size_t removeStaleTemporaries(const std::string& folder);
  // Flushes the folder's entries (the renames) to the medium. False with
  // why (FolderNotOpened, FolderNotSynced) when that fails: then nothing
  // may be reported as restored.
  static bool syncFolder(const std::string& folder, FileProblem* problem = nullptr);

 private:
  struct Waiting {
    std::string temporaryPath;
    std::string folder;
    WrittenFile file;
    int lockFd = -1;  // holds the temporary's flock until it is named; -1 without one
  };

  const ImageBlock& image_;
  EngineSet* engines_;
  std::vector<Waiting> waiting_;  // temporary files that nameWaiting() will name
  uint64_t waitingBytes_ = 0;
};

}  // namespace kestrix
