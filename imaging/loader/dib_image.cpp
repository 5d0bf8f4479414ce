#include "imaging/loader/dib_image.h"

#include "imaging/jpeg/file_byte_source.h"
#include "imaging/jpeg/jpeg_decoder.h"
#include "platform/byte_view.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrix {

namespace {

// Bitmaps share the decoder's dimension limit: nothing this program shows is
// larger, and it bounds every allocation a hostile header can ask for.
constexpr int kMaxDibDimension = kJpegMaxDimension;
// The largest JPEG the loader decodes, in pixels. 160 megapixels is above
// every camera sensor made, while a carved fragment of a few hundred bytes
// whose frame header claims 24576 x 24576 would otherwise make each
// thumbnail allocate and fill 2.4 GB.
constexpr std::uint64_t kMaxJpegPixels = 160'000'000;
constexpr std::size_t kBmpFileHeaderSize = 14;
constexpr std::size_t kBmpInfoHeaderSize = 40;
constexpr std::uint16_t kBmpType = 0x4D42;  // "BM"

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Bytes of one row: (width x bitCount) / 8 rounded down, then up to 4.
// R, G, B, x pixels from the decoder become B, G, R, 255. The SSE2 loop
// swaps R and B by swapping the 16-bit halves of each pixel with G masked
// out; SSSE3's byte shuffle would do it in one step but is not in the
// x86-64 baseline this program is built for.
void CopyRgbxAsBgr255(const std::uint8_t* row, std::uint8_t* destination, int width) {
  int x = 0;
#if defined(__SSE2__)
  const __m128i redBlue = _mm_set1_epi32(0x00FF00FF);
  const __m128i green = _mm_set1_epi32(0x0000FF00);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; x + 4 <= width; x += 4) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * x));
    __m128i swapped = _mm_and_si128(pixels, redBlue);
    swapped = _mm_shufflehi_epi16(_mm_shufflelo_epi16(swapped, _MM_SHUFFLE(2, 3, 0, 1)),
                                  _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i out = _mm_or_si128(_mm_or_si128(swapped, _mm_and_si128(pixels, green)), alpha);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 4 * x), out);
  }
#endif
  for (; x < width; ++x) {
    destination[4 * x] = row[4 * x + 2];
    destination[4 * x + 1] = row[4 * x + 1];
    destination[4 * x + 2] = row[4 * x];
    destination[4 * x + 3] = 255;
  }
}

std::int64_t StrideOf(std::int64_t width, int bitCount) {
  return ((width * bitCount / 8) + 3) & ~std::int64_t{3};
}

// Size of a stream in bytes, or -1; leaves the position at the start.
std::int64_t StreamSize(std::istream& stream) {
  stream.seekg(0, std::ios::end);
  const std::streamoff size = stream.tellg();
  stream.seekg(0, std::ios::beg);
  return stream ? static_cast<std::int64_t>(size) : -1;
}

}  // namespace

bool DibImage::Create(int width, int height, int bitCount) {
  if (bitCount != 8 && bitCount != 24 && bitCount != 32) return false;
  if (width <= 0 || height <= 0 || width > kMaxDibDimension || height > kMaxDibDimension)
    return false;
  const std::int64_t stride = StrideOf(width, bitCount);
  const auto bytes = static_cast<std::size_t>(stride * height);
  std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[bytes]);
  if (!pixels) return false;
  pixels_ = std::move(pixels);
  pixelBytes_ = bytes;
  width_ = width;
  height_ = height;
  bitCount_ = bitCount;
  stride_ = static_cast<int>(stride);
  header_ = BitmapInfoHeader{};
  header_.biWidth = width;
  header_.biHeight = height;
  header_.biBitCount = static_cast<std::uint16_t>(bitCount);
  header_.biSizeImage = static_cast<std::uint32_t>(bytes);
  return true;
}

