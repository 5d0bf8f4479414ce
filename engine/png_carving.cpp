#include "engine/png_carving.h"

namespace kestrix::png {

SignaturePair signatures(int32_t /*mode*/) { return {Header, 4, Footer, 4}; }

ExtractionPlan extractionPlan(const BoundBlock& block, uint64_t start, uint64_t size,
                              const uint8_t* /*header*/, const uint8_t* /*footer*/) {
  ExtractionPlan plan = plainCopyPlan(block, start, size);
  if (plan.refused || plan.length < 4) return plan;
  const uint64_t end = plan.start + plan.length;
  if (!block.equals(end - 4, Footer, 4)) return plan;
  // The CRC follows IEND; at the end of the block only what is there is taken.
  const uint64_t available = block.size() - end;
  plan.length += available < CrcLength ? available : CrcLength;
  return plan;
}

}  // namespace kestrix::png
