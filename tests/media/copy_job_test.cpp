// The disk image copy against a drive double with bad sectors: salvage, zero
// fill, damage lines, the log bound, end messages and the media header.
#include "jobs/copy_job.h"

#include <gtest/gtest.h>

#include <cstring>

#include "jobs/image_buffer.h"
#include "jobs/job_reporter.h"
#include "jobs/media_header_writer.h"
#include "media/drive_error.h"
#include "media/memory_sector_device.h"
#include "media/raw_drive.h"
#include "media/test_files.h"

namespace kestrix {
namespace {

class RecordingReporter : public JobReporter {
 public:
  void post(JobMessage message, uint64_t wParam, int64_t) override {
    messages.emplace_back(static_cast<uint32_t>(message), wParam);
  }
  void setProgress(int percent) override { progress.push_back(percent); }
  void setImageName(const std::string& path) override { imageName = path; }
  std::vector<std::pair<uint32_t, uint64_t>> messages;
  std::vector<int> progress;
  std::string imageName;
};

// A FAT16 card of `sectors` sectors with `perCluster` sectors per cluster;
// every sector holds its own number so misplaced data shows.
std::shared_ptr<test::MemoryDriveState> fatCard(uint32_t sectors, uint8_t perCluster) {
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes.resize(uint64_t{sectors} * 512);
  for (uint32_t s = 0; s < sectors; ++s) {
    for (int i = 0; i < 512; i += 4) std::memcpy(&state->bytes[uint64_t{s} * 512 + i], &s, 4);
  }
  auto boot = test::fat16BootSector(sectors, perCluster);
  std::memcpy(state->bytes.data(), boot.data(), 512);
  return state;
}

struct Copy {
  CopyOutcome outcome;
  std::string text;
  std::vector<uint8_t> image;
  RecordingReporter reporter;
  std::string header;
};

Copy copyCard(std::shared_ptr<test::MemoryDriveState> state, std::function<bool()> shouldContinue = [] { return true; }) {
  test::TempFolder folder;
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  EXPECT_EQ(drive.probe("card"), kDriveOk);
  std::vector<uint8_t> bad;
  auto badRanges = std::move(state->badRanges);  // the header is taken from a healthy read
  drive.open("card");
  Copy copy;
  writeMediaHeader(drive, copy.header);
  drive.close();
  state->badRanges = std::move(badRanges);
  ImageBuffer image;
  CopyJob job(drive, image, copy.reporter);
  copy.outcome = job.run(folder.file("card.ksx"), shouldContinue);
  copy.text = job.resultText();
  copy.image = test::readFile(folder.file("card.ksx"));
  return copy;
}

constexpr const char* kEndClean = "ディスクイメージの作成が完了しました。\r\n特にエラーは発生しませんでした。";
constexpr const char* kEndDamaged =
    "ディスクイメージの作成が完了しました。\r\nイメージ作成中にいくつかの障害が発生しましたが、作業は最後まで続行されました。";

TEST(CopyJob, CleanCardCopiesWholeClustersOnly) {
  // 10003 sectors, 4 per cluster: the last 3 sectors are not in the image.
  auto state = fatCard(10003, 4);
  Copy copy = copyCard(state);
  ASSERT_EQ(copy.outcome, CopyOutcome::Finished);
  ASSERT_EQ(copy.image.size(), 10000u * 512);
  EXPECT_TRUE(std::equal(copy.image.begin(), copy.image.end(), state->bytes.begin()));
  EXPECT_EQ(copy.text, copy.header + kEndClean);
  ASSERT_EQ(copy.reporter.messages.size(), 1u);
  EXPECT_EQ(copy.reporter.messages[0], std::make_pair(0x500u, uint64_t{1}));
  EXPECT_EQ(copy.reporter.progress.back(), 0);
  EXPECT_NE(std::find(copy.reporter.progress.begin(), copy.reporter.progress.end(), 100), copy.reporter.progress.end());
  EXPECT_TRUE(std::is_sorted(copy.reporter.progress.begin(), copy.reporter.progress.end() - 1));
  EXPECT_EQ(copy.reporter.imageName.empty(), false);
}

TEST(CopyJob, BadSectorsAreZeroFilledInPlaceAndLogged) {
  struct Case { const char* name; std::vector<uint64_t> bad; std::string lines; };
  const Case cases[] = {
      {"one sector in the middle of a cluster", {4097},
       "ディスク破損： 1024 クラスタ 4097 セクタ\r\n"},
      {"two clusters in different runs, in order", {9, 9000, 9001},
       "ディスク破損： 2 クラスタ 9 セクタ\r\nディスク破損： 2250 クラスタ 9000 セクタ\r\n"
       "ディスク破損： 2250 クラスタ 9001 セクタ\r\n"},
      {"last sector of the last whole cluster", {9999},
       "ディスク破損： 2499 クラスタ 9999 セクタ\r\n"},
      {"a trailing sector past the last cluster is never read", {10001}, ""},
  };
  for (const Case& c : cases) {
    auto state = fatCard(10003, 4);
    for (uint64_t s : c.bad) state->failSector(s);
    const std::vector<uint8_t> original = state->bytes;
    Copy copy = copyCard(state);
    ASSERT_EQ(copy.outcome, CopyOutcome::Finished) << c.name;
    ASSERT_EQ(copy.image.size(), 10000u * 512) << c.name;
    for (uint64_t s = 0; s < 10000; ++s) {
      const bool bad = std::find(c.bad.begin(), c.bad.end(), s) != c.bad.end();
      const uint8_t* got = copy.image.data() + s * 512;
      if (bad) {
        ASSERT_TRUE(std::all_of(got, got + 512, [](uint8_t b) { return b == 0; })) << c.name << " sector " << s;
      } else {
        ASSERT_EQ(std::memcmp(got, original.data() + s * 512, 512), 0) << c.name << " sector " << s;
      }
    }
    EXPECT_EQ(copy.text, copy.header + c.lines + (c.lines.empty() ? kEndClean : kEndDamaged)) << c.name;
  }
}

TEST(CopyJob, DamageLogStopsAtItsBoundButTheEndMessageStillSaysSo) {
  auto state = fatCard(4000, 1);
  for (uint64_t s = 100; s < 1100; ++s) state->failSector(s);
  Copy copy = copyCard(state);
  ASSERT_EQ(copy.outcome, CopyOutcome::Finished);
  ASSERT_TRUE(copy.text.ends_with(kEndDamaged));
  const size_t damageBytes = copy.text.size() - copy.header.size() - std::strlen(kEndDamaged);
  EXPECT_GE(damageBytes, CopyJob::kDamageLogLimit);
  EXPECT_LT(damageBytes, CopyJob::kDamageLogLimit + 64) << "at most one line past the bound";
  EXPECT_EQ(copy.text.find("ディスク破損： 1099 クラスタ"), std::string::npos);
}

TEST(CopyJob, FailuresPostANoticeThenFailedEnd) {
  test::TempFolder folder;
  {
    auto state = fatCard(1000, 4);
    RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
    ASSERT_EQ(drive.probe("card"), kDriveOk);
    RecordingReporter reporter;
    ImageBuffer image;
    CopyJob job(drive, image, reporter);
    EXPECT_EQ(job.run(folder.file("no/such/folder.ksx"), [] { return true; }), CopyOutcome::Failed);
    EXPECT_EQ(reporter.messages, (std::vector<std::pair<uint32_t, uint64_t>>{{0x410, 0x10}, {0x500, 0}}));
    EXPECT_TRUE(job.resultText().empty());

    state->openError = ENOMEDIUM;  // the card was pulled after the probe
    reporter.messages.clear();
    EXPECT_EQ(job.run(folder.file("pulled.ksx"), [] { return true; }), CopyOutcome::Failed);
    EXPECT_EQ(reporter.messages, (std::vector<std::pair<uint32_t, uint64_t>>{{0x410, 0x11}, {0x500, 0}}));
    EXPECT_TRUE(test::readFile(folder.file("pulled.ksx")).empty());
  }
}

TEST(CopyJob, ClearedRunningFlagStopsWithoutAMessage) {
  auto state = fatCard(100000, 4);
  int asked = 0;
  // The flag is asked once per run of clusters read together.
  Copy copy = copyCard(state, [&] { return ++asked < 20; });
  EXPECT_EQ(copy.outcome, CopyOutcome::Stopped);
  EXPECT_TRUE(copy.reporter.messages.empty());
  EXPECT_EQ(asked, 20);
  EXPECT_EQ(copy.image.size(), 19u * CopyJob::kRunBytes) << "runs before the stop are kept";
}

TEST(CopyJob, ReplacingALongerImageLeavesNoStaleBytes) {
  test::TempFolder folder;
  const std::string path = folder.file("card.ksx");
  test::writeFile(path, std::vector<uint8_t>(1 << 20, 0x77));
  auto state = fatCard(800, 4);
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  ASSERT_EQ(drive.probe("card"), kDriveOk);
  RecordingReporter reporter;
  ImageBuffer image;
  CopyJob job(drive, image, reporter);
  ASSERT_EQ(job.run(path, [] { return true; }), CopyOutcome::Finished);
  EXPECT_EQ(test::readFile(path).size(), 800u * 512);
}

}  // namespace
}  // namespace kestrix
