// The 1/8-scale picture from the DC terms alone: what the checker and the
// thumbnails get from entropy decoding without the inverse DCT.
#include "imaging/jpeg/jpeg_decoder.h"

#include <algorithm>

namespace kestrix {

namespace {

// A block whose only coefficient is its DC term D comes out of the inverse
// DCT as 64 equal samples: the low 16 bits of D x q'[0], shifted right by 5,
// plus 128, saturated. The same arithmetic here gives the same sample.
inline int DcSample(std::int16_t dc, std::int16_t scaledQuant)
{
    const auto product = static_cast<std::int16_t>(static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(static_cast<std::uint16_t>(dc)) * static_cast<std::uint16_t>(scaledQuant)));
    const int value = (product >> 5) + 128;
    return value < 0 ? 0 : (value > 255 ? 255 : value);
}

inline std::uint8_t Clamp255(int value)
{
    return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

} // namespace

// Copies the DC term of every block of the MCU row just decoded into the
// component stores (the coefficient buffers hold them at position 0).
void JpegDecoder::StoreSequentialDc(int mcuRow)
{
    for (int mcu = 0; mcu < mcusPerRow_; ++mcu) {
        for (int b = 0; b < blocksPerMcu_; ++b) {
            const McuBlock& place = mcuBlocks_[b];
            ProgressiveComponent& store = progressive_components_[place.component];
            const int h = colourMode_ == 0 ? 1 : components_[place.component].h;
            const int v = colourMode_ == 0 ? 1 : components_[place.component].v;
            const int column = mcu * h + place.h;
            const int row = mcuRow * v + place.v;
            store.dc[std::size_t(row) * std::size_t(store.widthInBlocks) + std::size_t(column)] =
                coefficientBlocks_[(std::size_t(mcu) * blocksPerMcu_ + b) * 64];
        }
    }
}

// One pixel per 8 x 8 pixels of the picture (a luma block when luma has the
// largest factors), each component's DC term replicated over the pixels its
// block covers, colour converted with the decoder's own tables.
void JpegDecoder::BuildDcImage(JpegDcImage* image, int decodedMcuRows) const
{
    const ProgressiveComponent& luma = progressive_components_[0];
    if (luma.dc == nullptr)
        return;
    image->width = (width_ + 7) / 8;
    image->height = (height_ + 7) / 8;
    image->channels = colourMode_ == 0 ? 1 : 3;
    image->pixels.assign(std::size_t(image->width) * std::size_t(image->height) * std::size_t(image->channels), 0xFF);
    const int rows = std::min(image->height, decodedMcuRows * (mcuHeight_ / 8));
    const std::int16_t* quant[3] = {};
    for (int c = 0; c < image->channels; ++c) {
        const int tq = components_[c].tq;
        quant[c] = tq <= 3 ? quantisation_[tq] : nullptr;
        if (quant[c] == nullptr)
            return; // left white: Start has checked the tables of every decoded component
    }
    std::uint8_t* out = image->pixels.data();
    for (int y = 0; y < rows; ++y) {
        if (image->channels == 1) {
            const std::int16_t* lumaRow = luma.dc + std::size_t(y) * std::size_t(luma.widthInBlocks);
            for (int x = 0; x < image->width; ++x)
                *out++ = static_cast<std::uint8_t>(DcSample(lumaRow[x], quant[0][0]));
            continue;
        }
        // Block (x, y) of the 8 x 8 grid lies in block (x H / Hmax, y V / Vmax)
        // of a component with factors H x V.
        const std::int16_t* dcRow[3];
        for (int c = 0; c < 3; ++c) {
            const ProgressiveComponent& store = progressive_components_[c];
            dcRow[c] = store.dc + std::size_t(y * components_[c].v / maxV_) * std::size_t(store.widthInBlocks);
        }
        for (int x = 0; x < image->width; ++x) {
            const int yv = DcSample(dcRow[0][x * components_[0].h / maxH_], quant[0][0]);
            const int cbv = DcSample(dcRow[1][x * components_[1].h / maxH_], quant[1][0]);
            const int crv = DcSample(dcRow[2][x * components_[2].h / maxH_], quant[2][0]);
            *out++ = Clamp255(yv + crToR_[crv]);
            *out++ = Clamp255(yv + ((crToG_[crv] + cbToG_[cbv]) >> 16));
            *out++ = Clamp255(yv + cbToB_[cbv]);
        }
    }
}

} // namespace kestrix
