// One thumbnail frame of a movie and its length, as the movie frame helper
// (kestrix-movie-frame) reports them.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrix {

struct MovieFrame {
  int width = 0;             // 1 .. kMovieFrameMaxWidth
  int height = 0;            // 1 .. kMovieFrameMaxHeight
  std::vector<uint8_t> rgb;  // width * height * 3 bytes, R, G, B, top row first
  int64_t durationMs = -1;   // the movie's length; -1 when the movie does not tell
};

}  // namespace kestrix
