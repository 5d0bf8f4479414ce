// CarvingEngine: the shipped engine. In the signature modes it adds the JPEG,
// PNG and MOV signatures to SignatureScanner, searches with the JPEG header's
// masked last byte, carves with the nested-data rules of each type and
// completes extractions; in the precise modes (261, 262) it finds whole files
// by their structure (PreciseScanner) and extracts them by plain copy.
#pragma once

#include <cstdint>

#include "engine/carved_type.h"
#include "engine/precise_scanner.h"
#include "engine/signature_scanner.h"

namespace kestrix {

class CarvingEngine : public SignatureScanner {
 public:
  CarvingEngine() = default;
  ~CarvingEngine() override = default;

  uint8_t* Extract(uint64_t* start, uint64_t* size, const char* extension) override;
  uint64_t FindNext(uint32_t positionLow, uint32_t positionHigh, uint64_t* size,
                    const char* extension) override;
  int32_t SelectType(const char* extension) override;
  int32_t Supports(const char* extension) override;

 private:
  // Position of the remembered extension text in the plug-in's list.
  int32_t typePosition();
  // The row of the remembered extension's type; null when it is none.
  const CarvedTypeRow* selectedRow();
  uint64_t maskedSearch(Signature which, uint64_t from);
  // FindNext in modes 261 and 262 (PreciseScanner), after its SelectType step.
  uint64_t findNextPrecise(uint64_t position, uint64_t* size);

  PreciseScanner precise_;
  uint64_t preciseBinding_ = 0;  // bindings_ when precise_ was last rebound
};

}  // namespace kestrix
