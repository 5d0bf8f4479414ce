#pragma once

#include "imaging/loader/dib_image.h"

#include <cstdint>

namespace kestrix {

inline constexpr int kThumbnailWidth = 100;
inline constexpr int kThumbnailHeight = 75;

// Where a picture goes inside the 100 x 75 thumbnail cell.
struct ThumbnailPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Keeps the aspect ratio W / H, compared in double precision with 4/3 (so
// 640 x 480 hits the equality case), truncating sizes and offsets:
// 4000 x 3000 -> 100 x 75; 3000 x 4000 -> 56 x 75 at x 22; 1000 x 200 ->
// 100 x 20 at y 27. An empty picture gets an empty placement.
ThumbnailPlacement FitThumbnail(int imageWidth, int imageHeight);

// Fills a 100 x 75 buffer of 3-byte pixels (stride 300) with white and draws
// image into it at its fitted place, area-averaged. False, leaving the cell
// white, when the image cannot be drawn (empty).
bool RenderThumbnail(const DibImage& image, std::uint8_t* cell, PixelOrder order = PixelOrder::Rgb);
// The same for a reduced copy of a picture of fullWidth x fullHeight (its
// 1/8-scale DC picture, say): placed by the full size, so the rounding of
// the reduction does not change the aspect.
bool RenderThumbnail(const DibImage& image, int fullWidth, int fullHeight, std::uint8_t* cell,
                     PixelOrder order = PixelOrder::Rgb);

}  // namespace kestrix
