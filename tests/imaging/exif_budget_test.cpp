// The limits of exif_limits.h hold whatever the candidate's directories claim,
// and files within them read as before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/exif_bomb.h"
#include "imaging/exif_bytes.h"
#include "imaging/exif_info.h"

namespace kestrix {
namespace {

using test::asciiEntry;
using test::numberEntry;
using test::TestDirectory;
using test::TiffWriter;

static_assert(noexcept(std::declval<ExifInfo&>().parse(nullptr, 0)),
              "parse cannot fail for memory");

struct Walked {
  size_t directories = 0;
  size_t largestDirectory = 0;
  size_t entries = 0;
};

Walked walked(const ExifDirectories& dirs) {
  Walked w;
  for (const auto* list : {&dirs.mainChain, &dirs.exifIfd, &dirs.gpsIfd}) {
    for (const Ifd& ifd : *list) {
      ++w.directories;
      w.largestDirectory = std::max(w.largestDirectory, ifd.entries.size());
      w.entries += ifd.entries.size();
    }
  }
  return w;
}

// `count` directories in a chain, each of `perDirectory` SHORT entries, with
// Make as entry `makeAt` of directory `makeIn` (-1: nowhere).
std::vector<uint8_t> chain(int count, int perDirectory, int makeIn = -1, int makeAt = 0) {
  std::vector<TestDirectory> dirs(count);
  for (int d = 0; d < count; ++d) {
    for (int i = 0; i < perDirectory; ++i) {
      dirs[d].entries.push_back(d == makeIn && i == makeAt ? asciiEntry(kTagMake, "Deep")
                                                           : numberEntry(0x1000, 3, {1}));
    }
    if (d + 1 < count) dirs[d].next = d + 1;
  }
  return TiffWriter::inJpeg(TiffWriter(false).build(dirs));
}

struct BudgetRow {
  const char* name;
  std::vector<uint8_t> bytes;
  uint8_t limitsHit;
  size_t mainChainSize;
  size_t largestDirectory;
  size_t entries;
  const char* make;
};

void PrintTo(const BudgetRow& row, std::ostream* out) { *out << row.name; }

class ExifBudget : public ::testing::TestWithParam<BudgetRow> {};

TEST_P(ExifBudget, StructureStaysWithinLimits) {
  const BudgetRow& row = GetParam();
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(row.bytes.data(), row.bytes.size()));
  EXPECT_EQ(exif.limitsHit(), row.limitsHit);
  const ExifDirectories dirs = exif.readDirectories();
  EXPECT_EQ(dirs.limitsHit, row.limitsHit);
  const Walked w = walked(dirs);
  EXPECT_EQ(dirs.mainChain.size(), row.mainChainSize);
  EXPECT_EQ(w.largestDirectory, row.largestDirectory);
  EXPECT_EQ(w.entries, row.entries);
  EXPECT_LE(dirs.mainChain.size(), kExifMaxMainChainDirectories);
  EXPECT_LE(w.largestDirectory, kExifMaxEntriesPerDirectory);
  EXPECT_LE(w.entries, kExifMaxEntriesPerCandidate);
  std::string make = "不明";
  exif.mainChainText(kTagMake, make);
  EXPECT_EQ(make, row.make);
}

constexpr uint8_t kAll = kExifDirectoryLimit | kExifEntryLimit | kExifCandidateEntryLimit;

INSTANTIATE_TEST_SUITE_P(
    Rows, ExifBudget,
    ::testing::Values(
        // 64 chained directories of 65,535 entries: about 190 MB of entries kept before.
        BudgetRow{"FullBomb", test::fullExifBomb(), kAll, 4, 1024, 4096, "不明"},
        // 20 directories of 300 entries in 3.9 KB. Directory k also covers k of
        // the chain's link entries (type 0, dropped): 4,096 examined, 4,018 valid.
        BudgetRow{"CompactBomb", test::exifBomb(20, 300),
                  kExifDirectoryLimit | kExifCandidateEntryLimit, 14, 300, 4018, "不明"},
        BudgetRow{"SixteenDirectoriesRead", chain(16, 2, 15, 1), kExifWithinLimits, 16, 2, 32,
                  "Deep"},
        BudgetRow{"SeventeenthDirectoryNotRead", chain(17, 2, 16, 0), kExifDirectoryLimit, 16, 2,
                  32, "不明"},
        BudgetRow{"EntryBeforeDirectoryLimit", chain(1, 1100, 0, 1023), kExifEntryLimit, 1, 1024,
                  1024, "Deep"},
        BudgetRow{"EntryPastDirectoryLimit", chain(1, 1100, 0, 1024), kExifEntryLimit, 1, 1024,
                  1024, "不明"},
        BudgetRow{"CandidateLimitAcrossDirectories", chain(5, 1000, 4, 95),
                  kExifCandidateEntryLimit, 5, 1000, 4096, "Deep"},
        BudgetRow{"CandidateLimitCutsLastDirectory", chain(5, 1000, 4, 96),
                  kExifCandidateEntryLimit, 5, 1000, 4096, "不明"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExifBudgetKept, CameraFileReadsWithinLimitsAndKeepsNoDirectories) {
  std::vector<TestDirectory> dirs(2);
  dirs[0].entries = {asciiEntry(kTagMake, "Kestrel"), asciiEntry(kTagModel, "KX-100"),
                     test::pointerEntry(kTagExifIfdPointer, 1)};
  for (uint16_t tag = 0x9201; tag < 0x9201 + 60; ++tag)
    dirs[1].entries.push_back(numberEntry(tag, 3, {1}));
  dirs[1].entries.push_back(asciiEntry(kTagDateTimeOriginal, "2021:02:03 04:05:06"));
  const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(true).build(dirs));
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  EXPECT_EQ(exif.limitsHit(), kExifWithinLimits);
  std::string date;
  ASSERT_TRUE(exif.shotDateText(date));
  EXPECT_EQ(date, "2021:02:03 04:05:06");
  // The object does not grow with the directories: it holds no container.
  static_assert(sizeof(ExifInfo) <= kExifMaxKeptBytes);
  // A new parse forgets the limits of the last one.
  const std::vector<uint8_t> bomb = test::exifBomb(20, 300);
  ASSERT_TRUE(exif.parse(bomb.data(), bomb.size()));
  EXPECT_NE(exif.limitsHit(), kExifWithinLimits);
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  EXPECT_EQ(exif.limitsHit(), kExifWithinLimits);
}

}  // namespace
}  // namespace kestrix
