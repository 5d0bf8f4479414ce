// End to end: a FAT32 card image made with the demo script, formatted again,
// scanned and restored by kestrix-cli as a user would run it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cli_test_support.h"

namespace {

using kestrix::test::cli;
using kestrix::test::CommandRun;
using kestrix::test::readFile;
using kestrix::test::run;

class CliRecovery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/kestrix-cli-test-XXXXXX";
    folder_ = mkdtemp(pattern);
    const CommandRun made = run(std::string(KESTRIX_SOURCE_DIR) + "/scripts/make-demo-card.sh " +
                                folder_ + "/card.img " + folder_ + "/originals >/dev/null 2>&1");
    toolsPresent_ = run("command -v convert && command -v exiftool && command -v mkfs.vfat && "
                        "command -v mcopy")
                        .exitCode == 0;
    ready_ = made.exitCode == 0;
    // Formatting again wipes the directory and the FAT, not the photos.
    if (ready_)
      ready_ = run("mkfs.vfat -F 32 -s 1 " + folder_ + "/card.img >/dev/null").exitCode == 0;
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + folder_ + "'").c_str()); }
  void SetUp() override {
    if (!toolsPresent_) GTEST_SKIP() << "needs convert, exiftool, mkfs.vfat and mtools";
    // With the tools there, a card that could not be made is a failure.
    ASSERT_TRUE(ready_) << "scripts/make-demo-card.sh failed";
    struct stat info {};
    ASSERT_EQ(stat((std::string(std::getenv("KESTRIX_BIN_DIR")) + "/kxengine.kxp").c_str(), &info),
              0)
        << "kxengine.kxp is not built";
  }
  static std::string card() { return folder_ + "/card.img"; }
  static std::string original(const std::string& name) { return folder_ + "/originals/" + name; }
  static std::string fresh(const std::string& name) {
    const std::string path = folder_ + "/" + name;
    std::system(("rm -rf '" + path + "' && mkdir '" + path + "'").c_str());
    return path;
  }

  static inline std::string folder_;
  static inline bool ready_ = false;
  static inline bool toolsPresent_ = false;
};

