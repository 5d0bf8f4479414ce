// The check of 12-megapixel photos as the scan runs it (entropy decoding of
// every scan, the 1/8-scale DC picture, the 100 x 75 thumbnail), against
// libjpeg-turbo's own 1/8-scale decode (what djpeg -scale 1/8 does) of the
// same bytes in the same run. Photos per second on one and on two threads.
// Run by hand: build/bench/bench/check_bench
#include "imaging/check/find_checker.h"
#include "imaging/loader/jpeg_thumbnail.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

const std::string kDirectory = KX_BENCH_DATA_DIR;

// 4000 x 3000, quality 90, photo-like: fractal plasma at a quarter size,
// enlarged, with noise for texture (as bench/jpeg makes its photos).
const std::vector<std::uint8_t>& Photo(bool progressive) {
  static std::vector<std::uint8_t> photos[2];
  std::vector<std::uint8_t>& bytes = photos[progressive ? 1 : 0];
  if (!bytes.empty()) return bytes;
  const std::string source = kDirectory + "/photo_4000x3000.ppm";
  const std::string path =
      kDirectory + (progressive ? "/photo_progressive.jpg" : "/photo_baseline.jpg");
  const std::string make = "test -f " + path + " || { test -f " + source +
                           " || convert -size 1000x750 -seed 7 "
                           "plasma:fractal -resize 4000x3000! -attenuate 0.4 +noise Gaussian " +
                           source +
                           "; cjpeg "
                           "-quality 90 " +
                           (progressive ? "-progressive " : "") + source + " > " + path + "; }";
  if (std::system(make.c_str()) != 0) return bytes;
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return bytes;
}

void CheckWithThumbnail(benchmark::State& state, bool progressive) {
  const std::vector<std::uint8_t>& bytes = Photo(progressive);
  if (bytes.empty()) {
    state.SkipWithError("cannot make the test photo (convert, cjpeg)");
    return;
  }
  std::uint8_t cell[100 * 75 * 3];
  for (auto _ : state) {
    bool made = false;
    const kestrix::CheckResult result =
        kestrix::CheckFind(bytes.data(), bytes.size(), "jpg", cell, &made);
    if (result.verdict != kestrix::Verdict::Intact || !made) {
      state.SkipWithError("the photo did not check as intact");
      break;
    }
    benchmark::DoNotOptimize(cell[0]);
  }
  state.SetItemsProcessed(state.iterations());  // photos
}

void ThumbnailOnly(benchmark::State& state, bool progressive) {
  const std::vector<std::uint8_t>& bytes = Photo(progressive);
  if (bytes.empty()) {
    state.SkipWithError("cannot make the test photo (convert, cjpeg)");
    return;
  }
  std::uint8_t cell[100 * 75 * 3];
  for (auto _ : state) {
    if (!kestrix::MakeJpegThumbnail(bytes.data(), bytes.size(), cell)) {
      state.SkipWithError("no thumbnail");
      break;
    }
    benchmark::DoNotOptimize(cell[0]);
  }
  state.SetItemsProcessed(state.iterations());
}

// libjpeg-turbo at 1/8 scale: the work of djpeg -scale 1/8 without the file
// and PPM output.
void LibjpegEighth(benchmark::State& state, bool progressive) {
  const std::vector<std::uint8_t>& bytes = Photo(progressive);
  if (bytes.empty()) {
    state.SkipWithError("cannot make the test photo (convert, cjpeg)");
    return;
  }
  for (auto _ : state) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = 8;
    jpeg_start_decompress(&info);
    std::vector<JSAMPLE> line(std::size_t(info.output_width) * info.output_components);
    JSAMPROW rows[1] = {line.data()};
    std::uint64_t checksum = 0;
    while (info.output_scanline < info.output_height) {
      jpeg_read_scanlines(&info, rows, 1);
      checksum += line[0];
    }
    benchmark::DoNotOptimize(checksum);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(ThumbnailOnly, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibjpegEighth, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ThumbnailOnly, progressive, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibjpegEighth, progressive, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CheckWithThumbnail, baseline, false)
    ->Unit(benchmark::kMillisecond)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(CheckWithThumbnail, progressive, true)
    ->Unit(benchmark::kMillisecond)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

BENCHMARK_MAIN();
