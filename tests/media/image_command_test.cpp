// kestrix-cli image end to end in child processes: real read errors from a
// preloaded fault injector, a full file system from RLIMIT_FSIZE, and the
// refusal rules for the output file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "media/test_files.h"

namespace kestrix {
namespace {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  auto bytes = test::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Runs kestrix-cli with arguments; `limitBytes` > 0 caps the file size.
CliRun runCli(const test::TempFolder& folder, std::vector<std::string> arguments,
           std::vector<std::string> environment = {}, rlim_t limitBytes = 0) {
  const char* bin = std::getenv("KESTRIX_BIN_DIR");
  std::string program = std::string(bin != nullptr ? bin : ".") + "/kestrix-cli";
  const std::string outPath = folder.file("stdout"), errPath = folder.file("stderr");
  pid_t child = fork();
  if (child == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    for (std::string& variable : environment) putenv(variable.data());
    if (limitBytes > 0) {
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      struct rlimit limit = {limitBytes, limitBytes};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv{program.data()};
    for (std::string& word : arguments) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  CliRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = slurp(outPath);
  run.err = slurp(errPath);
  return run;
}

TEST(ImageCommand, MkfsVolumeImageIsTheWholeDevice) {
  if (!test::haveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat not installed";
  test::TempFolder folder;
  const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
  ASSERT_TRUE(test::makeFat(card, 16, 20001, 4));  // 40002 sectors: 2 trailing ones
  CliRun run = runCli(folder, {"image", card, image});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto source = test::readFile(card), copy = test::readFile(image);
  EXPECT_TRUE(copy == source) << "the 2 sectors past the last cluster too";
  EXPECT_TRUE(run.out.ends_with("ディスクイメージの作成が完了しました。\r\n特にエラーは発生しませんでした。"));
}

TEST(ImageCommand, ReadErrorsFromTheDeviceAreSalvagedAndLogged) {
  if (!test::haveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat not installed";
  test::TempFolder folder;
  const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
  ASSERT_TRUE(test::makeFat(card, 16, 20000, 4));
  const char* injector = KESTRIX_FAULT_INJECTOR_PATH;
  // Sector 5001 and sectors 30000-30001 (cluster 1250 and 7500).
  CliRun run = runCli(folder, {"image", card, image},
                   {std::string("LD_PRELOAD=") + injector, "KESTRIX_FAULT_FILE=" + card,
                    "KESTRIX_FAULT_RANGES=2560512-2561024,15360000-15361024",
                    "ASAN_OPTIONS=verify_asan_link_order=0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("ディスク破損： 1250 クラスタ 5001 セクタ\r\n"
                         "ディスク破損： 7500 クラスタ 30000 セクタ\r\n"
                         "ディスク破損： 7500 クラスタ 30001 セクタ\r\n"
                         "ディスクイメージの作成が完了しました。\r\nイメージ作成中にいくつかの障害が発生しましたが、"),
            std::string::npos) << run.out;
  auto source = test::readFile(card);
  const auto copy = test::readFile(image);
  ASSERT_EQ(copy.size(), source.size());
  std::fill(source.begin() + 2560512, source.begin() + 2561024, 0);
  std::fill(source.begin() + 15360000, source.begin() + 15361024, 0);
  EXPECT_TRUE(copy == source) << "zero bytes exactly where the sectors failed";
}

TEST(ImageCommand, FullFileSystemIsAWriteErrorNeverSuccess) {
  if (!test::haveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat not installed";
  test::TempFolder folder;
  const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
  ASSERT_TRUE(test::makeFat(card, 16, 20000, 4));
  // Room for 3 MiB of image; runs are 1 MiB, so cluster 1536 (2 KiB each) is the first lost.
  CliRun run = runCli(folder, {"image", card, image}, {}, 3 << 20);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("ディスクイメージの書き込み中にエラーが発生しました。"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.ends_with("書込みエラー： 1536 クラスタ目書込み中にエラー\r\n")) << run.out;
  EXPECT_EQ(run.out.find("完了しました"), std::string::npos);
}

TEST(ImageCommand, OutputFileRules) {
  test::TempFolder folder;
  const std::string card = folder.file("card.img"), image = folder.file("old.ksx");
  test::writeFile(card, std::vector<uint8_t>(64 * 512, 0x5A));
  test::writeFile(image, std::vector<uint8_t>(1 << 20, 0x77));
  struct Case { const char* name; std::vector<std::string> arguments; int exitCode; size_t imageSize; };
  const Case cases[] = {
      {"existing image without --yes is kept", {"image", card, image}, 2, 1 << 20},
      {"--yes replaces it, no stale tail", {"image", card, image, "--yes"}, 0, 64 * 512},
      {"the source itself is never the image", {"image", card, card, "--yes"}, 2, 64 * 512},
      {"missing source", {"image", folder.file("none"), folder.file("new.ksx")}, 2, 64 * 512},
      {"no arguments", {"image"}, 2, 64 * 512},
  };
  for (const Case& c : cases) {
    CliRun run = runCli(folder, c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.err;
    EXPECT_EQ(test::readFile(image).size(), c.imageSize) << c.name;
    EXPECT_EQ(test::readFile(card).size(), 64u * 512) << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.file("new.ksx")));
}

}  // namespace
}  // namespace kestrix
