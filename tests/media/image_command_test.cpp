// kestrix-cli image end to end in child processes: real read errors from a
// preloaded fault injector, a full file system from RLIMIT_FSIZE, and the
// refusal rules for the output file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include <chrono>
#include <functional>
#include <thread>

#include "media/rescue_map.h"
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

// Starts kestrix-cli with arguments; `limitBytes` > 0 caps the file size;
// stdout and stderr go to files in folder unless outTo / errTo name others.
pid_t startCli(const test::TempFolder& folder, std::vector<std::string> arguments,
               std::vector<std::string> environment = {}, rlim_t limitBytes = 0,
               const std::string& outTo = {}, const std::string& errTo = {}) {
  const char* bin = std::getenv("KESTRIX_BIN_DIR");
  std::string program = std::string(bin != nullptr ? bin : ".") + "/kestrix-cli";
  const std::string outPath = outTo.empty() ? folder.file("stdout") : outTo;
  const std::string errPath = errTo.empty() ? folder.file("stderr") : errTo;
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
  return child;
}

CliRun finishCli(const test::TempFolder& folder, pid_t child) {
  const std::string outPath = folder.file("stdout"), errPath = folder.file("stderr");
  int status = 0;
  waitpid(child, &status, 0);
  CliRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = slurp(outPath);
  run.err = slurp(errPath);
  return run;
}

CliRun runCli(const test::TempFolder& folder, std::vector<std::string> arguments,
              std::vector<std::string> environment = {}, rlim_t limitBytes = 0) {
  return finishCli(folder,
                   startCli(folder, std::move(arguments), std::move(environment), limitBytes));
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
  EXPECT_TRUE(run.out.ends_with(
      "ディスクイメージの作成が完了しました。\r\n特にエラーは発生しませんでした。"));
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
                         "ディスクイメージの作成が完了しました。\r\nイメージ作成中にいくつかの障害"
                         "が発生しましたが、"),
            std::string::npos)
      << run.out;
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
  EXPECT_NE(run.err.find("ディスクイメージの書き込み中にエラーが発生しました。"), std::string::npos)
      << run.err;
  EXPECT_TRUE(run.out.ends_with("書込みエラー： 1536 クラスタ目書込み中にエラー\r\n")) << run.out;
  EXPECT_EQ(run.out.find("完了しました"), std::string::npos);
}

TEST(ImageCommand, AReportThatCannotBeWrittenIsAFailure) {
  // The report (stdout) and the summary (stderr) are the only record of
  // the damage: losing either to a full disk must not end in exit 0.
  struct Case {
    const char* name;
    bool reportFull, summaryFull;
  };
  const Case cases[] = {
      {"the report goes to a full disk", true, false},
      {"the summary goes to a full disk", false, true},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
    test::writeFile(card, std::vector<uint8_t>(64 * 512, 0x5A));
    const pid_t child = startCli(folder, {"image", card, image}, {}, 0,
                                 c.reportFull ? "/dev/full" : "", c.summaryFull ? "/dev/full" : "");
    CliRun run = finishCli(folder, child);
    EXPECT_EQ(run.exitCode, 1) << c.name;
    if (c.reportFull) {
      EXPECT_NE(run.err.find("イメージ作成の結果を書き込めませんでした：ディスクの空き容量が足りま"
                             "せん（No space left on device）"),
                std::string::npos)
          << c.name << ": " << run.err;
    }
    EXPECT_EQ(test::readFile(image).size(), 64u * 512) << c.name << ": the copy itself is kept";
  }
}

