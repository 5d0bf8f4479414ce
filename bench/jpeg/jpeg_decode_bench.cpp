// Decoding a 12-megapixel baseline and progressive photo, against
// libjpeg-turbo (fast integer IDCT, no fancy upsampling: the same work) in
// the same run. The photos are made once into the build tree with ImageMagick
// and cjpeg. Run by hand: build-jpeg/bench/jpeg_decode_bench
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/memory_byte_source.h"
#include "imaging/loader/dib_image.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

const std::string kDirectory = KX_BENCH_DATA_DIR;

std::vector<std::uint8_t> Photo(bool progressive) {
  const std::string source = kDirectory + "/photo_4000x3000.ppm";
  const std::string path =
      kDirectory + (progressive ? "/photo_progressive.jpg" : "/photo_baseline.jpg");
  std::ifstream existing(path, std::ios::binary);
  if (!existing) {
    // Fractal plasma at a quarter size, enlarged, with noise for texture:
    // photo-like detail without a multi-minute plasma render.
    const std::string make = "test -f " + source +
                             " || convert -size 1000x750 -seed 7 plasma:fractal "
                             "-resize 4000x3000! -attenuate 0.4 +noise Gaussian " +
                             source;
    const std::string encode = std::string("cjpeg -quality 90 ") +
                               (progressive ? "-progressive " : "") + source + " > " + path;
    if (std::system(make.c_str()) != 0 || std::system(encode.c_str()) != 0) return {};
    existing.open(path, std::ios::binary);
  }
  return {std::istreambuf_iterator<char>(existing), std::istreambuf_iterator<char>()};
}

void DecodeKestrix(benchmark::State& state, bool progressive) {
  const std::vector<std::uint8_t> bytes = Photo(progressive);
  if (bytes.empty()) {
    state.SkipWithError("cannot make the test photo (convert, cjpeg)");
    return;
  }
  auto decoder = std::make_unique<kestrix::JpegDecoder>();
  for (auto _ : state) {
    kestrix::MemoryByteSource source(bytes);
    decoder->Open(&source);
    if (decoder->Start() != 0) {
      state.SkipWithError("decode failed");
      break;
    }
    const std::uint8_t* row = nullptr;
    int byteCount = 0;
    std::uint64_t checksum = 0;
    while (decoder->ReadRow(&row, &byteCount) == 0) checksum += row[0];
    benchmark::DoNotOptimize(checksum);
    decoder->Close();
  }
}

// The same decode through DibImage::LoadJpeg: adds the bottom-up B, G, R, 255
// row copy the viewer and the thumbnails pay for.
void LoadIntoDib(benchmark::State& state, bool progressive) {
  const std::vector<std::uint8_t> bytes = Photo(progressive);
  if (bytes.empty()) {
    state.SkipWithError("cannot make the test photo (convert, cjpeg)");
    return;
  }
  kestrix::DibImage image;
  for (auto _ : state) {
    kestrix::MemoryByteSource source(bytes);
    if (!image.LoadJpeg(source)) {
      state.SkipWithError("load failed");
      break;
    }
  }
}

void DecodeLibjpeg(benchmark::State& state, bool progressive) {
  const std::vector<std::uint8_t> bytes = Photo(progressive);
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
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.out_color_space = JCS_EXT_RGBX;
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
}

}  // namespace

BENCHMARK_CAPTURE(DecodeKestrix, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeLibjpeg, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadIntoDib, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeKestrix, progressive, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeLibjpeg, progressive, true)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
