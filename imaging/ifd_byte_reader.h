// The one bounds-checked reader for TIFF/EXIF bytes from the medium.
//
// Every read names an offset from the start of the viewed bytes and a width;
// the offset is checked against the length in 64-bit arithmetic before any
// pointer is formed, and a read that would run past the end fails instead of
// reading on. Multi-byte numbers are big-endian for Motorola ("MM") and
// little-endian otherwise (TIFF 6.0 section 2, "Byte Order").
#pragma once

#include <cstdint>
#include <optional>

namespace kestrix {

class IfdByteReader {
 public:
  IfdByteReader(const uint8_t* bytes, uint64_t length, bool motorola)
      : bytes_(bytes), length_(bytes ? length : 0), motorola_(motorola) {}

  // offset .. offset + size lies inside the bytes (no overflow possible:
  // both are compared, never added past the length).
  bool contains(uint64_t offset, uint64_t size) const {
    return offset <= length_ && size <= length_ - offset;
  }

  std::optional<uint8_t> u8(uint64_t offset) const;
  std::optional<uint16_t> u16(uint64_t offset) const;
  std::optional<uint32_t> u32(uint64_t offset) const;
  std::optional<uint64_t> u64(uint64_t offset) const;

  // The address of a checked range; null when the range is not inside.
  const uint8_t* at(uint64_t offset, uint64_t size) const;

  uint64_t length() const { return length_; }
  bool motorola() const { return motorola_; }

 private:
  uint64_t readUnchecked(uint64_t offset, unsigned width) const;

  const uint8_t* bytes_;
  uint64_t length_;
  bool motorola_;
};

}  // namespace kestrix
