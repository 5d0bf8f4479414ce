#pragma once

#include <array>
#include <cstdint>

namespace kestrix {

// Natural-order position of the k-th coefficient in zig-zag order (T.81 Figure A.6).
inline constexpr std::array<std::uint8_t, 64> kJpegZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// AAN scale factors A[8v + u] = round(16384 * s(u) * s(v)), s(0) = 1,
// s(k) = sqrt(2) * cos(k * pi / 16). The quantisation tables are stored
// multiplied by these (in units of 1/4096), which folds the AAN output scaling
// and the dequantisation into one multiply per coefficient.
inline constexpr std::array<std::int32_t, 64> kJpegAanScale = {
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,  22725, 31521, 29692, 26722, 22725,
    17855, 12299, 6270,  21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906,  19266, 26722,
    25172, 22654, 19266, 15137, 10426, 5315,  16384, 22725, 21407, 19266, 16384, 12873, 8867,
    4520,  12873, 17855, 16819, 15137, 12873, 10114, 6967,  3552,  8867,  12299, 11585, 10426,
    8867,  6967,  4799,  2446,  4520,  6270,  5906,  5315,  4520,  3552,  2446,  1247,
};

}  // namespace kestrix
