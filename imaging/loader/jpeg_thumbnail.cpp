#include "imaging/loader/jpeg_thumbnail.h"

#include "imaging/jpeg/memory_byte_source.h"
#include "imaging/loader/thumbnail_fit.h"

#include <cstring>
#include <memory>

namespace kestrix {

namespace {

// Copies a top-down DC picture into a bottom-up bitmap: 8-bit grey, or
// 24-bit B, G, R.
bool ToDib(const JpegDcImage& dc, DibImage& image)
{
    if (dc.width <= 0 || dc.height <= 0 || (dc.channels != 1 && dc.channels != 3) ||
        dc.pixels.size() != std::size_t(dc.width) * std::size_t(dc.height) * std::size_t(dc.channels))
        return false;
    if (!image.Create(dc.width, dc.height, 8 * dc.channels))
        return false;
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

} // namespace

bool RenderDcThumbnail(const JpegDcImage& dc, int fullWidth, int fullHeight, std::uint8_t* cell, PixelOrder order)
{
    std::memset(cell, 0xFF, std::size_t(kThumbnailWidth) * kThumbnailHeight * 3);
    DibImage image;
    if (!ToDib(dc, image))
        return false;
    return RenderThumbnail(image, fullWidth > 0 ? fullWidth : dc.width, fullHeight > 0 ? fullHeight : dc.height, cell,
                           order);
}

bool MakeJpegThumbnail(const std::uint8_t* bytes, std::uint64_t length, std::uint8_t* cell, PixelOrder order)
{
    std::memset(cell, 0xFF, std::size_t(kThumbnailWidth) * kThumbnailHeight * 3);
    if (bytes == nullptr || length == 0)
        return false;
    MemoryByteSource source({bytes, static_cast<std::size_t>(length)});
    auto decoder = std::make_unique<JpegDecoder>();
    decoder->Open(&source);
    if (decoder->ErrorCode() != 0)
        return false;
    const int width = decoder->Width();
    const int height = decoder->Height();
    JpegDcImage dc;
    decoder->DecodeDc(&dc); // a damaged photo still gives the blocks before the damage
    decoder->Close();
    return RenderDcThumbnail(dc, width, height, cell, order);
}

} // namespace kestrix
