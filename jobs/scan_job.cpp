#include "jobs/scan_job.h"

#include <thread>

#include "host/plugin_host.h"
#include "jobs/job_reporter.h"

namespace kestrix {

ScanJob::~ScanJob() {
  // The scan thread reads the image, the list and the engines.
  stop();
}

bool ScanJob::start(const ImageBlock& image, CandidateList& list, const ScanSettings& settings) {
  if (isActive()) return false;
  if (engines_.empty()) engines_ = host_.createEngineSet();
  // The later file types are searched on a second core beside the first.
  if (besideEngines_.empty() && std::thread::hardware_concurrency() > 1) {
    besideEngines_ = host_.createEngineSet();
  }
  image_ = &image;
  list_ = &list;
  settings_ = settings;
  summary_ = ScanSummary{};
  if (reporter_ != nullptr) reporter_->setListEnabled(false);
  if (JobThread::start()) return true;
  // Without a thread there will be no end message; give the list back
  // rather than leave it disabled for good.
  if (reporter_ != nullptr) reporter_->setListEnabled(true);
  return false;
}

int32_t ScanJob::run() {
  ScanCallbacks callbacks;
  callbacks.shouldContinue = [this] { return shouldContinue(); };
  if (reporter_ != nullptr) {
    callbacks.progress = [this](int percent) { reporter_->setProgress(percent); };
  }
  summary_ = scanImage(*image_, engines_, host_.registry().keys(), *list_, settings_, callbacks,
                       besideEngines_.empty() ? nullptr : &besideEngines_);
  // A stopped scan ends without a word: its owner is tearing it down and
  // may no longer be there to hear the end message.
  if (reporter_ != nullptr && shouldContinue()) {
    reporter_->setListEnabled(true);
    reporter_->post(report::ScanEnded{summary_.added});
  }
  setRunning(false);
  return static_cast<int32_t>(summary_.added);
}

}  // namespace kestrix
