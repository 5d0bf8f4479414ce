#pragma once

#include "imaging/jpeg/byte_source.h"

#include <span>

namespace kestrix {

// Reads straight from bytes the caller keeps alive (for example a candidate
// inside the image block), so a candidate decodes without a temporary file.
class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  int Read(std::uint8_t* buffer, int maxCount, bool* endOfData) override;
  // Rewinds, so one source can feed several decoders in turn.
  void Reset() override { position_ = 0; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;  // invariant: position_ <= bytes_.size()
};

}  // namespace kestrix
