#include "engine/signature_scanner.h"

#include <cstdlib>
#include <cstring>

#include "engine/plugin_info.h"

namespace kestrix {

int32_t positionInList(const char* list, const char* text) {
  if (list == nullptr || text == nullptr) return -1;
  const char* at = std::strstr(list, text);
  return at == nullptr ? -1 : static_cast<int32_t>(at - list);
}

SignatureScanner::~SignatureScanner() { std::free(extraction_); }

uint8_t* SignatureScanner::makeExtraction(const ExtractionPlan& plan) {
  FreeExtraction();
  if (plan.refused) return nullptr;
  const BoundBlock bound = block();
  if (!bound.contains(plan.start, plan.length)) return nullptr;  // plans are cut; never taken
  extraction_ = static_cast<uint8_t*>(std::calloc(plan.total(), 1));
  if (extraction_ == nullptr) return nullptr;
  std::memcpy(extraction_, plan.prefix, plan.prefixLength);
  std::memcpy(extraction_ + plan.prefixLength, bound.uncheckedAt(plan.start), plan.length);
  return extraction_;
}

uint8_t* SignatureScanner::Extract(uint64_t* start, uint64_t* size, const char* /*extension*/) {
  if (start == nullptr || size == nullptr) {
    FreeExtraction();
    return nullptr;
  }
  const ExtractionPlan plan = plainCopyPlan(block(), *start, *size);
  if (!plan.refused) *size = plan.total();
  return makeExtraction(plan);
}

int32_t SignatureScanner::GetMode() { return mode_; }

void SignatureScanner::SetMode(int32_t mode) {
  // The JPEG header's mask depends on the mode; the searches key their
  // remembered answers on the mask setting, so they need no reset here.
  mode_ = mode;
}

void SignatureScanner::Attach(const uint8_t* data, uint32_t sizeLow, uint32_t sizeHigh,
                              const char* extension, int32_t mode) {
  data_ = data;
  // A null block binds as an empty one, so no search ever reads through null.
  size_ = data == nullptr ? 0 : joinHalves(sizeLow, sizeHigh);
  headerSearch_.invalidate();
  footerSearch_.invalidate();
  ++bindings_;
  SetMode(mode);
  SelectType(extension);
  // The extraction block stays owned until FreeExtraction, the next Extract
  // or destruction: dropping the reference here would leak it, and freeing
  // it would end its validity earlier than callers are promised.
}

int32_t SignatureScanner::IsCompatible(int32_t version) {
  return version == 0 || version == kxPluginInfo().version ? 1 : 0;
}

int32_t SignatureScanner::ListContains(const char* list, const char* item) {
  return positionInList(list, item) >= 0 ? 1 : 0;
}

const PluginInfo* SignatureScanner::GetInfo() { return &kxPluginInfo(); }

void SignatureScanner::clearSignatures() {
  std::memset(header_, 0, sizeof(header_));
  std::memset(footer_, 0, sizeof(footer_));
  headerLength_ = 0;
  footerLength_ = 0;
  std::memset(extension_, 0, sizeof(extension_));
  // The searches are kept: they compare the pattern bytes themselves, so a
  // scan that passes its extension to every FindNext (and so selects the
  // same type each time) still reads every byte about once.
}

int32_t SignatureScanner::SelectType(const char* extension) {
  clearSignatures();
  if (extension != nullptr) std::strncpy(extension_, extension, ExtensionCapacity);
  return positionInList(GetInfo()->extensions, extension) >= 0 ? 0 : -1;
}

uint64_t SignatureScanner::searchSignature(Signature which, uint64_t from, bool maskLastByte) {
  if (which == Signature::Header) {
    return headerSearch_.find(data_, size_, header_, headerLength_, maskLastByte, from);
  }
  return footerSearch_.find(data_, size_, footer_, footerLength_, maskLastByte, from);
}

uint64_t SignatureScanner::FindPattern(uint32_t positionLow, uint32_t positionHigh,
                                       const uint8_t* pattern, int32_t length) {
  return findSignature(data_, size_, pattern, length, false, joinHalves(positionLow, positionHigh));
}

uint64_t SignatureScanner::findNextExact(uint64_t position, uint64_t* size) {
  const uint64_t h1 = searchSignature(Signature::Header, position, false);
  uint64_t start = h1;
  const uint64_t s = h1 + 1;
  const uint64_t h2 = searchSignature(Signature::Header, s, false);
  const uint64_t f = searchSignature(Signature::Footer, s, false);
  const uint64_t fl = static_cast<uint64_t>(footerLength_);
  uint64_t end;
  if (f < h2) {
    end = f;
  } else if (f > h2) {
    end = f;
    start = h2;  // a header without its footer: the later header opens the hit
  } else if (f == s) {
    end = s;
  } else {
    // Header and footer at one place: end the hit there when the footer lies
    // inside the data, else (neither found) at the end of the data.
    end = f + fl <= size_ ? f : size_;
  }
  if (size != nullptr) *size = end + fl - start;
  return end + fl;
}

uint64_t SignatureScanner::FindNext(uint32_t positionLow, uint32_t positionHigh, uint64_t* size,
                                    const char* extension) {
  if (extension != nullptr) SelectType(extension);
  return findNextExact(joinHalves(positionLow, positionHigh), size);
}

void SignatureScanner::FreeExtraction() {
  std::free(extraction_);
  extraction_ = nullptr;
}

int32_t SignatureScanner::Supports(const char* extension) {
  return ListContains(GetInfo()->extensions, extension);
}

}  // namespace kestrix
