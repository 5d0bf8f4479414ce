#pragma once

#include "imaging/check/verdict.h"
#include "imaging/jpeg/jpeg_decoder.h"

#include <cstdint>

namespace kestrix {

// Judges a JPEG find by entropy-decoding every scan with the program's own
// decoder (no inverse DCT, no colour output), so it calls damaged exactly
// what the decoder counts as a fault (jpeg_fault.h), plus zero-filled holes,
// which decode without a fault and are found on the raw bytes.
class JpegChecker {
 public:
  // bytes/length: the find, kept alive by the caller. dcImage, when given,
  // receives the 1/8-scale picture decoded on the way (empty when the
  // headers could not be read).
  static CheckResult Check(const std::uint8_t* bytes, std::uint64_t length,
                           JpegDcImage* dcImage = nullptr);
};

}  // namespace kestrix
