// One scan as the window does it, for the command line: plug-ins loaded from
// the program's folder, the image loaded whole, the scan run on the image
// buffer's own thread, and the end awaited through the job messages.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "host/plugin_host.h"
#include "jobs/image_buffer.h"
#include "jobs/job_reporter.h"
#include "ui/candidate_list.h"

namespace kestrix {

class ScanSession : public JobReporter {
 public:
  // Loads the plug-ins next to the program; warns on stderr when none loads.
  ScanSession();
  ~ScanSession() override;

  // Loads the image and scans it in `mode`. False with the user's message
  // in `error` when the image cannot be loaded or the scan cannot start.
  bool scan(const std::string& imagePath, int32_t mode, std::string& error);

  ImageBuffer& image() { return image_; }
  CandidateList& list() { return list_; }

  void post(JobMessage message, uint64_t wParam, int64_t lParam) override;
  void setProgress(int) override {}

 private:
  PluginHost host_;
  CandidateList list_;
  ImageBuffer image_;  // after list_: the scan thread ends before the list goes
  std::mutex mutex_;
  std::condition_variable ended_;
  bool scanEnded_ = false;  // 0x401 arrived
};

// Prints a message for the terminal: the system's CR LF become LF.
void printError(const std::string& message);

}  // namespace kestrix
