#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>

namespace kestrix {

class ByteSource;

// The 40-byte Windows BITMAPINFOHEADER, little-endian on disk.
struct BitmapInfoHeader {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;  // BI_RGB
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

// Byte order of the destination pixels DrawScaled writes (3 bytes each).
enum class PixelOrder { Rgb, Bgr };

// A device-independent bitmap held at full size: rows bottom-up, each padded
// to a multiple of 4 bytes; 32-bit pixels are B, G, R, 255.
class DibImage {
 public:
  DibImage() = default;
  virtual ~DibImage() = default;
  DibImage(const DibImage&) = delete;
  DibImage& operator=(const DibImage&) = delete;

  // Allocates (without clearing) width x height pixels of 8, 24 or 32 bits.
  // False for any other bit count, a size outside 1..24576, or no memory.
  bool Create(int width, int height, int bitCount);
  void Clear();

  // Picks the loader by the text after the last "." of path, ignoring case:
  // ".jpg", ".bmp" or ".raw" (width, height, bitCount are for ".raw" only).
  // Non-zero on success; a JPEG that stops part-way still loads, with the
  // rows it never delivered white.
  int Load(const std::string& path, int width = -1, int height = -1, int bitCount = -1);

  // The loaders behind Load, for callers that already hold the bytes.
  bool LoadJpeg(ByteSource& source);
  bool LoadBmp(std::istream& stream);

  void GetHeader(BitmapInfoHeader* header) const { *header = header_; }

  // Draws the whole image scaled to drawWidth x drawHeight (-1: the image's
  // own) at x, y into a top-down 3-byte-per-pixel buffer, clipped to it.
  // Each destination pixel is the area-weighted mean of the source pixels
  // it covers; an 8-bit image is grey (its byte is the luma). False
  // (nothing drawn) unless the image has 8, 24 or 32 bits, a non-zero size
  // and pixels.
  bool DrawScaled(std::uint8_t* destination, int destinationWidth, int destinationHeight,
                  int destinationStride, int x, int y, int drawWidth, int drawHeight,
                  PixelOrder order = PixelOrder::Rgb) const;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitCount() const { return bitCount_; }
  int Stride() const { return stride_; }
  const std::uint8_t* Pixels() const { return pixels_.get(); }
  std::size_t PixelBytes() const { return pixelBytes_; }

 private:
  bool LoadRaw(const std::string& path, int width, int height, int bitCount);

  std::unique_ptr<std::uint8_t[]> pixels_;
  std::size_t pixelBytes_ = 0;
  int width_ = 0;
  int height_ = 0;
  int bitCount_ = 0;
  BitmapInfoHeader header_{};
  int stride_ = 0;
};

}  // namespace kestrix