TEST(ImageCommand, OutputFileRules) {
  test::TempFolder folder;
  const std::string card = folder.file("card.img"), image = folder.file("old.ksx");
  test::writeFile(card, std::vector<uint8_t>(64 * 512, 0x5A));
  test::writeFile(image, std::vector<uint8_t>(1 << 20, 0x77));
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    size_t imageSize;
  };
  const Case cases[] = {
      {"existing image without --yes is kept", {"image", card, image}, 2, 1 << 20},
      {"--yes replaces it, no stale tail", {"image", card, image, "--yes"}, 0, 64 * 512},
      {"the source itself is never the image", {"image", card, card, "--yes"}, 2, 64 * 512},
      {"missing source", {"image", folder.file("none"), folder.file("new.ksx")}, 2, 64 * 512},
      {"no arguments", {"image"}, 2, 64 * 512},
      {"--resume without a map", {"image", card, folder.file("new.ksx"), "--resume"}, 2, 64 * 512},
      {"--yes and --resume together", {"image", card, image, "--yes", "--resume"}, 2, 64 * 512},
      {"--retries not a number",
       {"image", card, folder.file("new.ksx"), "--retries", "x"},
       2,
       64 * 512},
      {"--retries negative",
       {"image", card, folder.file("new.ksx"), "--retries", "-1"},
       2,
       64 * 512},
  };
  for (const Case& c : cases) {
    CliRun run = runCli(folder, c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.err;
    EXPECT_EQ(test::readFile(image).size(), c.imageSize) << c.name;
    EXPECT_EQ(test::readFile(card).size(), 64u * 512) << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.file("new.ksx")));

  // What an interrupted copy left behind is replaced only with --yes.
  for (const char* leftover : {".part", ".part.map", ".map"}) {
    const std::string out = folder.file("next.ksx");
    test::writeFile(out + leftover, {'x'});
    CliRun run = runCli(folder, {"image", card, out});
    EXPECT_EQ(run.exitCode, 2) << leftover;
    EXPECT_NE(run.err.find("--resume"), std::string::npos) << run.err;
    EXPECT_EQ(test::readFile(out + leftover).size(), 1u) << leftover;
    EXPECT_EQ(runCli(folder, {"image", card, out, "--yes"}).exitCode, 0) << leftover;
    EXPECT_EQ(test::readFile(out).size(), 64u * 512) << leftover;
    std::filesystem::remove(out);
    std::filesystem::remove(out + ".map");
  }
}

std::vector<std::string> injected(const std::string& card, std::vector<std::string> more) {
  std::vector<std::string> environment{std::string("LD_PRELOAD=") + KESTRIX_FAULT_INJECTOR_PATH,
                                       "KESTRIX_FAULT_FILE=" + card,
                                       "ASAN_OPTIONS=verify_asan_link_order=0"};
  environment.insert(environment.end(), more.begin(), more.end());
  return environment;
}

// The "読み取ったバイト数: N" the image command prints.
TEST(ImageCommand, AResumeFromACutMapSaysTheMapIsDamagedNotAnotherDrives) {
  // A stopped copy's map, cut short or with a line cut short, as a copy of
  // it to a stick that filled up leaves it: its lines may still parse
  // (a shorter block, a shorter device line), but it is this drive's map,
  // damaged. Only a whole map that names another drive is another drive's.
  constexpr const char* kDamaged =
      "続きを作成するためのマップファイルまたはイメージを読み込めません。";
  constexpr const char* kOtherDrive =
      "マップファイルは別のドライブのものです。続きを作成できません。";
  auto cutAfter = [](const std::string& text, const std::string& prefix, size_t keep) {
    const size_t at = text.find(prefix);
    return at == std::string::npos ? std::string() : text.substr(0, at + prefix.size() + keep);
  };
  auto shortenLine = [](const std::string& text, const std::string& prefix, size_t keep) {
    const size_t at = text.find(prefix);
    if (at == std::string::npos) return std::string();
    const size_t end = text.find('\n', at);
    return text.substr(0, at + prefix.size() + keep) + text.substr(end);
  };
  struct Case {
    const char* name;
    std::function<std::string(const std::string&)> edit;
    const char* message;
  };
  const Case cases[] = {
      {"the file ends inside its device line",
       [&](const std::string& t) { return cutAfter(t, "# kestrix-device-id: ", 12); }, kDamaged},
      {"its device line cut short, the rest whole",
       [&](const std::string& t) { return shortenLine(t, "# kestrix-device-id: ", 12); }, kDamaged},
      {"its size line cut short, the rest whole",
       [&](const std::string& t) { return shortenLine(t, "# kestrix-device-size: ", 3); },
       kDamaged},
      {"the file ends inside its last block line",
       [](const std::string& t) { return t.substr(0, t.size() - 6); }, kDamaged},
      {"a ddrescue map that ends inside its last block line",
       [](const std::string&) { return std::string("0 ?\n0 0x100000 +\n0x100000 0x"); }, kDamaged},
      {"a whole map of another drive",
       [](const std::string& t) {
         const size_t at = t.find("# kestrix-device-id: ");
         return t.substr(0, at) + "# kestrix-device-id: block:serial=OTHER" +
                t.substr(t.find('\n', at));
       },
       kOtherDrive},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
    test::writeFile(card, std::vector<uint8_t>(4 << 20, 0x5A));
    // A copy stopped part-way: the card drops out after 2 MiB.
    runCli(folder, {"image", card, image},
           injected(card, {"KESTRIX_FAULT_AFTER_BYTES=2097152", "KESTRIX_FAULT_ERRNO=123"}));
    const std::string mapPath = image + ".part.map";
    const std::string edited = c.edit(slurp(mapPath));
    ASSERT_FALSE(edited.empty()) << c.name << ": " << slurp(mapPath);
    test::writeFile(mapPath, std::vector<uint8_t>(edited.begin(), edited.end()));
    const auto part = test::readFile(image + ".part");
    CliRun resumed = runCli(folder, {"image", card, image, "--resume"});
    EXPECT_EQ(resumed.exitCode, 2) << c.name << resumed.err;
    EXPECT_NE(resumed.err.find(c.message), std::string::npos) << c.name << ": " << resumed.err;
    EXPECT_TRUE(test::readFile(image + ".part") == part) << c.name << ": the partial image is kept";
    EXPECT_EQ(slurp(mapPath), edited) << c.name << ": and so is the map";
  }
}

