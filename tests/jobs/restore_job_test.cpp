#include "jobs/restore_job.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>

#include "job_test_support.h"
#include "texts/restore_list_writer.h"
#include "texts/job_texts.h"

namespace kestrix::test {
namespace {

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A scanned image of `content` with every row chosen.
struct ScannedImage {
  FakeHost fake;
  RecordingReporter reporter;
  ScratchFolder scratch;
  std::unique_ptr<ImageFile> image;
  EngineSet engines = fake.host.createEngineSet();
  CandidateList list;           // after image: the rows go before the mapping they view
  std::vector<int32_t> chosen;  // the rows a restore is given, as the window's selection
  explicit ScannedImage(const std::string& content, ScanMode mode = ScanMode::SignatureRules) {
    scanContent(fake, image, reporter, list, scratch.file("card.img"), content, mode);
    for (int32_t row = 0; row < list.itemCount(); ++row) chosen.push_back(row);
  }
  uint32_t restore(
      RestoreJob& job, JobReporter* to,
      const RestoreJob::ShouldContinue& go = [] { return true; }) {
    return job.restoreSelected(list, chosen, *image, engines, to, go);
  }
};

struct NameCase {
  const char* name;
  const char* rowName;
};

class RestoreRefusesRowName : public ::testing::TestWithParam<NameCase> {};

TEST_P(RestoreRefusesRowName, AndGoesOnWithTheOtherRows) {
  ScannedImage scanned("[[first]]..[[second]]..[[third]]..");
  ASSERT_EQ(scanned.list.itemCount(), 3);
  ASSERT_TRUE(scanned.list.setItemName(1, GetParam().rowName));
  ScratchFolder outside;
  const std::string destination = outside.path() + "/inner";
  mkdir(destination.c_str(), 0755);
  RestoreJob job;
  job.setDestination(destination);
  RecordingReporter reporter;
  EXPECT_EQ(scanned.restore(job, &reporter), 2u);
  const RestoreOutcome& outcome = job.outcome();
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].row, 1);
  EXPECT_FALSE(fileProblemText(outcome.failures[0].problem).empty());
  // Nothing lands beside or above the destination.
  EXPECT_EQ(folderEntries(outside.path()), std::vector<std::string>{"inner"});
  EXPECT_EQ(folderEntries(destination), (std::vector<std::string>{"00000000.aaa", "00000002.aaa"}));
  ASSERT_FALSE(reporter.messages.empty());
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::RestoreEnded, uint64_t{2}));
}

INSTANTIATE_TEST_SUITE_P(HostileNames, RestoreRefusesRowName,
                         ::testing::Values(NameCase{"ParentFolder", "../x.aaa"},
                                           NameCase{"SubFolder", "a/b.aaa"},
                                           NameCase{"DotDot", ".."},
                                           NameCase{"Backslash", "a\\b.aaa"},
                                           NameCase{"NoExtension", "plain"},
                                           NameCase{"ExtensionWithoutEngine", "x.zzz"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RestoreJob, SecondRowOfTheSameNameFailsAndKeepsTheFirstFile) {
  ScannedImage scanned("[[first]]..[[second]]..[[third]]..");
  ASSERT_TRUE(scanned.list.setItemName(0, "same.aaa"));
  ASSERT_TRUE(scanned.list.setItemName(2, "same.aaa"));
  ScratchFolder destination;
  RestoreJob job;
  job.setDestination(destination.path());
  RecordingReporter reporter;
  EXPECT_EQ(scanned.restore(job, &reporter), 2u);
  EXPECT_EQ(readFile(destination.file("same.aaa")), "[[first]]");
  EXPECT_EQ(folderEntries(destination.path()),
            (std::vector<std::string>{"00000001.aaa", "same.aaa"}));
  const RestoreOutcome& outcome = job.outcome();
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].row, 2);
  EXPECT_EQ(fileProblemText(outcome.failures[0].problem),
            "同じ名前のファイルがこの復元で既に書き込まれています");
  ASSERT_EQ(outcome.files.size(), 2u);
  EXPECT_EQ(outcome.files[0].row, 0);
  EXPECT_EQ(outcome.files[1].row, 1);
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::RestoreEnded, uint64_t{2}));
}

