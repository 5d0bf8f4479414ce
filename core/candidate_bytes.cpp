#include "core/candidate_bytes.h"

#include "engine/scan_engine.h"
#include "host/engine_set.h"

#include <new>

namespace kestrix {

CandidateBytes::CandidateBytes(const ImageBlock& image, EngineSet* engines,
                               const CandidateInfo& info) {
  const Find& find = info.find;
  const size_t dot = info.name.rfind('.');
  if (dot == std::string::npos) {
    problem_ = {FileProblemCode::NoExtension};
    return;
  }
  extension_ = info.name.substr(dot);
  ScanEngine* engine = engines != nullptr ? engines->engineFor(extension_.c_str()) : nullptr;
  // A plain range needs no engine to be read, but with engines at hand the
  // name's extension must still be a type one of them knows.
  if (engine == nullptr && (engines != nullptr || !find.plainRange)) {
    problem_ = {FileProblemCode::NoEngine, 0, extension_};
    return;
  }
  const uint64_t size = image.size();
  if (find.end < find.start || find.start > size || find.end > size) {
    problem_ = {FileProblemCode::OutsideImage};
    return;
  }
  if (!find.fragments.empty()) {
    uint64_t total = 0;
    for (const FilePiece& piece : find.fragments) {
      if (piece.end <= piece.start || piece.end > size) {
        problem_ = {FileProblemCode::OutsideImage};
        return;
      }
      total += piece.end - piece.start;
    }
    try {
      joined_.reserve(total);
    } catch (const std::bad_alloc&) {
      problem_ = {FileProblemCode::OutOfMemory};
      return;
    }
    for (const FilePiece& piece : find.fragments) {
      joined_.insert(joined_.end(), image.data() + piece.start, image.data() + piece.end);
    }
    data_ = joined_.data();
    size_ = joined_.size();
    return;
  }
  if (find.plainRange) {
    if (find.end == find.start) {
      problem_ = {FileProblemCode::NotExtracted};
      return;
    }
    data_ = image.data() + find.start;
    size_ = find.end - find.start;
    return;
  }
  engine->Attach(image.data(), lowHalf(size), highHalf(size), extension_.c_str(), ScanModeNormal);
  uint64_t start = find.start;
  uint64_t count = find.end - find.start;
  const uint8_t* bytes = engine->Extract(&start, &count, extension_.c_str());
  extractedBy_ = engine;
  if (bytes == nullptr || count == 0) {
    problem_ = {FileProblemCode::NotExtracted};
    return;
  }
  data_ = bytes;
  size_ = count;
}

CandidateBytes::~CandidateBytes() {
  if (extractedBy_ != nullptr) extractedBy_->FreeExtraction();
}

}  // namespace kestrix
