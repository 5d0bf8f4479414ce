// The JPEG check with its thumbnail, as the scan runs it on every find: the
// verdict must be one of the four, an offset must lie inside the find.
#include "imaging/check/find_checker.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t cell[100 * 75 * 3];
  bool made = false;
  const kestrix::CheckResult result = kestrix::CheckFind(data, size, "jpg", cell, &made);
  if (result.hasBadOffset && result.badOffset > size) std::abort();
  if (result.verdict == kestrix::Verdict::Intact && result.hasBadOffset) std::abort();
  return 0;
}
