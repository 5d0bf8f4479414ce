#include "imaging/ifd_walker.h"

#include <algorithm>
#include <array>

#include "imaging/exif_limits.h"
#include "imaging/ifd_byte_reader.h"

namespace kestrix {

namespace {

constexpr uint64_t kEntrySize = 12;  // TIFF 6.0: tag, type, count, value/offset
constexpr uint16_t kExifPointerTag = 0x8769;
constexpr uint16_t kGpsPointerTag = 0x8825;

}  // namespace

uint8_t IfdWalker::walk(IfdVisitor& visitor) {
  entriesLeft_ = kExifMaxEntriesPerCandidate;
  limitsHit_ = kExifWithinLimits;
  exifPointerFound_ = gpsPointerFound_ = false;

  const IfdByteReader reader(bytes_, length_, motorola_);
  uint32_t offset =
      reader.u32(tiffOffset_ + 4).value_or(0);  // a header cut short has no directories

  std::array<uint64_t, kExifMaxMainChainDirectories> visited{};
  size_t visitedCount = 0;
  while (offset != 0 && offset <= length_) {
    const uint64_t location = tiffOffset_ + offset;
    // A next offset leading back to a directory already read is a loop.
    if (std::find(visited.begin(), visited.begin() + visitedCount, location) !=
        visited.begin() + visitedCount) {
      break;
    }
    if (visitedCount == visited.size()) {
      limitsHit_ |= kExifDirectoryLimit;
      break;
    }
    visited[visitedCount++] = location;
    // A directory without valid entries is the visitor's to drop; its next
    // offset is still followed: a damaged IFD0 must not hide IFD1.
    if (!readDirectory(IfdList::Main, location, offset, visitor)) break;
  }

  readSubDirectory(IfdList::Exif, exifPointerFound_, exifPointer_, visitor);
  readSubDirectory(IfdList::Gps, gpsPointerFound_, gpsPointer_, visitor);
  return limitsHit_;
}

void IfdWalker::readSubDirectory(IfdList list, bool found, uint32_t offset, IfdVisitor& visitor) {
  if (!found) return;
  uint32_t next = 0;  // sub-directories have no chain
  readDirectory(list, tiffOffset_ + offset, next, visitor);
}

// True when a directory was read at `location`; its entries may still all
// have been dropped. False for a count of 0, a count the candidate cannot
// hold, or entry bytes outside the candidate.
bool IfdWalker::readDirectory(IfdList list, uint64_t location, uint32_t& nextOffset,
                              IfdVisitor& visitor) {
  const IfdByteReader reader(bytes_, length_, motorola_);
  const std::optional<uint16_t> count = reader.u16(location);
  if (!count || *count == 0) return false;
  const uint64_t entryBytes = uint64_t{*count} * kEntrySize;
  if (entryBytes > length_) return false;  // more entries than the candidate holds
  if (!reader.contains(location + 2, entryBytes)) return false;  // entries run off the end

  Ifd header;
  header.entryCount = *count;
  header.location = location;
  header.firstEntry = location + 2;
  // The next offset is outside when the directory ends the candidate: end of chain.
  header.nextOffset = reader.u32(header.firstEntry + entryBytes).value_or(0);
  nextOffset = header.nextOffset;

  uint32_t examined = *count;
  if (examined > kExifMaxEntriesPerDirectory) {
    examined = kExifMaxEntriesPerDirectory;
    limitsHit_ |= kExifEntryLimit;
  }
  if (examined > entriesLeft_) {
    examined = entriesLeft_;
    limitsHit_ |= kExifCandidateEntryLimit;
  }
  entriesLeft_ -= examined;

  visitor.beginDirectory(list, header);
  const uint64_t end = header.firstEntry + uint64_t{examined} * kEntrySize;
  for (uint64_t raw = header.firstEntry; raw < end; raw += kEntrySize) {
    IfdEntry entry;
    entry.rawOffset = raw;
    entry.tag = *reader.u16(raw);  // inside: checked with the whole directory
    entry.type = *reader.u16(raw + 2);
    entry.count = *reader.u32(raw + 4);
    entry.value = *reader.u32(raw + 8);
    if (entry.type == 0 || entry.type > kLastTiffType)
      continue;  // not a TIFF type: skip, keep the rest
    entry.dataSize = uint64_t{tiffTypeSize(entry.type)} * entry.count;
    entry.dataOffset = entry.isInline() ? raw + 8 : tiffOffset_ + entry.value;
    entry.dataInside = reader.contains(entry.dataOffset, entry.dataSize);
    if (list == IfdList::Main) {
      // The first pointer of the chain wins, as a lookup would find it.
      if (entry.tag == kExifPointerTag && !exifPointerFound_) {
        exifPointerFound_ = true;
        exifPointer_ = entry.value;
      } else if (entry.tag == kGpsPointerTag && !gpsPointerFound_) {
        gpsPointerFound_ = true;
        gpsPointer_ = entry.value;
      }
    }
    visitor.entry(list, entry);
  }
  visitor.endDirectory(list);
  return true;
}

}  // namespace kestrix
