// Bounds-checked little-endian reads from bytes that came off a medium.
// Every read checks its offset in 64-bit arithmetic before touching memory
// and fails instead of reading past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrix {

class LittleEndianReader {
 public:
  explicit LittleEndianReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool has(uint64_t offset, uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  bool u8(uint64_t offset, uint8_t* value) const {
    if (!has(offset, 1)) return false;
    *value = bytes_[offset];
    return true;
  }
  bool u16(uint64_t offset, uint16_t* value) const {
    uint64_t wide = 0;
    if (!read(offset, 2, &wide)) return false;
    *value = static_cast<uint16_t>(wide);
    return true;
  }
  bool u32(uint64_t offset, uint32_t* value) const {
    uint64_t wide = 0;
    if (!read(offset, 4, &wide)) return false;
    *value = static_cast<uint32_t>(wide);
    return true;
  }
  bool u64(uint64_t offset, uint64_t* value) const { return read(offset, 8, value); }
  // True when the bytes at offset equal text (no terminator compared).
  bool matches(uint64_t offset, std::span<const char> text) const {
    if (!has(offset, text.size())) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (bytes_[offset + i] != static_cast<uint8_t>(text[i])) return false;
    }
    return true;
  }
  size_t size() const { return bytes_.size(); }

 private:
  bool read(uint64_t offset, unsigned length, uint64_t* value) const {
    if (!has(offset, length)) return false;
    uint64_t result = 0;
    for (unsigned i = length; i-- > 0;) result = (result << 8) | bytes_[offset + i];
    *value = result;
    return true;
  }

  std::span<const uint8_t> bytes_;
};

}  // namespace kestrix
