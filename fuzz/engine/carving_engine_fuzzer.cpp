// Scans and extracts a hostile block the way the scan and restore jobs do.
// Input: byte 0 chooses the extension, byte 1 the mode, the rest is the block.
#include <cstddef>
#include <cstdint>

#include "engine/carving_engine.h"
#include "engine/scan_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t length) {
  if (length < 2) return 0;
  static const char* const extensions[] = {"jpg", ".png", "mov", "", "xyz", ".jpg", ".mov"};
  static const int32_t modes[] = {256, 257, 259, 260, 0, -1};
  const char* extension = extensions[input[0] % 7];
  const int32_t mode = modes[input[1] % 6];
  const uint8_t* block = input + 2;
  const uint64_t size = length - 2;

  kestrix::CarvingEngine engine;
  engine.Attach(block, static_cast<uint32_t>(size), 0, extension, mode);
  uint64_t out = 0;
  uint64_t result = engine.FindNext(0, 0, &out, extension);
  for (int steps = 0; result < size && steps < 100000; ++steps) {
    uint64_t start = result - out;
    uint64_t hitSize = out;
    if (const uint8_t* copy = engine.Extract(&start, &hitSize, extension)) {
      volatile uint8_t sink = copy[hitSize - 1];  // the whole block is readable
      (void)sink;
    }
    engine.FreeExtraction();
    engine.FreeExtraction();
    const uint64_t previous = result;
    result = engine.FindNext(kestrix::lowHalf(result), kestrix::highHalf(result), &out, extension);
    if (result <= previous) break;  // no progress: stop rather than loop
  }
  return 0;
}
