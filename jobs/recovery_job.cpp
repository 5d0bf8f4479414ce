#include "jobs/recovery_job.h"

#include <sys/stat.h>

#include "core/candidate_list.h"
#include "jobs/copy_job.h"
#include "jobs/job_reporter.h"

namespace kestrix {

RecoveryJob::RecoveryJob() : host_(registry_), scan_(host_) {
  // Every job here is one-shot: one run per start.
  setPeriod(0);
}

RecoveryJob::~RecoveryJob() {
  // The bodies read the members below; they must have ended before they go.
  scan_.stop();
  stop();
}

int RecoveryJob::loadPlugins(const std::string& folder) { return host_.LoadFolder(folder); }

void RecoveryJob::setReporter(JobReporter* reporter) {
  reporter_ = reporter;
  scan_.setReporter(reporter);
}

void RecoveryJob::setDestination(const std::string& folder, int32_t dateOption) {
  restore_.setDestination(folder);
  restore_.setDateOption(dateOption);
}

LoadStatus RecoveryJob::openImage(const std::string& path) {
  struct stat info {};
  if (image_ && stat(path.c_str(), &info) == 0 && info.st_dev == image_->device() &&
      info.st_ino == image_->inode()) {
    return LoadStatus::Loaded;
  }
  ImageOpenResult opened = ImageFile::open(path);
  if (!opened.image) return opened.status;
  image_ = std::move(opened.image);
  return LoadStatus::Loaded;
}

EngineSet& RecoveryJob::thumbnailEngines() {
  if (thumbnailEngines_.empty()) thumbnailEngines_ = host_.createEngineSet();
  return thumbnailEngines_;
}

int32_t RecoveryJob::run() {
  const auto keepGoing = [this] { return shouldContinue(); };
  if (jobEngines_.empty()) jobEngines_ = host_.createEngineSet();
  switch (kind_) {
    case Kind::Copy: return runCopy();
    // Without a list or an image nothing is written, but the window still
    // waits for the end message to give its buttons back.
    case Kind::Restore:
      if (list_ == nullptr || !image_) {
        if (reporter_ != nullptr) reporter_->post(report::RestoreEnded{});
        return 0;
      }
      restore_.setSource(image_->path());
      return static_cast<int32_t>(restore_.restoreSelected(*list_, chosenRows_, *image_,
                                                           jobEngines_, reporter_, keepGoing));
    case Kind::Preview:
      if (list_ == nullptr || !image_) {
        if (reporter_ != nullptr) reporter_->post(report::PreviewEnded{});
        return 0;
      }
      // The preview writes into the temporary folder; every restore sets
      // its own destination again from the folder chooser.
      restore_.setDestination(temporaryFolder());
      return restore_.previewFirstSelected(*list_, chosenRows_, *image_, jobEngines_, reporter_,
                                           keepGoing);
  }
  return 1;
}

int32_t RecoveryJob::runCopy() {
  resultText_.clear();
  lastCopyOutcome_ = CopyOutcome::Failed;
  if (reporter_ == nullptr) return 0;
  CopyJob copy(drive_, *reporter_);
  const CopyOutcome outcome = copy.run(
      imagePath_, [this] { return shouldContinue(); }, copyOptions_);
  lastCopyOutcome_ = outcome;
  // Written before the final message is handled: CopyJob posts CopyEnded as
  // its last act, and the window reads the text only after joining this
  // thread, so the text is complete by then.
  resultText_ = copy.resultText();
  return outcome == CopyOutcome::Finished ? 1 : 0;
}

}  // namespace kestrix
