#include "engine/jpeg_structure.h"

#include <cstring>

namespace kestrix::jpeg {

namespace {

bool isFrameMarker(uint8_t m) {  // SOF0..SOF15 without DHT (C4), JPG (C8), DAC (CC)
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}
bool isApplicationMarker(uint8_t m) { return m >= 0xE0 && m <= 0xEF; }

// The markers a file may open with after SOI (the rule of the precise scan).
bool opensFile(uint8_t m) {
  return isApplicationMarker(m) || m == 0xDB || m == 0xC4 || isFrameMarker(m) || m == 0xDD ||
         m == 0xFE;
}

// Segments that may stand before the first scan (T.81 B.2.4, B.6: tables,
// misc. and frame headers; DNL, DHP and EXP included).
bool standsBeforeScan(uint8_t m) {
  return (m >= 0xC0 && m <= 0xCF && m != 0xC8) || (m >= 0xDB && m <= 0xDF) ||
         isApplicationMarker(m) || m == 0xFE;
}

// Segments that may stand between scans (T.81 B.2.4, B.5: tables, misc.,
// DNL and the next scan header).
bool standsBetweenScans(uint8_t m) {
  return m == 0xDA || m == 0xC4 || m == 0xCC || m == 0xDB || m == 0xDC || m == 0xDD ||
         isApplicationMarker(m) || m == 0xFE;
}

bool isLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// Whether the segment after SOI (marker at `q`, length field after it) has
// the shape of its kind; false also when the bytes needed are missing
// (`ranOut` set). Old data holds FF D8 FF followed by anything, so the
// opening segment decides, from its first bytes, whether a file starts here.
bool openingSegmentFits(const BoundBlock& block, uint64_t q, uint8_t marker, bool& ranOut) {
  uint64_t length = 0;
  uint64_t first = 0;  // the payload's first byte
  if (!block.readUnsigned(q + 1, 2, true, length) || !block.readUnsigned(q + 3, 1, true, first)) {
    ranOut = true;
    return false;
  }
  // An application segment names its application first ("JFIF", "Exif", "ICC_PROFILE", ...).
  if (isApplicationMarker(marker)) return length >= 3 && isLetter(static_cast<uint8_t>(first));
  // DQT: precision 0 or 1, table 0..3, at least one 64-entry table (T.81 B.2.4.1).
  if (marker == 0xDB) return length >= 2 + 65 && (first >> 4) <= 1 && (first & 15) <= 3;
  // DHT: class 0 or 1, table 0..3, then 16 code counts (T.81 B.2.4.2).
  if (marker == 0xC4) return length >= 2 + 17 && (first >> 4) <= 1 && (first & 15) <= 3;
  // DRI: exactly the restart interval (T.81 B.2.4.4).
  if (marker == 0xDD) return length == 4;
  if (isFrameMarker(marker)) {
    uint64_t components = 0;
    if (!block.readUnsigned(q + 8, 1, true, components)) {
      ranOut = true;
      return false;
    }
    // SOFn: 8 bytes and 3 per component, at least one (T.81 B.2.2).
    return components >= 1 && length == 8 + 3 * components;
  }
  return true;  // COM: any text
}

constexpr uint8_t MpfIdentifier[4] = {'M', 'P', 'F', 0};
constexpr uint16_t MpEntryTag = 0xB002;
constexpr uint64_t MpEntryLength = 16;
constexpr uint64_t IfdEntryLength = 12;

// The end of the file extended over the images of the MP index whose header
// (the TIFF-style byte-order mark) is at `header`; `end` is the end of the
// primary image. Offsets count from the MP header (CIPA DC-007 5.2.3).
StructureEnd extendOverIndexedImages(const BoundBlock& block, uint64_t header, uint64_t end) {
  uint64_t order = 0;
  if (!block.readUnsigned(header, 2, true, order)) return StructureEnd::ranOut();
  // An index in neither byte order is damaged: the primary image still stands.
  if (order != 0x4949 && order != 0x4D4D) return StructureEnd::endsAt(end);
  const bool big = order == 0x4D4D;
  uint64_t magic = 0;
  uint64_t ifdOffset = 0;
  uint64_t tagCount = 0;
  if (!block.readUnsigned(header + 2, 2, big, magic)) return StructureEnd::ranOut();
  if (magic != 42) return StructureEnd::endsAt(end);
  if (!block.readUnsigned(header + 4, 4, big, ifdOffset)) return StructureEnd::ranOut();
  const uint64_t ifd = header + ifdOffset;
  if (!block.readUnsigned(ifd, 2, big, tagCount)) return StructureEnd::ranOut();
  if (tagCount > MaxIndexTags) tagCount = MaxIndexTags;
  uint64_t extended = end;
  for (uint64_t t = 0; t < tagCount; ++t) {
    const uint64_t entry = ifd + 2 + t * IfdEntryLength;
    uint64_t tag = 0, count = 0, valueOffset = 0;
    if (!block.readUnsigned(entry, 2, big, tag) || !block.readUnsigned(entry + 4, 4, big, count) ||
        !block.readUnsigned(entry + 8, 4, big, valueOffset)) {
      return StructureEnd::ranOut();
    }
    if (tag != MpEntryTag) continue;
    uint64_t pictures = count / MpEntryLength;
    if (pictures > MaxPictureEntries) pictures = MaxPictureEntries;
    for (uint64_t i = 0; i < pictures; ++i) {
      const uint64_t at = header + valueOffset + i * MpEntryLength;
      uint64_t pictureSize = 0, pictureOffset = 0;
      if (!block.readUnsigned(at + 4, 4, big, pictureSize) ||
          !block.readUnsigned(at + 8, 4, big, pictureOffset)) {
        return StructureEnd::ranOut();
      }
      // Offset 0 is the primary image itself (CIPA DC-007 5.2.3.3.3).
      if (pictureOffset == 0 || pictureSize == 0) continue;
      const uint64_t pictureStart = header + pictureOffset;
      uint64_t soi = 0;
      if (!block.readUnsigned(pictureStart, 2, true, soi)) return StructureEnd::ranOut();
      // An entry that does not lead to an SOI points at no image of this file.
      if (soi != 0xFFD8) continue;
      if (!block.contains(pictureStart, pictureSize)) return StructureEnd::ranOut();
      if (pictureStart + pictureSize > extended) extended = pictureStart + pictureSize;
    }
  }
  return StructureEnd::endsAt(extended);
}

}  // namespace

StructureEnd structureEnd(const BoundBlock& block, uint64_t start) {
  uint8_t first = 0;
  if (!block.readByte(start + 3, first)) return StructureEnd::ranOut();
  // A stray FF D8 FF in old data is no photo unless a marker segment follows SOI.
  if (!opensFile(first)) return StructureEnd::notAFile();
  bool ranOut = false;
  if (!openingSegmentFits(block, start + 3, first, ranOut)) {
    return ranOut ? StructureEnd::ranOut() : StructureEnd::notAFile();
  }

  uint64_t p = start + 2;  // at the FF of the next marker
  bool frameSeen = false;
  uint64_t mpfHeader = 0;  // 0: no MP index seen
  for (int segments = 0;; ++segments) {
    if (segments >= MaxSegmentsBeforeScan) return StructureEnd::notAFile();
    uint8_t byte = 0;
    if (!block.readByte(p, byte)) return StructureEnd::ranOut();
    if (byte != 0xFF) return StructureEnd::notAFile();  // segment lengths that lead nowhere
    uint64_t q = p + 1;
    uint8_t marker = 0;
    for (;; ++q) {  // fill bytes before a marker (T.81 B.1.1.2)
      if (!block.readByte(q, marker)) return StructureEnd::ranOut();
      if (marker != 0xFF) break;
    }
    // No frame header before the first scan, or a marker that cannot head a
    // segment here: not a JPEG file.
    if (marker == 0xDA && !frameSeen) return StructureEnd::notAFile();
    if (marker != 0xDA && !standsBeforeScan(marker)) return StructureEnd::notAFile();
    uint64_t length = 0;
    if (!block.readUnsigned(q + 1, 2, true, length)) return StructureEnd::ranOut();
    if (length < 2) return StructureEnd::notAFile();  // the length counts its own two bytes
    if (isFrameMarker(marker)) frameSeen = true;
    if (marker == 0xE2 && mpfHeader == 0 && block.equals(q + 3, MpfIdentifier, 4) && length >= 6) {
      mpfHeader = q + 3 + 4;
    }
    p = q + 1 + length;
    if (marker == 0xDA) break;
  }

  // Entropy-coded data and what may follow it, up to EOI.
  uint64_t end = 0;
  for (;;) {
    if (p >= block.size()) return StructureEnd::ranOut();
    const void* hit = std::memchr(block.uncheckedAt(p), 0xFF, block.size() - p);
    if (hit == nullptr) return StructureEnd::ranOut();
    const uint64_t q = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - block.uncheckedAt(0));
    uint8_t marker = 0;
    if (!block.readByte(q + 1, marker)) return StructureEnd::ranOut();
    if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7)) {  // stuffed byte, restart marker
      p = q + 2;
      continue;
    }
    if (marker == 0xFF) {  // a fill byte; the next FF may start the marker
      p = q + 1;
      continue;
    }
    if (marker == 0xD9) {
      end = q + 2;
      break;
    }
    uint64_t length = 0;
    // A marker that cannot stand in or between scans (a new SOI, an undefined
    // marker) means the card holds other bytes from here: the file ends before it.
    if (!standsBetweenScans(marker)) return StructureEnd::endsAt(q);
    if (!block.readUnsigned(q + 2, 2, true, length)) return StructureEnd::ranOut();
    // A segment too short to hold its own length field is damage of the same kind.
    if (length < 2) return StructureEnd::endsAt(q);
    p = q + 2 + length;
  }
  if (mpfHeader == 0) return StructureEnd::endsAt(end);
  return extendOverIndexedImages(block, mpfHeader, end);
}

}  // namespace kestrix::jpeg
