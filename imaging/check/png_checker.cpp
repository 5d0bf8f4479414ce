#include "imaging/check/png_checker.h"

#include "engine/png_structure.h"
#include "platform/byte_view.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kestrix {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t kMaxDimension = 0x7FFFFFFF;

bool IsType(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Bits per pixel of an allowed colour type / bit depth pair (PNG 11.2.2), or 0.
int BitsPerPixel(int colourType, int bitDepth) {
  switch (colourType) {
    case 0:
      return (bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16)
                 ? bitDepth
                 : 0;
    case 2: return (bitDepth == 8 || bitDepth == 16) ? 3 * bitDepth : 0;
    case 3:
      return (bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8) ? bitDepth : 0;
    case 4: return (bitDepth == 8 || bitDepth == 16) ? 2 * bitDepth : 0;
    case 6: return (bitDepth == 8 || bitDepth == 16) ? 4 * bitDepth : 0;
    default: return 0;
  }
}

// Rows of one (sub)image: how many, and bytes each with its filter byte.
struct RowRun {
  std::uint64_t rows = 0;
  std::uint64_t rowBytes = 0;
};

// The filtered image's layout: one run, or the seven Adam7 passes (PNG 8.2),
// empty passes left out.
std::vector<RowRun> Layout(std::uint32_t width, std::uint32_t height, int bitsPerPixel,
                           bool interlaced) {
  auto run = [&](std::uint64_t w, std::uint64_t h) {
    return RowRun{h, 1 + (w * std::uint64_t(bitsPerPixel) + 7) / 8};
  };
  if (!interlaced) return {run(width, height)};
  static constexpr int kStartX[7] = {0, 4, 0, 2, 0, 1, 0};
  static constexpr int kStartY[7] = {0, 0, 4, 0, 2, 0, 1};
  static constexpr int kStepX[7] = {8, 8, 4, 4, 2, 2, 1};
  static constexpr int kStepY[7] = {8, 8, 8, 4, 4, 2, 2};
  std::vector<RowRun> runs;
  for (int pass = 0; pass < 7; ++pass) {
    const std::uint64_t w = width > std::uint32_t(kStartX[pass])
                                ? (width - kStartX[pass] + kStepX[pass] - 1) / kStepX[pass]
                                : 0;
    const std::uint64_t h = height > std::uint32_t(kStartY[pass])
                                ? (height - kStartY[pass] + kStepY[pass] - 1) / kStepY[pass]
                                : 0;
    if (w > 0 && h > 0) runs.push_back(run(w, h));
  }
  return runs;
}

// Follows the inflated bytes through the row layout: counts them and checks
// that each row starts with a filter type 0..4 (PNG 9.2).
class FilteredBytes {
 public:
  explicit FilteredBytes(std::vector<RowRun> runs) : runs_(std::move(runs)) {}

  // False at the first byte that cannot be the image's: a bad filter type
  // or a byte beyond the last row.
  bool Take(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
      if (run_ == runs_.size()) return false;
      const RowRun& current = runs_[run_];
      if (inRow_ == 0 && bytes[0] > 4) return false;
      const std::uint64_t step = std::min<std::uint64_t>(count, current.rowBytes - inRow_);
      bytes += step;
      count -= static_cast<std::size_t>(step);
      inRow_ += step;
      if (inRow_ == current.rowBytes) {
        inRow_ = 0;
        if (++row_ == current.rows) {
          row_ = 0;
          ++run_;
        }
      }
    }
    return true;
  }
  bool Complete() const { return run_ == runs_.size(); }

 private:
  std::vector<RowRun> runs_;
  std::size_t run_ = 0;
  std::uint64_t row_ = 0;
  std::uint64_t inRow_ = 0;
};

}  // namespace

