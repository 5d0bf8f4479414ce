// The precise scan modes on hostile blocks: scans as the scan layer does
// (JPEGs from each find's start + 1, other types from its end in 261 and
// from its start + 1 in 262), extracts
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

// Where the scan layer goes on after a find: inside it, or after it.
bool fromInside(const char* extension, int32_t mode) {
  return mode == kestrix::ScanModePreciseSplit || std::strcmp(extension, "jpg") == 0;
}

std::vector<Find> scan(const uint8_t* block, uint64_t size, const char* extension, int32_t mode,
                       uint64_t& noFind) {
  kestrix::CarvingEngine engine;
  engine.Attach(block, static_cast<uint32_t>(size), 0, extension, mode);
  std::vector<Find> finds;
  uint64_t position = 0;
  for (int steps = 0; steps < 100000; ++steps) {
    uint64_t out = 0;
    const uint64_t result =
        engine.FindNext(kestrix::lowHalf(position), kestrix::highHalf(position), &out, extension);
    if (out == 0) {
      // The block size, or the start of a cut movie of the other brand.
      require(result <= size && result >= position);
      noFind = result;
      break;
    }
    require(result <= size && out <= result);
    const Find find{result - out, out};
    require(find.start >= position);
    require(finds.empty() || find.start > finds.back().start);
    uint64_t start = find.start;
    uint64_t length = find.size;
    const uint8_t* copy = engine.Extract(&start, &length, extension);
    require(copy != nullptr && length == find.size &&
            std::memcmp(copy, block + find.start, length) == 0);
    engine.FreeExtraction();
    finds.push_back(find);
    position = fromInside(extension, mode) ? find.start + 1 : result;
  }
  return finds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t length) {
  if (length < 3) return 0;
  static const char* const extensions[] = {"jpg", "png", ".mov", "mp4"};
  const int kind = input[0] % 4;
  const int32_t mode =
      (input[0] / 4) % 2 == 0 ? kestrix::ScanModePrecise : kestrix::ScanModePreciseSplit;
  const uint8_t* block = input + 3;
  const uint64_t size = length - 3;
  const uint64_t cut = size == 0 ? 0 : ((uint64_t{input[1]} << 8) | input[2]) % (size + 1);

  uint64_t noFind = size;
  const std::vector<Find> whole = scan(block, size, extensions[kind], mode, noFind);

  kestrix::reference::PreciseReference model(block, size);
  std::vector<Find> want;
  uint64_t p = 0;
  for (int steps = 0; steps < 100000; ++steps) {
    const kestrix::reference::PreciseAnswer a =
        model.findNext(static_cast<kestrix::reference::PreciseReference::Kind>(kind), p,
                       mode == kestrix::ScanModePreciseSplit);
    if (a.size == 0) {
      require(noFind == a.result);
      break;
    }
    want.push_back({a.result - a.size, a.size});
    p = fromInside(extensions[kind], mode) ? a.result - a.size + 1 : a.result;
  }
  require(whole == want);

  // The block cut short: a copy, so that reading past the cut is caught.
  std::vector<uint8_t> prefix(block, block + cut);
  uint64_t partNoFind = cut;
  const std::vector<Find> part = scan(prefix.data(), cut, extensions[kind], mode, partNoFind);
  if (mode == kestrix::ScanModePrecise) {
    // Up to the first find that ran out of data (what follows it is asked
    // again with more bytes), the whole block's finds. A metadata trailer
    // whose proof lies past the cut is not the cut photo's: it ends at its
    // images' end instead.
    for (size_t i = 0; i < part.size(); ++i) {
      if (part[i].start + part[i].size == cut) break;  // ran out of data
      require(i < whole.size() && part[i].start == whole[i].start);
      require(part[i] == whole[i] ||
              (kind == 0 && part[i].size < whole[i].size && whole[i].start + whole[i].size > cut));
    }
  }
  return 0;
}
