#include "engine/carving_engine.h"

#include <cstring>

#include "engine/jpeg_carving.h"

namespace kestrix {

int32_t CarvingEngine::typePosition() { return positionInList(GetInfo()->extensions, extension_); }

int32_t CarvingEngine::SelectType(const char* extension) {
  SignatureScanner::SelectType(extension);
  // The remembered (possibly cut) text decides, so the type searched for and
  // the type FindNext reasons about are always the same.
  const int32_t position = extension != nullptr ? typePosition() : -1;
  const CarvedTypeRow* row = carvedTypeRow(carvedTypeAt(position));
  if (row == nullptr) return -1;
  // A type without signature rules keeps the cleared (empty) signatures.
  if (row->signatures == nullptr) return 0;
  const SignaturePair pair = row->signatures(GetMode());
  std::memcpy(header_, pair.header, static_cast<size_t>(pair.headerLength));
  headerLength_ = pair.headerLength;
  std::memcpy(footer_, pair.footer, static_cast<size_t>(pair.footerLength));
  footerLength_ = pair.footerLength;
  return 0;
}

const CarvedTypeRow* CarvingEngine::selectedRow() {
  return carvedTypeRow(carvedTypeAt(typePosition()));
}

// The masked search: exact for PNG and MOV (their rows' masksHeader);
// otherwise, in mode 256, a pattern longer than three bytes matches its last
// byte by mask (every bit set in the pattern byte set in the data byte).
uint64_t CarvingEngine::maskedSearch(Signature which, uint64_t from) {
  const CarvedTypeRow* row = selectedRow();
  const bool masks = row == nullptr || row->masksHeader;
  return searchSignature(which, from, masks && GetMode() == ScanModeNormal);
}

uint64_t CarvingEngine::FindNext(uint32_t positionLow, uint32_t positionHigh, uint64_t* size,
                                 const char* extension) {
  if (extension != nullptr) SelectType(extension);
  const uint64_t position = joinHalves(positionLow, positionHigh);
  if (isPreciseMode(GetMode())) return findNextPrecise(position, size);
  // The signature rules know no MP4 (its row's signatureRulesFind): a scan
  // that walks every registered extension finds the same files as before
  // ".mp4" was listed.
  const CarvedTypeRow* row = selectedRow();
  if (row != nullptr && !row->signatureRulesFind) {
    if (size != nullptr) *size = 0;
    return size_ + 1;
  }
  if (GetMode() == ScanModeSplit) return findNextExact(position, size);

  const uint64_t h1 = maskedSearch(Signature::Header, position);
  uint64_t start = h1;
  const uint64_t s = h1 + 1;
  const uint64_t h2 = maskedSearch(Signature::Header, s);
  const uint64_t f = maskedSearch(Signature::Footer, s);
  const uint64_t fl = static_cast<uint64_t>(footerLength_);
  uint64_t end;
  if (f < h2) {
    end = f;
    // Embedded pictures: an EXIF thumbnail's own SOI is followed by a table
    // marker, so it is no header match in mode 256, but its EOI comes before
    // the holder's. Footers up to the next header belong to this picture.
    if (jpeg::absorbsEmbeddedEnds(header_)) {
      for (int absorbed = 0; absorbed < jpeg::MaxAbsorbedEnds; ++absorbed) {
        const uint64_t next = maskedSearch(Signature::Footer, end + 1);
        if (next > h2) break;  // the next picture's end
        // Only a footer lying inside the data counts: a search that starts
        // past its last possible position returns that start, not a match.
        if (next > size_ || next + fl > size_) break;
        end = next;
      }
    }
  } else if (f > h2) {
    end = f;
    // A header without its footer is a broken start: the later header opens
    // the hit. A movie keeps its first header, as its atoms span both.
    if (row == nullptr || !row->keepsFirstHeader) start = h2;
  } else if (f == s) {
    end = s;
  } else {
    // Header and footer at one place: end the hit there when the footer lies
    // inside the data, else (neither found) at the end of the data. Never
    // search again from the same place.
    end = f + fl <= size_ ? f : size_;
  }
  if (size != nullptr) *size = end + fl - start;
  return end + fl;
}

uint64_t CarvingEngine::findNextPrecise(uint64_t position, uint64_t* size) {
  const BoundBlock bound = block();
  if (preciseBinding_ != bindings_) {
    precise_.rebind(bound.size() == 0 ? nullptr : bound.uncheckedAt(0), bound.size());
    preciseBinding_ = bindings_;
  }
  const bool partsAreFinds = GetMode() == ScanModePreciseSplit;
  const PreciseFind found =
      precise_.find(bound, carvedTypeAt(typePosition()), position, partsAreFinds);
  if (!found.found) {
    if (size != nullptr) *size = 0;
    return found.cutOff ? found.start : bound.size();
  }
  if (size != nullptr) *size = found.size;
  return found.start + found.size;
}

uint8_t* CarvingEngine::Extract(uint64_t* start, uint64_t* size, const char* extension) {
  if (start == nullptr || size == nullptr || extension == nullptr) {
    return SignatureScanner::Extract(start, size, extension);
  }
  // Precise finds are whole files: nothing is completed.
  if (isPreciseMode(GetMode())) return SignatureScanner::Extract(start, size, extension);
  const BoundBlock bound = block();
  // The plan is chosen by the text passed here, not by the selected type.
  ExtractionPlan plan = plainCopyPlan(bound, *start, *size);
  for (const CarvedTypeRow& row : carvedTypeRows()) {
    if (std::strstr(extension, row.extension + 1) == nullptr) continue;
    if (row.extractionPlan != nullptr) {
      plan = row.extractionPlan(bound, *start, *size, header_, footer_);
    }
    break;
  }
  // Written back before allocating: the caller writes exactly what it gets.
  if (!plan.refused) *size = plan.total();
  return makeExtraction(plan);
}

int32_t CarvingEngine::Supports(const char* extension) {
  return ListContains(GetInfo()->extensions, extension);
}

}  // namespace kestrix