TEST(RestoreJob, DestinationThatIsAFileFailsEveryRowAndSaysSo) {
  ScannedImage scanned("[[a]]..[[b]]..");
  const std::string file = scanned.scratch.file("not-a-folder");
  writeFile(file, "x");
  RestoreJob job;
  job.setDestination(file);
  EXPECT_EQ(scanned.restore(job, nullptr), 0u);
  EXPECT_EQ(job.outcome().failures.size(), 2u);
  EXPECT_EQ(readFile(file), "x");
}

TEST(RestoreJob, AFileFromBeforeTheRunIsNeverReplaced) {
  // Two cards restored into one folder: both have a 00000000.aaa.
  ScannedImage first("..[[photo one]]..");
  ScannedImage second("..[[photo two]]..[[photo three]]..");
  ScratchFolder destination;
  writeFile(destination.file("00000001 (2).aaa"), "a file the user named so");
  RestoreJob job;
  job.setDestination(destination.path());
  EXPECT_EQ(first.restore(job, nullptr), 1u);
  EXPECT_EQ(second.restore(job, nullptr), 2u);
  EXPECT_EQ(second.restore(job, nullptr), 2u);
  EXPECT_EQ(readFile(destination.file("00000000.aaa")), "[[photo one]]");
  EXPECT_EQ(readFile(destination.file("00000000 (2).aaa")), "[[photo two]]");
  EXPECT_EQ(readFile(destination.file("00000001.aaa")), "[[photo three]]");
  EXPECT_EQ(readFile(destination.file("00000001 (2).aaa")), "a file the user named so");
  EXPECT_EQ(readFile(destination.file("00000001 (3).aaa")), "[[photo three]]");
  EXPECT_EQ(folderEntries(destination.path()),
            (std::vector<std::string>{"00000000 (2).aaa", "00000000 (3).aaa", "00000000.aaa",
                                      "00000001 (2).aaa", "00000001 (3).aaa", "00000001.aaa"}));
  // The outcome names where each file went.
  ASSERT_EQ(job.outcome().files.size(), 2u);
  EXPECT_EQ(job.outcome().files[0].path, destination.file("00000000 (3).aaa"));
}

// An image cut short after its scan (a file truncated under us, a card
// pulled): the mapping shows the lost bytes as zeros, and a find reaching
// into them must fail, never come back as a file of zeros named as a photo.
struct ShrinkCase {
  const char* name;
  ScanMode mode;       // SignatureRules: the engine's extraction; Precise: a plain range
  uint64_t findBytes;  // the second find's filler
  int cutAtCall;       // the shouldContinue call that cuts the file; 0: before the restore
  uint64_t cutInto;    // bytes of the second find's filler left
};

class RestoreFromAShrinkingImage : public ::testing::TestWithParam<ShrinkCase> {};