// The first tab-separated field of every line.
std::string firstFields(const std::string& listing) {
  std::string names;
  size_t begin = 0;
  while (begin < listing.size()) {
    const size_t end = listing.find('\n', begin);
    const std::string line = listing.substr(begin, end == std::string::npos ? end : end - begin);
    names += line.substr(0, line.find('\t')) + "\n";
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return names;
}

TEST_F(CliRecovery, ScanListsEveryFileWithPerExtensionNames) {
  const CommandRun scan = run(cli() + " scan --signature-rules " + card());
  ASSERT_EQ(scan.exitCode, 0);
  EXPECT_EQ(firstFields(scan.out),
            "00000000.jpg\n00000001.jpg\n00000002.jpg\n00000003.jpg\n"
            "00000000.png\n00000000.mov\n");
}

TEST(CliListing, ControlCharactersInExifTextsKeepOneLinePerCandidate) {
  // A JPEG whose Make is "Can<TAB>on<LF>X", between zero bytes: TIFF
  // little-endian, IFD0 at 8 with one ASCII entry stored at 26.
  std::string tiff("II*\0\x08\0\0\0", 8);
  tiff += std::string(
      "\x01\0"
      "\x0F\x01"
      "\x02\0"
      "\x09\0\0\0"
      "\x1A\0\0\0"
      "\0\0\0\0",
      18);
  tiff += std::string("Can\ton\nX\0", 9);
  std::string jpeg(
      "\xFF\xD8\xFF\xE1\0\x2B"
      "Exif\0\0",
      12);
  jpeg += tiff + std::string(20, '\x55') + "\xFF\xD9";
  const std::string image = std::string(100, '\0') + jpeg + std::string(100, '\0');
  char pattern[] = "/tmp/kestrix-listing-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  std::ofstream(folder + "/card.img", std::ios::binary) << image;

  const CommandRun scan = run(cli() + " scan --signature-rules " + folder + "/card.img");
  std::system(("rm -rf '" + folder + "'").c_str());
  ASSERT_EQ(scan.exitCode, 0);
  const std::string expectedEnd = std::to_string(100 + jpeg.size());
  EXPECT_EQ(scan.out,
            "00000000.jpg\t100\t" + expectedEnd + "\t0KB\t不明\t不明\tなし\tCan on X\tｲﾝﾃﾙ形式\n");
}

TEST_F(CliRecovery, RestoreRecoversEveryContiguousFileByteExact) {
  const std::string out = fresh("restored");
  const CommandRun restore = run(cli() + " restore --signature-rules " + card() + " " + out);
  ASSERT_EQ(restore.exitCode, 0) << restore.out;
  const std::pair<const char*, const char*> expected[] = {
      // restored name   original, deleted ones included
      {"00000000.jpg", "IMG_0001.jpg"}, {"00000001.jpg", "IMG_0002.jpg"},
      {"00000002.jpg", "IMG_0003.jpg"}, {"00000003.jpg", "DSC_0004.jpg"},
      {"00000000.png", "CHART.png"},    {"00000000.mov", "CLIP0001.MOV"},
  };
  for (const auto& [restored, source] : expected) {
    const std::string bytes = readFile(out + "/" + restored);
    EXPECT_FALSE(bytes.empty()) << restored;
    EXPECT_TRUE(bytes == readFile(original(source))) << restored << " differs from " << source;
  }
  EXPECT_NE(restore.out.find("6 個のファイルを復元しました。"), std::string::npos);
}

TEST_F(CliRecovery, SplitModeListsTheThumbnailSeparately) {
  const CommandRun normal =
      run(cli() + " scan --signature-rules " + card() + " | grep -c '\\.jpg'");
  const CommandRun split =
      run(cli() + " scan --signature-rules --split " + card() + " | grep -c '\\.jpg'");
  EXPECT_EQ(normal.out, "4\n");
  EXPECT_EQ(split.out, "5\n");
}

TEST_F(CliRecovery, JsonCarriesTheExifTexts) {
  const CommandRun json = run(cli() + " scan --signature-rules --json " + card());
  ASSERT_EQ(json.exitCode, 0);
  const std::string first = "{\"name\": \"00000000.jpg\"";
  EXPECT_NE(json.out.find(first), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"model\": \"Canon PowerShot A70\", \"date\": \"2003:07:14 09:05:30\", "
                          "\"gps\": true, \"maker\": \"Canon\", \"endian\": \"ﾓﾄﾛｰﾗ形式\", "
                          "\"shotDate\": \"2003:07:14 09:05:30\", \"hasExif\": true}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"maker\": \"NIKON\""), std::string::npos);
  EXPECT_NE(json.out.find("\"name\": \"00000000.png\", \"start\": "), std::string::npos);
  EXPECT_NE(json.out.find("\"shotDate\": \"\", \"hasExif\": false}"), std::string::npos);
}

