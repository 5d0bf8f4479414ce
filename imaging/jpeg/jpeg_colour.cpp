// Output layout (ColourMode), colour tables and the conversion of one row.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_colour.h"

#include <algorithm>
#include <cstring>

namespace kestrix {

namespace {

inline std::uint8_t Clamp255(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

}  // namespace

// Mode | components | factors (H x V)        | MCU w x h   | blocks in MCU order
//  0   | 1          | any                    | 8 x 8       | Y
//  1   | 3          | luma 1 x 1, chroma 1x1 | 8 x 8       | Y Cb Cr
//  2   | 3          | luma 2 x 1, chroma 1x1 | 16 x 8      | Y0 Y1 Cb Cr
//  3   | 3          | luma 1 x 2, chroma 1x1 | 8 x 16      | Y0 (top) Y1 (bottom) Cb Cr
//  4   | 3          | luma 2 x 2, chroma 1x1 | 16 x 16     | Y0 Y1 (top) Y2 Y3 (bottom) Cb Cr
//  5   | 3          | any other, 1..4 each   | 8 Hmax x    | each component's H x V blocks,
//      |            |                        |   8 Vmax    | rows top down, in frame order
// Modes 1 to 4 are what cameras write and have their own conversion; mode 5
// replicates each component's samples over the pixels they cover, whatever
// the ratio (also fractional ones such as luma 3 x 1 with chroma 2 x 1).
// -225 component count not 1 or 3; -226 a factor of 0 or above 4 (checked
// before any geometry divides by the largest factor).
void JpegDecoder::ChooseColourMode() {
  if (frame_.componentCount != 1 && frame_.componentCount != 3) Fail(kJpegBadComponentCount);
  frame_.maxH = 1;
  frame_.maxV = 1;
  for (int c = 0; c < frame_.componentCount; ++c) {
    const FrameComponent& component = frame_.components[c];
    if (component.h == 0 || component.v == 0 || component.h > kJpegMaxSamplingFactor ||
        component.v > kJpegMaxSamplingFactor)
      Fail(kJpegBadSampling);
    frame_.maxH = std::max(frame_.maxH, component.h);
    frame_.maxV = std::max(frame_.maxV, component.v);
  }
  if (frame_.componentCount == 1) {
    output_.colourMode = 0;
    output_.bytesPerPixel = 1;
    output_.mcuWidth = output_.mcuHeight = 8;
    output_.blocksPerMcu = 1;
    output_.mcuBlocks[0] = McuBlock{0, 0, 0};
    return;
  }
  const int h = frame_.components[0].h;
  const int v = frame_.components[0].v;
  const bool chromaFull = frame_.components[1].h == 1 && frame_.components[1].v == 1 &&
                          frame_.components[2].h == 1 && frame_.components[2].v == 1;
  if (chromaFull && h <= 2 && v <= 2)
    output_.colourMode = h == 1 ? (v == 1 ? 1 : 3) : (v == 1 ? 2 : 4);
  else
    output_.colourMode = 5;
  output_.bytesPerPixel = 4;
  output_.mcuWidth = 8 * frame_.maxH;
  output_.mcuHeight = 8 * frame_.maxV;
  output_.blocksPerMcu = 0;
  for (int c = 0; c < 3; ++c) {
    const FrameComponent& component = frame_.components[c];
    output_.firstBlock[c] = output_.blocksPerMcu;
    for (int y = 0; y < component.v; ++y) {
      for (int x = 0; x < component.h; ++x)
        output_.mcuBlocks[output_.blocksPerMcu++] = McuBlock{c, x, y};
    }
    for (int x = 0; x < output_.mcuWidth; ++x) {
      const int column = x * component.h / frame_.maxH;
      output_.columnOffset[c][x] = static_cast<std::uint16_t>((column >> 3) * 64 + (column & 7));
    }
  }
}

// Tables for the scalar conversion; the formulas are in jpeg_colour.h.
void JpegDecoder::BuildColourTables() {
  for (int i = 0; i < 256; ++i) {
    output_.crToR[i] = JpegCrToRed(i);
    output_.cbToB[i] = JpegCbToBlue(i);
    output_.crToG[i] = JpegCrToGreen(i);
    output_.cbToG[i] = JpegCbToGreen(i);
  }
}

// Converts row rowInMcu of the current MCU row into destination: one luma byte
// per pixel in mode 0, otherwise R, G, B and an unwritten fourth byte. Chroma
// is replicated, never interpolated. Whole MCUs are written, so up to 31
// pixels beyond the width are filled (the row buffer holds them).
void JpegDecoder::ConvertRow(int rowInMcu, std::uint8_t* destination) const {
  const std::size_t mcuBytes = std::size_t(output_.blocksPerMcu) * 64;
  if (output_.colourMode == 0) {
    for (int mcu = 0; mcu < output_.mcusPerRow; ++mcu)
      std::memcpy(destination + mcu * 8, output_.samples + mcu * mcuBytes + rowInMcu * 8, 8);
    return;
  }
  if (output_.colourMode == 5) {
    ConvertRowAnySampling(rowInMcu, destination);
    return;
  }
  const int lumaBlocks = output_.blocksPerMcu - 2;
  const int h = frame_.components[0].h;
  const int v = frame_.components[0].v;
  const int lumaRow = rowInMcu & 7;
  const int lumaBlockRow = rowInMcu >> 3;  // 0, or 1 for the lower half of a 16-high MCU
  const int chromaRow = v == 2 ? rowInMcu >> 1 : rowInMcu;
  std::uint8_t* out = destination;
#if defined(__SSE2__)
  // One MCU at a time: the offsets of its eight chroma samples, then eight
  // pixels per luma block (chroma samples doubled when h is 2).
  const __m128i zero = _mm_setzero_si128();
  auto load8 = [&zero](const std::uint8_t* bytes) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)), zero);
  };
  for (int mcu = 0; mcu < output_.mcusPerRow; ++mcu) {
    const std::uint8_t* base = output_.samples + mcu * mcuBytes;
    const std::uint8_t* cbLine = base + lumaBlocks * 64 + chromaRow * 8;
    const JpegChromaOffsets offsets = JpegChromaOffsetsSse2(load8(cbLine), load8(cbLine + 64));
    const std::uint8_t* luma = base + lumaBlockRow * h * 64 + lumaRow * 8;
    if (h == 2) {
      JpegStoreRgbxSse2(load8(luma), _mm_unpacklo_epi16(offsets.red, offsets.red),
                        _mm_unpacklo_epi16(offsets.green, offsets.green),
                        _mm_unpacklo_epi16(offsets.blue, offsets.blue), out);
      JpegStoreRgbxSse2(load8(luma + 64), _mm_unpackhi_epi16(offsets.red, offsets.red),
                        _mm_unpackhi_epi16(offsets.green, offsets.green),
                        _mm_unpackhi_epi16(offsets.blue, offsets.blue), out + 32);
      out += 64;
    } else {
      JpegStoreRgbxSse2(load8(luma), offsets.red, offsets.green, offsets.blue, out);
      out += 32;
    }
  }
