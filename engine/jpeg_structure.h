// The structure walk of a JPEG file (ITU-T T.81 annex B; CIPA DC-007 for the
// Multi-Picture index), used by the precise scan modes.
//
// A file opens at SOI followed directly by a marker segment (APPn, DQT, DHT,
// SOFn, DRI or COM). The segments before the first scan are walked by their
// lengths, so whatever lies inside them (an EXIF thumbnail, a whole JPEG,
// stray FF D9 bytes) belongs to the file. The entropy-coded data is then
// read marker by marker (stuffed FF 00, RSTn, tables and further SOS of a
// progressive file) up to EOI; a marker that cannot stand there means the
// card holds other bytes from there on, and the file ends, damaged, before
// it. An APP2 "MPF" index extends the file over the further images it lists,
// each walked as a whole JPEG right after the one before; an AFCP or Photo
// Mechanic trailer after the last image is taken in when its own structure
// proves it. Nothing else after EOI is the file's.
//
// The walk serves the precise scan, the scan layer (what a find holds) and
// the checkers alike.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/structure_end.h"

namespace kestrix::jpeg {

// SOI and the first byte of the following marker: what the candidate search looks for.
inline constexpr uint8_t CandidateSignature[3] = {0xFF, 0xD8, 0xFF};

// Segments before the first scan: real files have a few dozen (extended XMP
// and ICC chunks included). The bound keeps a rejected candidate's walk
// short, so the scan stays linear on hostile data built of nested segments.
inline constexpr int MaxSegmentsBeforeScan = 512;
// MP entries read from one index (a camera writes two to a handful).
inline constexpr uint32_t MaxPictureEntries = 64;
// Tags read from the MP index IFD.
inline constexpr uint32_t MaxIndexTags = 64;
// A metadata trailer's proof (its end record or footer) is looked for this far
// after the last image; real ones are a few kilobytes.
inline constexpr uint64_t MaxTrailerLength = uint64_t{1} << 20;
// AFCP directory entries read (writers use a handful: IPTC, Nail, Prev...).
inline constexpr uint64_t MaxTrailerEntries = 64;

// The first position >= from where CandidateSignature lies and the byte
// after it could open a file (or lies past the block end); the block size
// when there is none. Positions skipped hold no file by the opening rule of
// structureEnd, so this only spares the walk; it runs 32 positions at a time
// where the machine has AVX2, as runs of FF D8 FF D8 ... defeat memchr.
uint64_t nextCandidate(const BoundBlock& block, uint64_t from);

// Walks the file whose SOI is at `start` (the caller found CandidateSignature
// there). Ends, whole (EOI reached, its listed images and trailer taken in)
// or damaged; NotAFile; RanOut, proven once a whole frame header was read.
// When `holds` is given and the file is whole, the payloads of its APPn
// segments and the spans of its further MPF images are appended to it.
// When `entropy` is given, the spans of entropy-coded data the walk passed
// over (its own and its MPF images') are appended, whatever the verdict:
// every FF there is followed by 00, a restart marker or another FF, so no
// candidate starts inside one.
StructureEnd structureEnd(const BoundBlock& block, uint64_t start, ByteSpans* holds = nullptr,
                          ByteSpans* entropy = nullptr);
// structureEnd in the shape of every type's walk (StructureWalk).
inline StructureEnd walkFile(const BoundBlock& block, uint64_t start, ByteSpans* holds) {
  return structureEnd(block, start, holds);
}

}  // namespace kestrix::jpeg
