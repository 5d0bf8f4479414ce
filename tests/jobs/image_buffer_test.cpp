#include "jobs/image_buffer.h"

#include <fcntl.h>
#include <condition_variable>
#include <mutex>
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

class ImageBufferScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ImageBufferScan, ListsTheExpectedCandidates) {
  const ScanCase& c = GetParam();
  FakeHost fake;
  RecordingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  ImageBuffer image(&fake.host, &reporter);
  const uint64_t total =
      scanContent(fake, image, reporter, list, scratch.file("card.img"), c.content);
  EXPECT_EQ(total, c.names.size());
  ASSERT_EQ(list.itemCount(), static_cast<int32_t>(c.names.size()));
  for (size_t i = 0; i < c.names.size(); ++i) {
    CandidateInfo info;
    ASSERT_TRUE(list.candidateInfo(static_cast<int32_t>(i), info));
    EXPECT_EQ(info.name, c.names[i]);
    EXPECT_EQ(info.start, c.starts[i]);
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
    Cases, ImageBufferScan,
    ::testing::Values(
        ScanCase{"EmptyImage", "", {}, {}},
        ScanCase{"ImageUnder100BytesDoesNotDivideByZero", "..[[x]]....", {"00000000.aaa"}, {2}},
        ScanCase{"HitEndingAtTheImageEndIsNotListed", "..[[x]]..[[y]]", {"00000000.aaa"}, {2}},
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
        ScanCase{"HitAtTheVeryStartOfALongerImage",
                 padded("[[x]]", 300), {"00000000.aaa"}, {0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageBuffer, ProgressIsHitEndOverHundredthOfTheSize) {
  FakeHost fake;
  RecordingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  ImageBuffer image(&fake.host, &reporter);
  std::string content(10000, '.');
  content.replace(4990, 10, "[[......]]");  // the hit ends at 5000
  scanContent(fake, image, reporter, list, scratch.file("card.img"), content);
  ASSERT_EQ(list.itemCount(), 1);
  // Per extension: 0, the hit's 50, then 100 and 0.
  EXPECT_EQ(reporter.progress, (std::vector<int>{0, 50, 100, 0, 0, 100, 0}));
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

TEST(ImageBuffer, StoppedScanSendsNoEndMessage) {
  FakeHost fake;
  StoppingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  ImageBuffer image(&fake.host, &reporter);
  writeFile(scratch.file("card.img"), "..[[x]]..[[y]]..{{z}}..");
  ASSERT_EQ(image.LoadImage(scratch.file("card.img")), LoadStatus::Loaded);
  ASSERT_TRUE(image.StartScan(&list, ScanModeNormal));
  reporter.waitUntilEntered();
  image.setRunning(false);
  reporter.release();
  image.stop();
  EXPECT_EQ(list.itemCount(), 0);
  EXPECT_TRUE(reporter.messages.empty());
}

TEST(ImageBuffer, SecondScanUsesTheLoadedBlockWithoutReadingTheFileAgain) {
  FakeHost fake;
  RecordingReporter first;
  ScratchFolder scratch;
  CandidateList list;
  ImageBuffer image(&fake.host, &first);
  scanContent(fake, image, first, list, scratch.file("card.img"), "..[[x]]..");
  writeFile(scratch.file("card.img"), "..........[[y]]..[[z]]..");
  RecordingReporter second;
  image.setReporter(&second);
  list.clear();
  ASSERT_EQ(image.LoadImage(scratch.file("card.img")), LoadStatus::Loaded);
  ASSERT_TRUE(image.StartScan(&list, ScanModeNormal));
  EXPECT_EQ(second.waitForScanEnd(), 1u);
  image.stop();
  CandidateInfo info;
  ASSERT_TRUE(list.candidateInfo(0, info));
  EXPECT_EQ(info.start, 2u);
}

TEST(ImageBuffer, ImageOf4GiBIsRefusedNotTruncated) {
  ScratchFolder scratch;
  const std::string path = scratch.file("huge.img");
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t{1} << 32), 0);  // sparse: no disk space used
  close(fd);
  ImageBuffer image;
  EXPECT_EQ(image.LoadImage(path), LoadStatus::TooLarge);
  EXPECT_FALSE(image.IsLoaded());
  EXPECT_STRNE(loadStatusMessage(LoadStatus::TooLarge), "");
}

TEST(ImageBuffer, ReadFailureReleasesTheBlock) {
  ScratchFolder scratch;
  ImageBuffer image;
  // A folder opens for reading but every read fails (EISDIR).
  EXPECT_EQ(image.LoadImage(scratch.path()), LoadStatus::ReadFailed);
  EXPECT_FALSE(image.IsLoaded());
}

TEST(ImageBuffer, FailedOpenLeavesNoFileSoTheNextAttemptOpensAgain) {
  ScratchFolder scratch;
  ImageBuffer image;
  const std::string path = scratch.file("late.img");
  EXPECT_EQ(image.LoadImage(path), LoadStatus::OpenFailed);
  writeFile(path, "abc");
  EXPECT_EQ(image.LoadImage(path), LoadStatus::Loaded);
  EXPECT_EQ(image.size(), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()), 3), "abc");
}

TEST(ImageBuffer, StartScanWithoutBlockFails) {
  CandidateList list;
  ImageBuffer image;
  EXPECT_FALSE(image.StartScan(&list, ScanModeNormal));
}

TEST(ImageBuffer, WriteBytesNeedsAnOpenFileAndEmptiesAnOlderImage) {
  ScratchFolder scratch;
  ImageBuffer image;
  uint32_t written = 99;
  EXPECT_FALSE(image.WriteBytes("abc", 3, &written));
  EXPECT_EQ(written, 0u);
  const std::string path = scratch.file("copy.ksx");
  writeFile(path, "an older and longer image");
  ASSERT_TRUE(image.OpenFile(path, FileAccess::Write));
  EXPECT_FALSE(image.OpenFile(path, FileAccess::Write));  // already open
  EXPECT_TRUE(image.WriteBytes("abc", 3, &written));
  EXPECT_EQ(written, 3u);
  image.CloseFile();
  EXPECT_EQ(readFile(path), "abc");
}

}  // namespace
}  // namespace kestrix::test
