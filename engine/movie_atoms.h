// One reading of a movie atom's header, for every walker of movie bytes
// (the scan's structure walk, the checker's atom tree).
//
// QuickTime File Format and ISO/IEC 14496-12 share it: a big-endian 32-bit
// size, the 4-character type; size 1 means a 64-bit size follows the type,
// size 0 that the atom runs to the end of the file (at top level) or of its
// parent. The size counts the header.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"

namespace kestrix::movie {

using AtomType = uint32_t;  // the four type bytes as a big-endian number

constexpr AtomType atomType(const char (&text)[5]) {
  return (AtomType{static_cast<uint8_t>(text[0])} << 24) |
         (AtomType{static_cast<uint8_t>(text[1])} << 16) |
         (AtomType{static_cast<uint8_t>(text[2])} << 8) | AtomType{static_cast<uint8_t>(text[3])};
}

inline constexpr uint64_t AtomHeaderLength = 8;
inline constexpr uint64_t WideAtomHeaderLength = 16;  // with the 64-bit size

struct AtomHeader {
  AtomType type = 0;
  uint64_t headerLength = AtomHeaderLength;  // 8, or 16 with a 64-bit size
  uint64_t size = 0;                         // the whole atom; 0 only when toEnd
  bool toEnd = false;                        // size field 0: to the end of the file or parent
};

enum class AtomRead {
  Read,      // `atom` holds the header
  RanOut,    // the header does not fit in the block from the offset
  TooSmall,  // a size smaller than the header it belongs to: damage
};

// Reads the header of the atom at `offset`. The atom's body is not looked at.
inline AtomRead readAtomHeader(const BoundBlock& block, uint64_t offset, AtomHeader& atom) {
  uint64_t size = 0;
  uint64_t type = 0;
  if (!block.readUnsigned(offset, 4, true, size) ||
      !block.readUnsigned(offset + 4, 4, true, type)) {
    return AtomRead::RanOut;
  }
  atom.type = static_cast<AtomType>(type);
  atom.headerLength = AtomHeaderLength;
  atom.size = size;
  atom.toEnd = size == 0;
  if (size == 1) {
    if (!block.readUnsigned(offset + 8, 8, true, atom.size)) return AtomRead::RanOut;
    atom.headerLength = WideAtomHeaderLength;
  }
  if (!atom.toEnd && atom.size < atom.headerLength) return AtomRead::TooSmall;
  return AtomRead::Read;
}

}  // namespace kestrix::movie
