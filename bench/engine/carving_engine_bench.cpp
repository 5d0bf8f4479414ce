// Scan throughput of the carving engine over a 1 GiB block, as the scan job
// drives it (Attach, FindNext from 0 and from each result until the end), for
// realistic dense JPEG data and for adversarial layouts, against the
// byte-by-byte reference of tests/engine. BM_PreciseScan measures the
// precise modes on the same blocks (plus layouts that only the structure
// walks care about), to be read beside BM_Scan.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/carving_engine.h"
#include "engine/scan_engine.h"
#include "tests/engine/reference_engine.h"

namespace kestrix {
namespace {

constexpr uint64_t BlockSize = uint64_t{1} << 30;

struct Random {
  uint64_t state;
  uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

// Entropy-coded bytes: random, with every FF stuffed by 00 (ITU-T T.81 F.1.2.3).
void appendEntropy(std::vector<uint8_t>& out, size_t length, Random& random) {
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = static_cast<uint8_t>(random.next() >> 24);
    out.push_back(b);
    if (b == 0xFF) out.push_back(0x00);
  }
}

void append(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) {
  out.insert(out.end(), bytes);
}

// A camera-like JPEG: SOI, APP1 "Exif" with a thumbnail (SOI DQT ... EOI),
// DQT, SOF0, DHT, SOS, entropy-coded data, EOI.
std::vector<uint8_t> cameraJpeg(size_t entropyLength, Random& random) {
  std::vector<uint8_t> out;
  append(out, {0xFF, 0xD8, 0xFF, 0xE1, 0x20, 0x00, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0});
  for (int i = 0; i < 400; ++i) out.push_back(static_cast<uint8_t>(random.next() % 0x80));
  append(out, {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00});
  for (int i = 0; i < 64; ++i) out.push_back(static_cast<uint8_t>(1 + i % 50));
  append(out, {0xFF, 0xDA, 0x00, 0x08});
  appendEntropy(out, 6000, random);
  append(out, {0xFF, 0xD9});
  append(out, {0xFF, 0xDB, 0x00, 0x43, 0x00});
  for (int i = 0; i < 64; ++i) out.push_back(static_cast<uint8_t>(1 + i % 40));
  append(out, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x0B, 0xB8, 0x0F, 0xA0, 0x03});
  append(out, {0xFF, 0xC4, 0x00, 0x1F, 0x00});
  for (int i = 0; i < 28; ++i) out.push_back(static_cast<uint8_t>(i));
  append(out, {0xFF, 0xDA, 0x00, 0x0C, 0x03});
  appendEntropy(out, entropyLength, random);
  append(out, {0xFF, 0xD9});
  return out;
}

void appendSegment(std::vector<uint8_t>& out, uint8_t marker, const std::vector<uint8_t>& payload) {
  append(out, {0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
               static_cast<uint8_t>(payload.size() + 2)});
  out.insert(out.end(), payload.begin(), payload.end());
}

// A camera JPEG whose segment lengths are right, so the precise walk takes
// it whole: SOI, APP1 "Exif" holding a thumbnail, DQT, SOF0, DHT, SOS,
// entropy-coded data, EOI.
std::vector<uint8_t> structuredCameraJpeg(size_t entropyLength, Random& random) {
  std::vector<uint8_t> thumbnail = {0xFF, 0xD8};
  std::vector<uint8_t> table(65, 9);
  table[0] = 0;
  appendSegment(thumbnail, 0xDB, table);
  appendSegment(thumbnail, 0xC0, {8, 0, 120, 0, 160, 1, 1, 0x11, 0});
  appendSegment(thumbnail, 0xDA, {1, 1, 0, 0, 63, 0});
  appendEntropy(thumbnail, 6000, random);
  append(thumbnail, {0xFF, 0xD9});
  std::vector<uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0};
  for (int i = 0; i < 400; ++i) exif.push_back(static_cast<uint8_t>(random.next() % 0x80));
  exif.insert(exif.end(), thumbnail.begin(), thumbnail.end());
  std::vector<uint8_t> out = {0xFF, 0xD8};
  appendSegment(out, 0xE1, exif);
  appendSegment(out, 0xDB, table);
  appendSegment(out, 0xC0, {8, 0x0B, 0xB8, 0x0F, 0xA0, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
  std::vector<uint8_t> huffman(29, 1);
  huffman[0] = 0;
  appendSegment(out, 0xC4, huffman);
  appendSegment(out, 0xDA, {3, 1, 0, 2, 0x11, 3, 0x11, 0, 63, 0});
  appendEntropy(out, entropyLength, random);
  append(out, {0xFF, 0xD9});
  return out;
}

uint8_t* mapBlock() {
  void* p = mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, BlockSize, MADV_HUGEPAGE);
  return static_cast<uint8_t*>(p);
}

// 1 GiB of back-to-back camera JPEGs of three sizes, made by `make`.
const uint8_t* cameraBlock(std::vector<uint8_t> (*make)(size_t, Random&)) {
  uint8_t* b = mapBlock();
  Random random{0x9E3779B97F4A7C15ull};
  const std::vector<uint8_t> files[] = {make(300000, random), make(1200000, random),
                                        make(2500000, random)};
  uint64_t at = 0;
  for (int i = 0; b && at < BlockSize; ++i) {
    const auto& file = files[i % 3];
    const uint64_t n = std::min<uint64_t>(file.size(), BlockSize - at);
    std::memcpy(b + at, file.data(), n);
    at += n;
  }
  return b;
}

// 1 GiB of back-to-back camera JPEGs of three sizes.
const uint8_t* realisticBlock() {
  static const uint8_t* block = cameraBlock(cameraJpeg);
  return block;
}

// Random bytes without FF and without the signature letters, with the given
// signatures planted every `spacing` bytes.
const uint8_t* plantedBlock(std::initializer_list<std::vector<uint8_t>> plants, uint64_t spacing) {
  uint8_t* b = mapBlock();
  Random random{12345};
  for (uint64_t i = 0; i < BlockSize; i += 8) {
    uint64_t v = random.next() & 0x7F7F7F7F7F7F7F7Full;  // no high bytes, so no FF/89
    v &= ~0x4040404040404040ull;                         // no letters
    std::memcpy(b + i, &v, 8);
  }
  for (uint64_t at = 100; at + 64 < BlockSize;) {
    for (const auto& plant : plants) {
      if (at + 64 >= BlockSize) break;
      std::memcpy(b + at, plant.data(), plant.size());
      at += spacing;
    }
  }
  return b;
}

const uint8_t* headersOnlyBlock() {
  static const uint8_t* block =
      plantedBlock({{0xFF, 0xD8, 0xFF, 0xE0}, {0x89, 'P', 'N', 'G'}, {'p', 'n', 'o', 't'}}, 4096);
  return block;
}

const uint8_t* footersOnlyBlock() {
  static const uint8_t* block =
      plantedBlock({{0xFF, 0xD9}, {'I', 'E', 'N', 'D'}, {'u', 'd', 't', 'a'}}, 4096);
  return block;
}

// Every hit pair of a pass; the fast engine and the reference must agree.
struct Pass {
  uint64_t hits = 0;
  uint64_t checksum = 0;
};

struct PassKind {
  const char* extension;
  int32_t mode;  // as the scan job sets it
};
constexpr PassKind Passes[] = {{"jpg", ScanModeNormal}, {"png", ScanModePng}, {"mov", ScanModeMov}};
constexpr PassKind PrecisePasses[] = {{"jpg", ScanModePrecise},
                                      {"png", ScanModePrecise},
                                      {"mov", ScanModePrecise},
                                      {"mp4", ScanModePrecise}};

Pass scanFast(const uint8_t* block, const PassKind& kind) {
  CarvingEngine engine;
  engine.Attach(block, lowHalf(BlockSize), highHalf(BlockSize), kind.extension, kind.mode);
  Pass pass;
  uint64_t out = 0;
  uint64_t r = engine.FindNext(0, 0, &out, kind.extension);
  while (r < BlockSize) {
    ++pass.hits;
    pass.checksum = pass.checksum * 31 + r * 7 + out;
    r = engine.FindNext(lowHalf(r), highHalf(r), &out, kind.extension);
  }
  return pass;
}

Pass scanReference(const uint8_t* block, const PassKind& kind) {
  reference::ReferenceEngine engine;
  engine.attach(block, BlockSize, kind.extension, kind.mode);
  Pass pass;
  uint64_t out = 0;
  uint64_t r = engine.findNext(0, &out, kind.extension);
  while (r < BlockSize) {
    ++pass.hits;
    pass.checksum = pass.checksum * 31 + r * 7 + out;
    r = engine.findNext(r, &out, kind.extension);
  }
  return pass;
}

// Small complete files of all three types every 4 KB: many hits, so the
// per-call cost shows.
const uint8_t* smallFilesBlock() {
  static const uint8_t* block = plantedBlock({{0xFF, 0xD8, 0xFF, 0xE0},
                                              {0xFF, 0xD9},
                                              {0x89, 'P', 'N', 'G'},
                                              {'I', 'E', 'N', 'D'},
                                              {'p', 'n', 'o', 't'},
                                              {'u', 'd', 't', 'a'}},
                                             4096);
  return block;
}

// Near-misses of the JPEG header at every other byte (FF D8 FF D8 ...): the
// byte memchr anchors on is everywhere.
const uint8_t* nearMissBlock() {
  static const uint8_t* block = [] {
    uint8_t* b = mapBlock();
    for (uint64_t i = 0; b && i < BlockSize; i += 2) {
      b[i] = 0xFF;
      b[i + 1] = 0xD8;
    }
    return b;
  }();
  return block;
}

// 1 GiB of back-to-back structured camera JPEGs of three sizes.
const uint8_t* structuredBlock() {
  static const uint8_t* block = cameraBlock(structuredCameraJpeg);
  return block;
}

// One unit repeated over the whole block.
const uint8_t* repeatedBlock(const std::vector<uint8_t>& unit) {
  uint8_t* b = mapBlock();
  for (uint64_t i = 0; b && i < BlockSize; i += unit.size()) {
    std::memcpy(b + i, unit.data(), std::min<uint64_t>(unit.size(), BlockSize - i));
  }
  return b;
}

// Hostile for the structure walks: every candidate opens a chain of
// segments or atoms that leads nowhere.
const uint8_t* segmentChainBlock() {  // FF D8 FF E0 00 04 'K' 'x' repeated
  static const uint8_t* block = repeatedBlock({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'K', 'x'});
  return block;
}
const uint8_t* fileTypeRepeatedBlock() {  // an ftyp atom repeated: each one a movie start
  static const uint8_t* block =
      repeatedBlock({0, 0, 0, 16, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0});
  return block;
}
const uint8_t* wideRepeatedBlock() {  // 8-byte "wide" atoms: a chain from every one
  static const uint8_t* block = repeatedBlock({0, 0, 0, 8, 'w', 'i', 'd', 'e'});
  return block;
}

const uint8_t* blockFor(int64_t layout) {
  switch (layout) {
    case 0: return realisticBlock();
    case 1: return headersOnlyBlock();
    case 2: return footersOnlyBlock();
    case 3: return smallFilesBlock();
    case 4: return nearMissBlock();
    case 5: return structuredBlock();
    case 6: return segmentChainBlock();
    case 7: return fileTypeRepeatedBlock();
    default: return wideRepeatedBlock();
  }
}
const char* LayoutNames[] = {"realistic",     "headers_only",  "footers_only",
                             "small_files",   "near_miss",     "structured_camera",
                             "segment_chain", "ftyp_repeated", "wide_repeated"};

// Times the engine's scan of one pass kind over the layout state.range(0).
void timeScan(benchmark::State& state, const PassKind& kind, const char* suffix) {
  const uint8_t* block = blockFor(state.range(0));
  if (block == nullptr) {
    state.SkipWithError("mmap of 1 GiB failed");
    return;
  }
  Pass pass;
  for (auto _ : state) {
    pass = scanFast(block, kind);
    benchmark::DoNotOptimize(pass);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BlockSize));
  state.counters["hits"] = static_cast<double>(pass.hits);
  state.SetLabel(std::string(LayoutNames[state.range(0)]) + " " + kind.extension + suffix);
}

void BM_Scan(benchmark::State& state) { timeScan(state, Passes[state.range(1)], ""); }

void BM_ReferenceScan(benchmark::State& state) {
  const uint8_t* block = blockFor(state.range(0));
  const PassKind& kind = Passes[state.range(1)];
  if (block == nullptr) {
    state.SkipWithError("mmap of 1 GiB failed");
    return;
  }
  Pass pass;
  for (auto _ : state) {
    pass = scanReference(block, kind);
    benchmark::DoNotOptimize(pass);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BlockSize));
  state.counters["hits"] = static_cast<double>(pass.hits);
  const Pass fast = scanFast(block, kind);
  if (fast.hits != pass.hits || fast.checksum != pass.checksum) {
    state.SkipWithError("fast engine and reference disagree");
  }
  state.SetLabel(std::string(LayoutNames[state.range(0)]) + " " + kind.extension);
}

void BM_PreciseScan(benchmark::State& state) {
  timeScan(state, PrecisePasses[state.range(1)], " precise");
}

BENCHMARK(BM_PreciseScan)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK(BM_Scan)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_ReferenceScan)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace kestrix

BENCHMARK_MAIN();
