// BoundBlock: the checked view of the block an engine is bound to.
//
// The block holds raw bytes of a damaged medium, so every read goes through
// here: offsets are checked in 64-bit arithmetic against the block's size
// before any pointer is formed, and a read that would leave the block fails
// instead of reading on.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestrix {

class BoundBlock {
 public:
  BoundBlock(const uint8_t* data, uint64_t size) : data_(data), size_(data ? size : 0) {}

  uint64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // True when [offset, offset + length) lies inside the block.
  bool contains(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // True when the block holds `length` bytes at `offset` equal to `bytes`.
  bool equals(uint64_t offset, const uint8_t* bytes, uint64_t length) const {
    return contains(offset, length) && std::memcmp(data_ + offset, bytes, length) == 0;
  }

  // Big-endian unsigned 32-bit value at `offset`; false when it does not fit.
  bool readBigEndian32(uint64_t offset, uint32_t& value) const {
    if (!contains(offset, 4)) return false;
    const uint8_t* p = data_ + offset;
    value = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    return true;
  }

  // One byte at `offset`; false when it lies outside the block.
  bool readByte(uint64_t offset, uint8_t& value) const {
    if (offset >= size_) return false;
    value = data_[offset];
    return true;
  }

  // Unsigned value of `length` (1..8) bytes at `offset` in either byte order;
  // false when it does not fit.
  bool readUnsigned(uint64_t offset, unsigned length, bool bigEndian, uint64_t& value) const {
    if (length == 0 || length > 8 || !contains(offset, length)) return false;
    const uint8_t* p = data_ + offset;
    value = 0;
    for (unsigned i = 0; i < length; ++i) {
      value = (value << 8) | p[bigEndian ? i : length - 1 - i];
    }
    return true;
  }

  // Unchecked: the caller has proved contains(offset, length) for what it reads.
  const uint8_t* uncheckedAt(uint64_t offset) const { return data_ + offset; }

 private:
  const uint8_t* data_;  // null only when size_ == 0
  uint64_t size_;
};

}  // namespace kestrix
