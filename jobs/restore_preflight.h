// The questions asked of a destination folder before a restore writes the
// first byte: can files be made there, is there room for the selection, can
// its file system hold files of their size, and is it on the card being
// read. A restore that would fail on every file, or fill the disk half way,
// is refused instead, with the facts the programs' words for it need.
//
//   const DestinationFacts facts = examineDestination(folder, imagePath);
//   const RestoreRefusal refusal = checkRestoreDestination(facts, plannedFiles(list, chosen));
//   if (refusal) tellTheUser(refusalText(refusal));   // texts/job_texts.h; nothing was written
//
// The facts are gathered apart from the decision, so the window's tests can
// hand in a full or a FAT destination without making one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrix {

class CandidateList;

// What the system says about a destination folder.
struct DestinationFacts {
  // errno of the first thing that stops files being made there (the folder
  // is missing, no folder, read-only, not ours to write); 0 when none does.
  int unwritable = 0;
  // Room for new files as an unprivileged writer sees it, and the unit the
  // file system hands out space in; unknown when the system would not say.
  bool spaceKnown = false;
  uint64_t freeBytes = 0;
  uint64_t blockBytes = 4096;
  // FAT12/16/32: no file may reach 4 GiB.
  bool fourGiBLimit = false;
  // The folder lies on the drive the image is being read from.
  bool onSource = false;
};

// access(2) for writing and entering (a read-only mount answers EROFS, even
// to root), statvfs(2) for the room, statfs(2) for the file system kind and
// isOnSourceDevice (media/device_identity.h) for `source`.
DestinationFacts examineDestination(const std::string& folder, const std::string& source);
using DestinationExaminer =
    std::function<DestinationFacts(const std::string& folder, const std::string& source)>;

// One file the restore means to write: its name and its bytes in the image.
struct PlannedFile {
  std::string name;
  uint64_t bytes = 0;
};
// The rows `chosen` of `list` (the ones the restore will be given), in
// the order given; a row the list does not have is left out (the restore
// itself reports it).
std::vector<PlannedFile> plannedFiles(const CandidateList& list,
                                      const std::vector<int32_t>& chosen);

enum class RestoreRefusalKind {
  None,                // the restore may go ahead
  OnSource,            // the folder lies on the drive being read
  Unwritable,          // no file can be made in the folder; `error` says why
  FileTooLargeForFat,  // `tooLarge` files, the first `firstTooLarge`, reach 4 GiB on FAT
  NotEnoughSpace,      // `neededBytes` will not fit into `freeBytes`
};

struct RestoreRefusal {
  RestoreRefusalKind kind = RestoreRefusalKind::None;
  int error = 0;              // Unwritable: errno
  std::string firstTooLarge;  // FileTooLargeForFat: the first such file's name
  size_t tooLarge = 0;        // FileTooLargeForFat: how many there are
  uint64_t neededBytes = 0;   // NotEnoughSpace
  uint64_t freeBytes = 0;     // NotEnoughSpace
  explicit operator bool() const { return kind != RestoreRefusalKind::None; }
};

// Largest file a FAT file system holds (its size field is 32 bits).
inline constexpr uint64_t kFatLargestFile = 0xFFFFFFFFu;
// Room counted for each file beyond its bytes in the image: the writer may
// complete a find (a JPEG's start marker, a PNG's CRC, a movie's atom).
inline constexpr uint64_t kCompletionBytes = 64;

// The space the files take: each rounded up to whole blocks of `blockBytes`.
uint64_t spaceNeeded(const std::vector<PlannedFile>& files, uint64_t blockBytes);

// The first refusal in the order the user can act on it: the card itself,
// a folder that takes no files, a file too large for FAT, too little room.
RestoreRefusal checkRestoreDestination(const DestinationFacts& facts,
                                       const std::vector<PlannedFile>& files);

// "812 KB", "3.4 MB", "1.2 GB": sizes in a refusal, in the list's units.
std::string sizeText(uint64_t bytes);

}  // namespace kestrix
