// Restoring candidates: the restore job and the preview job.
//
// Every file goes through CandidateWriter (core/candidate_writer.h), which
// writes it under a temporary name in the destination, flushes it and links
// it under its name without ever replacing a file that is already there. The
// state here (destination folder, date option, last outcome) is what the
// desktop's recovery job holds between its commands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/candidate_writer.h"

namespace kestrix {

class CandidateList;
class EngineSet;
class ImageBlock;
class JobReporter;

// One file that was written.
struct RestoredFile {
  int32_t row = 0;
  std::string path;  // where it went: the row's name, or "NAME (2).jpg" when that was taken
  uint64_t bytes = 0;
  bool renamed = false;  // a file of the row's name was there: it went under another
};

// One chosen row that could not be written, and why.
struct RestoreFailure {
  int32_t row = 0;
  std::string name;
  FileProblem problem;
};

// What the last restore did. `written` is what the end message carries.
struct RestoreOutcome {
  uint32_t written = 0;
  uint32_t renamed = 0;  // of the written files, how many had to take another name
  std::vector<RestoredFile> files;
  std::vector<RestoreFailure> failures;
  bool stopped = false;  // the job was stopped before it went through every row
};

class RestoreJob {
 public:
  using ShouldContinue = std::function<bool()>;

  void setDestination(std::string folder) { destination_ = std::move(folder); }
  const std::string& destination() const { return destination_; }
  // The path the image was opened from. When it is a drive, a destination
  // on that drive (see isOnSourceDevice, media/device_identity.h) is
  // refused; an image file, or no source given, refuses nothing.
  void setSource(std::string path) { source_ = std::move(path); }
  void setDateOption(int32_t option) { dateOption_ = option; }
  int32_t dateOption() const { return dateOption_; }

  // The restore job body: writes the rows `chosen` of `list` (whose rows
  // view `image`), in row order and each once, into the destination with
  // `engines` (this thread's own), going on after a failed row (a row whose
  // name this run already wrote fails and the earlier file stays), flushing
  // and naming the files in batches (see CandidateWriter::nameWaiting), and
  // posts JobMessage::RestoreEnded with the number written. Returns that
  // number; the details are in outcome(). When shouldContinue turns false
  // it stops within the file being written, removes that file's temporary,
  // names the files already complete and returns without a message
  // (outcome().stopped). A destination on the source drive writes nothing,
  // not even a removal: every chosen row fails with DestinationOnSource and
  // the end message carries 0. `chosen` is the caller's snapshot, taken
  // when the restore starts and held here by value: the window's views stay
  // live meanwhile, and a click there must not change what this run writes.
  uint32_t restoreSelected(const CandidateList& list, std::vector<int32_t> chosen,
                           const ImageBlock& image, EngineSet& engines, JobReporter* reporter,
                           const ShouldContinue& shouldContinue);
  // The preview job body: writes the first (lowest) of the rows `chosen`
  // into the destination (the window gives its private temporary folder,
  // where an older preview of the same name is replaced) and posts
  // JobMessage::PreviewEnded with row + 1, or 0 when nothing was written.
  // Returns the same value.
  int32_t previewFirstSelected(const CandidateList& list, const std::vector<int32_t>& chosen,
                               const ImageBlock& image, EngineSet& engines, JobReporter* reporter,
                               const ShouldContinue& shouldContinue);

  const RestoreOutcome& outcome() const { return outcome_; }

 private:
  // Names the writer's waiting files and records them in the outcome.
  void nameBatch(CandidateWriter& writer, const CandidateList& list);

  std::string destination_;
  std::string source_;
  int32_t dateOption_ = 0;
  RestoreOutcome outcome_;
  std::vector<int32_t> pendingRows_;  // rows of the writer's waiting files, in order
};

}  // namespace kestrix
