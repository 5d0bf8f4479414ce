// The bytes of one candidate as a restore writes them, in memory: a view of
// the image for a plain range (no copy), else the engine's extraction, which
// the object holds until it is destroyed. Thumbnails and previews decode from
// these bytes; the writer writes them. A reassembled file's pieces are
// copied into one buffer the object owns.
//
//   CandidateBytes bytes(image, &engines, info);   // this thread's engines
//   if (bytes.ok()) decode(bytes.data(), bytes.size());
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/candidate_list.h"
#include "core/file_problem.h"
#include "core/image_block.h"

namespace kestrix {

class EngineSet;
class ScanEngine;

class CandidateBytes {
 public:
  // `engines` may be null when the candidate is a plain range.
  CandidateBytes(const ImageBlock& image, EngineSet* engines, const CandidateInfo& info);
  ~CandidateBytes();
  CandidateBytes(const CandidateBytes&) = delete;
  CandidateBytes& operator=(const CandidateBytes&) = delete;

  bool ok() const { return data_ != nullptr; }
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  // The extension of the row's name with its dot (".jpg"); empty without one.
  const std::string& extension() const { return extension_; }
  // Why there are no bytes (OutsideImage, NoExtension, NoEngine,
  // OutOfMemory, NotExtracted); None when ok().
  const FileProblem& problem() const { return problem_; }

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  std::string extension_;
  FileProblem problem_;
  ScanEngine* extractedBy_ = nullptr;  // holds the extraction until destruction
  std::vector<uint8_t> joined_;        // a reassembled file's pieces, joined
};

}  // namespace kestrix
