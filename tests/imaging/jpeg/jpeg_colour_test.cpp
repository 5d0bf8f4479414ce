#include "imaging/jpeg/jpeg_colour.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrix {
namespace {

#if defined(__SSE2__)
// The vector conversion must give the scalar tables' pixels bit for bit for
// every chroma pair, with luma swept so every offset meets both clamps.
TEST(JpegColour, VectorAndScalarAgreeForEveryChromaPair) {
  for (int cb = 0; cb < 256; ++cb) {
    for (int crBase = 0; crBase < 256; crBase += 8) {
      alignas(16) std::int16_t cbLanes[8];
      alignas(16) std::int16_t crLanes[8];
      alignas(16) std::int16_t lumaLanes[8];
      for (int i = 0; i < 8; ++i) {
        cbLanes[i] = static_cast<std::int16_t>(cb);
        crLanes[i] = static_cast<std::int16_t>(crBase + i);
      }
      const JpegChromaOffsets offsets =
          JpegChromaOffsetsSse2(_mm_load_si128(reinterpret_cast<const __m128i*>(cbLanes)),
                                _mm_load_si128(reinterpret_cast<const __m128i*>(crLanes)));
      for (int lumaBase = 0; lumaBase < 256; lumaBase += 8) {
        for (int i = 0; i < 8; ++i)
          lumaLanes[i] = static_cast<std::int16_t>((lumaBase + i * 37 + cb) & 255);
        std::uint8_t pixels[32];
        JpegStoreRgbxSse2(_mm_load_si128(reinterpret_cast<const __m128i*>(lumaLanes)), offsets.red,
                          offsets.green, offsets.blue, pixels);
        for (int i = 0; i < 8; ++i) {
          const int y = lumaLanes[i];
          const int cr = crLanes[i];
          const int red = std::clamp(y + JpegCrToRed(cr), 0, 255);
          const int green = std::clamp(y + ((JpegCrToGreen(cr) + JpegCbToGreen(cb)) >> 16), 0, 255);
          const int blue = std::clamp(y + JpegCbToBlue(cb), 0, 255);
          ASSERT_EQ(pixels[4 * i], red) << "y " << y << " cb " << cb << " cr " << cr;
          ASSERT_EQ(pixels[4 * i + 1], green) << "y " << y << " cb " << cb << " cr " << cr;
          ASSERT_EQ(pixels[4 * i + 2], blue) << "y " << y << " cb " << cb << " cr " << cr;
          ASSERT_EQ(pixels[4 * i + 3], 0);
        }
      }
    }
  }
}
#endif

}  // namespace
}  // namespace kestrix
