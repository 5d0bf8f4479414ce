// The EXIF bomb: chained directories that share one run of entries.
//
// Directory k lies 12 × k bytes after IFD0, so its 16-bit count is the upper
// half of the value field of the entry just before it, and its next offset is
// the first four bytes of entry `entries + k`. `directories` directories of
// `entries` valid SHORT entries thus cost little more than one directory's
// bytes: 64 × 65,535 entries fit in 787 KB, and a reader that keeps every
// entry it meets holds about 190 MB for that one candidate.
// scripts/kx_inputs.py (exif_bomb) writes the same bytes for the corpus.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/imaging/exif_bytes.h"

namespace kestrix::test {

inline std::vector<uint8_t> exifBomb(uint32_t directories, uint16_t entries) {
  constexpr uint32_t kIfd0 = 8;  // right after the TIFF header
  const uint32_t run = uint32_t{entries} + directories;
  std::vector<uint8_t> tiff{'I', 'I', 42, 0, kIfd0, 0, 0, 0};
  const auto put = [&](uint32_t value, int width) {
    for (int i = 0; i < width; ++i) tiff.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  put(entries, 2);
  for (uint32_t i = 0; i < run; ++i) {
    put(0x1234, 2);   // tag
    put(3, 2);        // SHORT
    put(1, 4);        // one value, inline
    put(7, 2);        // the value
    put(entries, 2);  // unused half of the value field: the next directory's count
  }
  put(0, 4);
  for (uint32_t k = 0; k < directories; ++k) {
    const uint32_t next = k + 1 < directories ? kIfd0 + 12 * (k + 1) : 0;
    const size_t at = kIfd0 + 2 + 12 * (size_t{entries} + k);
    for (int i = 0; i < 4; ++i) tiff[at + i] = static_cast<uint8_t>(next >> (8 * i));
  }
  return TiffWriter::inJpeg(tiff);
}

// The crafted card's candidates: 64 chained directories of 65,535 entries.
inline std::vector<uint8_t> fullExifBomb() { return exifBomb(64, 65535); }

}  // namespace kestrix::test
