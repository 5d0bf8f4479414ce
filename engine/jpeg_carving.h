// JPEG carving rules (ITU-T T.81).
//
// Mode 256: a hit opens at the start-of-image marker followed by any
// application marker (FF D8 FF E0 with the last byte matched by mask, so
// APP0..APP15 and the COM-range markers E0..FF qualify) and ends at the end-
// of-image marker FF D9; the end markers of up to two embedded pictures (EXIF
// thumbnail, preview) are absorbed into the picture that holds them.
// Other modes (257): every stream opens at a quantisation-table marker
// FF DB (T.81 B.2.4.1), thumbnails included, and extraction puts the start-
// of-image marker in front.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/carved_type.h"
#include "engine/extraction_plan.h"

namespace kestrix::jpeg {

inline constexpr uint8_t ApplicationHeader[4] = {0xFF, 0xD8, 0xFF, 0xE0};  // SOI + APPn by mask
inline constexpr uint8_t TableHeader[2] = {0xFF, 0xDB};                    // DQT
inline constexpr uint8_t EndOfImage[2] = {0xFF, 0xD9};                     // EOI
inline constexpr uint8_t StartOfImage[2] = {0xFF, 0xD8};                   // SOI

// How many further end markers a mode-256 hit may absorb (a thumbnail and a
// preview inside one picture).
inline constexpr int MaxAbsorbedEnds = 2;

SignaturePair signatures(int32_t mode);

// True when the header is a start-of-image header (FF D8 FF ...), the case
// in which embedded end markers are absorbed.
bool absorbsEmbeddedEnds(const uint8_t* header);

// The hit plus a start-of-image marker in front when it does not begin with
// one (a hit found from its DQT segment). The signatures are not needed (the
// shape of the engine's table, carved_type.h).
ExtractionPlan extractionPlan(const BoundBlock& block, uint64_t start, uint64_t size,
                              const uint8_t* header, const uint8_t* footer);

}  // namespace kestrix::jpeg
