#include "imaging/loader/jpeg_thumbnail.h"

#include "imaging/exif_info.h"
#include "imaging/jpeg/memory_byte_source.h"
#include "imaging/loader/thumbnail_fit.h"

#include <algorithm>

#include <cstring>
#include <memory>

namespace kestrix {

namespace {

// Copies a top-down DC picture into a bottom-up bitmap: 8-bit grey, or
// 24-bit B, G, R.
bool ToDib(const JpegDcImage& dc, DibImage& image) {
  if (dc.width <= 0 || dc.height <= 0 || (dc.channels != 1 && dc.channels != 3) ||
      dc.pixels.size() != std::size_t(dc.width) * std::size_t(dc.height) * std::size_t(dc.channels))
    return false;
  if (!image.Create(dc.width, dc.height, 8 * dc.channels)) return false;
  auto* pixels = const_cast<std::uint8_t*>(image.Pixels());
  const std::size_t rowBytes = std::size_t(dc.width) * std::size_t(dc.channels);
  for (int y = 0; y < dc.height; ++y) {
    const std::uint8_t* from = dc.pixels.data() + std::size_t(y) * rowBytes;
    std::uint8_t* to = pixels + std::size_t(dc.height - 1 - y) * std::size_t(image.Stride());
    if (dc.channels == 1) {
      std::memcpy(to, from, rowBytes);
    } else {
      for (int x = 0; x < dc.width; ++x) {
        to[3 * x] = from[3 * x + 2];
        to[3 * x + 1] = from[3 * x + 1];
        to[3 * x + 2] = from[3 * x];
      }
    }
  }
  return true;
}

constexpr std::uint16_t kTagThumbnailOffset = 0x0201;  // JPEGInterchangeFormat, in IFD1
constexpr std::uint16_t kTagThumbnailLength = 0x0202;  // JPEGInterchangeFormatLength
// EXIF lives in APP1, whose segment is at most 64 KiB, right after SOI.
constexpr std::uint64_t kExifSearchBytes = 70000;

// A row keeps only the few entries it shows; the thumbnail's two live in
// IFD1, which is walked again here (within the same limits).
const IfdEntry* FindInThumbnailIfd(const ExifDirectories& directories, std::uint16_t tag) {
  if (directories.mainChain.size() < 2) return nullptr;
  for (const IfdEntry& entry : directories.mainChain[1].entries) {
    if (entry.tag == tag) return &entry;
  }
  return nullptr;
}

// The photo's EXIF thumbnail drawn into the cell, when it has one of the
// photo's aspect: its size times the photo's other side may differ by at most
// one thumbnail pixel (160 x 120 for a 4000 x 3000 photo; not the 160 x 120
// with black bars of a 3:2 one).
bool RenderExifThumbnail(const std::uint8_t* bytes, std::uint64_t length, int width, int height,
                         std::uint8_t* cell, PixelOrder order) {
  ExifInfo exif;
  if (!exif.parse(bytes, std::min(length, kExifSearchBytes))) return false;
  const ExifDirectories directories = exif.readDirectories();
  const IfdEntry* offset = FindInThumbnailIfd(directories, kTagThumbnailOffset);
  const IfdEntry* size = FindInThumbnailIfd(directories, kTagThumbnailLength);
  if (offset == nullptr || size == nullptr || size->value == 0) return false;
  const std::uint64_t begin = exif.tiffOffset() + offset->value;
  if (begin >= length || size->value > length - begin) return false;
  MemoryByteSource source({bytes + begin, size->value});
  DibImage image;
  if (!image.LoadJpeg(source)) return false;
  const std::int64_t across = std::int64_t(image.Width()) * height;
  const std::int64_t down = std::int64_t(image.Height()) * width;
  if (std::abs(across - down) > std::max(width, height)) return false;
  return RenderThumbnail(image, cell, order);
}

}  // namespace

bool RenderDcThumbnail(const JpegDcImage& dc, int fullWidth, int fullHeight, std::uint8_t* cell,
                       PixelOrder order) {
  std::memset(cell, 0xFF, std::size_t(kThumbnailWidth) * kThumbnailHeight * 3);
  DibImage image;
  if (!ToDib(dc, image)) return false;
  return RenderThumbnail(image, fullWidth > 0 ? fullWidth : dc.width,
                         fullHeight > 0 ? fullHeight : dc.height, cell, order);
}

bool MakeJpegThumbnail(const std::uint8_t* bytes, std::uint64_t length, std::uint8_t* cell,
                       PixelOrder order) {
  std::memset(cell, 0xFF, std::size_t(kThumbnailWidth) * kThumbnailHeight * 3);
  if (bytes == nullptr || length == 0) return false;
  MemoryByteSource source({bytes, static_cast<std::size_t>(length)});
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  if (decoder->ErrorCode() != 0) return false;
  const int width = decoder->Width();
  const int height = decoder->Height();
  if (RenderExifThumbnail(bytes, length, width, height, cell, order)) return true;
  JpegDcImage dc;
  decoder->DecodeDc(&dc);  // a damaged photo still gives the blocks before the damage
  decoder->Close();
  return RenderDcThumbnail(dc, width, height, cell, order);
}

}  // namespace kestrix
