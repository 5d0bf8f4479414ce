// What joining split photos adds to a checked scan, on cards of 60 photos
// (eight distinct 1600 x 1200 pictures, quality 90, in 32 KiB clusters):
// one with no split photo, where the join must cost next to nothing, and
// one where 7 photos are split around a whole photo, as a camera's first-fit
// reuse of freed clusters leaves them. Scan, check (one thread) and join,
// all in memory; the photos are made once with convert and cjpeg.
// Targets: with no split photo the join adds under 5 % to scan and check;
// with 7 split, scan, check and join take under 4 x scan and check alone.
// Counters: photos joined, seams tried, MB decoded by the tries.
// Run by hand (a build with -DKESTRIX_BUILD_BENCH=ON):
//   BUILD/bench/fragment_joiner_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/candidate_check.h"
#include "core/candidate_list.h"
#include "core/fragment_joiner.h"
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
    const std::string path = std::string(KX_BENCH_DATA_DIR) + "/photo" + std::to_string(seed) + ".jpg";
    const std::string make = "test -f " + path + " || convert -size 400x300 -seed " + std::to_string(seed) +
                             " plasma:fractal -resize 1600x1200! -attenuate 0.3 +noise Gaussian ppm:- | cjpeg "
                             "-quality 90 > " + path;
    if (std::system(make.c_str()) != 0) return made;
    std::ifstream in(path, std::ios::binary);
    made.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return made;
}

void padToCluster(Bytes& card) { card.resize((card.size() + kCluster - 1) / kCluster * kCluster, 0x5A); }

// 60 photos; `split` of them have their second half after the next photo.
Bytes card(int split) {
  Bytes out;
  const std::vector<Bytes>& sources = photos();
  if (sources.size() != 8) return out;
  int splitLeft = split;
  for (int i = 0; i < 60; ++i) {
    const Bytes& photo = sources[i % 8];
    if (splitLeft > 0 && i % 8 == 3 && i + 1 < 60) {
      --splitLeft;
      const size_t cut = photo.size() / 2 / kCluster * kCluster;
      out.insert(out.end(), photo.begin(), photo.begin() + static_cast<long>(cut));
      const Bytes& between = sources[(i + 1) % 8];
      out.insert(out.end(), between.begin(), between.end());
      padToCluster(out);
      out.insert(out.end(), photo.begin() + static_cast<long>(cut), photo.end());
      padToCluster(out);
      ++i;
      continue;
    }
    out.insert(out.end(), photo.begin(), photo.end());
    padToCluster(out);
  }
  return out;
}

class MemoryBlock : public kestrix::ImageBlock {
 public:
  explicit MemoryBlock(const Bytes& bytes) : bytes_(bytes) {}
  const uint8_t* data() const override { return bytes_.data(); }
  uint64_t size() const override { return bytes_.size(); }

 private:
  const Bytes& bytes_;
};

void ScanCheckJoin(benchmark::State& state) {
  using namespace kestrix;
  const Bytes bytes = card(static_cast<int>(state.range(0)));
  const bool join = state.range(1) != 0;
  if (bytes.empty()) {
    state.SkipWithError("cannot make the photos (convert, cjpeg)");
    return;
  }
  const MemoryBlock image(bytes);
  JoinOutcome outcome;
  for (auto _ : state) {
    EngineSet engines;
    engines.add(new CarvingEngine, [](ScanEngine* engine) { delete engine; });
    CandidateList list;
    scanImage(image, engines, {".jpg"}, list, ScanSettings{});
    CheckRowQueue rows(list.itemCount());
    checkCandidates(image, &engines, list, rows);
    if (join) outcome = joinFragments(image, list);
    benchmark::DoNotOptimize(list.itemCount());
  }
  state.counters["joined"] = static_cast<double>(outcome.joined);
  state.counters["seams"] = static_cast<double>(outcome.budget.seamsTried);
  state.counters["decodedMB"] = static_cast<double>(outcome.budget.decodedBytes) / 1e6;
  state.counters["MB"] = static_cast<double>(bytes.size()) / 1e6;
}

// Arguments: split photos, join or not.
BENCHMARK(ScanCheckJoin)->Args({0, 0})->Args({0, 1})->Args({7, 0})->Args({7, 1})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
