// What the command line must never do: replace a file the user already has,
// leave a half-written file after Ctrl-C or SIGTERM, pass off a scan without
// engines or a listing that was lost as a success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "cli_test_support.h"

namespace {

using kestrix::test::cli;
using kestrix::test::CommandRun;
using kestrix::test::readFile;
using kestrix::test::run;
using kestrix::test::ScratchFolder;

// A card with two signature-rule JPEG hits between zeros.
std::string smallCard() {
  const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, 'j') +
                           std::string("\xFF\xD9", 2);
  return std::string(512, '\0') + jpeg + std::string(512, '\0') + jpeg + "!" + std::string(512, '\0');
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

TEST(CliSafety, TwoCardsRestoredIntoOneFolderReplaceNothing) {
  ScratchFolder scratch;
  writeCard(scratch.file("one.img"), smallCard());
  std::string second = smallCard();
  second[600] = 'X';  // another first photo
  writeCard(scratch.file("two.img"), second);
  const std::string out = scratch.file("out");
  mkdir(out.c_str(), 0755);
  ASSERT_EQ(run(cli() + " restore --signature-rules " + scratch.file("one.img") + " " + out).exitCode, 0);
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
    for (const std::string& name : entries(out)) writing = writing || name.rfind(".kxpart-", 0) == 0;
    if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(writing) << "the restore never started writing";
  ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of stopping";
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  EXPECT_TRUE(entries(out).empty()) << "a temporary or partial file was left behind";
  EXPECT_NE(readFile(scratch.file("stdout.txt")).find("中断しました。0 個のファイルを復元しました。"),
            std::string::npos);
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
    EXPECT_NE(run(cli() + " " + command + scratch.file("card.img") + " >/dev/full 2>/dev/null").exitCode, 0)
        << command;
  }
}

}  // namespace