TEST_P(RestoreFromAShrinkingImage, FailsTheFileItCannotReadAndLeavesNothingOfIt) {
  const ShrinkCase& c = GetParam();
  // The second find starts on its own page, so the first stays readable.
  std::string content = "[[kept]]..";
  content.resize(8192, '.');
  content += "[[" + std::string(c.findBytes, 'p') + "]]..";
  ScannedImage scanned(content, c.mode);
  ASSERT_EQ(scanned.list.itemCount(), 2);
  const std::string imagePath = scanned.scratch.file("card.img");
  const off_t cut = static_cast<off_t>(8192 + 2 + c.cutInto);  // not on a page boundary
  ScratchFolder destination;
  RestoreJob job;
  job.setDestination(destination.path());
  RecordingReporter reporter;
  int calls = 0;
  if (c.cutAtCall == 0) {
    ASSERT_EQ(truncate(imagePath.c_str(), cut), 0);
  }
  scanned.restore(job, &reporter, [&] {
    if (++calls == c.cutAtCall) {
      EXPECT_EQ(truncate(imagePath.c_str(), cut), 0);
    }
    return true;
  });
  const RestoreOutcome& outcome = job.outcome();
  EXPECT_EQ(outcome.written, 1u);
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].row, 1);
  EXPECT_EQ(outcome.failures[0].problem.code, FileProblemCode::ImageShrank);
  EXPECT_EQ(folderEntries(destination.path()), std::vector<std::string>{"00000000.aaa"});
  EXPECT_EQ(readFile(destination.file("00000000.aaa")), "[[kept]]");
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::RestoreEnded, uint64_t{1}));
}

INSTANTIATE_TEST_SUITE_P(
    CutShort, RestoreFromAShrinkingImage,
    ::testing::Values(
        ShrinkCase{"ExtractionCutBeforeTheRestore", ScanMode::SignatureRules, 20000, 0, 6000},
        ShrinkCase{"PlainRangeCutBeforeTheRestore", ScanMode::Precise, 20000, 0, 6000},
        // Calls: row loop and chunk of the first file, row loop of the
        // second, its first 8 MiB chunk, then the cut before its second.
        ShrinkCase{"PlainRangeCutDuringTheFile", ScanMode::Precise, 20u << 20, 5,
                   (9u << 20) + 123}),
    [](const auto& info) { return std::string(info.param.name); });

// The restore of the window and of the command line refuses a destination
// on the drive being read, as the disk image copy does. The drive here is
// a device node for the very disk that holds the scratch folder (only root
// may make one); nothing reads it, the rows come from an image file.
TEST(RestoreJob, ADestinationOnTheSourceDriveWritesNothingAndSaysWhy) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for mknod";
  ScannedImage scanned("[[a]]..[[b]]..");
  ScratchFolder destination;
  struct stat here {};
  ASSERT_EQ(stat(destination.path().c_str(), &here), 0);
  const std::string node = scanned.scratch.file("card-node");
  if (mknod(node.c_str(), S_IFBLK | 0400, here.st_dev) != 0) GTEST_SKIP() << "mknod refused here";
  // A stale temporary stays too: removing it would be a write to the card.
  writeFile(destination.file(".kxpart-Ab3xY9"), "stale");
  RestoreJob job;
  job.setDestination(destination.path());
  job.setSource(node);
  RecordingReporter reporter;
  EXPECT_EQ(scanned.restore(job, &reporter), 0u);
  ASSERT_EQ(job.outcome().failures.size(), 2u);
  for (const RestoreFailure& failure : job.outcome().failures) {
    EXPECT_EQ(fileProblemText(failure.problem),
              "保存先がコピー元のドライブ上にあります。別のドライブに保存してください。");
  }
  EXPECT_EQ(folderEntries(destination.path()), std::vector<std::string>{".kxpart-Ab3xY9"});
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::RestoreEnded, uint64_t{0}));
  // The image file as the source, on that same disk: restored as always.
  job.setSource(scanned.scratch.file("card.img"));
  EXPECT_EQ(scanned.restore(job, &reporter), 2u);
}

// A name of the writer's temporary form: only these may ever be removed.
bool isTemporaryLike(const std::string& name) { return name.rfind(".kxpart-", 0) == 0; }

