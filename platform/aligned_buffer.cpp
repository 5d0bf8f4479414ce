#include "platform/aligned_buffer.h"

#include <cstdlib>
#include <cstring>

namespace kestrix {

AlignedBuffer::~AlignedBuffer() { release(); }

void AlignedBuffer::release() {
  std::free(data_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  alignment_ = 0;
}

bool AlignedBuffer::reset(size_t size, size_t alignment) {
  // posix_memalign needs a power of two (and a multiple of the pointer size).
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return false;
  if (data_ == nullptr || size > capacity_ || alignment > alignment_) {
    release();
    // Whole multiples of the alignment, so a direct read of the rounded
    // length would still stay inside the block.
    size_t capacity = size == 0 ? alignment : (size + alignment - 1) / alignment * alignment;
    if (capacity < size) return false;  // the rounding overflowed
    void* block = nullptr;
    if (posix_memalign(&block, alignment, capacity) != 0) return false;
    data_ = static_cast<uint8_t*>(block);
    capacity_ = capacity;
    alignment_ = alignment;
    std::memset(data_, 0, capacity_);
  }
  size_ = size;
  return true;
}

void AlignedBuffer::clear() {
  if (data_ != nullptr) std::memset(data_, 0, size_);
}

}  // namespace kestrix
