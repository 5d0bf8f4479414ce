// The scan thread: scanImage (core/image_scan.h) on a JobThread of its own,
// for the window, which must stay responsive while a card is scanned.
//
//   ScanJob scan(host);
//   scan.setReporter(&window);
//   scan.start(image, list, settings);   // the window disables its commands
//   ... the reporter receives JobMessage::ScanEnded with the rows added ...
//   scan.stop();                         // joins the finished thread
//
// The scan has its own engines (taken from the host at the first start), so
// a restore or the thumbnails may run beside it without sharing engine state.
//
// Threads: the owner calls everything except run(). While a scan runs the
// owner must keep the image and the list alive and must not clear the list.
#pragma once

#include <cstdint>

#include "core/image_scan.h"
#include "host/engine_set.h"
#include "jobs/job_thread.h"

namespace kestrix {

class CandidateList;
class ImageBlock;
class JobReporter;
class PluginHost;

class ScanJob : public JobThread {
 public:
  explicit ScanJob(const PluginHost& host) : host_(host) { setPeriod(0); }
  ~ScanJob() override;

  void setReporter(JobReporter* reporter) { reporter_ = reporter; }

  // False when the thread cannot be started (nothing changes then).
  // Otherwise the scan runs on this object's thread and ends by posting
  // JobMessage::ScanEnded with the number of rows added.
  bool start(const ImageBlock& image, CandidateList& list, const ScanSettings& settings);
  // What the last finished scan did; read after ScanEnded.
  const ScanSummary& summary() const { return summary_; }

 protected:
  int32_t run() override;

 private:
  const PluginHost& host_;
  EngineSet engines_;                  // this thread's own; made at the first start
  EngineSet besideEngines_;            // the scan's second thread's; empty on one core
  JobReporter* reporter_ = nullptr;    // not owned
  const ImageBlock* image_ = nullptr;  // not owned; set by start
  CandidateList* list_ = nullptr;      // not owned; set by start
  ScanSettings settings_;
  ScanSummary summary_;
};

}  // namespace kestrix
