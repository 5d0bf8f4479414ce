// scan --check and restore --check --only on a raw card made at test time
// from our own photos: intact ones of three kinds, one with a zero-filled
// 4 KiB hole, and one cut by the end of the image.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using kestrix::test::cli;
using kestrix::test::CommandRun;
using kestrix::test::readFile;
using kestrix::test::run;
using kestrix::test::ScratchFolder;

// The photos in card order, with what the check must say of each.
struct CardPhoto {
  const char* file;
  const char* convertOptions;
  const char* verdict;
  int width;
  int height;
};

constexpr CardPhoto kPhotos[] = {
    {"baseline.jpg", "-seed 1 -size 640x480 plasma:fractal -quality 90", "intact", 640, 480},
    {"progressive.jpg", "-seed 2 -size 640x480 plasma:fractal -quality 90 -interlace Plane",
     "intact", 640, 480},
    {"grey.jpg", "-seed 3 -size 480x360 plasma:fractal -colorspace Gray -quality 90", "intact", 480,
     360},
    {"holed.jpg", "-seed 4 -size 640x480 plasma:fractal -quality 90", "damaged", 640, 480},
    {"cut.jpg", "-seed 5 -size 640x480 plasma:fractal -quality 90", "truncated", 640, 480},
};
constexpr size_t kPhotoCount = sizeof(kPhotos) / sizeof(kPhotos[0]);

class CliCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new ScratchFolder;
    toolsPresent_ = run("command -v convert >/dev/null").exitCode == 0;
    if (!toolsPresent_) return;
    const std::string dir = folder_->path();
    // 64 KiB of zeros, then each photo on a 4 KiB boundary with at least
    // 4 KiB of zeros after it; the hole is zeroed in the middle of its
    // photo after the original was kept, the last photo keeps its first half.
    std::string script = "set -e; cd '" + dir + "'; head -c 65536 /dev/zero > card.img;";
    for (const CardPhoto& photo : kPhotos) {
      script += std::string(" convert ") + photo.convertOptions + " " + photo.file + ";";
    }
    script +=
        " cp holed.jpg holed-original.jpg;"
        " s=$(stat -c %s holed.jpg);"
        " dd if=/dev/zero of=holed.jpg bs=1 seek=$((s / 2)) count=4096 conv=notrunc status=none;"
        " for f in baseline progressive grey holed; do cat $f.jpg >> card.img;"
        "   head -c $((8192 - $(stat -c %s $f.jpg) % 4096)) /dev/zero >> card.img; done;"
        " head -c $(($(stat -c %s cut.jpg) / 2)) cut.jpg >> card.img";
    { std::ofstream(folder_->file("make-card.sh")) << script << "\n"; }
    ready_ = run("sh '" + folder_->file("make-card.sh") + "' 2>&1").exitCode == 0;
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!toolsPresent_) GTEST_SKIP() << "needs ImageMagick's convert";
    ASSERT_TRUE(ready_) << "the card could not be made";
  }
  static std::string card() { return folder_->file("card.img"); }

  static inline ScratchFolder* folder_ = nullptr;
  static inline bool ready_ = false;
  static inline bool toolsPresent_ = false;
};

std::vector<std::vector<std::string>> tabRows(const std::string& listing) {
  std::vector<std::vector<std::string>> rows;
  size_t begin = 0;
  while (begin < listing.size()) {
    size_t end = listing.find('\n', begin);
    if (end == std::string::npos) end = listing.size();
    std::vector<std::string> fields;
    size_t field = begin;
    while (true) {
      const size_t tab = listing.find('\t', field);
      if (tab == std::string::npos || tab > end) {
        fields.push_back(listing.substr(field, end - field));
        break;
      }
      fields.push_back(listing.substr(field, tab - field));
      field = tab + 1;
    }
    rows.push_back(fields);
    begin = end + 1;
  }
  return rows;
}

std::set<std::string> filesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

