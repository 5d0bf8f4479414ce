// Hostile helper replies: whatever the parser accepts must be a frame of
// exactly the promised size, and writing it again must give the same bytes
// (nothing accepted that the helper could not have written).
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "imaging/movie/movie_frame_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const auto frame = kestrix::parseMovieFrameReply(data, size, &error);
  if (!frame) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (frame->rgb.size() != size_t(frame->width) * size_t(frame->height) * 3) std::abort();
  const std::vector<uint8_t> again = kestrix::encodeMovieFrameReply(*frame);
  if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
  return 0;
}
