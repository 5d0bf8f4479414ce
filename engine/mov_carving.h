// QuickTime MOV carving rules (QuickTime File Format: atoms are a big-endian
// 32-bit size followed by a 4-character type).
//
// A hit opens at the type of a preview atom "pnot" and ends with the type of
// a user-data atom "udta". Extraction moves back over the pnot atom's size
// field and extends over the udta atom's body as its size field says, both
// cut at the ends of the block. A hit that meets a second header before any
// footer keeps its first header (the movie spans both).
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/carved_type.h"
#include "engine/extraction_plan.h"

namespace kestrix::mov {

inline constexpr uint8_t Header[4] = {'p', 'n', 'o', 't'};
inline constexpr uint8_t Footer[4] = {'u', 'd', 't', 'a'};
inline constexpr uint64_t SizeFieldLength = 4;
inline constexpr uint64_t AtomHeaderLength = 8;  // size field + type

SignaturePair signatures(int32_t mode);  // the same in every mode

// `header` and `footer` are the engine's current signatures (their first
// four bytes are compared with the hit's first and last four).
ExtractionPlan extractionPlan(const BoundBlock& block, uint64_t start, uint64_t size,
                              const uint8_t* header, const uint8_t* footer);

}  // namespace kestrix::mov
