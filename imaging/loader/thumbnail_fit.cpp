#include "imaging/loader/thumbnail_fit.h"

#include <cstring>

namespace kestrix {

ThumbnailPlacement FitThumbnail(int imageWidth, int imageHeight) {
  ThumbnailPlacement placement;
  // Guards the division below: 0 / 0 would give NaN, and converting NaN to
  // int is undefined.
  if (imageWidth <= 0 || imageHeight <= 0) return placement;
  const double ratio = static_cast<double>(imageWidth) / static_cast<double>(imageHeight);
  const double cellRatio = 4.0 / 3.0;
  if (ratio > cellRatio) {
    placement.width = kThumbnailWidth;
    placement.height = static_cast<int>(kThumbnailWidth / ratio);
  } else if (ratio < cellRatio) {
    placement.height = kThumbnailHeight;
    placement.width = static_cast<int>(ratio * kThumbnailHeight);
  } else {
    placement.width = kThumbnailWidth;
    placement.height = kThumbnailHeight;
  }
  placement.x = static_cast<int>((kThumbnailWidth - placement.width) * 0.5);
  placement.y = static_cast<int>((kThumbnailHeight - placement.height) * 0.5);
  return placement;
}

bool RenderThumbnail(const DibImage& image, std::uint8_t* cell, PixelOrder order) {
  return RenderThumbnail(image, image.Width(), image.Height(), cell, order);
}

bool RenderThumbnail(const DibImage& image, int fullWidth, int fullHeight, std::uint8_t* cell,
                     PixelOrder order) {
  std::memset(cell, 0xFF, std::size_t(kThumbnailWidth) * kThumbnailHeight * 3);
  const ThumbnailPlacement placement = FitThumbnail(fullWidth, fullHeight);
  if (placement.width <= 0 || placement.height <= 0) return false;
  return image.DrawScaled(cell, kThumbnailWidth, kThumbnailHeight, kThumbnailWidth * 3, placement.x,
                          placement.y, placement.width, placement.height, order);
}

}  // namespace kestrix
