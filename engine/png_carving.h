// PNG carving rules (PNG, ISO/IEC 15948).
//
// A hit opens at the signature's first four bytes 89 "PNG" and ends with the
// type of the IEND chunk; extraction adds the 4-byte CRC that follows the
// chunk type, as far as the block holds it.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/carved_type.h"
#include "engine/extraction_plan.h"

namespace kestrix::png {

inline constexpr uint8_t Header[4] = {0x89, 'P', 'N', 'G'};
inline constexpr uint8_t Footer[4] = {'I', 'E', 'N', 'D'};
inline constexpr uint64_t CrcLength = 4;

// The shapes of the engine's table (carved_type.h): neither depends on the
// mode or on the current signatures.
SignaturePair signatures(int32_t mode);
ExtractionPlan extractionPlan(const BoundBlock& block, uint64_t start, uint64_t size,
                              const uint8_t* header, const uint8_t* footer);

}  // namespace kestrix::png
