// The precise scan modes on hostile blocks: scans as the scan layer does
// (from the end of each find in 261, from its start + 1 in 262), extracts
// every find, and checks the contract of scan_engine.h: finds in increasing
// start order inside the block, the plain model of tests/engine agreeing,
// and a cut of the block giving the whole block's finds or one ending at
// the cut.
// Input: byte 0 chooses the extension and mode, bytes 1-2 the cut length,
// the rest is the block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/carving_engine.h"
#include "engine/scan_engine.h"
#include "tests/engine/precise_reference.h"

namespace {

struct Find {
  uint64_t start;
  uint64_t size;
  bool operator==(const Find&) const = default;
};

void require(bool condition) {
  if (!condition) std::abort();
}

std::vector<Find> scan(const uint8_t* block, uint64_t size, const char* extension, int32_t mode) {
  kestrix::CarvingEngine engine;
  engine.Attach(block, static_cast<uint32_t>(size), 0, extension, mode);
  std::vector<Find> finds;
  uint64_t position = 0;
  for (int steps = 0; steps < 100000; ++steps) {
    uint64_t out = 0;
    const uint64_t result = engine.FindNext(kestrix::lowHalf(position), kestrix::highHalf(position), &out, extension);
    if (out == 0) {
      require(result == size);
      break;
    }
    require(result <= size && out <= result);
    const Find find{result - out, out};
    require(find.start >= position);
    require(finds.empty() || find.start > finds.back().start);
    uint64_t start = find.start;
    uint64_t length = find.size;
    const uint8_t* copy = engine.Extract(&start, &length, extension);
    require(copy != nullptr && length == find.size && std::memcmp(copy, block + find.start, length) == 0);
    engine.FreeExtraction();
    finds.push_back(find);
    position = mode == kestrix::ScanModePreciseSplit ? find.start + 1 : result;
  }
  return finds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t length) {
  if (length < 3) return 0;
  static const char* const extensions[] = {"jpg", "png", ".mov", "mp4"};
  const int kind = input[0] % 4;
  const int32_t mode = (input[0] / 4) % 2 == 0 ? kestrix::ScanModePrecise : kestrix::ScanModePreciseSplit;
  const uint8_t* block = input + 3;
  const uint64_t size = length - 3;
  const uint64_t cut = size == 0 ? 0 : ((uint64_t{input[1]} << 8) | input[2]) % (size + 1);

  const std::vector<Find> whole = scan(block, size, extensions[kind], mode);

  kestrix::reference::PreciseReference model(block, size);
  std::vector<Find> want;
  uint64_t p = 0;
  for (int steps = 0; steps < 100000; ++steps) {
    const kestrix::reference::PreciseAnswer a =
        model.findNext(static_cast<kestrix::reference::PreciseReference::Kind>(kind), p);
    if (a.size == 0) break;
    want.push_back({a.result - a.size, a.size});
    p = mode == kestrix::ScanModePreciseSplit ? a.result - a.size + 1 : a.result;
  }
  require(whole == want);

  // The block cut short: a copy, so that reading past the cut is caught.
  std::vector<uint8_t> prefix(block, block + cut);
  const std::vector<Find> part = scan(prefix.data(), cut, extensions[kind], mode);
  if (mode == kestrix::ScanModePrecise) {
    for (size_t i = 0; i < part.size(); ++i) {
      if (i + 1 == part.size() && part[i].start + part[i].size == cut) break;  // ran out of data
      require(i < whole.size() && part[i] == whole[i]);
    }
  }
  return 0;
}
