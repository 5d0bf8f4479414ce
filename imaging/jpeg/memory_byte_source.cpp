#include "imaging/jpeg/memory_byte_source.h"

#include <algorithm>
#include <cstring>

namespace kestrix {

int MemoryByteSource::Read(std::uint8_t* buffer, int maxCount, bool* endOfData) {
  const std::size_t left = bytes_.size() - position_;
  const std::size_t count =
      std::min<std::size_t>(left, maxCount > 0 ? static_cast<std::size_t>(maxCount) : 0);
  if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  if (position_ == bytes_.size()) *endOfData = true;
  return static_cast<int>(count);
}

}  // namespace kestrix
