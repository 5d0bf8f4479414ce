// Cards past the 4 GiB line: a sparse image of 6 GiB and a few bytes with
// photos at 1 MiB, across the line, past it at an odd offset and flush with
// the end. Each is listed at its whole 64-bit start and end, restored byte
// for byte, and named with whole offsets in the restore list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using kestrix::test::cli;
using kestrix::test::CommandRun;
using kestrix::test::readFile;
using kestrix::test::run;
using kestrix::test::ScratchFolder;

constexpr uint64_t kGiB = uint64_t{1} << 30;

class LargeCard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new ScratchFolder;
    if (run("command -v convert >/dev/null").exitCode != 0) return;
    const std::string photo = scratch_->file("photo.jpg");
    if (run("convert -size 160x120 gradient:red-blue -quality 90 '" + photo + "'").exitCode != 0)
      return;
    photo_ = readFile(photo);
    size_ = 6 * kGiB + 5;
    starts_ = {uint64_t{1} << 20, 4 * kGiB - photo_.size() / 2, 5 * kGiB + 12345,
               size_ - photo_.size()};
    const int fd = open(card().c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) return;
    bool written = ftruncate(fd, static_cast<off_t>(size_)) == 0;  // sparse: no disk space used
    for (uint64_t start : starts_) {
      written = written && pwrite(fd, photo_.data(), photo_.size(), static_cast<off_t>(start)) ==
                               static_cast<ssize_t>(photo_.size());
    }
    close(fd);
    ready_ = written;
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }
  void SetUp() override {
    if (photo_.empty()) GTEST_SKIP() << "needs ImageMagick's convert";
    ASSERT_TRUE(ready_) << "the sparse card could not be written";
  }
  static std::string card() { return scratch_->file("card.img"); }

  static ScratchFolder* scratch_;
  static std::string photo_;
  static uint64_t size_;
  static std::vector<uint64_t> starts_;
  static bool ready_;
};

ScratchFolder* LargeCard::scratch_ = nullptr;
std::string LargeCard::photo_;
uint64_t LargeCard::size_ = 0;
std::vector<uint64_t> LargeCard::starts_;
bool LargeCard::ready_ = false;

// The precise default and the signature rules both take a 64-bit card.
class LargeCardMode : public LargeCard, public ::testing::WithParamInterface<const char*> {};

TEST_P(LargeCardMode, ListsEveryPhotoAtItsWholeOffsets) {
  const CommandRun scan = run(cli() + " scan " + GetParam() + " '" + card() + "'");
  ASSERT_EQ(scan.exitCode, 0);
  std::string expected;
  for (size_t i = 0; i < starts_.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%08zu.jpg", i);
    expected += std::string(name) + "\t" + std::to_string(starts_[i]) + "\t" +
                std::to_string(starts_[i] + photo_.size()) + "\n";
  }
  std::string listed;
  size_t begin = 0;
  while (begin < scan.out.size()) {
    const size_t end = scan.out.find('\n', begin);
    const std::string line = scan.out.substr(begin, end - begin);
    size_t tab = line.find('\t');
    tab = line.find('\t', tab + 1);
    tab = line.find('\t', tab + 1);
    listed += line.substr(0, tab) + "\n";
    begin = end + 1;
  }
  EXPECT_EQ(listed, expected);
}

TEST_P(LargeCardMode, RestoresEveryPhotoByteForByte) {
  ScratchFolder out;
  const CommandRun restore =
      run(cli() + " restore " + GetParam() + " '" + card() + "' '" + out.path() + "'");
  ASSERT_EQ(restore.exitCode, 0) << restore.out;
  for (size_t i = 0; i < starts_.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%08zu.jpg", i);
    EXPECT_TRUE(readFile(out.file(name)) == photo_) << name << " is not the photo";
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, LargeCardMode, ::testing::Values("", "--signature-rules"),
                         [](const auto& info) {
                           return std::string(info.param[0] == '\0' ? "Precise" : "SignatureRules");
                         });

TEST_F(LargeCard, TheRestoreListShowsOffsetsPastFourGiBWhole) {
  const CommandRun report = run(cli() + " report '" + card() + "'");
  ASSERT_EQ(report.exitCode, 0);
  EXPECT_NE(report.out.find("メディア情報: " + std::to_string(size_) + " バイト"),
            std::string::npos);
  char text[24];
  std::snprintf(text, sizeof text, " 0x%08llX ", static_cast<unsigned long long>(starts_[2]));
  EXPECT_NE(report.out.find(text), std::string::npos) << text << "\n" << report.out;
  // Below 4 GiB the offsets print as they always did: eight digits.
  EXPECT_NE(report.out.find(" 0x00100000 "), std::string::npos) << report.out;
}

}  // namespace
