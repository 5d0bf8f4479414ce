#include "engine/jpeg_carving.h"

#include "engine/scan_engine.h"

namespace kestrix::jpeg {

SignaturePair signatures(int32_t mode) {
  if (mode == ScanModeNormal) return {ApplicationHeader, 4, EndOfImage, 2};
  return {TableHeader, 2, EndOfImage, 2};  // 257, and any other mode
}

bool absorbsEmbeddedEnds(const uint8_t* header) {
  return header[0] == 0xFF && header[1] == 0xD8 && header[2] == 0xFF;
}

ExtractionPlan extractionPlan(const BoundBlock& block, uint64_t start, uint64_t size,
                              const uint8_t* /*header*/, const uint8_t* /*footer*/) {
  ExtractionPlan plan = plainCopyPlan(block, start, size);
  if (plan.refused || block.equals(start, StartOfImage, 2)) return plan;
  plan.prefix[0] = StartOfImage[0];
  plan.prefix[1] = StartOfImage[1];
  plan.prefixLength = 2;
  return plan;
}

}  // namespace kestrix::jpeg