void DibImage::Clear() {
  pixels_.reset();
  pixelBytes_ = 0;
  width_ = 0;
  height_ = 0;
  bitCount_ = 0;
  stride_ = 0;
  header_ = BitmapInfoHeader{};
}

int DibImage::Load(const std::string& path, int width, int height, int bitCount) {
  Clear();
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return 0;
  const std::string extension = LowerCase(path.substr(dot));
  if (extension == ".jpg") {
    FileByteSource source;
    if (!source.Open(path)) return 0;
    return LoadJpeg(source) ? 1 : 0;
  }
  if (extension == ".bmp") {
    std::ifstream stream(path, std::ios::binary);
    if (!stream.is_open()) return 0;
    return LoadBmp(stream) ? 1 : 0;
  }
  if (extension == ".raw") return LoadRaw(path, width, height, bitCount) ? 1 : 0;
  return 0;
}

bool DibImage::LoadJpeg(ByteSource& source) {
  Clear();
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  // The size is known once the frame header is read; refuse a huge one
  // before Start, which decodes a progressive image's every coefficient.
  if (decoder->ErrorCode() != 0 ||
      std::uint64_t(decoder->Width()) * std::uint64_t(decoder->Height()) > kMaxJpegPixels ||
      decoder->Start() != 0) {
    decoder->Close();
    return false;
  }
  const int bytesPerPixel = decoder->BytesPerPixel();
  if (!Create(decoder->Width(), decoder->Height(), 8 * bytesPerPixel)) {
    decoder->Close();
    return false;
  }
  // Rows a damaged file never delivers show as white rather than as
  // whatever the allocation held. Only those rows and the padding at the
  // end of each 8-bit row are whitened: filling all 48 MB of a 12-megapixel
  // picture first cost more than decoding it.
  const std::size_t rowBytes = std::size_t(width_) * std::size_t(bytesPerPixel);
  int delivered = 0;
  for (; delivered < height_; ++delivered) {
    const std::uint8_t* row = nullptr;
    int byteCount = 0;
    if (decoder->ReadRow(&row, &byteCount) != 0) break;
    std::uint8_t* destination = pixels_.get() + std::size_t(height_ - 1 - delivered) * stride_;
    if (bytesPerPixel == 4) {
      CopyRgbxAsBgr255(row, destination, width_);
    } else {
      // Greyscale keeps 8 bits per pixel; the luma fills it so the
      // pixels are defined even though drawing refuses 8-bit images.
      std::memcpy(destination, row, rowBytes);
    }
    std::memset(destination + rowBytes, 0xFF, std::size_t(stride_) - rowBytes);
  }
  // Undelivered rows are the picture's lowest ones, stored first in the
  // bottom-up buffer.
  std::memset(pixels_.get(), 0xFF, std::size_t(height_ - delivered) * stride_);
  decoder->Close();
  return true;
}

