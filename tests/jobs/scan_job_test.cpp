#include "jobs/scan_job.h"

#include <fcntl.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <gtest/gtest.h>
#include <unistd.h>

#include "job_test_support.h"

namespace kestrix::test {
namespace {

struct ScanCase {
  const char* name;
  std::string content;
  std::vector<std::string> names;  // rows in list order
  std::vector<uint64_t> starts;
};

std::string padded(std::string text, size_t size) {
  text.resize(size, '.');
  return text;
}

class ScanJobScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanJobScan, ListsTheExpectedCandidates) {
  const ScanCase& c = GetParam();
  FakeHost fake;
  RecordingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  std::unique_ptr<ImageFile> image;
  const uint64_t total =
      scanContent(fake, image, reporter, list, scratch.file("card.img"), c.content);
  EXPECT_EQ(total, c.names.size());
  ASSERT_EQ(list.itemCount(), static_cast<int32_t>(c.names.size()));
  for (size_t i = 0; i < c.names.size(); ++i) {
    CandidateInfo info;
    ASSERT_TRUE(list.candidateInfo(static_cast<int32_t>(i), info));
    EXPECT_EQ(info.name, c.names[i]);
    EXPECT_EQ(info.find.start, c.starts[i]);
  }
  for (const int percent : reporter.progress) {
    EXPECT_GE(percent, 0);
    EXPECT_LE(percent, 100);
  }
  // The list is disabled for the scan and given back at its end.
  ASSERT_EQ(reporter.listEnabled.size(), 2u);
  EXPECT_FALSE(reporter.listEnabled[0]);
  EXPECT_TRUE(reporter.listEnabled[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanJobScan,
    ::testing::Values(
        ScanCase{"EmptyImage", "", {}, {}},
        ScanCase{"ImageUnder100BytesDoesNotDivideByZero", "..[[x]]....", {"00000000.aaa"}, {2}},
        ScanCase{"HitEndingOnTheImagesLastByteIsListed",
                 "..[[x]]..[[y]]",
                 {"00000000.aaa", "00000001.aaa"},
                 {2, 9}},
        ScanCase{"ZeroLengthHitIsSkippedWithoutCounting",
                 "()..[[x]]..()..[[y]]..",
                 {"00000000.aaa", "00000001.aaa"},
                 {4, 15}},
        ScanCase{"NamesRestartForEachExtensionInRegistryOrder",
                 "{{b}}[[a]]..[[c]]..{{d}}..",
                 {"00000000.aaa", "00000001.aaa", "00000000.bbb", "00000001.bbb"},
                 {5, 12, 0, 19}},
        ScanCase{"EngineThatDoesNotMoveForwardEndsItsExtension",
                 "..[[x]]..@@..[[y]]..{{b}}..",
                 {"00000000.aaa", "00000000.bbb"},
                 {2, 20}},
        ScanCase{"HitAtTheVeryStartOfALongerImage", padded("[[x]]", 300), {"00000000.aaa"}, {0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScanJob, ProgressGoesOnceFromZeroToHundredOverTheWholeScan) {
  FakeHost fake;
  RecordingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  std::unique_ptr<ImageFile> image;
  std::string content(10000, '.');
  content.replace(4990, 10, "[[......]]");
  scanContent(fake, image, reporter, list, scratch.file("card.img"), content);
  ASSERT_EQ(list.itemCount(), 1);
  // One window, two extensions. On one core the find in the middle of the
  // first extension's half is a quarter of the way, half-way after the first
  // extension, then the end. With the second extension searched on another
  // core at the same time, the first one's pass stands for the whole
  // window: the find is half-way.
  const std::vector<int> expected = std::thread::hardware_concurrency() > 1
                                        ? std::vector<int>{0, 50, 100, 100, 100, 0}
                                        : std::vector<int>{0, 25, 50, 100, 100, 0};
  EXPECT_EQ(reporter.progress, expected);
}

// Holds the scan thread in its first progress report until the test has
// cleared the running flag, so the stop lands mid-scan every time.
class StoppingReporter : public RecordingReporter {
 public:
  void setProgress(int percent) override {
    RecordingReporter::setProgress(percent);
    std::unique_lock<std::mutex> lock(gate_);
    if (entered_) return;
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
  }
  void waitUntilEntered() {
    std::unique_lock<std::mutex> lock(gate_);
    changed_.wait(lock, [this] { return entered_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(gate_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex gate_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
};

TEST(ScanJob, StoppedScanSendsNoEndMessage) {
  FakeHost fake;
  StoppingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  std::unique_ptr<ImageFile> image =
      openContent(scratch.file("card.img"), "..[[x]]..[[y]]..{{z}}..");
  ASSERT_TRUE(image);
  ScanJob scan(fake.host);
  scan.setReporter(&reporter);
  ASSERT_TRUE(scan.start(*image, list, ScanSettings{ScanMode::SignatureRules}));
  reporter.waitUntilEntered();
  scan.setRunning(false);
  reporter.release();
  scan.stop();
  EXPECT_EQ(list.itemCount(), 0);
  EXPECT_TRUE(reporter.messages.empty());
  EXPECT_TRUE(scan.summary().stopped);
}

TEST(ScanJob, SecondStartWhileRunningIsRefused) {
  FakeHost fake;
  StoppingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  std::unique_ptr<ImageFile> image = openContent(scratch.file("card.img"), "..[[x]]..");
  ASSERT_TRUE(image);
  ScanJob scan(fake.host);
  scan.setReporter(&reporter);
  ASSERT_TRUE(scan.start(*image, list, ScanSettings{ScanMode::SignatureRules}));
  reporter.waitUntilEntered();
  EXPECT_FALSE(scan.start(*image, list, ScanSettings{ScanMode::SignatureRules}));
  reporter.release();
  EXPECT_EQ(reporter.waitForScanEnd(), 1u);
  scan.stop();
}

}  // namespace
}  // namespace kestrix::test
