// One TIFF image file directory (IFD) and its entries, as ExifInfo reads them.
//
// Both types only describe where things lie in the candidate's bytes: every
// position is an offset from the candidate's first byte, never a pointer, so
// a directory can be checked against the candidate's length in 64-bit
// arithmetic before anything is read (TIFF 6.0, section 2 "Image File
// Directory").
#pragma once

#include <cstdint>
#include <vector>

namespace kestrix {

// TIFF 6.0 field types (section 2, "Types"; EXIF 2.3 section 4.6.2).
enum class TiffType : uint16_t {
  Byte = 1,
  Ascii = 2,
  Short = 3,
  Long = 4,
  Rational = 5,
  SignedByte = 6,
  Undefined = 7,
  SignedShort = 8,
  SignedLong = 9,
  SignedRational = 10,
  Float = 11,
  Double = 12,
};

// Highest type number a directory entry may carry; 0 and anything above
// are not TIFF types and the entry is dropped.
inline constexpr uint16_t kLastTiffType = 12;

// Bytes per value of a type, or 0 for a type outside 1..12.
uint32_t tiffTypeSize(uint16_t type);

// One 12-byte directory entry: tag, type, count, value/offset
// (TIFF 6.0 section 2, "IFD Entry").
struct IfdEntry {
  uint16_t tag = 0;
  uint16_t type = 0;       // 1..12; entries with other types are never kept
  uint32_t count = 0;      // number of values, as stored
  uint32_t value = 0;      // value/offset field decoded in the file's byte order
  uint64_t rawOffset = 0;  // the entry's 12 bytes start here in the candidate
  // Where the value's bytes are: rawOffset + 8 when they fit in the 4-byte
  // field (inline), else tiffOffset + value. Set while the directory is read.
  uint64_t dataOffset = 0;
  // typeSize × count, computed in 64 bits so a huge count cannot wrap.
  uint64_t dataSize = 0;
  // dataOffset .. dataOffset + dataSize lies inside the candidate. When false
  // the value is absent: valueText refuses it.
  bool dataInside = false;

  bool isInline() const { return dataSize <= 4; }
};

// One image file directory: a 16-bit count, count × 12 entry bytes and a
// 32-bit offset of the next directory.
struct Ifd {
  uint16_t entryCount = 0;  // the count as stored, before dropping bad entries
  uint64_t location = 0;    // offset of the count field in the candidate
  uint64_t firstEntry = 0;  // location + 2
  // Next-IFD offset relative to the TIFF header; 0 (end of chain) when its
  // four bytes lie outside the candidate.
  uint32_t nextOffset = 0;
  std::vector<IfdEntry> entries;  // the entries that passed validation, in file order
};

}  // namespace kestrix
