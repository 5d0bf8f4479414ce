#include "imaging/jpeg/jpeg_idct.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrix {

namespace {

// Multipliers in units of 1/16384. -30353 (not -30274) is the factor the
// output depends on; with the 4x pre-shift below, m(x, K) ~ x * K / 16384.
constexpr int kSqrt2 = 23170;
constexpr int kMinus12540 = -12540;
constexpr int k30273 = 30273;
constexpr int kMinus30353 = -30353;

inline std::int16_t Wrap(int value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

// High 16 bits of the 32-bit product of (4x wrapped to 16 bits) and k: the
// scalar twin of pmulhw after psllw 2.
inline std::int16_t MulHigh(std::int16_t x, int k) {
  const int shifted = Wrap(x * 4);
  return static_cast<std::int16_t>((shifted * k) >> 16);
}

// One 1-D pass over 8 values (T.81 A.3.3 by the AAN factorisation).
inline void Butterfly(const std::int16_t c[8], std::int16_t o[8]) {
  const std::int16_t t10 = Wrap(c[0] + c[4]);
  const std::int16_t t11 = Wrap(c[0] - c[4]);
  const std::int16_t t13 = Wrap(c[2] + c[6]);
  const std::int16_t t12 = Wrap(MulHigh(Wrap(c[2] - c[6]), kSqrt2) - t13);
  const std::int16_t t0 = Wrap(t10 + t13);
  const std::int16_t t3 = Wrap(t10 - t13);
  const std::int16_t t1 = Wrap(t11 + t12);
  const std::int16_t t2 = Wrap(t11 - t12);

  const std::int16_t z13 = Wrap(c[5] + c[3]);
  const std::int16_t z10 = Wrap(c[5] - c[3]);
  const std::int16_t z11 = Wrap(c[1] + c[7]);
  const std::int16_t z12 = Wrap(c[1] - c[7]);
  const std::int16_t t7 = Wrap(z11 + z13);
  const std::int16_t t6 = Wrap(MulHigh(z10, kMinus12540) + MulHigh(z12, k30273) - t7);
  const std::int16_t t5 = Wrap(MulHigh(Wrap(z11 - z13), kSqrt2) - t6);
  const std::int16_t t4 = Wrap(MulHigh(z10, kMinus30353) + MulHigh(z12, kMinus12540) + t5);

  o[0] = Wrap(t0 + t7);
  o[7] = Wrap(t0 - t7);
  o[1] = Wrap(t1 + t6);
  o[6] = Wrap(t1 - t6);
  o[2] = Wrap(t2 + t5);
  o[5] = Wrap(t2 - t5);
  o[4] = Wrap(t3 + t4);
  o[3] = Wrap(t3 - t4);
}

}  // namespace

void InverseDctScalar(const std::int16_t* coefficients, const std::int16_t* quantisation,
                      std::uint8_t* samples) {
  std::int16_t workspace[64];
  std::int16_t in[8];
  std::int16_t out[8];
  for (int column = 0; column < 8; ++column) {
    for (int i = 0; i < 8; ++i)
      in[i] = Wrap(coefficients[i * 8 + column] * quantisation[i * 8 + column]);
    Butterfly(in, out);
    for (int i = 0; i < 8; ++i) workspace[i * 8 + column] = out[i];
  }
  for (int row = 0; row < 8; ++row) {
    Butterfly(workspace + row * 8, out);
    for (int i = 0; i < 8; ++i) {
      // Arithmetic shift without rounding, +128 with 16-bit saturation, then 0..255.
      int value = (out[i] >> 5) + 128;
      if (value > 32767) value = 32767;
      samples[row * 8 + i] = static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
  }
}

#if defined(__SSE2__)

namespace {

inline __m128i MulHighVector(__m128i x, __m128i k) {
  return _mm_mulhi_epi16(_mm_slli_epi16(x, 2), k);
}

inline void ButterflyVector(__m128i c[8]) {
  const __m128i sqrt2 = _mm_set1_epi16(kSqrt2);
  const __m128i minus12540 = _mm_set1_epi16(kMinus12540);
  const __m128i plus30273 = _mm_set1_epi16(k30273);
  const __m128i minus30353 = _mm_set1_epi16(kMinus30353);

  const __m128i t10 = _mm_add_epi16(c[0], c[4]);
  const __m128i t11 = _mm_sub_epi16(c[0], c[4]);
  const __m128i t13 = _mm_add_epi16(c[2], c[6]);
  const __m128i t12 = _mm_sub_epi16(MulHighVector(_mm_sub_epi16(c[2], c[6]), sqrt2), t13);
  const __m128i t0 = _mm_add_epi16(t10, t13);
  const __m128i t3 = _mm_sub_epi16(t10, t13);
  const __m128i t1 = _mm_add_epi16(t11, t12);
  const __m128i t2 = _mm_sub_epi16(t11, t12);

  const __m128i z13 = _mm_add_epi16(c[5], c[3]);
  const __m128i z10 = _mm_sub_epi16(c[5], c[3]);
  const __m128i z11 = _mm_add_epi16(c[1], c[7]);
  const __m128i z12 = _mm_sub_epi16(c[1], c[7]);
  const __m128i t7 = _mm_add_epi16(z11, z13);
  const __m128i t6 = _mm_sub_epi16(
      _mm_add_epi16(MulHighVector(z10, minus12540), MulHighVector(z12, plus30273)), t7);
  const __m128i t5 = _mm_sub_epi16(MulHighVector(_mm_sub_epi16(z11, z13), sqrt2), t6);
  const __m128i t4 = _mm_add_epi16(
      _mm_add_epi16(MulHighVector(z10, minus30353), MulHighVector(z12, minus12540)), t5);

  c[0] = _mm_add_epi16(t0, t7);
  c[7] = _mm_sub_epi16(t0, t7);
  c[1] = _mm_add_epi16(t1, t6);
  c[6] = _mm_sub_epi16(t1, t6);
  c[2] = _mm_add_epi16(t2, t5);
  c[5] = _mm_sub_epi16(t2, t5);
  c[4] = _mm_add_epi16(t3, t4);
  c[3] = _mm_sub_epi16(t3, t4);
}

inline void Transpose(__m128i r[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]);
  const __m128i a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]);
  const __m128i a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]);
  const __m128i a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]);
  const __m128i a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
  const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
  const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
  const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
  const __m128i b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

}  // namespace

void InverseDctSse2(const std::int16_t* coefficients, const std::int16_t* quantisation,
                    std::uint8_t* samples) {
  __m128i v[8];
  for (int i = 0; i < 8; ++i) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + i * 8));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quantisation + i * 8));
    v[i] = _mm_mullo_epi16(c, q);  // low 16 bits of the product
  }
  ButterflyVector(v);  // columns: v[i] is row i of the workspace
  Transpose(v);        // v[i] is column i, so pass 2 runs along all rows at once
  ButterflyVector(v);  // v[i] is now output column i
  const __m128i bias = _mm_set1_epi16(128);
  for (int i = 0; i < 8; ++i) v[i] = _mm_adds_epi16(_mm_srai_epi16(v[i], 5), bias);
  Transpose(v);  // back to rows
  for (int i = 0; i < 8; i += 2)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i * 8), _mm_packus_epi16(v[i], v[i + 1]));
}

#endif

}  // namespace kestrix
