// CarvedType: the file types CarvingEngine knows, chosen by where the
// extension text occurs in the plug-in's list ".jpg;.png;.mov;.mp4" (a
// substring search, so "jpg" and ".jpg" both choose JPEG).
#pragma once

#include <cstdint>

namespace kestrix {

// Mp4 is told apart from Mov only by the precise scan (by the ftyp brand);
// the signature rules find nothing for it.
enum class CarvedType { None, Jpeg, Png, Mov, Mp4 };

// Position of the text in ".jpg;.png;.mov;.mp4" -> type.
inline CarvedType carvedTypeAt(int32_t position) {
  struct Range {
    int32_t first;  // first position of the range
    CarvedType type;
  };
  static constexpr Range ranges[] = {
      // first  type
      {15, CarvedType::Mp4},
      {10, CarvedType::Mov},
      {5, CarvedType::Png},
      {0, CarvedType::Jpeg},
  };
  for (const Range& range : ranges) {
    if (position >= range.first) return range.type;
  }
  return CarvedType::None;  // -1: not in the list
}

// Header and footer signatures of one type.
struct SignaturePair {
  const uint8_t* header = nullptr;
  int32_t headerLength = 0;
  const uint8_t* footer = nullptr;
  int32_t footerLength = 0;
};

}  // namespace kestrix
