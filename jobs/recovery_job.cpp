#include "jobs/recovery_job.h"

#include "jobs/copy_job.h"
#include "jobs/job_reporter.h"
#include "ui/candidate_list.h"

namespace kestrix {

RecoveryJob::RecoveryJob()
    : host_(registry_), image_(&host_), restore_(image_), thumbnailRestore_(image_) {
  // Every job here is one-shot: one run per start.
  setPeriod(0);
}

RecoveryJob::~RecoveryJob() {
  // The body reads the members below; it must have ended before they go.
  stop();
}

int RecoveryJob::loadPlugins(const std::string& folder) { return host_.LoadFolder(folder); }

void RecoveryJob::setReporter(JobReporter* reporter) {
  reporter_ = reporter;
  image_.setReporter(reporter);
}

void RecoveryJob::setDestination(const std::string& folder, int32_t dateOption) {
  restore_.setDestination(folder);
  restore_.setDateOption(dateOption);
}

int32_t RecoveryJob::RestoreToTemp(const CandidateList& list, int32_t row) {
  const std::lock_guard<std::mutex> engines(engineUse_);
  return thumbnailRestore_.RestoreToTemp(list, row);
}

int32_t RecoveryJob::run() {
  const auto keepGoing = [this] { return shouldContinue(); };
  switch (kind_) {
    case KindCopy:
      return runCopy();
    // Without a list nothing is written, but the window still waits for the
    // end message to give its buttons back.
    case KindRestore: {
      if (list_ == nullptr) {
        if (reporter_ != nullptr) reporter_->post(JobMessage::RestoreEnded, 0);
        return 0;
      }
      const std::lock_guard<std::mutex> engines(engineUse_);
      return static_cast<int32_t>(restore_.restoreSelected(*list_, reporter_, keepGoing));
    }
    case KindPreview: {
      if (list_ == nullptr) {
        if (reporter_ != nullptr) reporter_->post(JobMessage::PreviewEnded, 0);
        return 0;
      }
      const std::lock_guard<std::mutex> engines(engineUse_);
      // The preview writes into the temporary folder; every restore sets
      // its own destination again from the folder chooser.
      restore_.setDestination(temporaryFolder());
      return restore_.previewFirstSelected(*list_, reporter_, keepGoing);
    }
    default:
      return 1;
  }
}

int32_t RecoveryJob::runCopy() {
  resultText_.clear();
  if (reporter_ == nullptr) return 0;
  CopyJob copy(drive_, *reporter_);
  const CopyOutcome outcome = copy.run(imagePath_, [this] { return shouldContinue(); });
  // Written before the final message is handled: CopyJob posts CopyEnded as
  // its last act, and the window reads the text only after joining this
  // thread, so the text is complete by then.
  resultText_ = copy.resultText();
  return outcome == CopyOutcome::Finished ? 1 : 0;
}

}  // namespace kestrix
