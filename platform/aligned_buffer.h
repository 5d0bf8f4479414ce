// A zero-filled heap block aligned for direct device reads, released on
// destruction. Grows on demand; never shrinks until released.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  ~AlignedBuffer();
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;

  // Makes room for size bytes at the given alignment (a power of two). A
  // new block starts zero-filled; a reused one keeps its old bytes (a full
  // read overwrites them; callers clear() after a failed one). False when
  // memory runs out (the old block is released then).
  bool reset(size_t size, size_t alignment);
  void release();
  // Zero-fills the first size bytes again.
  void clear();

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;      // bytes the caller asked for
  size_t capacity_ = 0;  // bytes allocated
  size_t alignment_ = 0;
};

}  // namespace kestrix
