// Hostile map files: the parser, every question the scan asks of what it
// accepted, and the format/parse round trip, which must give the same map.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "media/rescue_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto map = kestrix::RescueMap::parse(text);
  if (!map) return 0;
  const uint64_t end = map->domainEnd();
  const uint64_t half = map->domainBegin() + (end - map->domainBegin()) / 2;
  map->unfinishedSectors(0, UINT64_MAX);
  map->unfinishedSectors(half, end + 513);
  map->unfinishedBytes(half, half + 1);
  map->nextBlock(half, kestrix::BlockStatus::BadSector);
  auto again = kestrix::RescueMap::parse(map->format());
  if (!again || again->format() != map->format()) std::abort();
  map->set(half, end + 4096, kestrix::BlockStatus::Finished);
  if (map->unfinishedBytes(half, end + 4096) != 0) std::abort();
  return 0;
}
