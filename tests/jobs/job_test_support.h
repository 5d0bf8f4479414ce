// Shared fixtures of the job tests: the fake plug-in loaded into a private
// registry, a reporter that records what jobs tell it, and scratch files.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "core/candidate_list.h"
#include "core/image_file.h"
#include "core/image_scan.h"
#include "host/extension_registry.h"
#include "host/plugin_host.h"
#include "jobs/job_reporter.h"
#include "jobs/scan_job.h"

namespace kestrix::test {

class RecordingReporter : public JobReporter {
 public:
  void post(const JobReport& report) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages.push_back({messageOf(report), protocolValueOf(report)});
    posted_.notify_all();
  }
  void setProgress(int percent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    progress.push_back(percent);
  }
  void setListEnabled(bool enabled) override {
    std::lock_guard<std::mutex> lock(mutex_);
    listEnabled.push_back(enabled);
  }
  void countProgress(uint64_t done, uint64_t total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    counts.emplace_back(done, total);
  }
  // Waits for the scan's end message and returns its total.
  uint64_t waitForScanEnd() {
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait(lock, [this] {
      for (const auto& m : messages) {
        if (m.first == JobMessage::ScanEnded) return true;
      }
      return false;
    });
    for (const auto& m : messages) {
      if (m.first == JobMessage::ScanEnded) return m.second;
    }
    return 0;
  }

  std::vector<std::pair<JobMessage, uint64_t>> messages;
  std::vector<int> progress;
  std::vector<std::pair<uint64_t, uint64_t>> counts;  // countProgress: done, total
  std::vector<bool> listEnabled;

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
};

// A scratch folder removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/kestrix-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// The fake plug-in, registered into a registry of its own.
struct FakeHost {
  ExtensionRegistry registry;
  PluginHost host{registry};
  FakeHost() { host.LoadPlugin(KESTRIX_FAKE_PLUGIN); }
};

// Writes `content` as an image file and maps it; null when that fails.
inline std::unique_ptr<ImageFile> openContent(const std::string& path, const std::string& content) {
  writeFile(path, content);
  return ImageFile::open(path).image;
}

// Writes and maps `content`, then scans it on a ScanJob as the window does;
// returns the end message's total (UINT64_MAX when the scan cannot start).
inline uint64_t scanContent(FakeHost& fake, std::unique_ptr<ImageFile>& image,
                            RecordingReporter& reporter, CandidateList& list,
                            const std::string& path, const std::string& content,
                            ScanMode mode = ScanMode::SignatureRules) {
  image = openContent(path, content);
  if (!image) return UINT64_MAX;
  ScanJob scan(fake.host);
  scan.setReporter(&reporter);
  ScanSettings settings;
  settings.mode = mode;
  if (!scan.start(*image, list, settings)) return UINT64_MAX;
  const uint64_t total = reporter.waitForScanEnd();
  scan.stop();
  return total;
}

}  // namespace kestrix::test
