#pragma once

#include <cstdint>

namespace kestrix {

// Dequantises one block of 64 coefficients (natural order) with a pre-scaled
// table and transforms it with the Arai-Agui-Nakajima scaled IDCT in 16-bit
// fixed point, writing 8 rows of 8 samples. Every intermediate value wraps to
// 16 bits and the outputs saturate, so the vector and the scalar version give
// identical samples for any input, however extreme.
void InverseDctScalar(const std::int16_t* coefficients, const std::int16_t* quantisation,
                      std::uint8_t* samples);

#if defined(__SSE2__)
// Eight lanes at a time: pass 1 on all columns at once, a transpose, pass 2
// on all rows at once.
void InverseDctSse2(const std::int16_t* coefficients, const std::int16_t* quantisation,
                    std::uint8_t* samples);
#endif

// The fastest version this target was compiled with.
inline void InverseDct(const std::int16_t* coefficients, const std::int16_t* quantisation,
                       std::uint8_t* samples) {
#if defined(__SSE2__)
  InverseDctSse2(coefficients, quantisation, samples);
#else
  InverseDctScalar(coefficients, quantisation, samples);
#endif
}

}  // namespace kestrix
