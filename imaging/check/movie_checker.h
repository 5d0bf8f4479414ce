#pragma once

#include "imaging/check/verdict.h"

#include <cstdint>

namespace kestrix {

// Judges a QuickTime or ISO base media (MP4) find: the atom tree must nest
// (every atom inside its parent, sizes that add up, four-character types),
// a movie atom and movie data must be there, and every chunk offset of every
// track (stco, co64) must point inside a movie data atom's payload. The size
// of the first video track's header (tkhd) is given as width and height.
class MovieChecker {
 public:
  static CheckResult Check(const std::uint8_t* bytes, std::uint64_t length);
};

}  // namespace kestrix