TEST(RestoreJob, RemovesTheTemporariesOfAKilledRestoreAndNothingElse) {
  ScannedImage scanned("[[a]]..[[b]]..");
  ScratchFolder destination;
  // A restore killed inside its second file, as SIGKILL or a power cut
  // would end it: the temporary stays, hidden, its lock gone with the
  // process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RestoreJob job;
    job.setDestination(destination.path());
    int calls = 0;
    scanned.restore(job, nullptr, [&] {
      if (++calls == 4) raise(SIGKILL);
      return true;
    });
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  std::vector<std::string> left;
  for (const std::string& name : folderEntries(destination.path())) {
    if (isTemporaryLike(name)) left.push_back(name);
  }
  // The first file, complete but waiting for its batch's name, and the
  // second, part-written.
  ASSERT_EQ(left.size(), 2u) << "the killed restore left its temporaries";
  // Temporaries of the same form from earlier runs, and the user's own
  // files that only look like them.
  writeFile(destination.file(".kxpart-Ab3xY9"), "stale");
  writeFile(destination.file(".kxpart-000000"), "");
  const std::vector<std::string> lookalikes = {
      ".kxpart-abc",    ".kxpart-ABCDEFG",    ".kxpart-AB-DEF", "kxpart-ABCDEF",
      ".KXPART-ABCDEF", ".kxpart-ABCDEF.jpg", ".kxpart-",       "photo.jpg"};
  for (const std::string& name : lookalikes)
    writeFile(destination.file(name), "the user's " + name);
  mkdir(destination.file(".kxpart-FOLDER").c_str(), 0755);
  writeFile(destination.file(".kxpart-FOLDER/inside"), "kept");
  ASSERT_EQ(symlink("photo.jpg", destination.file(".kxpart-LINKED").c_str()), 0);
  // One held by a restore still running: its lock is taken.
  writeFile(destination.file(".kxpart-LOCKED"), "being written");
  const int held = open(destination.file(".kxpart-LOCKED").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  scanned.chosen = {0};
  RestoreJob job;
  job.setDestination(destination.path());
  EXPECT_EQ(scanned.restore(job, nullptr), 1u);
  close(held);

  std::vector<std::string> expected = lookalikes;
  expected.insert(expected.end(),
                  {".kxpart-FOLDER", ".kxpart-LINKED", ".kxpart-LOCKED", "00000000.aaa"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(folderEntries(destination.path()), expected);
  for (const std::string& name : lookalikes)
    EXPECT_EQ(readFile(destination.file(name)), "the user's " + name);
  EXPECT_EQ(readFile(destination.file(".kxpart-FOLDER/inside")), "kept");
  EXPECT_EQ(readFile(destination.file(".kxpart-LOCKED")), "being written");
}

TEST(RestoreJob, ATemporaryWaitingForItsNameIsNeverTakenForAStaleOne) {
  ScannedImage scanned("[[waiting]]..");
  ScratchFolder destination;
  CandidateInfo info;
  ASSERT_TRUE(scanned.list.candidateInfo(0, info));
  CandidateWriter writer(*scanned.image, &scanned.engines);
  WriteOptions options;
  options.deferNaming = true;
  ASSERT_TRUE(writer.write(info, destination.path(), options).ok);
  // Another restore into the same folder starts while this one's batch waits.
  EXPECT_EQ(CandidateWriter::removeStaleTemporaries(destination.path()), 0u);
  const std::vector<WrittenFile> named = writer.nameWaiting();
  ASSERT_EQ(named.size(), 1u);
  EXPECT_TRUE(named[0].ok) << fileProblemText(named[0].problem);
  EXPECT_EQ(folderEntries(destination.path()), std::vector<std::string>{"00000000.aaa"});
  EXPECT_EQ(readFile(destination.file("00000000.aaa")), "[[waiting]]");
}

TEST(RestoreJob, NumberedNamesKeepTheExtensionAndHiddenNames) {
  EXPECT_EQ(numberedName("IMG_0001.jpg", 2), "IMG_0001 (2).jpg");
  EXPECT_EQ(numberedName("archive.tar.gz", 3), "archive.tar (3).gz");
  EXPECT_EQ(numberedName("plain", 2), "plain (2)");
  EXPECT_EQ(numberedName(".hidden", 2), ".hidden (2)");
}

TEST(RestoreJob, ShortWriteFailsAndLeavesNothingBehind) {
  // 64 KiB of candidate against a 16 KiB file-size limit, in a child so the
  // limit does not reach the test runner.
  ScannedImage scanned("[[" + std::string(64 * 1024, 'p') + "]]..");
  ScratchFolder destination;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);  // the write returns EFBIG instead of killing us
    const rlimit limit{16 * 1024, 16 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    CandidateInfo info;
    scanned.list.candidateInfo(0, info);
    CandidateWriter writer(*scanned.image, &scanned.engines);
    const WrittenFile file = writer.write(info, destination.path(), WriteOptions{});
    _exit(!file.ok && file.problem ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the short write was reported as success";
  EXPECT_TRUE(folderEntries(destination.path()).empty());
}

TEST(RestoreJob, StopDuringAFileRemovesItsTemporaryAndSendsNoEndMessage) {
  // 20 MiB: the writer asks between its 8 MiB chunks.
  ScannedImage scanned("[[" + std::string(20 << 20, 'p') + "]]..[[b]]..");
  ScratchFolder destination;
  RestoreJob job;
  job.setDestination(destination.path());
  RecordingReporter reporter;
  int calls = 0;
  // The row loop asks once, the writer then once per chunk: stop inside it.
  scanned.restore(job, &reporter, [&] { return ++calls < 3; });
  EXPECT_TRUE(job.outcome().stopped);
  EXPECT_EQ(job.outcome().written, 0u);
  EXPECT_TRUE(folderEntries(destination.path()).empty());
  EXPECT_TRUE(reporter.messages.empty());
}

TEST(RestoreJob, ProgressFollowsTheChosenRows) {
  std::string content;
  for (int i = 0; i < 10; ++i) content += "[[x]]..";
  ScannedImage scanned(content);
  ASSERT_EQ(scanned.list.itemCount(), 10);
  scanned.chosen = {2, 5, 9};
  ScratchFolder destination;
  RestoreJob job;
  job.setDestination(destination.path());
  RecordingReporter reporter;
  EXPECT_EQ(scanned.restore(job, &reporter), 3u);
  EXPECT_EQ(reporter.progress, (std::vector<int>{0, 20, 50, 90, 100, 0}));
  // The numbers beside the bar count the chosen files, not the rows.
  using Count = std::pair<uint64_t, uint64_t>;
  EXPECT_EQ(reporter.counts, (std::vector<Count>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
}

// The views stay live during a restore: a click there while it writes must
// not change what it writes. The job holds its own copy of the rows it was
// given; the caller's may change under it.
TEST(RestoreJob, WritesTheRowsChosenWhenItStartedWhateverIsClickedMeanwhile) {
  ScannedImage scanned("[[a]]..[[b]]..[[c]]..[[d]]..");
  ASSERT_EQ(scanned.list.itemCount(), 4);
  scanned.chosen = {2, 0, 2};  // in any order, a row twice: written once, in row order
  ScratchFolder destination;
  RestoreJob job;
  job.setDestination(destination.path());
  RecordingReporter reporter;
  bool clicked = false;
  EXPECT_EQ(scanned.restore(job, &reporter,
                            [&] {
                              if (!clicked) {
                                clicked = true;
                                scanned.chosen = {1, 3};
                              }
                              return true;
                            }),
            2u);
  EXPECT_EQ(folderEntries(destination.path()),
            (std::vector<std::string>{"00000000.aaa", "00000002.aaa"}));
  using Count = std::pair<uint64_t, uint64_t>;
  EXPECT_EQ(reporter.counts.back(), (Count{2, 2}));
}

TEST(RestoreJob, StoppedJobReturnsWithoutEndMessage) {
  ScannedImage scanned("[[a]]..[[b]]..");
  ScratchFolder destination;
  RestoreJob job;
  job.setDestination(destination.path());
  RecordingReporter reporter;
  int calls = 0;
  // Each row: once in the row loop, once per chunk in the writer; the
  // fourth question comes inside the second file.
  scanned.restore(job, &reporter, [&] { return ++calls < 4; });
  EXPECT_TRUE(job.outcome().stopped);
  EXPECT_EQ(job.outcome().written, 1u);
  EXPECT_TRUE(reporter.messages.empty());
}

TEST(RestoreJob, PreviewWritesTheFirstChosenRowIntoTheGivenFolder) {
  ScannedImage scanned("[[a]]..[[b]]..[[c]]..");
  scanned.chosen = {2, 1};
  ScratchFolder temporary;
  RestoreJob job;
  job.setDestination(temporary.path());
  RecordingReporter reporter;
  EXPECT_EQ(job.previewFirstSelected(scanned.list, scanned.chosen, *scanned.image, scanned.engines,
                                     &reporter, [] { return true; }),
            2);
  EXPECT_EQ(folderEntries(temporary.path()), std::vector<std::string>{"00000001.aaa"});
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::PreviewEnded, uint64_t{2}));
}

struct DateCase {
  const char* name;
  const char* zone;
  const char* date;
  bool set;
  time_t expected;
};

class ShotDateFileTime : public ::testing::TestWithParam<DateCase> {};

TEST_P(ShotDateFileTime, SetsAccessAndModificationTimes) {
  const DateCase& c = GetParam();
  const char* previous = getenv("TZ");
  const std::string saved = previous ? previous : "";
  setenv("TZ", c.zone, 1);
  tzset();
  ScratchFolder scratch;
  const std::string path = scratch.file("f");
  writeFile(path, "x");
  const int fd = open(path.c_str(), O_RDWR);
  const bool set = setFileTimeFromShotDate(fd, c.date);
  close(fd);
  if (previous)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  EXPECT_EQ(set, c.set);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  if (c.set) {
    EXPECT_EQ(info.st_mtime, c.expected);
    EXPECT_EQ(info.st_atime, c.expected);
  } else {
    EXPECT_GT(info.st_mtime, time_t{1600000000});  // left as written: now
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dates, ShotDateFileTime,
    ::testing::Values(DateCase{"Utc", "UTC", "2003:07:14 09:05:30", true, 1058173530},
                      DateCase{"Tokyo", "Asia/Tokyo", "2003:07:14 09:05:30", true, 1058141130},
                      DateCase{"EighteenCharacters", "UTC", "2003:07:14 09:05:3", false, 0},
                      DateCase{"BeforeNineteenSeventy", "UTC", "0000:00:00 00:00:00", false, 0},
                      DateCase{"Empty", "UTC", "", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RestoreList, TextIsExactByteForByte) {
  ScannedImage scanned("..........[[a]]..{{" + std::string(1100, 'b') + "}}..");
  std::string text;
  EXPECT_TRUE(writeRestoreList(scanned.image.get(), scanned.list, text));
  EXPECT_EQ(text,
            "メディア情報: 1123 バイト\r\n\r\n"
            "復元リスト：\r\n\r\n"
            "00000000.aaa 0KB 0x0000000A 0x0000000F 不明 不明 \r\n"
            "00000000.bbb 1KB 0x00000011 0x00000461 不明 不明 \r\n");
}

TEST(RestoreList, EmptyListKeepsTheHeadingsAndNoImageWritesNothing) {
  ScannedImage scanned("nothing here");
  std::string text;
  EXPECT_FALSE(writeRestoreList(scanned.image.get(), scanned.list, text));
  EXPECT_EQ(text, "メディア情報: 12 バイト\r\n\r\n復元リスト：\r\n\r\n");
  std::string none;
  EXPECT_FALSE(writeRestoreList(nullptr, scanned.list, none));
  EXPECT_EQ(none, "");
}

}  // namespace
}  // namespace kestrix::test
