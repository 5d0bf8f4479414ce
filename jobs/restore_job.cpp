#include "jobs/restore_job.h"

#include <algorithm>
#include <utility>

#include "core/candidate_list.h"
#include "jobs/job_reporter.h"
#include "media/device_identity.h"

namespace kestrix {

namespace {

// A batch of restored files is flushed and named together once it holds
// this many bytes or files: few flushes for a card of small photos, and
// little left unnamed if the machine stops.
constexpr uint64_t kBatchBytes = uint64_t{256} << 20;
constexpr size_t kBatchFiles = 256;

}  // namespace

void RestoreJob::nameBatch(CandidateWriter& writer, const CandidateList& list) {
  for (WrittenFile& file : writer.nameWaiting()) {
    const int32_t row = pendingRows_.front();
    pendingRows_.erase(pendingRows_.begin());
    std::string name;
    list.itemName(row, name);
    if (file.ok) {
      // The writer never replaces a file: a clash took "NAME (2)…" instead.
      const size_t slash = file.path.rfind('/');
      const bool renamed =
          (slash == std::string::npos ? file.path : file.path.substr(slash + 1)) != name;
      outcome_.files.push_back({row, file.path, file.bytes, renamed});
      ++outcome_.written;
      if (renamed) ++outcome_.renamed;
    } else {
      outcome_.failures.push_back({row, name, file.problem});
    }
  }
}

uint32_t RestoreJob::restoreSelected(const CandidateList& list, std::vector<int32_t> chosen,
                                     const ImageBlock& image, EngineSet& engines,
                                     JobReporter* reporter, const ShouldContinue& shouldContinue) {
  outcome_ = RestoreOutcome{};
  pendingRows_.clear();
  const std::string folder = destination_;
  const int32_t count = list.itemCount();
  // A row given twice would fail as a name this run already wrote.
  std::sort(chosen.begin(), chosen.end());
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  if (isOnSourceDevice(source_, folder)) {
    // Writing onto the card would overwrite the very bytes being rescued.
    const FileProblem onSource{FileProblemCode::DestinationOnSource};
    for (const int32_t row : chosen) {
      std::string name;
      list.itemName(row, name);
      outcome_.failures.push_back({row, name, onSource});
    }
    if (reporter != nullptr) reporter->post(report::RestoreEnded{0});
    return 0;
  }
  // A restore that was killed (SIGKILL, a power cut) left its temporaries
  // behind, hidden; the lock on each tells them from a live restore's.
  CandidateWriter::removeStaleTemporaries(folder);
  CandidateWriter writer(image, &engines);
  WriteOptions options;
  options.dateOption = dateOption_;
  options.keepGoing = shouldContinue;
  options.deferNaming = true;
  // Names written by this run. Renamed rows can share a name; the later one
  // must not land beside the first as "NAME (2)" as if it were a file from
  // an earlier run: it fails, and the end lists it.
  std::unordered_set<std::string> writtenNames;
  // The bar follows the rows; the numbers beside it count the chosen files
  // handled.
  const uint64_t selected = chosen.size();
  uint64_t handled = 0;
  if (reporter != nullptr) {
    reporter->setProgress(0);
    reporter->countProgress(0, selected);
  }
  for (const int32_t row : chosen) {
    if (!shouldContinue()) {
      // What was written completely is kept and named; nothing else is.
      nameBatch(writer, list);
      outcome_.stopped = true;
      return outcome_.written;
    }
    CandidateInfo info;
    FileProblem problem;
    WrittenFile file;
    if (!list.candidateInfo(row, info)) {
      problem = {FileProblemCode::RowUnreadable};
    } else if (writtenNames.count(info.name) != 0) {
      problem = {FileProblemCode::NameWrittenThisRun};
    } else {
      file = writer.write(info, folder, options);
      problem = file.problem;
    }
    if (file.stopped) {
      nameBatch(writer, list);
      outcome_.stopped = true;
      return outcome_.written;
    }
    if (file.ok) {
      writtenNames.insert(info.name);
      pendingRows_.push_back(row);
    } else {
      // One unreadable or unwritable candidate must not cost the user the
      // rest of the selection: note it and go on; the end lists it.
      std::string name;
      list.itemName(row, name);
      outcome_.failures.push_back({row, name, problem});
    }
    if (writer.waitingBytes() >= kBatchBytes || writer.waitingCount() >= kBatchFiles) {
      nameBatch(writer, list);
    }
    ++handled;
    if (reporter != nullptr) {
      reporter->setProgress(count > 0 ? static_cast<int>(static_cast<int64_t>(row) * 100 / count)
                                      : 0);
      reporter->countProgress(handled, selected);
    }
  }
  // Every file is on the medium under its name before the end is reported.
  nameBatch(writer, list);
  if (reporter != nullptr) {
    reporter->setProgress(100);
    reporter->setProgress(0);
    reporter->post(report::RestoreEnded{outcome_.written});
  }
  return outcome_.written;
}

int32_t RestoreJob::previewFirstSelected(const CandidateList& list,
                                         const std::vector<int32_t>& chosen,
                                         const ImageBlock& image, EngineSet& engines,
                                         JobReporter* reporter,
                                         const ShouldContinue& shouldContinue) {
  outcome_ = RestoreOutcome{};
  int32_t result = 0;
  CandidateWriter writer(image, &engines);
  WriteOptions options;
  options.replaceExisting = true;
  options.keepGoing = shouldContinue;
  const auto first = std::min_element(chosen.begin(), chosen.end());
  if (!shouldContinue()) {
    outcome_.stopped = true;
    return 0;
  }
  if (first != chosen.end()) {
    const int32_t row = *first;
    CandidateInfo info;
    WrittenFile file;
    if (list.candidateInfo(row, info)) {
      file = writer.write(info, destination_, options);
    } else {
      file.problem = {FileProblemCode::RowUnreadable};
    }
    if (file.stopped) {
      outcome_.stopped = true;
      return 0;
    }
    if (file.ok) {
      outcome_.files.push_back({row, file.path, file.bytes});
      outcome_.written = 1;
      result = row + 1;
    } else {
      std::string name;
      list.itemName(row, name);
      outcome_.failures.push_back({row, name, file.problem});
    }
  }
  if (reporter != nullptr) reporter->post(report::PreviewEnded{result - 1});
  return result;
}

}  // namespace kestrix