TEST_F(CliRecovery, FileTimesFollowTheShotDateInTheLocalZone) {
  const std::string out = fresh("dated");
  const CommandRun restore =
      run("TZ=Asia/Tokyo " + cli() + " restore --signature-rules --set-file-time " + card() + " " +
          out);
  ASSERT_EQ(restore.exitCode, 0);
  struct stat info {};
  ASSERT_EQ(stat((out + "/00000000.jpg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1058141130);  // 2003-07-14 09:05:30 +09:00
  ASSERT_EQ(stat((out + "/00000000.png").c_str(), &info), 0);
  EXPECT_GT(info.st_mtime, 1600000000);  // no EXIF: left at the time of writing
}

TEST_F(CliRecovery, TidyRenamesAndNamedRowsAreSelected) {
  const std::string out = fresh("tidy");
  const CommandRun restore = run(cli() + " restore --signature-rules --tidy CARD_:3 " + card() +
                                 " " + out + " CARD_001.jpg CARD_000.png");
  ASSERT_EQ(restore.exitCode, 0) << restore.out;
  EXPECT_EQ(run("ls " + out).out, "CARD_000.png\nCARD_001.jpg\n");
  EXPECT_TRUE(readFile(out + "/CARD_001.jpg") == readFile(original("IMG_0002.jpg")));
}

struct FailureCase {
  const char* name;
  std::string arguments;  // after "kestrix-cli"
  int exitCode;
  const char* message;  // expected on stderr
};

class CliFailure : public CliRecovery, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliFailure, ExitsNonZeroWithAClearMessage) {
  const FailureCase& c = GetParam();
  std::string arguments = c.arguments;
  for (size_t at; (at = arguments.find("@")) != std::string::npos;)
    arguments.replace(at, 1, folder_);
  const CommandRun failed = run(cli() + " " + arguments + " 2>&1 >/dev/null");
  EXPECT_EQ(failed.exitCode, c.exitCode);
  EXPECT_NE(failed.out.find(c.message), std::string::npos) << failed.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliFailure,
    ::testing::Values(
        FailureCase{"MissingImage", "scan @/nothing.img", 2, "イメージファイルが見つかりません。"},
        FailureCase{"ImageIsAFolder", "scan @", 2, "イメージファイルではありません"},
        FailureCase{"DestinationIsAFile", "restore @/card.img @/card.img", 2,
                    "復元先フォルダがありません"},
        FailureCase{"DestinationParentMissing", "restore @/card.img @/no/where", 2,
                    "復元先フォルダがありません"},
        FailureCase{"UnknownName", "restore @/card.img @ 99999999.jpg", 2, "99999999.jpg"},
        FailureCase{"BadTidyDigits", "restore --tidy P:2 @/card.img @", 2, "[連番字数]"},
        FailureCase{"BadTidyPrefix", "restore --tidy ../P:3 @/card.img @", 2, "[接頭語]"},
        FailureCase{"UnknownOption", "scan --fast @/card.img", 2, "--fast"},
        FailureCase{"UnknownCommand", "carve @/card.img", 2, "carve"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliRecovery, ReportIsTheRestoreListWithCrLf) {
  const CommandRun report = run(cli() + " report --signature-rules " + card());
  ASSERT_EQ(report.exitCode, 0);
  EXPECT_EQ(
      report.out.rfind("メディア情報: 41943040 バイト\r\n\r\n復元リスト：\r\n\r\n00000000.jpg ", 0),
      0u)
      << report.out;
  EXPECT_NE(report.out.find(" Canon ﾓﾄﾛｰﾗ形式 \r\n"), std::string::npos);
  EXPECT_NE(report.out.find("00000000.png 159KB "), std::string::npos);
}

TEST(CliHelp, DescribesEveryCommand) {
  const CommandRun help = run(cli() + " --help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* command :
       {"scan", "restore", "report", "decode", "thumbnail", "drives", "image"}) {
    EXPECT_NE(help.out.find(std::string("kestrix-cli ") + command), std::string::npos) << command;
  }
  for (const char* option :
       {"--split", "--signature-rules", "--check", "--map FILE", "--json", "--only",
        "--set-file-time", "--tidy", "--yes", "--resume", "--retries"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

TEST(CliHelp, EveryCommandsHelpIsItsUsage) {
  // Wherever --help stands among the options, it asks for the usage and
  // runs nothing; after "--" it is only a name.
  for (const char* command :
       {"scan", "restore", "report", "decode", "thumbnail", "drives", "image"}) {
    for (const std::string& words : {std::string(" --help"), std::string(" no-such-file --help")}) {
      const CommandRun help = run(cli() + " " + command + words + " 2>&1");
      EXPECT_EQ(help.exitCode, 0) << command << words << ": " << help.out;
      EXPECT_EQ(help.out.rfind(std::string("  kestrix-cli ") + command, 0), 0u)
          << command << words << ": " << help.out;
      EXPECT_EQ(help.out.find("不明なオプションです"), std::string::npos) << command << words;
    }
  }
  const CommandRun named = run(cli() + " scan -- --help 2>&1");
  EXPECT_NE(named.exitCode, 0) << "a file named --help is scanned, and here it does not exist";
}

}  // namespace
