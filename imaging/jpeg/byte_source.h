#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

// The JPEG decoder's only input. The decoder reads from it but never owns it;
// the caller destroys the source after the decoder's Close. The slot order of
// the virtual operations is fixed.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Delivers up to maxCount bytes into buffer and returns how many, or -1 on
  // a read error. Sets *endOfData once no more data will come; the read that
  // sets it may still deliver bytes.
  virtual int Read(std::uint8_t* buffer, int maxCount, bool* endOfData) = 0;

  // Called once when a decoder binds the source.
  virtual void Reset() {}

  // Called when the decoder lets the source go (Close, or any error).
  virtual void Release() {}
};

}  // namespace kestrix
