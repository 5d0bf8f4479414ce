// The structure walk of a PNG file (ISO/IEC 15948 5.2, 5.3): the 8-byte
// signature, then chunk by chunk by their lengths, each CRC checked, up to
// IEND and its CRC. An "IEND" inside another chunk's data is data. One chunk
// reader serves the walk (the precise scan, the scan layer) and the checker.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/structure_end.h"

namespace kestrix::png {

inline constexpr uint8_t FileSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// A chunk's length field is at most 2^31 - 1 (ISO/IEC 15948 5.3).
inline constexpr uint64_t MaxChunkLength = 0x7FFFFFFF;

struct Chunk {
  uint64_t length = 0;  // of the data
  uint8_t type[4] = {};
  uint64_t data = 0;  // offset of the data in the block
};

enum class ChunkRead {
  Read,       // `chunk` holds the chunk, which lies in the block with a matching CRC
  RanOut,     // the chunk (header, data or CRC) runs past the block
  NotAChunk,  // a length over 2^31 - 1 or a type that is not four letters
  BadCrc,     // the stored CRC does not match type and data (`chunk` is filled in)
};

// Reads the chunk at `offset`.
ChunkRead readChunk(const BoundBlock& block, uint64_t offset, Chunk& chunk);

// Length, type and CRC around a chunk's data.
inline constexpr uint64_t ChunkOverhead = 12;

// The first position >= from where the whole signature lies in the block,
// else the block size: the precise scan's candidates (positions skipped
// hold no file, so this only spares the walk).
uint64_t nextCandidate(const BoundBlock& block, uint64_t from);

// Walks the file whose signature is at `start`. Ends, whole after IEND's CRC,
// or damaged before the first chunk that does not parse (a damaged file
// keeps what is its own); NotAFile when the IHDR chunk does not parse;
// RanOut, proven once IHDR was read. When `holds` is given and the file is
// whole, the data of each chunk is appended to it.
StructureEnd structureEnd(const BoundBlock& block, uint64_t start, ByteSpans* holds = nullptr);
// structureEnd in the shape of every type's walk (StructureWalk).
inline StructureEnd walkFile(const BoundBlock& block, uint64_t start, ByteSpans* holds) {
  return structureEnd(block, start, holds);
}

}  // namespace kestrix::png
