// StructureEnd: what walking a file's structure from a candidate start says.
//
// The walk keeps apart what a carver must never confuse:
//   - the bytes at the start do not parse as the type (no file);
//   - the file ends at a known place, and either its structure closed there
//     (EOI, IEND and its CRC, a movie with both moov and mdat: the file
//     proves itself) or its bytes stop being its own there (damage: the file
//     keeps what is its own, but proves nothing about what lies inside it);
//   - the walk needed bytes at or past the end of the block and cannot tell.
//     The scan layer then binds more of the image and asks again. At the
//     true end of the image such a file is cut short, but only if what was
//     walked before running out already proves a file of the type; bytes
//     that merely open like one (a stray atom header with a huge size, an
//     SOI and an APP1 length) are no file at all.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/bound_block.h"

namespace kestrix {

struct StructureEnd {
  enum class Verdict {
    NotAFile,  // the bytes at the start do not parse as the type
    Ends,      // the file ends at `end`
    RanOut,    // deciding needs a byte at or past the end of the block
  };
  Verdict verdict = Verdict::NotAFile;
  uint64_t end = 0;  // just past the file's last byte; only for Ends
  // Ends: the structure closed at `end` (true), or the bytes stopped being
  // the file's there (false: damaged, and no container of other finds).
  bool whole = false;
  // RanOut: the bytes walked before the block end prove a file (a JPEG's
  // frame and scan headers, a PNG's IHDR with its CRC, a movie's moov or
  // mdat walked inside the block), so at the image's end it is a cut file.
  bool proven = false;
  // RanOut, proven: where a search for the next file of the type may go on
  // once this one is taken as cut at the image end. A movie atom of size 0
  // runs "to the end of the file", an end a card does not record, and a
  // size (of an atom or a PNG chunk) that runs past the image may be a stray
  // one, so the search goes on at that atom's or chunk's data; 0 or the block
  // end when nothing of the file's own is left to search.
  uint64_t resume = 0;

  static StructureEnd notAFile() { return {}; }
  static StructureEnd wholeAt(uint64_t end) { return {Verdict::Ends, end, true, false, 0}; }
  static StructureEnd damagedAt(uint64_t end) { return {Verdict::Ends, end, false, false, 0}; }
  static StructureEnd ranOut(bool proven, uint64_t resume = 0) {
    return {Verdict::RanOut, 0, false, proven, resume};
  }
};

// Bytes of a file that may hold whole files of their own: a JPEG's APPn
// payloads and the further images of its Multi-Picture index, a PNG's chunk
// data, a movie's mdat payloads. Only a file that proves itself (whole)
// holds anything: a find inside one of its spans is a part of it.
struct ByteSpan {
  uint64_t begin = 0;
  uint64_t end = 0;  // just past the span
  bool holds(uint64_t start, uint64_t stop) const { return start >= begin && stop <= end; }
};
using ByteSpans = std::vector<ByteSpan>;

// The one shape every type's walk has for a caller whose block is all there
// is (the scan layer on the whole image): `walkFile` in each type's
// structure header, named in the core's table of file types
// (core/file_types.cpp). With `holds`, a whole file's spans are appended.
using StructureWalk = StructureEnd (*)(const BoundBlock& block, uint64_t start, ByteSpans* holds);

}  // namespace kestrix
