#pragma once
// YCbCr to RGB (JFIF) arithmetic shared by the colour tables, the SSE2
// conversion and its test.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrix {

// Factors 1.402, 1.772, 0.71414, 0.34414 in 16-bit fixed point, centred on
// 127.5 with a rounding half folded into CrR, CbB and CbG. 91882 (not 91881)
// is the CrR factor the output is defined by. Red and blue offsets are whole;
// the two green terms are added before the shift.
constexpr std::int32_t JpegCrToRed(int cr) { return (91882 * cr - 11682187) >> 16; }
constexpr std::int32_t JpegCbToBlue(int cb) { return (116130 * cb - 14773807) >> 16; }
constexpr std::int32_t JpegCrToGreen(int cr) { return 5967255 - 46802 * cr; }
constexpr std::int32_t JpegCbToGreen(int cb) { return 2908403 - 22554 * cb; }

#if defined(__SSE2__)
// The three offsets of eight chroma sample pairs (16-bit lanes, 0..255), equal
// to the scalar formulas above lane for lane. SSE2 has no 32-bit multiply, so
// each product is one _mm_madd_epi16 of 16-bit factors; a factor above 32767
// is split off as a multiple of 65536, which passes through the shift whole:
//   91882 cr = 65536 cr + 26346 cr
//   116130 cb = 131072 cb - 14942 cb
//   -46802 cr = -65536 cr + 18734 cr
// Considered and rejected: gathering the table entries lane by lane (three
// scalar loads per sample pair cost more than the arithmetic) and a 16-bit
// _mm_mulhi_epi16 approximation (differs from the tables for some samples).
struct JpegChromaOffsets {
  __m128i red;
  __m128i green;
  __m128i blue;
};

inline JpegChromaOffsets JpegChromaOffsetsSse2(__m128i cb, __m128i cr) {
  const __m128i zero = _mm_setzero_si128();
  auto shifted = [](__m128i low, __m128i high, std::int32_t constant) {
    const __m128i add = _mm_set1_epi32(constant);
    low = _mm_srai_epi32(_mm_add_epi32(low, add), 16);
    high = _mm_srai_epi32(_mm_add_epi32(high, add), 16);
    return _mm_packs_epi32(low, high);
  };
  const __m128i redFactor = _mm_set1_epi32(26346);             // (26346, 0) pairs
  const __m128i blueFactor = _mm_set1_epi32(0xFFFF & -14942);  // (-14942, 0) pairs
  const __m128i greenFactors = _mm_set1_epi32(
      static_cast<std::int32_t>((std::uint32_t(std::uint16_t(-22554)) << 16) | 18734u));
  const __m128i crLow = _mm_unpacklo_epi16(cr, zero);
  const __m128i crHigh = _mm_unpackhi_epi16(cr, zero);
  const __m128i cbLow = _mm_unpacklo_epi16(cb, zero);
  const __m128i cbHigh = _mm_unpackhi_epi16(cb, zero);
  JpegChromaOffsets offsets;
  offsets.red = _mm_add_epi16(
      shifted(_mm_madd_epi16(crLow, redFactor), _mm_madd_epi16(crHigh, redFactor), -11682187), cr);
  offsets.blue = _mm_add_epi16(
      shifted(_mm_madd_epi16(cbLow, blueFactor), _mm_madd_epi16(cbHigh, blueFactor), -14773807),
      _mm_add_epi16(cb, cb));
  offsets.green = _mm_sub_epi16(
      shifted(_mm_madd_epi16(_mm_unpacklo_epi16(cr, cb), greenFactors),
              _mm_madd_epi16(_mm_unpackhi_epi16(cr, cb), greenFactors), 5967255 + 2908403),
      cr);
  return offsets;
}

// Writes eight R, G, B, 0 pixels from eight luma samples (16-bit lanes) and
// their offsets. _mm_packus_epi16 saturates to 0..255 as the scalar clamp does.
inline void JpegStoreRgbxSse2(__m128i luma, __m128i red, __m128i green, __m128i blue,
                              std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i r = _mm_packus_epi16(_mm_add_epi16(luma, red), zero);
  const __m128i g = _mm_packus_epi16(_mm_add_epi16(luma, green), zero);
  const __m128i b = _mm_packus_epi16(_mm_add_epi16(luma, blue), zero);
  const __m128i redGreen = _mm_unpacklo_epi8(r, g);
  const __m128i blueZero = _mm_unpacklo_epi8(b, zero);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(redGreen, blueZero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(redGreen, blueZero));
}
#endif

}  // namespace kestrix
