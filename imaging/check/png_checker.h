#pragma once

#include "imaging/check/verdict.h"

#include <cstdint>

namespace kestrix {

// Judges a PNG find: the signature, every chunk's CRC up to IEND, the header
// (size, bit depth and colour type that go together), then the IDAT stream
// inflated with zlib must give exactly the filtered bytes the header implies
// (interlaced or not), every row starting with a filter type 0..4.
class PngChecker {
 public:
  static CheckResult Check(const std::uint8_t* bytes, std::uint64_t length);
};

}  // namespace kestrix