// Fails on a bad type, planes other than 1, a bit count other than 8 or 24,
// a top-down (negative height) bitmap, absurd dimensions, or pixel data the
// header claims that is larger than the whole stream (refused before
// allocating). A short pixel read still loads; the missing bytes are white.
bool DibImage::LoadBmp(std::istream& stream) {
  Clear();
  const std::int64_t streamSize = StreamSize(stream);
  if (streamSize < 0) return false;
  std::uint8_t fileHeader[kBmpFileHeaderSize];
  std::uint8_t info[kBmpInfoHeaderSize];
  if (!stream.read(reinterpret_cast<char*>(fileHeader), sizeof fileHeader)) return false;
  ByteCursor file(ByteView(fileHeader, sizeof fileHeader), 0, ByteOrder::LittleEndian);
  if (file.u16() != kBmpType) return false;
  file.skip(8);  // file size and two reserved words
  const std::uint32_t pixelOffset = file.u32();
  if (!stream.read(reinterpret_cast<char*>(info), sizeof info)) return false;

  ByteCursor field(ByteView(info, sizeof info), 0, ByteOrder::LittleEndian);
  BitmapInfoHeader header;
  header.biSize = field.u32();
  header.biWidth = static_cast<std::int32_t>(field.u32());
  header.biHeight = static_cast<std::int32_t>(field.u32());
  header.biPlanes = field.u16();
  header.biBitCount = field.u16();
  header.biCompression = field.u32();
  header.biSizeImage = field.u32();
  header.biXPelsPerMeter = static_cast<std::int32_t>(field.u32());
  header.biYPelsPerMeter = static_cast<std::int32_t>(field.u32());
  header.biClrUsed = field.u32();
  header.biClrImportant = field.u32();
  if (!file.ok() || !field.ok()) return false;
  if (header.biPlanes != 1 || (header.biBitCount != 24 && header.biBitCount != 8)) return false;
  if (header.biHeight < 0) return false;  // top-down bitmaps are not supported

  if (header.biWidth != 0) {
    if (header.biWidth < 0 || header.biWidth > kMaxDibDimension ||
        header.biHeight > kMaxDibDimension)
      return false;
    const std::int64_t claimed = StrideOf(header.biWidth, header.biBitCount) * header.biHeight;
    if (claimed > streamSize) return false;
    if (!Create(header.biWidth, header.biHeight, header.biBitCount)) return false;
  } else {
    // No width: take the pixel size the header states, and keep the header.
    if (std::int64_t{header.biSizeImage} > streamSize) return false;
    std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[header.biSizeImage]);
    if (!pixels) return false;
    pixels_ = std::move(pixels);
    pixelBytes_ = header.biSizeImage;
    width_ = 0;
    height_ = header.biHeight;
    bitCount_ = header.biBitCount;
    stride_ = 0;
    header_ = header;
  }

  std::memset(pixels_.get(), 0xFF, pixelBytes_);
  stream.clear();
  stream.seekg(static_cast<std::streamoff>(pixelOffset), std::ios::beg);
  if (stream.fail() || stream.bad()) {
    Clear();
    return false;
  }
  stream.read(reinterpret_cast<char*>(pixels_.get()), static_cast<std::streamsize>(pixelBytes_));
  if (stream.bad()) {
    Clear();
    return false;
  }
  return true;
}

bool DibImage::LoadRaw(const std::string& path, int width, int height, int bitCount) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream.is_open() || !Create(width, height, bitCount)) return false;
  std::memset(pixels_.get(), 0xFF, pixelBytes_);
  // The read size ignores row padding; it never exceeds the buffer, as the
  // padded stride is at least width x bitCount / 8.
  const std::size_t bytes = std::size_t(width) * std::size_t(height) * std::size_t(bitCount / 8);
  stream.read(reinterpret_cast<char*>(pixels_.get()),
              static_cast<std::streamsize>(std::min(bytes, pixelBytes_)));
  if (stream.bad()) {
    Clear();
    return false;
  }
  return true;
}

