// ByteView: the one checked view of bytes that came off a medium.
//
// Every parser of card bytes reads through it: the scan engine's structure
// walks, the checkers, the EXIF reader, the bitmap loader and the boot-sector
// reader. Offsets are checked in 64-bit arithmetic against the size before any
// pointer is formed (offset and length are compared, never added past the
// size), and a read that would leave the view fails instead of reading on.
// Numbers of 1 to 8 bytes are read in either byte order.
//
// ByteCursor reads the same bytes in sequence from a position; its first
// failed read sticks, so a parser can read a whole record and test once.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace kestrix {

enum class ByteOrder { BigEndian, LittleEndian };

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, uint64_t size) : data_(data), size_(data ? size : 0) {}
  explicit ByteView(std::span<const uint8_t> bytes) : ByteView(bytes.data(), bytes.size()) {}

  uint64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // True when [offset, offset + length) lies inside the view.
  bool contains(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  // True when the view holds `length` bytes at `offset` equal to `bytes`.
  bool equals(uint64_t offset, const void* bytes, uint64_t length) const {
    return contains(offset, length) &&
           (length == 0 || std::memcmp(data_ + offset, bytes, length) == 0);
  }
  // The address of a checked range; null when the range is not inside.
  const uint8_t* at(uint64_t offset, uint64_t length) const {
    return contains(offset, length) && data_ != nullptr ? data_ + offset : nullptr;
  }
  // The bytes of [offset, offset + length); an empty view when not inside.
  ByteView sub(uint64_t offset, uint64_t length) const {
    return contains(offset, length) ? ByteView(data_ + offset, length) : ByteView();
  }

  // One byte at `offset`; false when it lies outside the view.
  bool readByte(uint64_t offset, uint8_t& value) const {
    if (offset >= size_) return false;
    value = data_[offset];
    return true;
  }
  // Unsigned value of `length` (1..8) bytes at `offset`; false when it does
  // not fit (value then unchanged).
  bool readUnsigned(uint64_t offset, unsigned length, ByteOrder order, uint64_t& value) const {
    if (length == 0 || length > 8 || !contains(offset, length)) return false;
    const uint8_t* p = data_ + offset;
    const bool big = order == ByteOrder::BigEndian;
    uint64_t result = 0;
    for (unsigned i = 0; i < length; ++i) result = (result << 8) | p[big ? i : length - 1 - i];
    value = result;
    return true;
  }
  bool readUnsigned(uint64_t offset, unsigned length, bool bigEndian, uint64_t& value) const {
    return readUnsigned(offset, length, bigEndian ? ByteOrder::BigEndian : ByteOrder::LittleEndian,
                        value);
  }
  bool readBigEndian32(uint64_t offset, uint32_t& value) const {
    uint64_t wide = 0;
    if (!readUnsigned(offset, 4, ByteOrder::BigEndian, wide)) return false;
    value = static_cast<uint32_t>(wide);
    return true;
  }

  std::optional<uint8_t> u8(uint64_t offset) const {
    uint8_t value = 0;
    if (!readByte(offset, value)) return std::nullopt;
    return value;
  }
  std::optional<uint16_t> u16(uint64_t offset, ByteOrder order) const {
    return number<uint16_t>(offset, order);
  }
  std::optional<uint32_t> u32(uint64_t offset, ByteOrder order) const {
    return number<uint32_t>(offset, order);
  }
  std::optional<uint64_t> u64(uint64_t offset, ByteOrder order) const {
    return number<uint64_t>(offset, order);
  }

  // Unchecked: the caller has proved contains(offset, length) for what it reads.
  const uint8_t* uncheckedAt(uint64_t offset) const { return data_ + offset; }

 private:
  template <typename Number>
  std::optional<Number> number(uint64_t offset, ByteOrder order) const {
    uint64_t value = 0;
    if (!readUnsigned(offset, sizeof(Number), order, value)) return std::nullopt;
    return static_cast<Number>(value);
  }

  const uint8_t* data_ = nullptr;  // null only when size_ == 0
  uint64_t size_ = 0;
};

class ByteCursor {
 public:
  ByteCursor(ByteView view, uint64_t position, ByteOrder order)
      : view_(view), position_(position), order_(order) {}

  uint64_t position() const { return position_; }
  // False once any read or skip ran past the view; later reads give 0.
  bool ok() const { return ok_; }

  uint8_t u8() { return static_cast<uint8_t>(next(1)); }
  uint16_t u16() { return static_cast<uint16_t>(next(2)); }
  uint32_t u32() { return static_cast<uint32_t>(next(4)); }
  uint64_t u64() { return next(8); }
  void skip(uint64_t length) {
    if (ok_ && view_.contains(position_, length)) {
      position_ += length;
    } else {
      ok_ = false;
    }
  }

 private:
  uint64_t next(unsigned length) {
    uint64_t value = 0;
    if (!ok_ || !view_.readUnsigned(position_, length, order_, value)) {
      ok_ = false;
      return 0;
    }
    position_ += length;
    return value;
  }

  ByteView view_;
  uint64_t position_;
  ByteOrder order_;
  bool ok_ = true;
};

}  // namespace kestrix
