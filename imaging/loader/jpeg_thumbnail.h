#pragma once

#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/loader/dib_image.h"

#include <cstdint>

namespace kestrix {

// Thumbnails of JPEG bytes in memory without decoding them at full size.
//
// MakeJpegThumbnail: the photo's own EXIF thumbnail when it has one of the
// photo's aspect (within one thumbnail pixel), else the 1/8-scale DC picture
// (JpegDecoder::DecodeDc), fitted into the 100 x 75 cell (3 bytes a pixel in
// `order`, stride 300) on white; a damaged photo shows the blocks decoded
// before the damage. False, the cell white, when no picture could be made
// (no frame header).
bool MakeJpegThumbnail(const std::uint8_t* bytes, std::uint64_t length, std::uint8_t* cell,
                       PixelOrder order = PixelOrder::Rgb);

// Fits a DC picture of a photo fullWidth x fullHeight into the cell. False
// (cell white) for an empty picture.
bool RenderDcThumbnail(const JpegDcImage& dc, int fullWidth, int fullHeight, std::uint8_t* cell,
                       PixelOrder order = PixelOrder::Rgb);

}  // namespace kestrix
