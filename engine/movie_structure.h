// The structure walk of a movie file: QuickTime (QuickTime File Format) and
// ISO base media (ISO/IEC 14496-12, MP4) share the top-level atom layout, a
// big-endian 32-bit size (1: a 64-bit size follows the type; 0: to the end of
// the file) and a 4-character type.
//
// A movie opens at an "ftyp" atom, or, for QuickTime files written without
// one, at "moov", "mdat", "wide" or "pnot". The top-level atoms are walked by
// their sizes; the movie needs a moov and an mdat atom and ends after its
// last top-level atom. The ftyp major brand "qt  " (or no ftyp) makes a
// QuickTime movie (.mov), any other brand an MP4 movie (.mp4).
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/structure_end.h"

namespace kestrix::movie {

// The atom types a movie may open with; the candidate search looks for them
// four bytes into the candidate (after the size field).
inline constexpr uint8_t OpeningTypes[5][4] = {
    {'f', 't', 'y', 'p'}, {'m', 'o', 'o', 'v'}, {'m', 'd', 'a', 't'},
    {'w', 'i', 'd', 'e'}, {'p', 'n', 'o', 't'}};
inline constexpr uint64_t AtomHeaderLength = 8;
// Top-level atoms a movie may hold before it has both moov and mdat (real
// files need four or five). The bound keeps a rejected candidate's walk short
// on hostile data such as "wide" atoms repeated.
inline constexpr int MaxAtomsBeforeComplete = 32;
// An ftyp atom holds a major brand, a version and compatible brands; larger
// ones are damage.
inline constexpr uint64_t MaxFileTypeSize = 4096;

struct MovieStructure {
  StructureEnd end;
  bool quickTime = true;  // major brand "qt  " or no ftyp; meaningful unless NotAFile
  bool brandKnown = true; // false when the block ended inside the ftyp atom's brand
};

// Walks the movie whose first atom is at `start`.
MovieStructure structureOf(const BoundBlock& block, uint64_t start);

}  // namespace kestrix::movie
