// Small helpers to lay out blocks of bytes for the engine tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace kestrix::test {

// A block of `size` filler bytes (0x11 contains no signature byte).
struct Block {
  explicit Block(uint64_t size, uint8_t filler = 0x11) : bytes(size, filler) {}
  Block& put(uint64_t offset, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) bytes.at(offset++) = v;
    return *this;
  }
  uint64_t size() const { return bytes.size(); }
  const uint8_t* data() const { return bytes.data(); }
  std::vector<uint8_t> bytes;
};

inline constexpr std::initializer_list<uint8_t> SoiApp0 = {0xFF, 0xD8, 0xFF, 0xE0};
inline constexpr std::initializer_list<uint8_t> SoiApp1 = {0xFF, 0xD8, 0xFF, 0xE1};
inline constexpr std::initializer_list<uint8_t> SoiDqt = {0xFF, 0xD8, 0xFF, 0xDB};
inline constexpr std::initializer_list<uint8_t> Dqt = {0xFF, 0xDB};
inline constexpr std::initializer_list<uint8_t> Eoi = {0xFF, 0xD9};
inline constexpr std::initializer_list<uint8_t> PngHeader = {0x89, 'P', 'N', 'G'};
inline constexpr std::initializer_list<uint8_t> Iend = {'I', 'E', 'N', 'D'};
inline constexpr std::initializer_list<uint8_t> Pnot = {'p', 'n', 'o', 't'};
inline constexpr std::initializer_list<uint8_t> Udta = {'u', 'd', 't', 'a'};

}  // namespace kestrix::test
