// The movie check (atom tree, chunk offsets) on hostile bytes.
#include "imaging/check/movie_checker.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kestrix::CheckResult result = kestrix::MovieChecker::Check(data, size);
  if (result.hasBadOffset && result.badOffset > size) std::abort();
  return 0;
}
