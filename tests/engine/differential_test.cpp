// The fast engine against the byte-by-byte reference on many random and
// structured blocks, and the shift invariance of every result.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/carving_engine.h"
#include "engine/reference_engine.h"
#include "engine/scan_engine.h"

namespace kestrix {
namespace {

// Byte strings a hostile block is seeded with: whole signatures, their
// fragments, near-misses of the masked JPEG byte, and atom sizes.
const std::vector<std::vector<uint8_t>> Fragments = {
    {0xFF, 0xD8, 0xFF, 0xE0},
    {0xFF, 0xD8, 0xFF, 0xE1},
    {0xFF, 0xD8, 0xFF, 0xFE},
    {0xFF, 0xD8, 0xFF, 0xDB},
    {0xFF, 0xD8, 0xFF, 0xC0},
    {0xFF, 0xD8, 0xFF},
    {0xFF, 0xDB},
    {0xFF, 0xD9},
    {0xFF},
    {0xD8},
    {0x89, 'P', 'N', 'G'},
    {'I', 'E', 'N', 'D'},
    {'I', 'E', 'N'},
    {'p', 'n', 'o', 't'},
    {'u', 'd', 't', 'a'},
    {0, 0, 0, 16},
    {0, 0, 0, 3},
    {0x7F, 0xFF, 0xFF, 0xFF},
};

struct Scenario {
  const char* scanExtension;
  const char* restoreExtension;
  int32_t mode;
};

const Scenario Scenarios[] = {
    {"jpg", ".jpg", 256}, {"jpg", ".jpg", 257}, {".png", ".png", 259}, {"mov", ".mov", 260},
    {"png", ".png", 256}, {"mov", ".mov", 257}, {"jpg", ".jpg", 259},  {"jpg", ".jpg", 7},
    {"", "", 256},        {"xyz", "xyz", 256},
};

std::vector<uint8_t> randomBlock(std::mt19937_64& random) {
  std::uniform_int_distribution<int> shape(0, 9);
  const int kind = shape(random);
  uint64_t size = kind == 0 ? random() % 12 : random() % 3000;
  std::vector<uint8_t> block(size);
  // Mostly a narrow alphabet, so signature bytes meet often.
  const bool narrow = random() % 2 == 0;
  if (kind == 1 || kind == 2) {
    // Runs of one fragment (FF D8 FF D8 ..., IENDIEND ...): the anchor byte
    // of a signature everywhere, so the dense search takes over; some blocks
    // are longer than its window so that it hands back to memchr.
    if (kind == 2 && random() % 8 == 0) size = 70000 + random() % 70000;
    block.resize(size);
    const auto& unit = Fragments[random() % Fragments.size()];
    for (uint64_t i = 0; i < size; ++i) block[i] = unit[i % unit.size()];
  } else {
    for (auto& b : block) {
      b = narrow ? static_cast<uint8_t>((random() % 4 == 0) ? random() : 0xFF - random() % 3)
                 : static_cast<uint8_t>(random());
    }
  }
  const int seeds = static_cast<int>(random() % 40);
  for (int i = 0; i < seeds && size > 0; ++i) {
    const auto& fragment = Fragments[random() % Fragments.size()];
    // Near the ends half of the time.
    uint64_t at = random() % size;
    if (random() % 2 == 0)
      at = random() % 2 == 0 ? random() % 8 : (size > 8 ? size - 1 - random() % 8 : 0);
    for (uint64_t k = 0; k < fragment.size() && at + k < size; ++k) block[at + k] = fragment[k];
  }
  return block;
}

struct Outcome {
  std::vector<uint64_t> results;
  std::vector<uint64_t> sizes;
  std::vector<std::vector<uint8_t>> extractions;
};

// Scans a block the way the scan job does and extracts every listed hit.
template <typename FindNext, typename ExtractHit>
Outcome scan(uint64_t blockSize, FindNext findNext, ExtractHit extractHit) {
  Outcome outcome;
  uint64_t out = 0;
  uint64_t result = findNext(0, &out);
  for (int steps = 0; steps < 10000; ++steps) {
    outcome.results.push_back(result);
    outcome.sizes.push_back(out);
    if (result >= blockSize) break;
    outcome.extractions.push_back(extractHit(result - out, out));
    result = findNext(result, &out);
  }
  return outcome;
}

Outcome scanFast(CarvingEngine& engine, const std::vector<uint8_t>& block, const Scenario& s) {
  engine.Attach(block.data(), static_cast<uint32_t>(block.size()), 0, s.scanExtension, s.mode);
  return scan(
      block.size(),
      [&](uint64_t p, uint64_t* out) {
        return engine.FindNext(lowHalf(p), highHalf(p), out, s.scanExtension);
      },
      [&](uint64_t start, uint64_t size) {
        std::vector<uint8_t> bytes;
        const uint8_t* copy = engine.Extract(&start, &size, s.restoreExtension);
        if (copy) bytes.assign(copy, copy + size);
        bytes.push_back(copy ? 1 : 0);
        engine.FreeExtraction();
        return bytes;
      });
}

Outcome scanReference(reference::ReferenceEngine& engine, const std::vector<uint8_t>& block,
                      const Scenario& s) {
  engine.attach(block.data(), block.size(), s.scanExtension, s.mode);
  return scan(
      block.size(),
      [&](uint64_t p, uint64_t* out) { return engine.findNext(p, out, s.scanExtension); },
      [&](uint64_t start, uint64_t size) {
        const reference::Extraction x = engine.extract(start, size, s.restoreExtension);
        std::vector<uint8_t> bytes = x.bytes;
        bytes.push_back(x.null ? 0 : 1);
        return bytes;
      });
}

TEST(DifferentialTest, ScansAndExtractionsEqualReference) {
  std::mt19937_64 random(20260109);
  CarvingEngine engine;  // one engine for all blocks: stale caches would show
  reference::ReferenceEngine reference;
  for (int round = 0; round < 3000; ++round) {
    const std::vector<uint8_t> block = randomBlock(random);
    for (const Scenario& s : Scenarios) {
      const Outcome fast = scanFast(engine, block, s);
      const Outcome slow = scanReference(reference, block, s);
      ASSERT_EQ(fast.results, slow.results)
          << "round " << round << " ext " << s.scanExtension << " mode " << s.mode;
      ASSERT_EQ(fast.sizes, slow.sizes) << "round " << round;
      ASSERT_EQ(fast.extractions, slow.extractions) << "round " << round;
    }
  }
}

// Positions asked out of order, mode changes between calls, and extractions
// with arbitrary ranges: the caches must never answer for a stale state.
TEST(DifferentialTest, RandomCallsEqualReference) {
  std::mt19937_64 random(77);
  const char* extensions[] = {"jpg", ".png", "mov", "", "xyz", nullptr};
  const int32_t modes[] = {256, 257, 259, 260, 3};
  for (int round = 0; round < 1500; ++round) {
    const std::vector<uint8_t> block = randomBlock(random);
    const uint64_t size = block.size();
    CarvingEngine engine;
    reference::ReferenceEngine reference;
    const char* extension = extensions[random() % 5];
    const int32_t mode = modes[random() % 5];
    engine.Attach(block.data(), static_cast<uint32_t>(size), 0, extension, mode);
    reference.attach(block.data(), size, extension, mode);
    for (int call = 0; call < 30; ++call) {
      const uint64_t p = random() % (size + 6);
      switch (random() % 5) {
        case 0: {
          const int32_t m = modes[random() % 5];
          engine.SetMode(m);
          reference.setMode(m);
          break;
        }
        case 1: {
          const char* e = extensions[random() % 6];
          uint64_t a = 0;
          uint64_t b = 0;
          ASSERT_EQ(engine.FindNext(lowHalf(p), highHalf(p), &a, e), reference.findNext(p, &b, e));
          ASSERT_EQ(a, b);
          break;
        }
        case 2: {
          const auto& fragment = Fragments[random() % Fragments.size()];
          const int32_t n = static_cast<int32_t>(random() % (fragment.size() + 1));
          ASSERT_EQ(engine.FindPattern(lowHalf(p), highHalf(p), fragment.data(), n),
                    reference.findPattern(p, fragment.data(), n));
          break;
        }
        case 3: {
          const char* e = extensions[random() % 6];
          uint64_t start = p;
          uint64_t length = random() % (size + 10);
          const reference::Extraction x = reference.extract(start, length, e);
          const uint8_t* copy = engine.Extract(&start, &length, e);
          ASSERT_EQ(copy == nullptr, x.null);
          if (copy) {
            ASSERT_EQ(length, x.size);
            ASSERT_EQ(std::vector<uint8_t>(copy, copy + length), x.bytes);
          }
          break;
        }
        default: {
          uint64_t a = 0;
          uint64_t b = 0;
          ASSERT_EQ(engine.FindNext(lowHalf(p), highHalf(p), &a, nullptr),
                    reference.findNext(p, &b, nullptr));
          ASSERT_EQ(a, b);
        }
      }
    }
  }
}

// A recognisable layout of all three types, away from the block's ends.
std::vector<uint8_t> structuredContent(std::mt19937_64& random) {
  std::vector<uint8_t> content(60000);
  for (auto& b : content) b = static_cast<uint8_t>(random() % 200);  // no FF, no signatures
  auto put = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) content[at++] = b;
  };
  put(1000, {0xFF, 0xD8, 0xFF, 0xE1});
  put(1200, {0xFF, 0xD8, 0xFF, 0xDB});
  put(3000, {0xFF, 0xD9});
  put(9000, {0xFF, 0xD9});
  put(12000, {0xFF, 0xD8, 0xFF, 0xE0});
  put(12100, {0xFF, 0xDB});
  put(15000, {0xFF, 0xD9});
  put(20000, {0x89, 'P', 'N', 'G'});
  put(25000, {'I', 'E', 'N', 'D'});
  put(30000, {0, 0, 0, 40, 'p', 'n', 'o', 't'});
  put(40000, {0, 0, 0, 32, 'u', 'd', 't', 'a'});
  return content;
}

