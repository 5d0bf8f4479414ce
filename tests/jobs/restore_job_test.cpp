#include "jobs/restore_job.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>

#include "job_test_support.h"
#include "jobs/restore_list_writer.h"

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

// A scanned image of `content` with every row selected.
struct ScannedImage {
  FakeHost fake;
  RecordingReporter reporter;
  ScratchFolder scratch;
  CandidateList list;
  ImageBuffer image{&fake.host, &reporter};
  explicit ScannedImage(const std::string& content) {
    scanContent(fake, image, reporter, list, scratch.file("card.img"), content);
    for (int32_t row = 0; row < list.itemCount(); ++row) list.setSelected(row, true);
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
  RestoreJob job(scanned.image);
  job.setDestination(destination);
  RecordingReporter reporter;
  EXPECT_EQ(job.restoreSelected(scanned.list, &reporter, [] { return true; }), 2u);
  const RestoreOutcome& outcome = job.outcome();
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].row, 1);
  EXPECT_FALSE(outcome.failures[0].reason.empty());
  // Nothing lands beside or above the destination.
  EXPECT_EQ(folderEntries(outside.path()), std::vector<std::string>{"inner"});
  EXPECT_EQ(folderEntries(destination),
            (std::vector<std::string>{"00000000.aaa", "00000002.aaa"}));
  ASSERT_FALSE(reporter.messages.empty());
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::RestoreEnded, uint64_t{2}));
}

INSTANTIATE_TEST_SUITE_P(
    HostileNames, RestoreRefusesRowName,
    ::testing::Values(NameCase{"ParentFolder", "../x.aaa"}, NameCase{"SubFolder", "a/b.aaa"},
                      NameCase{"DotDot", ".."}, NameCase{"Backslash", "a\\b.aaa"},
                      NameCase{"NoExtension", "plain"},
                      NameCase{"ExtensionWithoutEngine", "x.zzz"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RestoreJob, SecondRowOfTheSameNameFailsAndKeepsTheFirstFile) {
  ScannedImage scanned("[[first]]..[[second]]..[[third]]..");
  ASSERT_TRUE(scanned.list.setItemName(0, "same.aaa"));
  ASSERT_TRUE(scanned.list.setItemName(2, "same.aaa"));
  ScratchFolder destination;
  // A file from before the run is still replaced by the first row.
  writeFile(destination.file("same.aaa"), "from an earlier restore");
  RestoreJob job(scanned.image);
  job.setDestination(destination.path());
  RecordingReporter reporter;
  EXPECT_EQ(job.restoreSelected(scanned.list, &reporter, [] { return true; }), 2u);
  EXPECT_EQ(readFile(destination.file("same.aaa")), "[[first]]");
  const RestoreOutcome& outcome = job.outcome();
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].row, 2);
  EXPECT_EQ(outcome.failures[0].reason, "同じ名前のファイルがこの復元で既に書き込まれています");
  ASSERT_EQ(outcome.files.size(), 2u);
  EXPECT_EQ(outcome.files[0].row, 0);
  EXPECT_EQ(outcome.files[1].row, 1);
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::RestoreEnded, uint64_t{2}));
}

TEST(RestoreJob, DestinationThatIsAFileFailsEveryRowAndSaysSo) {
  ScannedImage scanned("[[a]]..[[b]]..");
  const std::string file = scanned.scratch.file("not-a-folder");
  writeFile(file, "x");
  RestoreJob job(scanned.image);
  job.setDestination(file);
  EXPECT_EQ(job.restoreSelected(scanned.list, nullptr, [] { return true; }), 0u);
  EXPECT_EQ(job.outcome().failures.size(), 2u);
  EXPECT_EQ(readFile(file), "x");
}

TEST(RestoreJob, WritesTheBytesAndOverwritesAnExistingFile) {
  ScannedImage scanned("..[[photo]]..");
  ScratchFolder destination;
  writeFile(destination.file("00000000.aaa"), "old content that is longer");
  RestoreJob job(scanned.image);
  job.setDestination(destination.path());
  EXPECT_EQ(job.restoreSelected(scanned.list, nullptr, [] { return true; }), 1u);
  EXPECT_EQ(readFile(destination.file("00000000.aaa")), "[[photo]]");
  EXPECT_EQ(folderEntries(destination.path()), std::vector<std::string>{"00000000.aaa"});
}

