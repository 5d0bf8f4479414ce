// The disk image copy against a drive double with bad sectors: the whole
// device, zero fill, the map, the passes, resume, a card that stops
// answering, damage lines, end messages and the files left behind.
#include "jobs/copy_job.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>

#include "jobs/job_reporter.h"
#include "jobs/media_header_writer.h"
#include "media/drive_error.h"
#include "media/memory_sector_device.h"
#include "media/raw_drive.h"
#include "media/rescue_map.h"
#include "media/test_files.h"
#include "texts/job_texts.h"

namespace kestrix {
namespace {

class RecordingReporter : public JobReporter {
 public:
  void post(const JobReport& report) override {
    messages.emplace_back(static_cast<uint32_t>(messageOf(report)), protocolValueOf(report));
  }
  void setProgress(int percent) override { progress.push_back(percent); }
  void setImageName(const std::string& path) override { imageName = path; }
  void copyStatus(const CopyStatus& status) override { statuses.push_back(status); }
  std::vector<std::pair<uint32_t, uint64_t>> messages;
  std::vector<int> progress;
  std::vector<CopyStatus> statuses;
  std::string imageName;
};

using Messages = std::vector<std::pair<uint32_t, uint64_t>>;

// A FAT16 card of `sectors` sectors with `perCluster` sectors per cluster;
// every sector holds its own number so misplaced data shows.
std::shared_ptr<test::MemoryDriveState> fatCard(uint32_t sectors, uint8_t perCluster,
                                                uint32_t bootSectors = 0) {
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes.resize(uint64_t{sectors} * 512);
  for (uint32_t s = 0; s < sectors; ++s) {
    for (int i = 0; i < 512; i += 4) std::memcpy(&state->bytes[uint64_t{s} * 512 + i], &s, 4);
  }
  auto boot = test::fat16BootSector(bootSectors != 0 ? bootSectors : sectors, perCluster);
  std::memcpy(state->bytes.data(), boot.data(), 512);
  return state;
}

// The sectors the map marks bad, as sector numbers.
std::vector<uint64_t> badSectorsOf(const RescueMap& map) {
  std::vector<uint64_t> sectors;
  map.forEachBlock([&](const MapBlock& block) {
    if (block.status != BlockStatus::BadSector) return;
    for (uint64_t s = block.pos / 512; s * 512 < block.end(); ++s) sectors.push_back(s);
  });
  return sectors;
}

struct Copy {
  CopyOutcome outcome;
  std::string text;
  std::vector<uint8_t> image;
  RecordingReporter reporter;
  std::string header;
  RescueMap map;
  uint64_t bytesRead = 0;
};

// Copies the card into folder/card.ksx; the image read back is the final
// file, or the ".part" when the copy did not finish.
Copy copyCard(
    const test::TempFolder& folder, std::shared_ptr<test::MemoryDriveState> state,
    std::function<bool()> shouldContinue = [] { return true; }, CopyOptions options = {}) {
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  EXPECT_EQ(drive.probe("card"), kDriveOk);
  auto badRanges = std::move(state->badRanges);  // the header is taken from a healthy read
  drive.open("card");
  Copy copy;
  writeMediaHeader(drive, copy.header);
  drive.close();
  state->badRanges = std::move(badRanges);
  CopyJob job(drive, copy.reporter);
  copy.outcome = job.run(folder.file("card.ksx"), shouldContinue, options);
  copy.text = job.resultText();
  const std::string path = folder.file("card.ksx");
  copy.image = test::readFile(std::filesystem::exists(path + ".part") ? path + ".part" : path);
  copy.map = job.map();
  copy.bytesRead = job.bytesRead();
  return copy;
}

Copy copyCard(std::shared_ptr<test::MemoryDriveState> state) {
  test::TempFolder folder;
  return copyCard(folder, std::move(state));
}

constexpr const char* kEndClean =
    "ディスクイメージの作成が完了しました。\r\n特にエラーは発生しませんでした。";
constexpr const char* kEndDamaged =
    "ディスクイメージの作成が完了しました。\r\nイメージ作成中にいくつかの障害が発生しましたが、作業"
    "は最後まで続行されました。";

TEST(CopyJob, CleanCardCopiesTheWholeDeviceWithAFinishedMap) {
  struct Case {
    const char* name;
    uint32_t sectors, bootSectors;
  };
  const Case cases[] = {
      {"trailing sectors past the last whole cluster", 10003, 0},
      {"a file system smaller than the card", 10000, 6000},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    auto state = fatCard(c.sectors, 4, c.bootSectors);
    Copy copy = copyCard(folder, state);
    ASSERT_EQ(copy.outcome, CopyOutcome::Finished) << c.name;
    ASSERT_EQ(copy.image.size(), uint64_t{c.sectors} * 512) << c.name;
    EXPECT_TRUE(copy.image == state->bytes) << c.name;
    EXPECT_EQ(copy.text, copy.header + kEndClean) << c.name;
    EXPECT_EQ(copy.reporter.messages, (Messages{{0x500, 1}})) << c.name;
    EXPECT_EQ(copy.reporter.progress.back(), 0) << c.name;
    EXPECT_NE(std::find(copy.reporter.progress.begin(), copy.reporter.progress.end(), 100),
              copy.reporter.progress.end())
        << c.name;
    EXPECT_TRUE(std::is_sorted(copy.reporter.progress.begin(), copy.reporter.progress.end() - 1))
        << c.name;
    EXPECT_EQ(copy.reporter.imageName, folder.file("card.ksx")) << c.name;
    EXPECT_FALSE(std::filesystem::exists(folder.file("card.ksx.part"))) << c.name;
    auto saved = RescueMap::load(folder.file("card.ksx.map"));
    ASSERT_TRUE(saved.map) << saved.error;
    EXPECT_EQ(saved.map->unfinishedBytes(), 0u) << c.name;
    EXPECT_EQ(saved.map->domainEnd(), uint64_t{c.sectors} * 512) << c.name;
    EXPECT_EQ(copy.bytesRead, uint64_t{c.sectors} * 512) << c.name << ": each byte read once";
  }
}

TEST(CopyJob, BadSectorsAreZeroFilledInPlaceLoggedAndMapped) {
  struct Case {
    const char* name;
    std::vector<uint64_t> bad;
    std::string lines;
  };
  const Case cases[] = {
      {"one sector in the middle of a cluster",
       {4097},
       "ディスク破損： 1024 クラスタ 4097 セクタ\r\n"},
      {"two areas in different runs, in order",
       {9, 9000, 9001},
       "ディスク破損： 2 クラスタ 9 セクタ\r\nディスク破損： 2250 クラスタ 9000 セクタ\r\n"
       "ディスク破損： 2250 クラスタ 9001 セクタ\r\n"},
      {"an area across a run boundary",
       {2047, 2048, 2049},
       "ディスク破損： 511 クラスタ 2047 セクタ\r\nディスク破損： 512 クラスタ 2048 セクタ\r\n"
       "ディスク破損： 512 クラスタ 2049 セクタ\r\n"},
      {"a trailing sector past the last cluster is copied too",
       {10001},
       "ディスク破損： 2500 クラスタ 10001 セクタ\r\n"},
      {"the very last sector", {10002}, "ディスク破損： 2500 クラスタ 10002 セクタ\r\n"},
  };
  for (const Case& c : cases) {
    auto state = fatCard(10003, 4);
    for (uint64_t s : c.bad) state->failSector(s);
    const std::vector<uint8_t> original = state->bytes;
    Copy copy = copyCard(state);
    ASSERT_EQ(copy.outcome, CopyOutcome::Finished) << c.name;
    ASSERT_EQ(copy.image.size(), 10003u * 512) << c.name;
    for (uint64_t s = 0; s < 10003; ++s) {
      const bool bad = std::find(c.bad.begin(), c.bad.end(), s) != c.bad.end();
      const uint8_t* got = copy.image.data() + s * 512;
      if (bad) {
        ASSERT_TRUE(std::all_of(got, got + 512, [](uint8_t b) { return b == 0; }))
            << c.name << " sector " << s;
      } else {
        ASSERT_EQ(std::memcmp(got, original.data() + s * 512, 512), 0) << c.name << " sector " << s;
      }
    }
    EXPECT_EQ(copy.text, copy.header + c.lines + kEndDamaged) << c.name;
    EXPECT_EQ(badSectorsOf(copy.map), c.bad) << c.name;
    EXPECT_EQ(copy.map.unfinishedBytes(), c.bad.size() * 512)
        << c.name << ": nothing left but bad sectors";
  }
}

TEST(CopyJob, PassesSkipAheadThenTrimThenScrape) {
  // Run 3 (sectors 6144-8191) holds bad sectors 6200 and 6300: pass 1 skips
  // run 4, pass 2 reads it, trimming reads 6144-6199 forward and 8191 down
  // to 6301, scraping reads 6201-6299 alone.
  auto state = fatCard(20480, 4);
  state->failSector(6200);
  state->failSector(6300);
  Copy copy = copyCard(state);
  ASSERT_EQ(copy.outcome, CopyOutcome::Finished);
  EXPECT_EQ(badSectorsOf(copy.map), (std::vector<uint64_t>{6200, 6300}));
  std::vector<uint64_t> runStarts;
  for (const auto& [offset, length] : state->readLog) {
    if (length == CopyJob::kRunBytes) runStarts.push_back(offset / CopyJob::kRunBytes);
  }
  // Runs 0-2, the failed 3, skip 4, 5-9, then pass 2 reads 4.
  EXPECT_EQ(runStarts, (std::vector<uint64_t>{0, 1, 2, 3, 5, 6, 7, 8, 9, 4}))
      << "with the probe's reads before";
  uint64_t singleSectorReads = 0;
  for (const auto& [offset, length] : state->readLog) singleSectorReads += length == 512 ? 1 : 0;
  // 56 forward, 1892 backward, 99 scraped, and the probe's boot-sector reads.
  EXPECT_GE(singleSectorReads, 56u + 2 + 1890u + 99u);
  EXPECT_LE(singleSectorReads, 56u + 2 + 1890u + 99u + 4u);
}

TEST(CopyJob, RetriesReadBadSectorsAgain) {
  struct Case {
    const char* name;
    uint32_t retries;
    std::vector<uint64_t> stillBad;
  };
  const Case cases[] = {
      {"no retries: the flaky sector stays bad", 0, {300, 301}},
      {"one retry recovers it", 1, {301}},
      {"more retries than needed change nothing else", 3, {301}},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    auto state = fatCard(4096, 4);
    // The run holding both fails on 301; 300 then fails its trim read once
    // and reads the time after.
    state->flakySectors = {{300, 1}};
    state->failSector(301);
    CopyOptions options;
    options.retries = c.retries;
    Copy copy = copyCard(
        folder, state, [] { return true; }, options);
    ASSERT_EQ(copy.outcome, CopyOutcome::Finished) << c.name;
    EXPECT_EQ(badSectorsOf(copy.map), c.stillBad) << c.name;
    const bool recovered = c.stillBad.size() == 1;
    EXPECT_EQ(std::memcmp(copy.image.data() + 300 * 512, state->bytes.data() + 300 * 512, 512) == 0,
              recovered)
        << c.name;
  }
}

TEST(CopyJob, BytesReadAreTheBytesTheMapMarksFinished) {
  // The summary prints both figures side by side: failed reads, the retries
  // of sectors that stay bad and the re-reads of a liveness check put
  // nothing into the image, so they must not count as read.
  std::vector<uint64_t> longArea;
  for (uint64_t s = 8192; s < 8192 + 40; ++s) longArea.push_back(s);
  struct Case {
    const char* name;
    std::vector<uint64_t> bad;
    uint32_t retries;
  };
  const Case cases[] = {
      {"a clean card", {}, 0},
      {"failed runs, trimmed and scraped", {6200, 6300}, 0},
      {"retries of sectors that stay bad", {301, 302}, 2},
      {"a long bad area: liveness checks re-read a finished sector", longArea, 0},
  };
  for (const Case& c : cases) {
    auto state = fatCard(20480, 4);
    for (uint64_t s : c.bad) state->failSector(s);
    test::TempFolder folder;
    CopyOptions options;
    options.retries = c.retries;
    Copy copy = copyCard(
        folder, state, [] { return true; }, options);
    ASSERT_EQ(copy.outcome, CopyOutcome::Finished) << c.name;
    EXPECT_EQ(badSectorsOf(copy.map), c.bad) << c.name;
    EXPECT_EQ(copy.bytesRead, copy.map.bytesWith(BlockStatus::Finished)) << c.name;
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
  EXPECT_EQ(badSectorsOf(copy.map).size(), 1000u) << "the map names every one";
}

TEST(CopyJob, FailuresPostANoticeThenFailedEnd) {
  test::TempFolder folder;
  auto state = fatCard(1000, 4);
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  ASSERT_EQ(drive.probe("card"), kDriveOk);
  RecordingReporter reporter;
  CopyJob job(drive, reporter);
  EXPECT_EQ(job.run(folder.file("no/such/folder.ksx"), [] { return true; }), CopyOutcome::Failed);
  EXPECT_EQ(reporter.messages, (Messages{{0x410, 0x10}, {0x500, 0}}));
  EXPECT_TRUE(job.resultText().empty());

  state->openError = ENOMEDIUM;  // the card was pulled after the probe
  reporter.messages.clear();
  EXPECT_EQ(job.run(folder.file("pulled.ksx"), [] { return true; }), CopyOutcome::Failed);
  EXPECT_EQ(reporter.messages, (Messages{{0x410, 0x11}, {0x500, 0}}));
  EXPECT_FALSE(std::filesystem::exists(folder.file("pulled.ksx")));
  // The words the window and the command line show for these two.
  EXPECT_STREQ(copyNoticeText(0x10), "バックアップファイルを開くことができませんでした。");
  EXPECT_STREQ(copyNoticeText(0x11), "ドライブを開くことができませんでした。");
}

TEST(CopyJob, ACardThatStopsAnsweringEndsTheRunAtOnce) {
  struct Case {
    const char* name;
    int error;
  };
  const Case cases[] = {
      {"EIO on every read", EIO},
      {"ENODEV: the reader is gone", ENODEV},
      {"ENOMEDIUM: the card is out", ENOMEDIUM},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    auto state = fatCard(40960, 4);  // 20 MiB
    RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
    ASSERT_EQ(drive.probe("card"), kDriveOk);
    state->bytesRead = 0;
    state->failAfterBytes = 5 << 20;
    state->failAllWith = c.error;
    state->reads = 0;
    RecordingReporter reporter;
    CopyJob job(drive, reporter);
    EXPECT_EQ(job.run(folder.file("card.ksx"), [] { return true; }), CopyOutcome::DriveLost)
        << c.name;
    EXPECT_EQ(reporter.messages, (Messages{{0x410, CopyNoticeDriveLost}, {0x500, 0}})) << c.name;
    EXPECT_LE(state->reads, 5 + 2 + int{CopyJob::kFailuresBeforeLivenessCheck})
        << c.name << ": not sector by sector";
    EXPECT_FALSE(std::filesystem::exists(folder.file("card.ksx"))) << c.name;
    auto saved = RescueMap::load(folder.file("card.ksx.part.map"));
    ASSERT_TRUE(saved.map) << saved.error;
    EXPECT_EQ(saved.map->bytesWith(BlockStatus::Finished), uint64_t{5} << 20) << c.name;
    EXPECT_EQ(saved.map->bytesWith(BlockStatus::BadSector), 0u)
        << c.name << ": nothing is called bad";
  }
}

TEST(CopyJob, StopKeepsTheMapAndAResumeGivesTheSameImage) {
  test::TempFolder folder;
  auto state = fatCard(40963, 4);
  state->failSector(777);
  state->failSector(30000);
  int asked = 0;
  Copy stopped = copyCard(folder, state, [&] { return ++asked < 8; });
  EXPECT_EQ(stopped.outcome, CopyOutcome::Stopped);
  EXPECT_TRUE(stopped.reporter.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(folder.file("card.ksx")))
      << "no partial image under the final name";
  EXPECT_FALSE(std::filesystem::exists(folder.file("card.ksx.map"))) << "nor a map of one";
  auto saved = RescueMap::load(folder.file("card.ksx.part.map"));
  ASSERT_TRUE(saved.map) << saved.error;
  const uint64_t finished = saved.map->bytesWith(BlockStatus::Finished);
  EXPECT_GT(finished, 0u);

  state->readLog.clear();
  CopyOptions resume;
  resume.resume = true;
  Copy resumed = copyCard(
      folder, state, [] { return true; }, resume);
  ASSERT_EQ(resumed.outcome, CopyOutcome::Finished);
  EXPECT_EQ(resumed.bytesRead, resumed.map.bytesWith(BlockStatus::Finished) - finished)
      << "only the unfinished areas, each counted once";
  for (const auto& [offset, length] : state->readLog) {
    if (offset < 512 * 80) continue;  // the probe's head reads
    EXPECT_NE(saved.map->statusAt(offset), BlockStatus::Finished)
        << "re-read finished bytes at " << offset;
  }

  test::TempFolder other;
  Copy whole = copyCard(other, state);
  ASSERT_EQ(whole.outcome, CopyOutcome::Finished);
  EXPECT_TRUE(resumed.image == whole.image) << "resume gives what one uninterrupted copy gives";
  EXPECT_EQ(badSectorsOf(resumed.map), (std::vector<uint64_t>{777, 30000}));
  EXPECT_EQ(resumed.text, whole.text);
}

TEST(CopyJob, ResumeRefusesAnotherDrivesMap) {
  struct Case {
    const char* name;
    uint32_t sectors;
    std::string mapText;
    uint32_t notice;
  };
  const Case cases[] = {
      {"another size", 2048, "", CopyNoticeMapOfAnotherDrive},
      {"another identity", 1024, "# kestrix-device-id: block:serial=OTHER\n0 ? 1\n0 0x80000 ?\n",
       CopyNoticeMapOfAnotherDrive},
      {"a map that is no map", 1024, "garbage\n", CopyNoticeMapUnusable},
      {"no map at all", 1024, "-", CopyNoticeMapUnusable},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    {
      auto first = fatCard(c.sectors, 4);
      Copy copy = copyCard(folder, first);
      ASSERT_EQ(copy.outcome, CopyOutcome::Finished) << c.name;
    }
    if (c.mapText == "-")
      std::filesystem::remove(folder.file("card.ksx.map"));
    else if (!c.mapText.empty())
      test::writeFile(folder.file("card.ksx.map"), {c.mapText.begin(), c.mapText.end()});
    const auto before = test::readFile(folder.file("card.ksx"));
    auto state = fatCard(1024, 4);
    CopyOptions resume;
    resume.resume = true;
    Copy copy = copyCard(
        folder, state, [] { return true; }, resume);
    EXPECT_EQ(copy.outcome, CopyOutcome::Failed) << c.name;
    EXPECT_EQ(copy.reporter.messages, (Messages{{0x410, c.notice}, {0x500, 0}})) << c.name;
    EXPECT_TRUE(test::readFile(folder.file("card.ksx")) == before) << c.name << ": image untouched";
  }
}

TEST(CopyJob, AResumeWhosePartialImageIsGone) {
  struct Case {
    const char* name;
    int reads;
    CopyOutcome outcome;
  };
  const Case cases[] = {
      {"stopped before the first read: starts the image anew", 0, CopyOutcome::Finished},
      {"stopped with areas finished: refused, the old image untouched", 3, CopyOutcome::Failed},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    const std::string path = folder.file("card.ksx");
    const std::vector<uint8_t> old(4096, 0x77);
    test::writeFile(path, old);
    auto state = fatCard(8000, 4);
    int asked = 0;
    ASSERT_EQ(copyCard(folder, state, [&] { return asked++ < c.reads; }).outcome,
              CopyOutcome::Stopped)
        << c.name;
    std::filesystem::remove(path + ".part");
    CopyOptions resume;
    resume.resume = true;
    Copy copy = copyCard(
        folder, state, [] { return true; }, resume);
    EXPECT_EQ(copy.outcome, c.outcome) << c.name;
    if (c.outcome == CopyOutcome::Finished) {
      EXPECT_TRUE(test::readFile(path) == state->bytes) << c.name;
    } else {
      EXPECT_EQ(copy.reporter.messages, (Messages{{0x410, CopyNoticeMapUnusable}, {0x500, 0}}))
          << c.name;
      EXPECT_TRUE(test::readFile(path) == old) << c.name;
    }
  }
}

TEST(CopyJob, AnExistingImageAndItsMapSurviveUntilTheNewCopyIsComplete) {
  // A complete image of one card, then runs over it that do not finish: the
  // old image and its map must stay as they were (a new map beside them
  // would make the old image scan as incomplete), and a resume must find
  // the new copy's map beside its ".part".
  struct Case {
    const char* name;
    CopyOutcome outcome;
  };
  const Case cases[] = {
      {"stopped part-way", CopyOutcome::Stopped},
      {"the card pulled part-way", CopyOutcome::DriveLost},
      {"the image folder full part-way", CopyOutcome::Failed},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    const std::string path = folder.file("card.ksx");
    auto first = fatCard(8000, 4);
    first->failSector(5000);
    ASSERT_EQ(copyCard(folder, first).outcome, CopyOutcome::Finished) << c.name;
    const auto oldImage = test::readFile(path);
    const auto oldMap = test::readFile(path + ".map");

    auto state = fatCard(8000, 4);
    int asked = 0;
    // A full disk: no file grows past 2 MiB (the old image is larger
    // already and is never written).
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    if (c.outcome == CopyOutcome::Failed) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit full = {2 << 20, before.rlim_max};
      setrlimit(RLIMIT_FSIZE, &full);
    }
    Copy broken = copyCard(folder, state, [&] {
      if (++asked < 3) return true;
      if (c.outcome == CopyOutcome::Stopped) return false;
      if (c.outcome == CopyOutcome::DriveLost)
        state->failAllWith = ENOMEDIUM, state->failAfterBytes = 0;
      return true;
    });
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(broken.outcome, c.outcome) << c.name;
    EXPECT_TRUE(test::readFile(path) == oldImage) << c.name << ": the old image is untouched";
    EXPECT_TRUE(test::readFile(path + ".map") == oldMap) << c.name << ": the old map is untouched";
    auto partMap = RescueMap::load(path + ".part.map");
    ASSERT_TRUE(partMap.map) << c.name << ": " << partMap.error;
    EXPECT_GT(partMap.map->unfinishedBytes(), 0u) << c.name;

    state->failAfterBytes = UINT64_MAX;
    CopyOptions resume;
    resume.resume = true;
    Copy resumed = copyCard(
        folder, state, [] { return true; }, resume);
    ASSERT_EQ(resumed.outcome, CopyOutcome::Finished) << c.name;
    EXPECT_TRUE(test::readFile(path) == state->bytes) << c.name << ": the new copy, whole";
    auto finalMap = RescueMap::load(path + ".map");
    ASSERT_TRUE(finalMap.map) << c.name << ": " << finalMap.error;
    EXPECT_EQ(finalMap.map->unfinishedBytes(), 0u)
        << c.name << ": the old map's bad sector is gone with it";
    EXPECT_FALSE(std::filesystem::exists(path + ".part")) << c.name;
    EXPECT_FALSE(std::filesystem::exists(path + ".part.map")) << c.name;
  }
}

TEST(CopyJob, AnExistingImageSurvivesUntilTheNewCopyIsComplete) {
  test::TempFolder folder;
  const std::string path = folder.file("card.ksx");
  const std::vector<uint8_t> old(1 << 20, 0x77);
  test::writeFile(path, old);
  Copy done = copyCard(folder, fatCard(800, 4));
  ASSERT_EQ(done.outcome, CopyOutcome::Finished);
  EXPECT_EQ(test::readFile(path).size(), 800u * 512) << "replaced whole, no stale tail";
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

TEST(CopyJob, AResumeAfterTheImageWasRenamedButNotItsMapMovesTheMap) {
  // A run that ended between the two renames left the finished image in
  // place and its map still beside the ".part" that is gone.
  test::TempFolder folder;
  const std::string path = folder.file("card.ksx");
  auto state = fatCard(4000, 4);
  state->failSector(1234);
  ASSERT_EQ(copyCard(folder, state).outcome, CopyOutcome::Finished);
  std::filesystem::rename(path + ".map", path + ".part.map");
  state->badRanges.clear();
  CopyOptions resume;
  resume.resume = true;
  resume.retries = 1;
  Copy resumed = copyCard(
      folder, state, [] { return true; }, resume);
  ASSERT_EQ(resumed.outcome, CopyOutcome::Finished);
  EXPECT_TRUE(test::readFile(path) == state->bytes) << "the bad sector read again in place";
  EXPECT_FALSE(std::filesystem::exists(path + ".part.map"));
  auto moved = RescueMap::load(path + ".map");
  ASSERT_TRUE(moved.map) << moved.error;
  EXPECT_EQ(moved.map->unfinishedBytes(), 0u);
}

}  // namespace
}  // namespace kestrix
