#include "jobs/restore_job.h"

#include <utility>

#include "core/candidate_list.h"
#include "jobs/job_reporter.h"

namespace kestrix {

uint32_t RestoreJob::restoreSelected(const CandidateList& list, const ImageBlock& image,
                                     EngineSet& engines, JobReporter* reporter,
                                     const ShouldContinue& shouldContinue) {
  outcome_ = RestoreOutcome{};
  const std::string folder = destination_;
  const int32_t count = list.itemCount();
  CandidateWriter writer(image, &engines);
  WriteOptions options;
  options.dateOption = dateOption_;
  options.keepGoing = shouldContinue;
  // Names written by this run. Renamed rows can share a name; the later one
  // must not land beside the first as "NAME (2)" as if it were a file from
  // an earlier run: it fails, and the end lists it.
  std::unordered_set<std::string> writtenNames;
  if (reporter != nullptr) reporter->setProgress(0);
  for (int32_t row = 0; row < count; ++row) {
    if (!shouldContinue()) {
      outcome_.stopped = true;
      return outcome_.written;
    }
    if (!list.isSelected(row)) continue;
    CandidateInfo info;
    std::string reason;
    WrittenFile file;
    if (!list.candidateInfo(row, info)) {
      reason = "候補の情報を読めませんでした";
    } else if (writtenNames.count(info.name) != 0) {
      reason = "同じ名前のファイルがこの復元で既に書き込まれています";
    } else {
      file = writer.write(info, folder, options);
      reason = file.reason;
    }
    if (file.stopped) {
      outcome_.stopped = true;
      return outcome_.written;
    }
    if (file.ok) {
      writtenNames.insert(info.name);
      outcome_.files.push_back({row, file.path, file.bytes});
      ++outcome_.written;
    } else {
      // One unreadable or unwritable candidate must not cost the user the
      // rest of the selection: note it and go on; the end lists it.
      std::string name;
      list.itemText(row, CandidateList::ColumnName, name);
      outcome_.failures.push_back({row, name, reason});
    }
    if (reporter != nullptr) {
      reporter->setProgress(static_cast<int>(static_cast<int64_t>(row) * 100 / count));
    }
  }
  // The names must be on the medium too before anything counts as restored.
  std::string reason;
  if (!outcome_.files.empty() && !CandidateWriter::syncFolder(folder, &reason)) {
    for (const RestoredFile& file : outcome_.files) {
      std::string name;
      list.itemText(file.row, CandidateList::ColumnName, name);
      outcome_.failures.push_back({file.row, name, reason});
    }
    outcome_.files.clear();
    outcome_.written = 0;
  }
  if (reporter != nullptr) {
    reporter->setProgress(100);
    reporter->setProgress(0);
    reporter->post(JobMessage::RestoreEnded, outcome_.written);
  }
  return outcome_.written;
}

int32_t RestoreJob::previewFirstSelected(const CandidateList& list, const ImageBlock& image,
                                         EngineSet& engines, JobReporter* reporter,
                                         const ShouldContinue& shouldContinue) {
  outcome_ = RestoreOutcome{};
  const int32_t count = list.itemCount();
  int32_t result = 0;
  CandidateWriter writer(image, &engines);
  WriteOptions options;
  options.replaceExisting = true;
  options.keepGoing = shouldContinue;
  for (int32_t row = 0; row < count; ++row) {
    if (!shouldContinue()) {
      outcome_.stopped = true;
      return 0;
    }
    if (!list.isSelected(row)) continue;
    CandidateInfo info;
    WrittenFile file;
    if (list.candidateInfo(row, info)) {
      file = writer.write(info, destination_, options);
    } else {
      file.reason = "候補の情報を読めませんでした";
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
      list.itemText(row, CandidateList::ColumnName, name);
      outcome_.failures.push_back({row, name, file.reason});
    }
    break;
  }
  if (reporter != nullptr) reporter->post(JobMessage::PreviewEnded, static_cast<uint64_t>(result));
  return result;
}

}  // namespace kestrix
