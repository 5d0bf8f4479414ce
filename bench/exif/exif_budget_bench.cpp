// What EXIF costs per candidate: anonymous memory (RssAnon of
// /proc/self/status) held by N ExifInfo objects parsed from one shared image,
// then the parse time of one candidate under Google Benchmark.
//
//   build/dev/bench/exif_budget_bench [--candidates N] [--kind bomb|camera]
//                                     [benchmark options]
//
// The image (one bomb or one camera-like candidate, viewed by every object)
// is made before the first reading, so the figure is the cost beyond the
// image. Defaults: 100,000 bomb candidates; the goal is at most 64 MiB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "imaging/exif_info.h"
#include "tests/imaging/exif_bomb.h"

namespace {

using kestrix::ExifInfo;

long rssAnonKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0) return std::strtol(line.c_str() + 8, nullptr, 10);
  }
  return -1;
}

std::vector<uint8_t> cameraCandidate() {
  using namespace kestrix::test;
  std::vector<TestDirectory> dirs(3);
  dirs[0].entries = {
      asciiEntry(kestrix::kTagMake, "Kestrel"), asciiEntry(kestrix::kTagModel, "KX-100"),
      asciiEntry(kestrix::kTagDateTime, "2020:01:01 00:00:00"),
      pointerEntry(kestrix::kTagExifIfdPointer, 1), pointerEntry(kestrix::kTagGpsIfdPointer, 2)};
  // A camera's Exif directory holds some 40 tags; only one is asked for.
  for (uint16_t tag = 0x9201; tag < 0x9201 + 40; ++tag)
    dirs[1].entries.push_back(numberEntry(tag, 3, {1}));
  dirs[1].entries.push_back(asciiEntry(kestrix::kTagDateTimeOriginal, "2021:02:03 04:05:06"));
  for (uint16_t tag = 0; tag < 10; ++tag) dirs[2].entries.push_back(numberEntry(tag, 3, {1}));
  std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(false).build(dirs));
  file.resize(file.size() + 200000, 0x5A);  // picture data after the APP1 segment
  return file;
}

void parseOne(benchmark::State& state, const std::vector<uint8_t>& candidate) {
  ExifInfo exif;
  for (auto _ : state) {
    exif.parse(candidate.data(), candidate.size());
    benchmark::DoNotOptimize(exif.hasExif());
  }
}

void BM_ParseBomb(benchmark::State& state) {
  static const std::vector<uint8_t> bomb = kestrix::test::fullExifBomb();
  parseOne(state, bomb);
}
BENCHMARK(BM_ParseBomb)->Unit(benchmark::kMillisecond);

void BM_ParseCamera(benchmark::State& state) {
  static const std::vector<uint8_t> camera = cameraCandidate();
  parseOne(state, camera);
}
BENCHMARK(BM_ParseCamera)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  long candidates = 100000;
  std::string kind = "bomb";
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--candidates") == 0 && i + 1 < argc) {
      candidates = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--kind") == 0 && i + 1 < argc) {
      kind = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }

  const std::vector<uint8_t> image =
      kind == "camera" ? cameraCandidate() : kestrix::test::fullExifBomb();
  const long before = rssAnonKiB();
  auto objects = std::make_unique<ExifInfo[]>(static_cast<size_t>(candidates));
  for (long i = 0; i < candidates; ++i) objects[i].parse(image.data(), image.size());
  const long after = rssAnonKiB();
  std::string model = "不明";
  objects[candidates - 1].mainChainText(kestrix::kTagModel, model);
  std::printf(
      "%ld %s candidates (%zu-byte image, sizeof(ExifInfo) %zu): RssAnon +%.1f MiB, "
      "%.0f bytes per candidate (last model: %s)\n",
      candidates, kind.c_str(), image.size(), sizeof(ExifInfo), (after - before) / 1024.0,
      (after - before) * 1024.0 / static_cast<double>(candidates), model.c_str());
  objects.reset();

  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
