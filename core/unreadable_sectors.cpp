#include "core/unreadable_sectors.h"

#include <sys/stat.h>

#include <algorithm>

namespace kestrix {

namespace {

constexpr std::string_view kPartSuffix = ".part";

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string mapPathBeside(const std::string& imagePath) {
  const std::string part = imagePath + std::string(kPartSuffix);
  if (!imagePath.ends_with(kPartSuffix) && exists(part) && !exists(part + ".map")) return {};
  return imagePath + ".map";
}

ImageMapLoad loadMapBeside(const std::string& imagePath) {
  ImageMapLoad result;
  const std::string path = mapPathBeside(imagePath);
  if (path.empty() || !exists(path)) return result;
  result.path = path;
  RescueMapLoad loaded = RescueMap::load(path);
  result.map = std::move(loaded.map);
  result.error = std::move(loaded.error);
  return result;
}

int32_t markUnreadableSectors(CandidateList& list, const RescueMap& map) {
  return markUnreadableSectors(list, map, 0, list.itemCount());
}

int32_t markUnreadableSectors(CandidateList& list, const RescueMap& map, int32_t first,
                              int32_t count) {
  int32_t damaged = 0;
  const int32_t end = std::min(list.itemCount(), first + std::max(count, 0));
  for (int32_t row = std::max(first, 0); row < end; ++row) {
    const Candidate* candidate = list.candidateAt(row + 1);
    if (candidate == nullptr) continue;
    const uint64_t sectors = map.unfinishedSectors(candidate->find().start, candidate->find().end);
    list.setUnreadableSectors(row, sectors);
    if (sectors != 0) ++damaged;
  }
  return damaged;
}

uint64_t unreadImageBytes(const RescueMap& map, uint64_t imageBytes) {
  return map.unfinishedBytes(0, std::max(imageBytes, map.domainEnd()));
}

uint64_t mebibytesRoundedUp(uint64_t bytes) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  return bytes / kMiB + (bytes % kMiB != 0 ? 1 : 0);
}

}  // namespace kestrix
