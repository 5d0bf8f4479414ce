// The reader of TIFF/EXIF bytes from the medium: the shared checked view
// (platform/byte_view.h) with the byte order the TIFF header names, so the
// IFD code need not pass it to every read. Multi-byte numbers are big-endian
// for Motorola ("MM") and little-endian otherwise (TIFF 6.0 section 2, "Byte
// Order"); a read that would run past the end fails instead of reading on.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/byte_view.h"

namespace kestrix {

class IfdByteReader {
 public:
  IfdByteReader(const uint8_t* bytes, uint64_t length, bool motorola)
      : view_(bytes, length), order_(motorola ? ByteOrder::BigEndian : ByteOrder::LittleEndian) {}

  bool contains(uint64_t offset, uint64_t size) const { return view_.contains(offset, size); }
  std::optional<uint8_t> u8(uint64_t offset) const { return view_.u8(offset); }
  std::optional<uint16_t> u16(uint64_t offset) const { return view_.u16(offset, order_); }
  std::optional<uint32_t> u32(uint64_t offset) const { return view_.u32(offset, order_); }
  std::optional<uint64_t> u64(uint64_t offset) const { return view_.u64(offset, order_); }
  // The address of a checked range; null when the range is not inside.
  const uint8_t* at(uint64_t offset, uint64_t size) const { return view_.at(offset, size); }
  uint64_t length() const { return view_.size(); }
  bool motorola() const { return order_ == ByteOrder::BigEndian; }

 private:
  ByteView view_;
  ByteOrder order_;
};

}  // namespace kestrix
