// The structure walk of a movie file: QuickTime (QuickTime File Format) and
// ISO base media (ISO/IEC 14496-12, MP4) share the top-level atom layout
// (movie_atoms.h).
//
// A movie opens at an "ftyp" atom, or, for QuickTime files written without
// one, at "moov", "mdat", "wide" or a "pnot" preview (whose "PICT" and then
// an "ftyp" may follow: old QuickTime files put the preview first). The
// top-level atoms are walked by their sizes; the movie needs a moov (with its
// movie header) and an mdat walked inside the block and ends after its last
// top-level atom. "wide", "free", "skip" and "pnot" prove nothing by
// themselves: bytes that merely read like one of them are no movie. The ftyp
// major brand "qt  " (or no ftyp) makes a QuickTime movie (.mov), any other
// brand an MP4 movie (.mp4).
//
// The walk is used by the precise scan, by the scan layer to decide what a
// find holds, and by the movie checker, so that what the scan calls a movie
// and what the check calls intact cannot drift apart.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/movie_atoms.h"
#include "engine/structure_end.h"

namespace kestrix::movie {

// The atom types a movie may open with; the candidate search looks for them
// four bytes into the candidate (after the size field).
inline constexpr uint8_t OpeningTypes[5][4] = {{'f', 't', 'y', 'p'},
                                               {'m', 'o', 'o', 'v'},
                                               {'m', 'd', 'a', 't'},
                                               {'w', 'i', 'd', 'e'},
                                               {'p', 'n', 'o', 't'}};
// Top-level atoms a movie may hold before it has both moov and mdat (real
// files need four or five). The bound keeps a rejected candidate's walk short
// on hostile data such as "free" atoms repeated.
inline constexpr int MaxAtomsBeforeComplete = 32;
// An ftyp atom holds a major brand, a version and compatible brands; larger
// ones are damage.
inline constexpr uint64_t MaxFileTypeSize = 4096;
// A pnot preview atom is exactly its header, a modification date, a version,
// the preview's atom type and index (QuickTime File Format, "Preview atoms").
inline constexpr uint64_t PreviewAtomSize = 20;
// Children of a moov read before its movie header ("mvhd") must turn up;
// writers put it first, a few put user data or a profile before it.
inline constexpr int MaxChildrenBeforeMovieHeader = 16;
// A version-0 movie header: 8 header bytes and 100 of fields.
inline constexpr uint64_t MinMovieHeaderSize = 108;

struct MovieStructure {
  StructureEnd end;
  bool quickTime = true;   // major brand "qt  " or no ftyp; meaningful unless NotAFile
  bool brandKnown = true;  // false when the block ended before the brand could be read
  // RanOut only: moov and mdat were walked, and the next top-level atom (its
  // header, or its body) does not fit in the block. Whether the movie goes
  // on, only more bytes tell; at the end of the image (or of a restored
  // file) it is whole at `closedEnd`, the end of its last whole atom, and
  // `holds` was filled in as for a whole movie.
  bool closesAtBlockEnd = false;
  uint64_t closedEnd = 0;
};

// Walks the movie whose first atom is at `start`. When `holds` is given and
// the movie is whole, the payloads of its mdat atoms are appended to it.
MovieStructure structureOf(const BoundBlock& block, uint64_t start, ByteSpans* holds = nullptr);
// structureOf in the shape of every type's walk (StructureWalk), for a block
// that is all there is: a whole movie followed by no more than a cut atom at
// the block's end is whole up to that atom.
inline StructureEnd walkFile(const BoundBlock& block, uint64_t start, ByteSpans* holds) {
  const MovieStructure movie = structureOf(block, start, holds);
  return movie.closesAtBlockEnd ? StructureEnd::wholeAt(movie.closedEnd) : movie.end;
}

}  // namespace kestrix::movie