TEST(RestoreJob, ShortWriteFailsAndKeepsTheExistingFile) {
  // 64 KiB of candidate against a 16 KiB file-size limit, in a child so the
  // limit does not reach the test runner.
  ScannedImage scanned("[[" + std::string(64 * 1024, 'p') + "]]..");
  ScratchFolder destination;
  const std::string target = destination.file("00000000.aaa");
  writeFile(target, "the earlier restore");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);  // the write returns EFBIG instead of killing us
    const rlimit limit{16 * 1024, 16 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string reason;
    const uint64_t written = scanned.image.WriteCandidate(0, 64 * 1024 + 4, target, nullptr, 0,
                                                          &reason);
    _exit(written == 0 && !reason.empty() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the short write was reported as success";
  EXPECT_EQ(readFile(target), "the earlier restore");
  EXPECT_EQ(folderEntries(destination.path()), std::vector<std::string>{"00000000.aaa"});
}

TEST(RestoreJob, ProgressFollowsTheSelectedRows) {
  std::string content;
  for (int i = 0; i < 10; ++i) content += "[[x]]..";
  ScannedImage scanned(content);
  ASSERT_EQ(scanned.list.itemCount(), 10);
  for (int32_t row = 0; row < 10; ++row) scanned.list.setSelected(row, row == 2 || row == 5 || row == 9);
  ScratchFolder destination;
  RestoreJob job(scanned.image);
  job.setDestination(destination.path());
  RecordingReporter reporter;
  EXPECT_EQ(job.restoreSelected(scanned.list, &reporter, [] { return true; }), 3u);
  EXPECT_EQ(reporter.progress, (std::vector<int>{0, 20, 50, 90, 100, 0}));
}

TEST(RestoreJob, StoppedJobReturnsWithoutEndMessage) {
  ScannedImage scanned("[[a]]..[[b]]..");
  ScratchFolder destination;
  RestoreJob job(scanned.image);
  job.setDestination(destination.path());
  RecordingReporter reporter;
  int calls = 0;
  job.restoreSelected(scanned.list, &reporter, [&] { return ++calls < 2; });
  EXPECT_TRUE(job.outcome().stopped);
  EXPECT_EQ(job.outcome().written, 1u);
  EXPECT_TRUE(reporter.messages.empty());
}

TEST(RestoreJob, PreviewWritesTheFirstSelectedRowIntoTheGivenFolder) {
  ScannedImage scanned("[[a]]..[[b]]..[[c]]..");
  scanned.list.setSelected(0, false);
  ScratchFolder temporary;
  RestoreJob job(scanned.image);
  job.setDestination(temporary.path());
  RecordingReporter reporter;
  EXPECT_EQ(job.previewFirstSelected(scanned.list, &reporter, [] { return true; }), 2);
  EXPECT_EQ(folderEntries(temporary.path()), std::vector<std::string>{"00000001.aaa"});
  EXPECT_EQ(reporter.messages.back(), std::make_pair(JobMessage::PreviewEnded, uint64_t{2}));
}

TEST(RestoreJob, RestoreToTempUsesTheTemporaryFolder) {
  ScannedImage scanned("[[a]]..");
  ScratchFolder temporary;
  setenv("TMPDIR", (temporary.path() + "/").c_str(), 1);
  RestoreJob job(scanned.image);
  EXPECT_EQ(job.RestoreToTemp(scanned.list, 0), 1);
  EXPECT_EQ(job.RestoreToTemp(scanned.list, 5), 0);
  unsetenv("TMPDIR");
  const std::string written = thumbnailFolder() + "/00000000.aaa";
  EXPECT_EQ(readFile(written), "[[a]]");
  unlink(written.c_str());
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
  if (previous) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
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
  EXPECT_TRUE(writeRestoreList(scanned.image, scanned.list, text));
  EXPECT_EQ(text,
            "メディア情報: 1123 バイト\r\n\r\n"
            "復元リスト：\r\n\r\n"
            "00000000.aaa 0KB 0x0000000A 0x0000000F 不明 不明 \r\n"
            "00000000.bbb 1KB 0x00000011 0x00000461 不明 不明 \r\n");
}

TEST(RestoreList, EmptyListKeepsTheHeadingsAndNoImageWritesNothing) {
  ScannedImage scanned("nothing here");
  std::string text;
  EXPECT_FALSE(writeRestoreList(scanned.image, scanned.list, text));
  EXPECT_EQ(text, "メディア情報: 12 バイト\r\n\r\n復元リスト：\r\n\r\n");
  ImageBuffer empty;
  std::string none;
  EXPECT_FALSE(writeRestoreList(empty, scanned.list, none));
  EXPECT_EQ(none, "");
}

}  // namespace
}  // namespace kestrix::test
