// The PNG check on hostile bytes; a seed of a real PNG lets it reach the
// inflate step (CRCs are checked first, so mutations mostly stop there).
#include "imaging/check/png_checker.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kestrix::CheckResult result = kestrix::PngChecker::Check(data, size);
  if (result.hasBadOffset && result.badOffset > size) std::abort();
  return 0;
}
