#include "jobs/restore_preflight.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/candidate_list.h"
#include "jobs/job_reporter.h"
#include "media/device_identity.h"

namespace kestrix {

DestinationFacts examineDestination(const std::string& folder, const std::string& source) {
  DestinationFacts facts;
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) {
    facts.unwritable = errno;
  } else if (!S_ISDIR(status.st_mode)) {
    facts.unwritable = ENOTDIR;
  } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    facts.unwritable = errno;
  }
  struct statvfs room {};
  if (facts.unwritable == 0 && ::statvfs(folder.c_str(), &room) == 0) {
    if ((room.f_flag & ST_RDONLY) != 0) facts.unwritable = EROFS;
    facts.spaceKnown = true;
    facts.freeBytes = static_cast<uint64_t>(room.f_bavail) * room.f_frsize;
    if (room.f_frsize != 0) facts.blockBytes = room.f_frsize;
  }
  struct statfs kind {};
  if (facts.unwritable == 0 && ::statfs(folder.c_str(), &kind) == 0) {
    facts.fourGiBLimit = kind.f_type == MSDOS_SUPER_MAGIC;
  }
  facts.onSource = isOnSourceDevice(source, folder);
  return facts;
}

std::vector<PlannedFile> plannedFiles(const CandidateList& list,
                                      const std::vector<int32_t>& chosen) {
  std::vector<PlannedFile> files;
  for (const int32_t row : chosen) {
    CandidateInfo info;
    if (!list.candidateInfo(row, info)) continue;  // the restore itself reports it
    // A joined file is the sum of its pieces, not the span they lie in.
    files.push_back({info.name, info.find.size()});
  }
  return files;
}

uint64_t spaceNeeded(const std::vector<PlannedFile>& files, uint64_t blockBytes) {
  const uint64_t block = blockBytes == 0 ? 1 : blockBytes;
  uint64_t total = 0;
  for (const PlannedFile& file : files) {
    const uint64_t bytes = file.bytes + kCompletionBytes;
    total += (bytes + block - 1) / block * block;
  }
  return total;
}

std::string sizeText(uint64_t bytes) {
  char text[48];
  if (bytes < (uint64_t{1} << 20)) {
    std::snprintf(text, sizeof text, "%llu KB",
                  static_cast<unsigned long long>((bytes + 1023) / 1024));
  } else if (bytes < (uint64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
  } else {
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / (1 << 30));
  }
  return text;
}

RestoreRefusal checkRestoreDestination(const DestinationFacts& facts,
                                       const std::vector<PlannedFile>& files) {
  // Writing onto the card would overwrite the very bytes being rescued.
  RestoreRefusal refusal;
  if (facts.onSource) {
    refusal.kind = RestoreRefusalKind::OnSource;
    return refusal;
  }
  if (facts.unwritable != 0) {
    refusal.kind = RestoreRefusalKind::Unwritable;
    refusal.error = facts.unwritable;
    return refusal;
  }
  if (facts.fourGiBLimit) {
    const PlannedFile* first = nullptr;
    size_t tooLarge = 0;
    for (const PlannedFile& file : files) {
      if (file.bytes <= kFatLargestFile) continue;
      if (first == nullptr) first = &file;
      ++tooLarge;
    }
    if (first != nullptr) {
      refusal.kind = RestoreRefusalKind::FileTooLargeForFat;
      refusal.firstTooLarge = first->name;
      refusal.tooLarge = tooLarge;
      return refusal;
    }
  }
  if (facts.spaceKnown) {
    const uint64_t needed = spaceNeeded(files, facts.blockBytes);
    if (needed > facts.freeBytes) {
      refusal.kind = RestoreRefusalKind::NotEnoughSpace;
      refusal.neededBytes = needed;
      refusal.freeBytes = facts.freeBytes;
      return refusal;
    }
  }
  return refusal;
}

}  // namespace kestrix