TEST_F(CliCheck, ListingEndsEveryRowWithVerdictWidthAndHeight) {
  for (const char* mode : {"", " --signature-rules"}) {
    SCOPED_TRACE(mode[0] ? mode : "precise");
    const CommandRun scan = run(cli() + " scan --check" + mode + " " + card());
    ASSERT_EQ(scan.exitCode, 0);
    const auto rows = tabRows(scan.out);
    // The signature rules need an end marker: the cut photo is the
    // precise mode's alone.
    const size_t expected = mode[0] ? kPhotoCount - 1 : kPhotoCount;
    ASSERT_EQ(rows.size(), expected) << scan.out;
    for (size_t i = 0; i < expected; ++i) {
      SCOPED_TRACE(kPhotos[i].file);
      ASSERT_EQ(rows[i].size(), 12u);
      EXPECT_EQ(rows[i][9], kPhotos[i].verdict);
      EXPECT_EQ(rows[i][10], std::to_string(kPhotos[i].width));
      EXPECT_EQ(rows[i][11], std::to_string(kPhotos[i].height));
    }
  }
}

TEST_F(CliCheck, JsonCarriesVerdictWidthAndHeightOnlyWithCheck) {
  const CommandRun checked = run(cli() + " scan --check --json " + card());
  ASSERT_EQ(checked.exitCode, 0);
  for (const CardPhoto& photo : kPhotos) {
    SCOPED_TRACE(photo.file);
    // Rows are listed in card order, so the n-th verdict is the n-th photo's.
    const std::string entry = std::string("\"verdict\": \"") + photo.verdict +
                              "\", \"width\": " + std::to_string(photo.width) +
                              ", \"height\": " + std::to_string(photo.height) + "}";
    EXPECT_NE(checked.out.find(entry), std::string::npos) << checked.out;
  }
  size_t verdicts = 0;
  for (size_t at = checked.out.find("\"verdict\""); at != std::string::npos;
       at = checked.out.find("\"verdict\"", at + 1)) {
    ++verdicts;
  }
  EXPECT_EQ(verdicts, kPhotoCount);

  const CommandRun plain = run(cli() + " scan --json " + card());
  ASSERT_EQ(plain.exitCode, 0);
  EXPECT_EQ(plain.out.find("\"verdict\""), std::string::npos);
  const CommandRun listing = run(cli() + " scan " + card());
  ASSERT_EQ(listing.exitCode, 0);
  for (const auto& row : tabRows(listing.out)) EXPECT_EQ(row.size(), 9u);
}

TEST_F(CliCheck, RestoreOnlyWritesTheRowsOfThatVerdict) {
  struct Case {
    const char* name;
    const char* only;
    std::set<std::string> files;  // the rows' names, in card order 00000000.jpg ...
  };
  const Case cases[] = {
      {"intact leaves the holed and the cut photo out",
       "intact",
       {"00000000.jpg", "00000001.jpg", "00000002.jpg"}},
      {"damaged is the holed photo alone", "damaged", {"00000003.jpg"}},
      {"truncated is the cut photo alone", "truncated", {"00000004.jpg"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder out;
    const CommandRun restore =
        run(cli() + " restore --check --only " + c.only + " " + card() + " " + out.path());
    ASSERT_EQ(restore.exitCode, 0) << restore.out;
    EXPECT_EQ(filesIn(out.path()), c.files);
  }
  ScratchFolder out;
  ASSERT_EQ(run(cli() + " restore --check --only intact " + card() + " " + out.path()).exitCode, 0);
  EXPECT_EQ(readFile(out.file("00000000.jpg")), readFile(folder_->file("baseline.jpg")));
  EXPECT_EQ(readFile(out.file("00000002.jpg")), readFile(folder_->file("grey.jpg")));
}

TEST_F(CliCheck, OnlyNeedsCheckAndAVerdictItCanSelect) {
  const struct {
    const char* name;
    const char* words;
  } cases[] = {
      {"without --check", "--only intact"},
      {"unknown is not a choice", "--check --only unknown"},
      {"not a verdict", "--check --only whole"},
      {"no value", "--check --only"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder out;
    const CommandRun restore =
        run(cli() + " restore " + c.words + " " + card() + " " + out.path() + " 2>/dev/null");
    EXPECT_EQ(restore.exitCode, 2);
    EXPECT_TRUE(filesIn(out.path()).empty());
  }
}

}  // namespace