CheckResult PngChecker::Check(const std::uint8_t* bytes, std::uint64_t length) {
  CheckResult result;
  if (bytes == nullptr || length < sizeof kSignature) {
    if (bytes != nullptr && length > 0 && std::memcmp(bytes, kSignature, length) == 0)
      result.Judge(Verdict::Truncated, length, "data ends before the end of the image");
    else
      result.reason = "not a PNG";
    return result;
  }
  if (std::memcmp(bytes, kSignature, sizeof kSignature) != 0) {
    result.Judge(Verdict::Damaged, 0, "bad signature");
    return result;
  }

  z_stream inflater{};
  if (inflateInit(&inflater) != Z_OK) {
    result.reason = "zlib failed";
    return result;
  }
  std::array<std::uint8_t, 65536> scratch;
  FilteredBytes filtered({});
  bool haveHeader = false;
  bool inIdat = false;    // the last chunk was an IDAT
  bool idatDone = false;  // the IDAT sequence has ended
  bool streamEnded = false;
  std::uint64_t offset = sizeof kSignature;
  auto finish = [&](Verdict verdict, std::uint64_t at, const char* reason) {
    result.Judge(verdict, at, reason);
    inflateEnd(&inflater);
    return result;
  };

  for (;;) {
    // The one chunk reader the scan's walk uses too.
    png::Chunk chunk;
    switch (png::readChunk(BoundBlock(bytes, length), offset, chunk)) {
      case png::ChunkRead::Read: break;
      case png::ChunkRead::RanOut:
        return finish(Verdict::Truncated, length, "data ends before IEND");
      case png::ChunkRead::NotAChunk: return finish(Verdict::Damaged, offset, "bad chunk header");
      case png::ChunkRead::BadCrc: return finish(Verdict::Damaged, offset, "chunk CRC mismatch");
    }
    const std::uint32_t chunkLength = static_cast<std::uint32_t>(chunk.length);
    const std::uint8_t* type = chunk.type;
    const std::uint8_t* data = bytes + chunk.data;

    if (!haveHeader) {
      if (!IsType(type, "IHDR") || chunkLength != 13)
        return finish(Verdict::Damaged, offset, "no IHDR first");
      // Thirteen bytes, inside the image: readChunk checked the chunk.
      ByteCursor field(ByteView(bytes, length).sub(chunk.data, chunkLength), 0,
                       ByteOrder::BigEndian);
      const std::uint32_t width = field.u32();
      const std::uint32_t height = field.u32();
      const int bitDepth = field.u8();
      const int colourType = field.u8();
      const int compression = field.u8();
      const int filter = field.u8();
      const int interlace = field.u8();
      const int bits = BitsPerPixel(colourType, bitDepth);
      if (!field.ok() || width == 0 || height == 0 || width > kMaxDimension ||
          height > kMaxDimension || bits == 0 || compression != 0 || filter != 0 || interlace > 1)
        return finish(Verdict::Damaged, offset, "bad IHDR");
      result.width = static_cast<int>(width);
      result.height = static_cast<int>(height);
      filtered = FilteredBytes(Layout(width, height, bits, interlace == 1));
      haveHeader = true;
    } else if (IsType(type, "IDAT")) {
      if (idatDone) return finish(Verdict::Damaged, offset, "IDAT chunks not consecutive");
      inIdat = true;
      if (streamEnded && chunkLength > 0)
        return finish(Verdict::Damaged, offset, "data after the image stream");
      inflater.next_in = const_cast<Bytef*>(data);
      inflater.avail_in = chunkLength;
      // Also while the output buffer came back full: zlib may hold
      // more output for input it has already taken.
      inflater.avail_out = 1;
      while (!streamEnded && (inflater.avail_in > 0 || inflater.avail_out == 0)) {
        inflater.next_out = scratch.data();
        inflater.avail_out = static_cast<uInt>(scratch.size());
        const int status = inflate(&inflater, Z_NO_FLUSH);
        const std::size_t produced = scratch.size() - inflater.avail_out;
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
          return finish(Verdict::Damaged, offset, "image data does not inflate");
        if (!filtered.Take(scratch.data(), produced))
          return finish(Verdict::Damaged, offset, "image data does not fit the header");
        if (status == Z_STREAM_END)
          streamEnded = true;
        else if (status == Z_BUF_ERROR && produced == 0)
          break;
      }
      if (streamEnded && inflater.avail_in > 0)
        return finish(Verdict::Damaged, offset, "data after the image stream");
    } else {
      if (inIdat) idatDone = true;
      inIdat = false;
      if (IsType(type, "IHDR")) return finish(Verdict::Damaged, offset, "second IHDR");
      if (IsType(type, "IEND")) {
        if (!streamEnded) return finish(Verdict::Damaged, offset, "image data incomplete");
        if (!filtered.Complete())
          return finish(Verdict::Damaged, offset, "image data shorter than the header says");
        inflateEnd(&inflater);
        result.verdict = Verdict::Intact;
        return result;
      }
    }
    offset += std::uint64_t(chunkLength) + 12;
  }
}

}  // namespace kestrix
