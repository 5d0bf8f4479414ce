// The structure walk of a PNG file (ISO/IEC 15948 5.2, 5.3), used by the
// precise scan modes: the 8-byte signature, then chunk by chunk by their
// lengths, each CRC checked, up to IEND and its CRC. An "IEND" inside another
// chunk's data is data.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/structure_end.h"

namespace kestrix::png {

inline constexpr uint8_t FileSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// A chunk's length field is at most 2^31 - 1 (ISO/IEC 15948 5.3).
inline constexpr uint64_t MaxChunkLength = 0x7FFFFFFF;

// Walks the file whose signature is at `start`. Ends: the file's end (after
// IEND's CRC, or before the first chunk that does not parse: a damaged file
// keeps what is its own); NotAFile when the IHDR chunk does not parse; RanOut.
StructureEnd structureEnd(const BoundBlock& block, uint64_t start);

}  // namespace kestrix::png