TEST(InvarianceTest, ShiftMovesEveryOffsetByTheShift) {
  std::mt19937_64 random(5);
  const std::vector<uint8_t> content = structuredContent(random);
  for (uint64_t shift : {1u, 3u, 17u, 4095u}) {
    std::vector<uint8_t> shifted(shift, 0x11);
    shifted.insert(shifted.end(), content.begin(), content.end());
    for (const Scenario& s : Scenarios) {
      if (std::strcmp(s.scanExtension, "") == 0 || std::strcmp(s.scanExtension, "xyz") == 0) {
        continue;  // one-byte hits everywhere: no file to move
      }
      CarvingEngine engine;
      const Outcome base = scanFast(engine, content, s);
      const Outcome moved = scanFast(engine, shifted, s);
      ASSERT_EQ(base.sizes, moved.sizes) << s.scanExtension << " " << s.mode;
      ASSERT_EQ(base.extractions, moved.extractions);
      ASSERT_EQ(base.results.size(), moved.results.size());
      for (size_t i = 0; i + 1 < base.results.size(); ++i) {
        EXPECT_EQ(moved.results[i], base.results[i] + shift);
      }
      EXPECT_GE(base.extractions.size(), 1u) << s.scanExtension << " " << s.mode;
    }
  }
}

}  // namespace
}  // namespace kestrix
