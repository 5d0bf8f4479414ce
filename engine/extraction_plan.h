// ExtractionPlan: which bytes of the bound block an extraction copies, and
// what it puts in front of them. The per-type rules (jpeg_carving.h,
// png_carving.h, mov_carving.h) only compute a plan; SignatureScanner turns a
// plan into an extraction block.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"

namespace kestrix {

struct ExtractionPlan {
  bool refused = false;  // nothing of the block can be copied
  uint64_t start = 0;    // first byte copied from the block
  uint64_t length = 0;   // bytes copied from the block; start + length <= block size
  uint8_t prefix[2] = {};
  uint64_t prefixLength = 0;  // bytes put in front of the copy (0 or 2)

  // The size the caller writes: exactly the bytes of the extraction block.
  uint64_t total() const { return prefixLength + length; }
};

// The plain copy of `size` bytes from `start`, cut so that it never reads
// outside the block: a range that runs past the end is cut at the end, and a
// start at or past the end (or a request for no bytes) is refused.
inline ExtractionPlan plainCopyPlan(const BoundBlock& block, uint64_t start, uint64_t size) {
  ExtractionPlan plan;
  if (start >= block.size() || size == 0) {
    plan.refused = true;
    return plan;
  }
  plan.start = start;
  plan.length = size < block.size() - start ? size : block.size() - start;
  return plan;
}

}  // namespace kestrix
