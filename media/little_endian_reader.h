// Little-endian reads of boot sectors and other records off a medium: the
// shared checked view (platform/byte_view.h) in the byte order of FAT, exFAT
// and NTFS, with out-parameters so a run of reads can be tested at once. A
// read that would run past the end fails and leaves its value unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/byte_view.h"

namespace kestrix {

class LittleEndianReader {
 public:
  explicit LittleEndianReader(std::span<const uint8_t> bytes) : view_(bytes) {}

  bool has(uint64_t offset, uint64_t length) const { return view_.contains(offset, length); }
  bool u8(uint64_t offset, uint8_t* value) const { return view_.readByte(offset, *value); }
  bool u16(uint64_t offset, uint16_t* value) const {
    return read(view_.u16(offset, kOrder), value);
  }
  bool u32(uint64_t offset, uint32_t* value) const {
    return read(view_.u32(offset, kOrder), value);
  }
  bool u64(uint64_t offset, uint64_t* value) const {
    return read(view_.u64(offset, kOrder), value);
  }
  // True when the bytes at offset equal text (no terminator compared).
  bool matches(uint64_t offset, std::span<const char> text) const {
    return view_.equals(offset, text.data(), text.size());
  }
  size_t size() const { return static_cast<size_t>(view_.size()); }

 private:
  static constexpr ByteOrder kOrder = ByteOrder::LittleEndian;

  template <typename Number>
  static bool read(std::optional<Number> number, Number* value) {
    if (!number) return false;
    *value = *number;
    return true;
  }

  ByteView view_;
};

}  // namespace kestrix