#else
  // The fourth byte of each pixel is written as 0, which is what the
  // zero-filled row buffer already holds there.
  auto put = [&out](int y, int red, int green, int blue) {
    const std::uint32_t pixel = std::uint32_t(Clamp255(y + red)) |
                                (std::uint32_t(Clamp255(y + green)) << 8) |
                                (std::uint32_t(Clamp255(y + blue)) << 16);
    std::memcpy(out, &pixel, 4);
    out += 4;
  };
  for (int mcu = 0; mcu < output_.mcusPerRow; ++mcu) {
    const std::uint8_t* base = output_.samples + mcu * mcuBytes;
    const std::uint8_t* cbLine = base + lumaBlocks * 64 + chromaRow * 8;
    const std::uint8_t* crLine = cbLine + 64;
    for (int block = 0; block < h; ++block) {
      const std::uint8_t* luma = base + (lumaBlockRow * h + block) * 64 + lumaRow * 8;
      if (h == 2) {
        // One chroma sample serves two adjacent pixels.
        const std::uint8_t* cb = cbLine + block * 4;
        const std::uint8_t* cr = crLine + block * 4;
        for (int i = 0; i < 4; ++i) {
          const int red = output_.crToR[cr[i]];
          const int green = (output_.crToG[cr[i]] + output_.cbToG[cb[i]]) >> 16;
          const int blue = output_.cbToB[cb[i]];
          put(luma[2 * i], red, green, blue);
          put(luma[2 * i + 1], red, green, blue);
        }
      } else {
        for (int i = 0; i < 8; ++i)
          put(luma[i], output_.crToR[crLine[i]],
              (output_.crToG[crLine[i]] + output_.cbToG[cbLine[i]]) >> 16,
              output_.cbToB[cbLine[i]]);
      }
    }
  }
#endif
}

// Mode 5: each pixel takes the sample of every component that covers it,
// found through the column offsets ChooseColourMode laid out.
void JpegDecoder::ConvertRowAnySampling(int rowInMcu, std::uint8_t* destination) const {
  const std::size_t mcuBytes = std::size_t(output_.blocksPerMcu) * 64;
  std::array<std::size_t, 3> rowStart{};
  for (int c = 0; c < 3; ++c) {
    const int line = rowInMcu * frame_.components[c].v / frame_.maxV;
    rowStart[c] = std::size_t(output_.firstBlock[c] + (line >> 3) * frame_.components[c].h) * 64 +
                  std::size_t(line & 7) * 8;
  }
  std::uint8_t* out = destination;
  for (int mcu = 0; mcu < output_.mcusPerRow; ++mcu) {
    const std::uint8_t* base = output_.samples + mcu * mcuBytes;
    const std::uint8_t* luma = base + rowStart[0];
    const std::uint8_t* cb = base + rowStart[1];
    const std::uint8_t* cr = base + rowStart[2];
    for (int x = 0; x < output_.mcuWidth; ++x) {
      const int y = luma[output_.columnOffset[0][x]];
      const int blue = cb[output_.columnOffset[1][x]];
      const int red = cr[output_.columnOffset[2][x]];
      out[0] = Clamp255(y + output_.crToR[red]);
      out[1] = Clamp255(y + ((output_.crToG[red] + output_.cbToG[blue]) >> 16));
      out[2] = Clamp255(y + output_.cbToB[blue]);
      out[3] = 0;
      out += 4;
    }
  }
}

}  // namespace kestrix
