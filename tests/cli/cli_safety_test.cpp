// What the command line must never do: replace a file the user already has,
// leave a half-written file after Ctrl-C or SIGTERM, pass off a scan without
// engines or a listing that was lost as a success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "cli_test_support.h"
#include "tests/jobs/made_destinations.h"

namespace {

using kestrix::test::cli;
using kestrix::test::CommandRun;
using kestrix::test::readFile;
using kestrix::test::run;
using kestrix::test::ScratchFolder;

// A card with two signature-rule JPEG hits between zeros.
std::string smallCard() {
  const std::string jpeg =
      std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, 'j') + std::string("\xFF\xD9", 2);
  return std::string(512, '\0') + jpeg + std::string(512, '\0') + jpeg + "!" +
         std::string(512, '\0');
}

void writeCard(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A folder that takes no files, or has no room for the selection, is refused
// before anything is written, with the reason in Japanese.
TEST(CliSafety, AFolderThatCannotTakeTheFilesIsRefusedBeforeWriting) {
  ScratchFolder scratch;
  std::string card = smallCard();
  // A photo of 200 KiB, more than the small folder holds.
  card.insert(card.size() - 1, std::string("\xFF\xD8\xFF\xE0", 4) + std::string(200 << 10, 'p') +
                                   std::string("\xFF\xD9", 2));
  writeCard(scratch.file("card.img"), card);
  struct Case {
    const char* name;
    kestrix::test::MadeDestination::Kind kind;
    const char* reason;
  };
  const Case cases[] = {
      {"read-only", kestrix::test::MadeDestination::Kind::ReadOnly,
       "復元先フォルダにファイルを保存できません。"},
      {"full", kestrix::test::MadeDestination::Kind::Small, "復元先の空き容量が足りません"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kestrix::test::MadeDestination folder(scratch.path(), c.kind, 64 << 10);
    if (!folder.ok()) {
      std::printf("skipped %s: %s\n", c.name, folder.why().c_str());
      continue;
    }
    const CommandRun refused = run(cli() + " restore --signature-rules " +
                                   scratch.file("card.img") + " " + folder.path() + " 2>&1");
    EXPECT_EQ(refused.exitCode, 2) << refused.out;
    EXPECT_NE(refused.out.find(c.reason), std::string::npos) << refused.out;
    EXPECT_EQ(refused.out.find("復元できませんでした: "), std::string::npos) << "no file was tried";
    EXPECT_TRUE(entries(folder.path()).empty());
  }
}

TEST(CliSafety, TwoCardsRestoredIntoOneFolderReplaceNothing) {
  ScratchFolder scratch;
  writeCard(scratch.file("one.img"), smallCard());
  std::string second = smallCard();
  second[600] = 'X';  // another first photo
  writeCard(scratch.file("two.img"), second);
  const std::string out = scratch.file("out");
  mkdir(out.c_str(), 0755);
  ASSERT_EQ(
      run(cli() + " restore --signature-rules " + scratch.file("one.img") + " " + out).exitCode, 0);
  const std::string first = readFile(out + "/00000000.jpg");
  const CommandRun again =
      run(cli() + " restore --signature-rules " + scratch.file("two.img") + " " + out);
  ASSERT_EQ(again.exitCode, 0);
  EXPECT_EQ(readFile(out + "/00000000.jpg"), first) << "the first card's photo was replaced";
  EXPECT_EQ(entries(out), (std::vector<std::string>{"00000000 (2).jpg", "00000000.jpg",
                                                    "00000001 (2).jpg", "00000001.jpg"}));
  // The listing says where each file went.
  EXPECT_NE(again.out.find(out + "/00000000 (2).jpg\t"), std::string::npos) << again.out;
  EXPECT_NE(readFile(out + "/00000000 (2).jpg").find('X'), std::string::npos);
}

TEST(CliSafety, SigtermDuringARestoreLeavesNoTemporaryFileAndExitsNonZero) {
  ScratchFolder scratch;
  // One hit of 1 GiB (sparse on the card), so the write is still going on
  // when the signal comes.
  const std::string card = scratch.file("card.img");
  const int fd = open(card.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const off_t end = off_t{1} << 30;
  ASSERT_EQ(pwrite(fd, "\xFF\xD8\xFF\xE0", 4, 4096), 4);
  ASSERT_EQ(pwrite(fd, "\xFF\xD9", 2, end), 2);
  ASSERT_EQ(ftruncate(fd, end + 4096), 0);
  close(fd);
  const std::string out = scratch.file("out");
  mkdir(out.c_str(), 0755);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    const std::string stdoutPath = scratch.file("stdout.txt");
    const int log = open(stdoutPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    dup2(log, STDOUT_FILENO);
    const std::string program = cli();
    execl(program.c_str(), program.c_str(), "restore", "--signature-rules", card.c_str(),
          out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until the photo is being written, then ask the program to stop.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool writing = false;
  while (!writing && std::chrono::steady_clock::now() < deadline) {
    for (const std::string& name : entries(out))
      writing = writing || name.rfind(".kxpart-", 0) == 0;
    if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(writing) << "the restore never started writing";
  ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of stopping";
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  EXPECT_TRUE(entries(out).empty()) << "a temporary or partial file was left behind";
  EXPECT_NE(
      readFile(scratch.file("stdout.txt")).find("中断しました。0 個のファイルを復元しました。"),
      std::string::npos);
}

// Runs a shell command quietly, true when it exits 0.
bool shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Attaches a loop device over path; empty when that is not possible here.
std::string attachLoop(const std::string& path) {
  const CommandRun attached = run("losetup -f --show '" + path + "' 2>/dev/null");
  std::string loop = attached.out;
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  return attached.exitCode == 0 ? loop : std::string();
}

// A card read as a device, with a photo in its file system, restored into
// a folder of that same file system: refused before anything is written,
// whether the card itself or a loop device over it is read. The image file
// of the same card, restored into the same folder, works as it always did.
TEST(CliSafety, RestoreRefusesADestinationOnTheDriveBeingRead) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup and mount";
  if (!shell("(command -v mkfs.ext4 || test -x /usr/sbin/mkfs.ext4)"))
    GTEST_SKIP() << "mkfs.ext4 not installed";
  ScratchFolder scratch;
  const std::string backing = scratch.file("card.disk"), mountPoint = scratch.file("mnt");
  writeCard(backing, "");
  ASSERT_EQ(truncate(backing.c_str(), 16 << 20), 0);
  const std::string card = attachLoop(backing);
  if (card.empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
  mkdir(mountPoint.c_str(), 0755);
  if (!shell("PATH=$PATH:/usr/sbin:/sbin mkfs.ext4 -q " + card) ||
      !shell("mount " + card + " '" + mountPoint + "'")) {
    shell("losetup -d " + card);
    GTEST_SKIP() << "mkfs.ext4 or mount is not allowed here";
  }
  writeCard(mountPoint + "/DSC00001.JPG", smallCard());
  const std::string out = mountPoint + "/restored";
  mkdir(out.c_str(), 0755);
  shell("sync");
  const std::string stacked = attachLoop(card);
  std::vector<std::pair<std::string, CommandRun>> runs;  // what was read, how it went
  for (const std::string& source : {card, stacked}) {
    if (source.empty()) continue;
    runs.emplace_back(source,
                      run(cli() + " restore --signature-rules " + source + " '" + out + "' 2>&1"));
  }
  const std::vector<std::string> written = entries(out);
  writeCard(scratch.file("card.img"), smallCard());
  const CommandRun fromFile =
      run(cli() + " restore --signature-rules " + scratch.file("card.img") + " '" + out + "' 2>&1");
  const std::vector<std::string> fromFileWritten = entries(out);
  if (!stacked.empty()) shell("losetup -d " + stacked);
  shell("umount '" + mountPoint + "'");
  shell("losetup -d " + card);
  EXPECT_EQ(runs.size(), stacked.empty() ? 1u : 2u);
  for (const auto& [source, ran] : runs) {
    EXPECT_EQ(ran.exitCode, 2) << source << ": " << ran.out;
    EXPECT_NE(
        ran.out.find(out +
                     ": 保存先がコピー元のドライブ上にあります。別のドライブに保存してください。"),
        std::string::npos)
        << source << ": " << ran.out;
  }
  EXPECT_TRUE(written.empty()) << "nothing reached the card";
  EXPECT_EQ(fromFile.exitCode, 0) << fromFile.out;
  EXPECT_EQ(fromFileWritten, (std::vector<std::string>{"00000000.jpg", "00000001.jpg"}));
}

TEST(CliSafety, WithoutAPluginScanRestoreAndReportExitTwoWithTheWarning) {
  ScratchFolder scratch;
  // The program alone in a folder: no kxengine.kxp next to it.
  const std::string lonely = scratch.file("kestrix-cli");
  std::filesystem::copy_file(cli(), lonely);
  writeCard(scratch.file("card.img"), smallCard());
  mkdir(scratch.file("out").c_str(), 0755);
  for (const std::string& command :
       {"scan " + scratch.file("card.img"), "report " + scratch.file("card.img"),
        "restore " + scratch.file("card.img") + " " + scratch.file("out")}) {
    const CommandRun ran = run(lonely + " " + command + " 2>&1");
    EXPECT_EQ(ran.exitCode, 2) << command;
    EXPECT_NE(ran.out.find("スキャンプラグインがインストールされていません。"), std::string::npos)
        << command;
  }
  EXPECT_TRUE(entries(scratch.file("out")).empty());
}

TEST(CliSafety, AListingThatCannotBeWrittenIsAFailure) {
  ScratchFolder scratch;
  writeCard(scratch.file("card.img"), smallCard());
  for (const char* command :
       {"scan --signature-rules ", "scan --signature-rules --json ", "report --signature-rules "}) {
    EXPECT_NE(
        run(cli() + " " + command + scratch.file("card.img") + " >/dev/full 2>/dev/null").exitCode,
        0)
        << command;
  }
}

}  // namespace
