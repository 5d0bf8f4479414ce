#include "engine/png_structure.h"

#include <zlib.h>

#include <cstring>

namespace kestrix::png {

namespace {

constexpr uint8_t HeaderType[4] = {'I', 'H', 'D', 'R'};
constexpr uint8_t EndType[4] = {'I', 'E', 'N', 'D'};
constexpr uint64_t HeaderDataLength = 13;
constexpr uint64_t ChunkOverhead = 12;  // length, type, CRC

bool isLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// CRC-32 of ISO/IEC 15948 annex D over [offset, offset + length); the caller
// has checked that the range lies in the block. zlib takes at most 4 GiB - 1 a call.
uint32_t crcOf(const BoundBlock& block, uint64_t offset, uint64_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (length > 0) {
    const uInt part = length > 0x40000000 ? 0x40000000u : static_cast<uInt>(length);
    crc = crc32(crc, block.uncheckedAt(offset), part);
    offset += part;
    length -= part;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace

StructureEnd structureEnd(const BoundBlock& block, uint64_t start) {
  uint64_t p = start + sizeof(FileSignature);
  for (bool first = true;; first = false) {
    uint64_t length = 0;
    if (!block.readUnsigned(p, 4, true, length) || !block.contains(p + 4, 4)) {
      return StructureEnd::ranOut();
    }
    const uint8_t* type = block.uncheckedAt(p + 4);
    const bool typeValid = isLetter(type[0]) && isLetter(type[1]) && isLetter(type[2]) &&
                           isLetter(type[3]);
    // The first chunk is IHDR of 13 bytes (ISO/IEC 15948 11.2.2): a signature
    // without it is a stray copy of the signature bytes.
    if (first && (length != HeaderDataLength || std::memcmp(type, HeaderType, 4) != 0)) {
      return StructureEnd::notAFile();
    }
    // A field that is no chunk header means the file was cut here on the card.
    if (length > MaxChunkLength || !typeValid) return StructureEnd::endsAt(p);
    if (!block.contains(p, ChunkOverhead + length)) return StructureEnd::ranOut();
    uint64_t stored = 0;
    block.readUnsigned(p + 8 + length, 4, true, stored);
    // A chunk whose CRC does not match is not this file's: it ends before it
    // (for IHDR: the signature was a stray copy).
    if (crcOf(block, p + 4, 4 + length) != stored) {
      return first ? StructureEnd::notAFile() : StructureEnd::endsAt(p);
    }
    p += ChunkOverhead + length;
    if (std::memcmp(type, EndType, 4) == 0) return StructureEnd::endsAt(p);
  }
}

}  // namespace kestrix::png
