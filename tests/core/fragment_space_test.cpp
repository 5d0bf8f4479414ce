// The two pieces of bookkeeping the reassembly of split photos rests on:
// which sectors belong to verified files, and where clusters start.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/fragment_joiner.h"

namespace kestrix {
namespace {

TEST(ClaimedSpace, WidensToSectorsAndMergesNeighbours) {
  ClaimedSpace claimed;
  claimed.claim(1000, 1500);  // sectors 1..2: 512..1536
  claimed.claim(3000, 3001);  // sector 5: 2560..3072
  claimed.claim(1536, 2560);  // fills the gap: one range 512..3072
  claimed.claim(9000, 9000);  // empty: nothing
  EXPECT_FALSE(claimed.overlaps(0, 512));
  EXPECT_TRUE(claimed.overlaps(0, 513));
  EXPECT_TRUE(claimed.overlaps(2000, 2001));
  EXPECT_TRUE(claimed.overlaps(3071, 4000));
  EXPECT_FALSE(claimed.overlaps(3072, 9500));
  EXPECT_FALSE(claimed.overlaps(700, 700));
  EXPECT_EQ(claimed.skip(600), 3072u);
  EXPECT_EQ(claimed.skip(3072), 3072u);
  EXPECT_EQ(claimed.skip(100), 100u);
}

TEST(ClaimedSpace, ForeignRangesEndTheFirstPiece) {
  ClaimedSpace claimed;
  claimed.claim(2048, 4096);   // inside the photo's decoded bytes: its own thumbnail
  claimed.claim(8192, 16384);  // reaches past the break: another file
  EXPECT_EQ(claimed.foreignFrom(0, 10000), 8192u);
  EXPECT_EQ(claimed.foreignFrom(0, 3000), 2048u);  // the break falls inside it: not the photo's own
  EXPECT_EQ(claimed.foreignFrom(20000, 30000), UINT64_MAX);
}

std::vector<uint8_t> fatBootSector(uint16_t sectorBytes, uint8_t perCluster, uint16_t reserved,
                                   uint8_t fats, uint16_t rootEntries, uint16_t fat16Size,
                                   uint32_t fat32Size) {
  std::vector<uint8_t> boot(512, 0);
  boot[0] = 0xEB;
  boot[11] = sectorBytes & 0xFF, boot[12] = sectorBytes >> 8;
  boot[13] = perCluster;
  boot[14] = reserved & 0xFF, boot[15] = reserved >> 8;
  boot[16] = fats;
  boot[17] = rootEntries & 0xFF, boot[18] = rootEntries >> 8;
  boot[22] = fat16Size & 0xFF, boot[23] = fat16Size >> 8;
  for (int i = 0; i < 4; ++i) boot[36 + i] = static_cast<uint8_t>(fat32Size >> (8 * i));
  boot[510] = 0x55, boot[511] = 0xAA;
  return boot;
}

std::vector<uint8_t> exfatBootSector(uint8_t sectorShift, uint8_t clusterShift,
                                     uint32_t heapSectors) {
  std::vector<uint8_t> boot(512, 0);
  boot[0] = 0xEB;
  std::memcpy(boot.data() + 3, "EXFAT   ", 8);
  for (int i = 0; i < 4; ++i) boot[88 + i] = static_cast<uint8_t>(heapSectors >> (8 * i));
  boot[108] = sectorShift;
  boot[109] = clusterShift;
  boot[510] = 0x55, boot[511] = 0xAA;
  return boot;
}

struct GeometryCase {
  const char* name;
  std::vector<uint8_t> (*volume)();
  uint64_t partitionSector;  // 0: the volume at the image's start
  uint64_t unit;
  uint64_t origin;
  bool fromBootSector;
};

class ClusterGeometryOf : public testing::TestWithParam<GeometryCase> {};

TEST_P(ClusterGeometryOf, IsReadFromTheBootSector) {
  const GeometryCase& c = GetParam();
  std::vector<uint8_t> image(4 << 20, 0);
  const std::vector<uint8_t> boot = c.volume();
  std::copy(boot.begin(), boot.end(), image.begin() + static_cast<long>(c.partitionSector * 512));
  if (c.partitionSector != 0) {
    image[446 + 4] = 0x0C;  // FAT32 LBA
    for (int i = 0; i < 4; ++i)
      image[446 + 8 + i] = static_cast<uint8_t>(c.partitionSector >> (8 * i));
    image[510] = 0x55, image[511] = 0xAA;
  }
  const ClusterGeometry geometry = guessClusterGeometry(image.data(), image.size());
  EXPECT_EQ(geometry.unit, c.unit);
  EXPECT_EQ(geometry.origin, c.origin);
  EXPECT_EQ(geometry.source == GeometrySource::BootSector, c.fromBootSector);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, ClusterGeometryOf,
    testing::Values(
        // 1 reserved + 2 × 32 FAT sectors + 32 root sectors = sector 97.
        GeometryCase{"Fat16", [] { return fatBootSector(512, 8, 1, 2, 512, 32, 0); }, 0, 4096,
                     97 * 512, true},
        // 32 reserved + 2 × 100 FAT sectors, no root area: sector 232.
        GeometryCase{"Fat32", [] { return fatBootSector(512, 64, 32, 2, 0, 0, 100); }, 0, 32768,
                     232 * 512, true},
        GeometryCase{"Fat32InFirstPartition",
                     [] { return fatBootSector(512, 64, 32, 2, 0, 0, 100); }, 2048, 32768,
                     (2048 + 232) * 512, true},
        GeometryCase{"ExFat", [] { return exfatBootSector(9, 8, 2048); }, 0, 131072, 2048 * 512,
                     true},
        GeometryCase{"ExFatClusterShiftTooLarge", [] { return exfatBootSector(9, 30, 2048); }, 0,
                     512, 0, false},
        GeometryCase{"FatWithoutFatSize", [] { return fatBootSector(512, 8, 1, 2, 512, 0, 0); }, 0,
                     512, 0, false},
        GeometryCase{"FatClusterNotAPowerOfTwo",
                     [] { return fatBootSector(512, 3, 1, 2, 512, 32, 0); }, 0, 512, 0, false},
        GeometryCase{"FatDataPastTheImage",
                     [] { return fatBootSector(512, 8, 1, 2, 512, 60000, 0); }, 0, 512, 0, false},
        GeometryCase{"NoVolume", [] { return std::vector<uint8_t>(512, 0x37); }, 0, 512, 0, false}),
    [](const testing::TestParamInfo<GeometryCase>& info) { return std::string(info.param.name); });

// Starts of `count` files in units of `unit` from `origin`, each file a
// different number of units long (as photos are).
std::vector<uint64_t> startsEvery(uint64_t unit, uint64_t origin, uint64_t count) {
  std::vector<uint64_t> starts;
  uint64_t at = origin;
  for (uint64_t i = 0; i < count; ++i, at += unit * (1 + i * 7 % 5)) starts.push_back(at);
  return starts;
}

struct StartsCase {
  const char* name;
  std::vector<uint64_t> (*starts)();
  uint64_t unit;
  uint64_t origin;  // modulo unit
};

class ClusterFromStarts : public testing::TestWithParam<StartsCase> {};

TEST_P(ClusterFromStarts, IsTheWidestSpacingAlmostAllShare) {
  const StartsCase& c = GetParam();
  const ClusterGeometry geometry = guessClusterFromStarts(c.starts());
  EXPECT_EQ(geometry.unit, c.unit);
  EXPECT_EQ(geometry.origin % geometry.unit, c.origin);
  EXPECT_EQ(geometry.source == GeometrySource::FileStarts, c.unit != 512);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, ClusterFromStarts,
    testing::Values(
        StartsCase{"ThirtyTwoKiBFromZero", [] { return startsEvery(32768, 0, 12); }, 32768, 0},
        // A data area starting at sector 97, after the FATs.
        StartsCase{"ThirtyTwoKiBAfterTheFats", [] { return startsEvery(32768, 97 * 512, 12); },
                   32768, 97 * 512 % 32768},
        StartsCase{"OneStrayFindAmongSixteen",
                   [] {
                     auto starts = startsEvery(32768, 0, 15);
                     starts.push_back(5 * 32768 + 1234);  // a thumbnail listed on its own
                     return starts;
                   },
                   32768, 0},
        StartsCase{"IrregularStarts",
                   [] { return std::vector<uint64_t>{0, 31807, 75000, 99991, 123456, 200001}; },
                   512, 0},
        StartsCase{"SectorsOnly", [] { return startsEvery(512, 0, 12); }, 512, 0},
        StartsCase{"HalfOnAnotherSpacing",
                   [] {
                     auto starts = startsEvery(65536, 0, 6);
                     for (const uint64_t start : startsEvery(4096, 1 << 24, 6))
                       starts.push_back(start + 512);
                     return starts;
                   },
                   512, 0},
        // Three starts 64 KiB apart by chance prove little.
        StartsCase{"TooFewStarts",
                   [] {
                     return std::vector<uint64_t>{65536, 196608, 393216};
                   },
                   512, 0},
        StartsCase{"TheSameStartTwiceCountsOnce",
                   [] {
                     return std::vector<uint64_t>{65536, 65536, 65536, 65536, 131072};
                   },
                   512, 0},
        StartsCase{"NoWiderThanTheLargestGuess",
                   [] { return startsEvery(uint64_t{1} << 20, 0, 8); }, kLargestGuessedCluster, 0}),
    [](const testing::TestParamInfo<StartsCase>& info) { return std::string(info.param.name); });

TEST(ClusterGeometry, ShortOrMissingImagesGiveSectors) {
  const std::vector<uint8_t> tiny(100, 0xEB);
  EXPECT_EQ(guessClusterGeometry(tiny.data(), tiny.size()).unit, 512u);
  EXPECT_EQ(guessClusterGeometry(nullptr, 0).unit, 512u);
}

}  // namespace
}  // namespace kestrix
