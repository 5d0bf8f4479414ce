// SignatureScanner: the generic scan engine. It holds the engine state that
// every engine of this plug-in shares, searches exactly for its header and
// footer signatures and extracts by plain copy. It sets no signature itself;
// CarvingEngine derives from it and adds the file types.
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/extraction_plan.h"
#include "engine/scan_engine.h"
#include "engine/signature_search.h"

namespace kestrix {

class SignatureScanner : public ScanEngine {
 public:
  SignatureScanner() = default;
  SignatureScanner(const SignatureScanner&) = delete;
  SignatureScanner& operator=(const SignatureScanner&) = delete;
  ~SignatureScanner() override;

  uint8_t* Extract(uint64_t* start, uint64_t* size, const char* extension) override;
  int32_t GetMode() final;
  void SetMode(int32_t mode) final;
  void Attach(const uint8_t* data, uint32_t sizeLow, uint32_t sizeHigh, const char* extension,
              int32_t mode) final;
  int32_t IsCompatible(int32_t version) override;
  int32_t ListContains(const char* list, const char* item) final;
  const PluginInfo* GetInfo() final;
  uint64_t FindNext(uint32_t positionLow, uint32_t positionHigh, uint64_t* size,
                    const char* extension) override;
  void FreeExtraction() final;
  int32_t SelectType(const char* extension) override;
  // Final so that the cached internal searches below are the same search
  // that this slot performs.
  uint64_t FindPattern(uint32_t positionLow, uint32_t positionHigh, const uint8_t* pattern,
                       int32_t length) final;
  int32_t Supports(const char* extension) override;

  // Longest extension text remembered by SelectType; longer texts are cut.
  static constexpr int ExtensionCapacity = 11;
  static constexpr int SignatureCapacity = 256;

 protected:
  enum class Signature { Header, Footer };

  // Search for the current header or footer from `from`, with the contract of
  // FindPattern; with maskLastByte the last byte matches by mask. Cached per
  // signature; the cache is dropped by Attach and misses when the signature
  // bytes or the mask setting differ from the remembered search's.
  uint64_t searchSignature(Signature which, uint64_t from, bool maskLastByte);

  // The base algorithm after its SelectType step.
  uint64_t findNextExact(uint64_t position, uint64_t* size);

  BoundBlock block() const { return BoundBlock(data_, size_); }
  // Releases the previous extraction block and makes a new one from the plan;
  // null when the plan is refused or memory is exhausted.
  uint8_t* makeExtraction(const ExtractionPlan& plan);
  void clearSignatures();

  // Engine state, in the order of the plug-in interface.
  uint8_t* extraction_ = nullptr;  // owned; null when there is none
  int32_t mode_ = ScanModeNormal;
  uint64_t size_ = 0;                       // 0 whenever data_ is null
  const uint8_t* data_ = nullptr;           // lent by the caller, never written
  uint8_t header_[SignatureCapacity] = {};  // zero beyond headerLength_
  uint8_t footer_[SignatureCapacity] = {};  // zero beyond footerLength_
  int32_t headerLength_ = 0;                // 0 = no signature
  int32_t footerLength_ = 0;
  char extension_[ExtensionCapacity + 1] = {};  // as last passed to SelectType
  uint64_t bindings_ = 0;  // Attach calls so far: derived caches of the block compare it

 private:
  SignatureSearch headerSearch_;
  SignatureSearch footerSearch_;
};

// Position of `text` in `list` as a substring, -1 when absent or null.
int32_t positionInList(const char* list, const char* text);

}  // namespace kestrix
