#include "imaging/jpeg/jpeg_idct.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrix {
namespace {

#if defined(__SSE2__)
// The vector IDCT must give the scalar one's samples bit for bit, including
// where 16-bit intermediates wrap and outputs saturate.
TEST(JpegIdct, VectorAndScalarAgreeOnRandomAndExtremeBlocks) {
  std::mt19937 random(12345);
  const std::int16_t extremes[] = {-32768, -32767, -1024, -1, 0, 1, 1023, 32767};
  for (int trial = 0; trial < 20000; ++trial) {
    alignas(16) std::int16_t coefficients[64];
    alignas(16) std::int16_t quantisation[64];
    const int flavour = trial % 4;
    for (int i = 0; i < 64; ++i) {
      switch (flavour) {
        case 0:  // typical: small coefficients, sparse
          coefficients[i] =
              (random() % 4 == 0) ? static_cast<std::int16_t>(int(random() % 2047) - 1023) : 0;
          quantisation[i] = static_cast<std::int16_t>(1 + random() % 400);
          break;
        case 1:  // anything
          coefficients[i] = static_cast<std::int16_t>(random());
          quantisation[i] = static_cast<std::int16_t>(random());
          break;
        default:  // extremes that wrap
          coefficients[i] = extremes[random() % 8];
          quantisation[i] = extremes[random() % 8];
          break;
      }
    }
    std::uint8_t scalar[64];
    std::uint8_t vector[64];
    InverseDctScalar(coefficients, quantisation, scalar);
    InverseDctSse2(coefficients, quantisation, vector);
    for (int i = 0; i < 64; ++i)
      ASSERT_EQ(scalar[i], vector[i]) << "trial " << trial << " sample " << i;
  }
}
#endif

TEST(JpegIdct, DcOnlyBlockIsFlat) {
  std::int16_t coefficients[64] = {5};
  std::int16_t quantisation[64];
  for (auto& q : quantisation) q = 64;  // q'[0] for q[0] = 16
  std::uint8_t samples[64];
  InverseDct(coefficients, quantisation, samples);
  for (std::uint8_t sample : samples) EXPECT_EQ(sample, 138);
}

}  // namespace
}  // namespace kestrix