bool DibImage::DrawScaled(std::uint8_t* destination, int destinationWidth, int destinationHeight,
                          int destinationStride, int x, int y, int drawWidth, int drawHeight,
                          PixelOrder order) const {
  // 8-bit pictures are the greyscale JPEGs: their byte is the luma, drawn
  // as grey. There is no palette to honour (LoadBmp never reads one).
  if ((bitCount_ != 8 && bitCount_ != 24 && bitCount_ != 32) || width_ <= 0 || height_ <= 0 ||
      !pixels_)
    return false;
  if (drawWidth == -1) drawWidth = width_;
  if (drawHeight == -1) drawHeight = height_;
  if (drawWidth <= 0 || drawHeight <= 0 || destination == nullptr) return false;

  // Area averaging: on a common axis of W x dw units, source pixel i covers
  // [i * dw, (i + 1) * dw) and destination pixel j covers [j * W, (j + 1) * W);
  // each source pixel weighs its overlap, so the weights of one destination
  // pixel add up to exactly W (and H vertically). Chosen over dropping rows
  // and columns, which flickers on fine detail in a 100 x 75 thumbnail.
  struct Span {
    int first;
    std::vector<std::int64_t> weights;
  };
  auto spansFor = [](int source, int target, int from, int to) {
    std::vector<Span> spans;
    for (int j = from; j < to; ++j) {
      const std::int64_t begin = std::int64_t(j) * source;
      const std::int64_t end = begin + source;
      Span span;
      span.first = static_cast<int>(begin / target);
      const int last = static_cast<int>((end - 1) / target);
      for (int i = span.first; i <= last; ++i) {
        const std::int64_t low = std::max(begin, std::int64_t(i) * target);
        const std::int64_t high = std::min(end, std::int64_t(i + 1) * target);
        span.weights.push_back(high - low);
      }
      spans.push_back(std::move(span));
    }
    return spans;
  };

  const int columnFrom = std::max(0, -x);
  const int columnTo = std::min(drawWidth, destinationWidth - x);
  const int rowFrom = std::max(0, -y);
  const int rowTo = std::min(drawHeight, destinationHeight - y);
  if (columnFrom >= columnTo || rowFrom >= rowTo) return true;  // entirely clipped
  const std::vector<Span> columns = spansFor(width_, drawWidth, columnFrom, columnTo);
  const std::vector<Span> rows = spansFor(height_, drawHeight, rowFrom, rowTo);

  const int bytesPerPixel = bitCount_ / 8;
  const int second = bytesPerPixel == 1 ? 0 : 1;  // grey: one byte gives all three
  const int third = bytesPerPixel == 1 ? 0 : 2;
  const int outputs = columnTo - columnFrom;
  std::vector<std::int64_t> rowSums(std::size_t(outputs) * 3);
  std::vector<std::int64_t> sums(std::size_t(outputs) * 3);
  const std::int64_t total = std::int64_t(width_) * height_;
  const int red = order == PixelOrder::Rgb ? 0 : 2;
  const int blue = 2 - red;

  for (int r = 0; r < rowTo - rowFrom; ++r) {
    std::fill(sums.begin(), sums.end(), 0);
    const Span& rowSpan = rows[r];
    for (std::size_t k = 0; k < rowSpan.weights.size(); ++k) {
      const int sourceRow = rowSpan.first + static_cast<int>(k);
      // Bottom-up storage: picture row 0 is the last buffer row.
      const std::uint8_t* line = pixels_.get() + std::size_t(height_ - 1 - sourceRow) * stride_;
      for (int c = 0; c < outputs; ++c) {
        const Span& columnSpan = columns[c];
        std::int64_t b = 0, g = 0, red_ = 0;
        const std::uint8_t* pixel = line + std::size_t(columnSpan.first) * bytesPerPixel;
        for (std::int64_t weight : columnSpan.weights) {
          b += weight * pixel[0];
          g += weight * pixel[second];
          red_ += weight * pixel[third];
          pixel += bytesPerPixel;
        }
        rowSums[c * 3] = b;
        rowSums[c * 3 + 1] = g;
        rowSums[c * 3 + 2] = red_;
      }
      const std::int64_t weight = rowSpan.weights[k];
      for (std::size_t i = 0; i < sums.size(); ++i) sums[i] += weight * rowSums[i];
    }
    std::uint8_t* out = destination + std::size_t(y + rowFrom + r) * destinationStride +
                        std::size_t(x + columnFrom) * 3;
    for (int c = 0; c < outputs; ++c, out += 3) {
      out[blue] = static_cast<std::uint8_t>((sums[c * 3] + total / 2) / total);
      out[1] = static_cast<std::uint8_t>((sums[c * 3 + 1] + total / 2) / total);
      out[red] = static_cast<std::uint8_t>((sums[c * 3 + 2] + total / 2) / total);
    }
  }
  return true;
}

}  // namespace kestrix
