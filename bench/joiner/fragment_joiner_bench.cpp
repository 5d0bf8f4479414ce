// What joining split photos adds to a checked scan, on cards of 60 photos
// (eight distinct 1600 x 1200 pictures, quality 90, in 32 KiB clusters):
// one with no split photo, where the join must cost next to nothing, and
// one where 7 photos are split around a whole photo, as a camera's first-fit
// reuse of freed clusters leaves them. Scan, check (one thread) and join of
// the card as an image file, mapped as the programs map it; the photos are
// made once with convert and cjpeg.
// Targets: with no split photo the join adds under 5 % to scan and check;
// with 7 split, scan, check and join take under 4 x scan and check alone.
// Counters: photos joined, seams tried, MB decoded by the tries.
// Run by hand (a build with -DKESTRIX_BUILD_BENCH=ON):
//   BUILD/bench/fragment_joiner_bench
//
// Memory: `fragment_joiner_bench --join-once PHOTOS` writes a card of PHOTOS
// photos (one in eight split) straight to a file, then scans, checks and
// joins it once. Under bench/scan/peak-rss-anon.sh (peak-memory.sh beside
// this file runs it for two card sizes) the peak private memory must stay
// the same whatever the card's size: the card is a file mapping, and each
// try holds one joined photo.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/candidate_check.h"
#include "core/candidate_list.h"
#include "core/fragment_joiner.h"
#include "core/image_file.h"
#include "core/image_scan.h"
#include "engine/carving_engine.h"
#include "host/engine_set.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kCluster = 32768;

const std::vector<Bytes>& photos() {
  static std::vector<Bytes> made;
  if (!made.empty()) return made;
  for (int seed = 1; seed <= 8; ++seed) {
    const std::string path =
        std::string(KX_BENCH_DATA_DIR) + "/photo" + std::to_string(seed) + ".jpg";
    const std::string make =
        "test -f " + path + " || convert -size 400x300 -seed " + std::to_string(seed) +
        " plasma:fractal -resize 1600x1200! -attenuate 0.3 +noise Gaussian ppm:- | cjpeg "
        "-quality 90 > " +
        path;
    if (std::system(make.c_str()) != 0) return made;
    std::ifstream in(path, std::ios::binary);
    made.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return made;
}

// Writes a card of `count` photos to `path`, a cluster at a time in effect:
// `split` of them have their second half after the next photo. False when
// the photos cannot be made or the file not written.
bool writeCard(const std::string& path, int count, int split) {
  const std::vector<Bytes>& sources = photos();
  if (sources.size() != 8) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  uint64_t size = 0;
  auto put = [&](const uint8_t* bytes, uint64_t length) {
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
    size += length;
  };
  const Bytes slack(kCluster, 0x5A);
  auto padToCluster = [&] { put(slack.data(), (kCluster - size % kCluster) % kCluster); };
  int splitLeft = split;
  for (int i = 0; i < count; ++i) {
    const Bytes& photo = sources[i % 8];
    if (splitLeft > 0 && i % 8 == 3 && i + 1 < count) {
      --splitLeft;
      const size_t cut = photo.size() / 2 / kCluster * kCluster;
      put(photo.data(), cut);
      const Bytes& between = sources[(i + 1) % 8];
      put(between.data(), between.size());
      padToCluster();
      put(photo.data() + cut, photo.size() - cut);
      padToCluster();
      ++i;
      continue;
    }
    put(photo.data(), photo.size());
    padToCluster();
  }
  return static_cast<bool>(out.flush());
}

// Scan, check on this thread, and join when asked; the outcome of the join.
kestrix::JoinOutcome scanCheckJoin(const kestrix::ImageBlock& image, bool join) {
  using namespace kestrix;
  EngineSet engines;
  engines.add(new CarvingEngine, [](ScanEngine* engine) { delete engine; });
  CandidateList list;
  scanImage(image, engines, {".jpg"}, list, ScanSettings{});
  CheckRowQueue rows(list.itemCount());
  checkCandidates(image, &engines, list, rows);
  JoinOutcome outcome;
  if (join) outcome = joinFragments(image, list);
  benchmark::DoNotOptimize(list.itemCount());
  return outcome;
}

void ScanCheckJoin(benchmark::State& state) {
  using namespace kestrix;
  const int split = static_cast<int>(state.range(0));
  const bool join = state.range(1) != 0;
  const std::string path =
      std::string(KX_BENCH_DATA_DIR) + "/card_" + std::to_string(split) + ".img";
  ImageOpenResult opened;
  if (writeCard(path, 60, split)) opened = ImageFile::open(path);
  if (!opened.image) {
    state.SkipWithError("cannot make the card (convert, cjpeg)");
    return;
  }
  JoinOutcome outcome;
  for (auto _ : state) outcome = scanCheckJoin(*opened.image, join);
  state.counters["joined"] = static_cast<double>(outcome.joined);
  state.counters["seams"] = static_cast<double>(outcome.budget.seamsTried);
  state.counters["decodedMB"] = static_cast<double>(outcome.budget.decodedBytes) / 1e6;
  state.counters["MB"] = static_cast<double>(opened.image->size()) / 1e6;
}

// Arguments: split photos, join or not.
BENCHMARK(ScanCheckJoin)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({7, 0})
    ->Args({7, 1})
    ->Unit(benchmark::kMillisecond);

// One scan, check and join of a card of `count` photos, for a memory probe.
int joinOnce(int count) {
  const std::string path =
      std::string(KX_BENCH_DATA_DIR) + "/card_once_" + std::to_string(count) + ".img";
  if (count <= 0 || !writeCard(path, count, count / 8)) return 2;
  const kestrix::ImageOpenResult opened = kestrix::ImageFile::open(path);
  if (!opened.image) return 2;
  const kestrix::JoinOutcome outcome = scanCheckJoin(*opened.image, true);
  std::fprintf(stderr, "%d photos, %.0f MB card: %llu joined, %llu seams, %.0f MB decoded\n", count,
               static_cast<double>(opened.image->size()) / 1e6,
               static_cast<unsigned long long>(outcome.joined),
               static_cast<unsigned long long>(outcome.budget.seamsTried),
               static_cast<double>(outcome.budget.decodedBytes) / 1e6);
  std::remove(path.c_str());
  return outcome.joined == static_cast<uint64_t>(count / 8) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--join-once") == 0) return joinOnce(std::atoi(argv[2]));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