uint64_t bytesReadOf(const CliRun& run) {
  const std::string key = "読み取ったバイト数: ";
  const size_t at = run.err.find(key);
  return at == std::string::npos ? UINT64_MAX
                                 : std::strtoull(run.err.c_str() + at + key.size(), nullptr, 10);
}

std::vector<uint64_t> badSectorsIn(const std::string& mapPath) {
  std::vector<uint64_t> sectors;
  auto loaded = RescueMap::load(mapPath);
  if (!loaded.map) return {UINT64_MAX};
  loaded.map->forEachBlock([&](const MapBlock& block) {
    if (block.status != BlockStatus::BadSector) return;
    for (uint64_t s = block.pos / 512; s * 512 < block.end(); ++s) sectors.push_back(s);
  });
  return sectors;
}

bool haveDdrescuelog() { return std::system("command -v ddrescuelog >/dev/null 2>&1") == 0; }

// A 20 MB FAT16 card holding one JPEG; *photo is the photo's byte range.
bool makeCardWithPhoto(const test::TempFolder& folder, const std::string& card,
                       std::pair<uint64_t, uint64_t>* photo) {
  const std::string jpeg = folder.file("photo.jpg");
  if (!test::makeFat(card, 16, 20000, 4)) return false;
  if (std::system(("convert -size 320x240 gradient:red-blue -quality 95 '" + jpeg +
                   "' 2>/dev/null && "
                   "mcopy -i '" +
                   card + "' '" + jpeg + "' ::/PHOTO.JPG 2>/dev/null")
                      .c_str()) != 0) {
    return false;
  }
  const auto bytes = test::readFile(card), picture = test::readFile(jpeg);
  auto at = std::search(bytes.begin(), bytes.end(), picture.begin(), picture.end());
  if (at == bytes.end()) return false;
  photo->first = static_cast<uint64_t>(at - bytes.begin());
  photo->second = photo->first + picture.size();
  return true;
}

