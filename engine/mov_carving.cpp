#include "engine/mov_carving.h"

namespace kestrix::mov {

SignaturePair signatures(int32_t /*mode*/) { return {Header, 4, Footer, 4}; }

ExtractionPlan extractionPlan(const BoundBlock& block, uint64_t start, uint64_t size,
                              const uint8_t* header, const uint8_t* footer) {
  ExtractionPlan plan = plainCopyPlan(block, start, size);
  if (plan.refused || plan.length < 4) return plan;
  if (block.equals(plan.start, header, 4)) {
    // Take in the pnot atom's size field; a hit within the first bytes of the
    // block keeps only what the block holds of it.
    const uint64_t back = plan.start < SizeFieldLength ? plan.start : SizeFieldLength;
    plan.start -= back;
    plan.length += back;
  }
  const uint64_t end = plan.start + plan.length;
  uint32_t atomSize = 0;
  if (block.equals(end - 4, footer, 4) && end >= AtomHeaderLength &&
      block.readBigEndian32(end - AtomHeaderLength, atomSize) &&
      // An atom is at least its 8-byte header; a smaller size (0 = "to end of
      // file", 1 = 64-bit size follows, or damage) cannot say where it ends.
      atomSize >= AtomHeaderLength) {
    // The hit ends 8 bytes into the udta atom, which spans atomSize bytes.
    const uint64_t extension = atomSize - AtomHeaderLength;
    const uint64_t available = block.size() - end;
    plan.length += extension < available ? extension : available;
  }
  return plan;
}

}  // namespace kestrix::mov
