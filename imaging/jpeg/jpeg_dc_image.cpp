// The 1/8-scale picture from the DC terms alone: what the checker and the
// thumbnails get from entropy decoding without the inverse DCT.
#include "imaging/jpeg/jpeg_decoder.h"

#include <algorithm>

namespace kestrix {

namespace {

// A block whose only coefficient is its DC term D comes out of the inverse
// DCT as 64 equal samples: the low 16 bits of D x q'[0], shifted right by 5,
// plus 128, saturated. The same arithmetic here gives the same sample.
inline int DcSample(std::int16_t dc, std::int16_t scaledQuant) {
  const auto product = static_cast<std::int16_t>(
      static_cast<std::uint16_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(dc)) *
                                 static_cast<std::uint16_t>(scaledQuant)));
  const int value = (product >> 5) + 128;
  return value < 0 ? 0 : (value > 255 ? 255 : value);
}

inline std::uint8_t Clamp255(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

}  // namespace

// Copies the DC term of every block of the MCU row just decoded into the
// component stores (the coefficient buffers hold them at position 0).
void JpegDecoder::StoreSequentialDc(int mcuRow) {
  for (int mcu = 0; mcu < output_.mcusPerRow; ++mcu) {
    for (int b = 0; b < output_.blocksPerMcu; ++b) {
      const McuBlock& place = output_.mcuBlocks[b];
      ProgressiveComponent& store = entropy_.progressiveComponents[place.component];
      const int h = output_.colourMode == 0 ? 1 : frame_.components[place.component].h;
      const int v = output_.colourMode == 0 ? 1 : frame_.components[place.component].v;
      const int column = mcu * h + place.h;
      const int row = mcuRow * v + place.v;
      store.dc[std::size_t(row) * std::size_t(store.widthInBlocks) + std::size_t(column)] =
          output_.coefficientBlocks[(std::size_t(mcu) * output_.blocksPerMcu + b) * 64];
    }
  }
}

// One pixel per 8 x 8 pixels of the picture (a luma block when luma has the
// largest factors), each component's DC term replicated over the pixels its
// block covers, colour converted with the decoder's own tables.
void JpegDecoder::BuildDcImage(JpegDcImage* image, int decodedMcuRows) const {
  const ProgressiveComponent& luma = entropy_.progressiveComponents[0];
  if (luma.dc == nullptr) return;
  image->width = (frame_.width + 7) / 8;
  image->height = (frame_.height + 7) / 8;
  image->channels = output_.colourMode == 0 ? 1 : 3;
  image->pixels.assign(
      std::size_t(image->width) * std::size_t(image->height) * std::size_t(image->channels), 0xFF);
  const int rows = std::min(image->height, decodedMcuRows * (output_.mcuHeight / 8));
  const std::int16_t* quant[3] = {};
  for (int c = 0; c < image->channels; ++c) {
    const int tq = frame_.components[c].tq;
    quant[c] = tq <= 3 ? frame_.quantisation[tq] : nullptr;
    if (quant[c] == nullptr)
      return;  // left white: Start has checked the tables of every decoded component
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
      const ProgressiveComponent& store = entropy_.progressiveComponents[c];
      dcRow[c] = store.dc + std::size_t(y * frame_.components[c].v / frame_.maxV) *
                                std::size_t(store.widthInBlocks);
    }
    for (int x = 0; x < image->width; ++x) {
      const int yv = DcSample(dcRow[0][x * frame_.components[0].h / frame_.maxH], quant[0][0]);
      const int cbv = DcSample(dcRow[1][x * frame_.components[1].h / frame_.maxH], quant[1][0]);
      const int crv = DcSample(dcRow[2][x * frame_.components[2].h / frame_.maxH], quant[2][0]);
      *out++ = Clamp255(yv + output_.crToR[crv]);
      *out++ = Clamp255(yv + ((output_.crToG[crv] + output_.cbToG[cbv]) >> 16));
      *out++ = Clamp255(yv + output_.cbToB[cbv]);
    }
  }
}

}  // namespace kestrix