TEST(ImageCommand, BadSectorsInAPhotoAndInFreeSpaceThenAResume) {
  if (!test::haveMkfsVfat() || std::system("command -v convert mcopy >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "mkfs.vfat, ImageMagick or mtools not installed";
  }
  test::TempFolder folder;
  const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
  std::pair<uint64_t, uint64_t> photo;
  ASSERT_TRUE(makeCardWithPhoto(folder, card, &photo));
  const uint64_t inPhoto = photo.first / 512 + 3, freeSpace = 39000;
  ASSERT_LT(inPhoto * 512 + 512, photo.second);
  const std::string ranges =
      std::to_string(inPhoto * 512) + "-" + std::to_string(inPhoto * 512 + 512) + "," +
      std::to_string(freeSpace * 512) + "-" + std::to_string(freeSpace * 512 + 1024);
  CliRun run =
      runCli(folder, {"image", card, image}, injected(card, {"KESTRIX_FAULT_RANGES=" + ranges}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  auto source = test::readFile(card);
  auto expected = source;
  std::fill(expected.begin() + inPhoto * 512, expected.begin() + inPhoto * 512 + 512, 0);
  std::fill(expected.begin() + freeSpace * 512, expected.begin() + freeSpace * 512 + 1024, 0);
  EXPECT_TRUE(test::readFile(image) == expected) << "readable bytes exact, bad sectors zero";
  const std::vector<uint64_t> bad{inPhoto, freeSpace, freeSpace + 1};
  EXPECT_EQ(badSectorsIn(image + ".map"), bad);
  if (haveDdrescuelog()) {
    FILE* pipe = popen(("ddrescuelog -l- '" + image + ".map'").c_str(), "r");
    char listed[256] = {};
    fread(listed, 1, sizeof listed - 1, pipe);
    pclose(pipe);
    EXPECT_EQ(std::string(listed), std::to_string(inPhoto) + "\n" + std::to_string(freeSpace) +
                                       "\n" + std::to_string(freeSpace + 1) + "\n");
  }

  // The card reads again (cooled down, another reader): a resume with a
  // retry reads the three sectors and nothing else, and completes the image.
  // Without --retries a finished copy has nothing left to read.
  EXPECT_EQ(bytesReadOf(runCli(folder, {"image", card, image, "--resume"})), 0u);
  CliRun resumed = runCli(folder, {"image", card, image, "--resume", "--retries", "1"});
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(bytesReadOf(resumed), 3u * 512) << resumed.err;
  EXPECT_TRUE(test::readFile(image) == source);
  EXPECT_TRUE(badSectorsIn(image + ".map").empty());
}

TEST(ImageCommand, AReaderThatDropsOutEndsTheRunAndAResumeCompletesIt) {
  if (!test::haveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat not installed";
  struct Case {
    const char* name;
    const char* error;
  };
  const Case cases[] = {{"EIO", "5"}, {"ENODEV", "19"}, {"ENOMEDIUM", "123"}};
  for (const Case& c : cases) {
    test::TempFolder folder;
    const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
    ASSERT_TRUE(test::makeFat(card, 16, 20000, 4));
    // Slow reads: going on sector by sector through the rest of the card
    // would take minutes and run into the test's timeout.
    CliRun run = runCli(folder, {"image", card, image},
                        injected(card, {"KESTRIX_FAULT_AFTER_BYTES=5242880",
                                        std::string("KESTRIX_FAULT_ERRNO=") + c.error,
                                        "KESTRIX_FAULT_DELAY_US=3000"}));
    EXPECT_EQ(run.exitCode, 1) << c.name;
    EXPECT_NE(run.err.find("カードが応答しなくなりました。"), std::string::npos)
        << c.name << run.err;
    EXPECT_NE(run.err.find("--resume"), std::string::npos) << c.name;
    EXPECT_FALSE(std::filesystem::exists(image))
        << c.name << ": no partial image under the final name";
    EXPECT_FALSE(std::filesystem::exists(image + ".map"))
        << c.name << ": the map lies beside the .part";
    EXPECT_TRUE(badSectorsIn(image + ".part.map").empty())
        << c.name << ": a dead reader is no bad sector";
    CliRun resumed = runCli(folder, {"image", card, image, "--resume"});
    ASSERT_EQ(resumed.exitCode, 0) << c.name << resumed.err;
    EXPECT_TRUE(test::readFile(image) == test::readFile(card)) << c.name;
    EXPECT_LT(bytesReadOf(resumed), 20480000u - 4000000u)
        << c.name << ": the first 5 MiB are not read again";
  }
}

// The map of a complete copy of the 20,000 KiB card, without damage.
const std::string kOlderMap = "0 +\n0 0x1388000 +\n";

// Waits until the running copy's map shows at least `bytes` finished.
bool waitForProgress(const std::string& mapPath, uint64_t bytes, pid_t child) {
  for (int i = 0; i < 600; ++i) {
    auto loaded = RescueMap::load(mapPath);
    if (loaded.map && loaded.map->bytesWith(BlockStatus::Finished) >= bytes) return true;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return false;  // ended before
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(ImageCommand, KilledOrInterruptedPartWayThenResumedGivesTheSameImage) {
  if (!test::haveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat not installed";
  struct Case {
    const char* name;
    int signal;
  };
  const Case cases[] = {
      {"SIGKILL, a power cut", SIGKILL}, {"SIGINT, Ctrl-C", SIGINT}, {"SIGTERM", SIGTERM}};
  for (const Case& c : cases) {
    test::TempFolder folder;
    const std::string card = folder.file("card.img"), image = folder.file("card.ksx");
    ASSERT_TRUE(test::makeFat(card, 16, 20000, 4));
    // A bad sector early makes the map be saved soon after it, not only
    // every 30 seconds; slow reads leave time to stop the copy part-way.
    const std::string bad = "KESTRIX_FAULT_RANGES=1572864-1573376";
    // An earlier complete copy lies there: --yes replaces it only once the
    // new copy is complete, the map included (a new map beside the old
    // image would make it scan as incomplete).
    std::vector<uint8_t> older(20000u * 1024, 0x33);
    test::writeFile(image, older);
    test::writeFile(image + ".map", std::vector<uint8_t>(kOlderMap.begin(), kOlderMap.end()));
    pid_t child = startCli(folder, {"image", card, image, "--yes"},
                           injected(card, {bad, "KESTRIX_FAULT_DELAY_US=100000"}));
    ASSERT_TRUE(waitForProgress(image + ".part.map", 2 << 20, child)) << c.name;
    kill(child, c.signal);
    CliRun stopped = finishCli(folder, child);
    if (c.signal == SIGKILL) {
      EXPECT_EQ(stopped.exitCode, 128 + SIGKILL) << c.name;
    } else {
      EXPECT_EQ(stopped.exitCode, 1) << c.name << stopped.err;
      EXPECT_NE(stopped.err.find("ディスクイメージの作成を中断しました。"), std::string::npos)
          << stopped.err;
    }
    EXPECT_TRUE(test::readFile(image) == older) << c.name << ": the old image is untouched";
    EXPECT_EQ(slurp(image + ".map"), kOlderMap) << c.name << ": and so is its map";
    EXPECT_TRUE(std::filesystem::exists(image + ".part")) << c.name;
    const auto before = RescueMap::load(image + ".part.map");
    ASSERT_TRUE(before.map) << c.name << before.error;

    CliRun resumed = runCli(folder, {"image", card, image, "--resume"}, injected(card, {bad}));
    ASSERT_EQ(resumed.exitCode, 0) << c.name << resumed.err;
    EXPECT_LE(bytesReadOf(resumed), before.map->unfinishedBytes() + 4 * 512 * 2048) << c.name;
    auto expected = test::readFile(card);
    std::fill(expected.begin() + 1572864, expected.begin() + 1573376, 0);
    EXPECT_TRUE(test::readFile(image) == expected)
        << c.name << ": the image of an uninterrupted copy";
    EXPECT_EQ(badSectorsIn(image + ".map"), std::vector<uint64_t>{3072}) << c.name;
    EXPECT_FALSE(std::filesystem::exists(image + ".part")) << c.name;
    EXPECT_FALSE(std::filesystem::exists(image + ".part.map")) << c.name;
  }
}

// Runs a shell command, true when it exits 0.
bool shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A 40 MiB disk with one partition from sector 2048, as an MBR says it.
std::vector<uint8_t> partitionedDisk() {
  std::vector<uint8_t> disk(40u << 20, 0);
  uint8_t* entry = disk.data() + 0x1BE;
  entry[4] = 0x83;  // Linux
  const uint32_t start = 2048, count = 40960;
  for (int i = 0; i < 4; ++i)
    entry[8 + i] = (start >> (8 * i)) & 0xFF, entry[12 + i] = (count >> (8 * i)) & 0xFF;
  disk[510] = 0x55;
  disk[511] = 0xAA;
  return disk;
}

TEST(ImageCommand, RefusesADestinationOnTheSourceDevice) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup and mount";
  if (!shell("(command -v mkfs.ext4 || test -x /usr/sbin/mkfs.ext4)"))
    GTEST_SKIP() << "mkfs.ext4 not installed";
  test::TempFolder folder;
  const std::string backing = folder.file("disk.img"), mountPoint = folder.file("mnt");
  test::writeFile(backing, partitionedDisk());
  FILE* pipe = popen(("losetup -f --show -P '" + backing + "' 2>/dev/null").c_str(), "r");
  char name[64] = {};
  if (pipe != nullptr) {
    if (fgets(name, sizeof name, pipe) == nullptr) name[0] = '\0';
    pclose(pipe);
  }
  std::string loop(name);
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  if (loop.empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
  // Without partition scanning here (loop devices with max_part=0) the
  // file system goes onto the whole loop device, and only that case runs.
  std::string partition = loop + "p1";
  for (int i = 0; i < 40 && !std::filesystem::exists(partition); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::vector<std::pair<std::string, std::string>> cases;  // name, source
  if (std::filesystem::exists(partition)) {
    cases = {{"the mounted partition itself", partition},
             {"the whole disk of that partition", loop}};
  } else {
    partition = loop;
    cases = {{"the mounted device itself", loop}};
  }
  std::filesystem::create_directory(mountPoint);
  if (!shell("PATH=$PATH:/usr/sbin:/sbin mkfs.ext4 -q " + partition) ||
      !shell("mount " + partition + " '" + mountPoint + "'")) {
    shell("losetup -d " + loop);
    GTEST_SKIP() << "mkfs.ext4 or mount is not allowed here";
  }
  std::vector<CliRun> runs;
  // The size cap turns a broken check into a quick write error instead of
  // a copy of the card onto itself.
  for (const auto& [name, source] : cases) {
    runs.push_back(runCli(folder, {"image", source, mountPoint + "/rescue.ksx"}, {}, 1 << 20));
  }
  const bool written = std::filesystem::exists(mountPoint + "/rescue.ksx.part") ||
                       std::filesystem::exists(mountPoint + "/rescue.ksx.map");
  CliRun elsewhere = runCli(folder, {"image", partition, folder.file("rescue.ksx")});
  shell("umount '" + mountPoint + "'");
  shell("losetup -d " + loop);
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].exitCode, 2) << cases[i].first << ": " << runs[i].err;
    EXPECT_NE(runs[i].err.find("保存先がコピー元のドライブ上にあります。"), std::string::npos)
        << runs[i].err;
  }
  EXPECT_FALSE(written) << "nothing reached the card";
  EXPECT_EQ(elsewhere.exitCode, 0) << "another folder is fine: " << elsewhere.err;
  EXPECT_EQ(test::readFile(folder.file("rescue.ksx")).size(),
            partition == loop ? 40u << 20 : 20u << 20);
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

// Without a mount: a device node for the very disk (or a partition's whole
// disk) that holds the test's folder, as a user pointing at the wrong drive
// would name it. Stat alone must refuse it; the size cap turns a broken
// check into a quick write error instead of a copy of the whole disk.
TEST(ImageCommand, RefusesTheDiskThatHoldsTheDestinationFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for mknod";
  test::TempFolder folder;
  struct stat here {};
  ASSERT_EQ(stat(folder.file("").c_str(), &here), 0);
  const std::string number =
      std::to_string(major(here.st_dev)) + ":" + std::to_string(minor(here.st_dev));
  const std::string sysfs = "/sys/dev/block/" + number;
  if (!std::filesystem::exists(sysfs))
    GTEST_SKIP() << "the temporary folder is on no block device (" << number << ")";
  struct Case {
    std::string name;
    dev_t device;
  };
  std::vector<Case> cases{{"the folder's own device", here.st_dev}};
  if (std::filesystem::exists(sysfs + "/partition")) {
    unsigned wholeMajor = 0, wholeMinor = 0;
    FILE* file = std::fopen((std::filesystem::canonical(sysfs).parent_path() / "dev").c_str(), "r");
    if (file != nullptr && std::fscanf(file, "%u:%u", &wholeMajor, &wholeMinor) == 2) {
      cases.push_back(
          {"the whole disk of the folder's partition", makedev(wholeMajor, wholeMinor)});
    }
    if (file != nullptr) std::fclose(file);
  }
  for (const Case& c : cases) {
    const std::string node = folder.file("source-node");
    std::filesystem::remove(node);
    if (mknod(node.c_str(), S_IFBLK | 0400, c.device) != 0) GTEST_SKIP() << "mknod refused here";
    CliRun run = runCli(folder, {"image", node, folder.file("rescue.ksx")}, {}, 1 << 20);
    EXPECT_EQ(run.exitCode, 2) << c.name << ": " << run.err;
    EXPECT_NE(run.err.find("保存先がコピー元のドライブ上にあります。"), std::string::npos)
        << c.name << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("rescue.ksx.part"))) << c.name;
  }
}

}  // namespace
}  // namespace kestrix
