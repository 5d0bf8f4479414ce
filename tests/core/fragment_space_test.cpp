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

std::vector<uint8_t> fatBootSector(uint16_t sectorBytes, uint8_t perCluster, uint16_t reserved, uint8_t fats,
                                   uint16_t rootEntries, uint16_t fat16Size, uint32_t fat32Size) {
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

std::vector<uint8_t> exfatBootSector(uint8_t sectorShift, uint8_t clusterShift, uint32_t heapSectors) {
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
    for (int i = 0; i < 4; ++i) image[446 + 8 + i] = static_cast<uint8_t>(c.partitionSector >> (8 * i));
    image[510] = 0x55, image[511] = 0xAA;
  }
  const ClusterGeometry geometry = guessClusterGeometry(image.data(), image.size());
  EXPECT_EQ(geometry.unit, c.unit);
  EXPECT_EQ(geometry.origin, c.origin);
  EXPECT_EQ(geometry.fromBootSector, c.fromBootSector);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, ClusterGeometryOf,
    testing::Values(
        // 1 reserved + 2 × 32 FAT sectors + 32 root sectors = sector 97.
        GeometryCase{"Fat16", [] { return fatBootSector(512, 8, 1, 2, 512, 32, 0); }, 0, 4096, 97 * 512, true},
        // 32 reserved + 2 × 100 FAT sectors, no root area: sector 232.
        GeometryCase{"Fat32", [] { return fatBootSector(512, 64, 32, 2, 0, 0, 100); }, 0, 32768, 232 * 512, true},
        GeometryCase{"Fat32InFirstPartition", [] { return fatBootSector(512, 64, 32, 2, 0, 0, 100); }, 2048,
                     32768, (2048 + 232) * 512, true},
        GeometryCase{"ExFat", [] { return exfatBootSector(9, 8, 2048); }, 0, 131072, 2048 * 512, true},
        GeometryCase{"ExFatClusterShiftTooLarge", [] { return exfatBootSector(9, 30, 2048); }, 0, 512, 0, false},
        GeometryCase{"FatWithoutFatSize", [] { return fatBootSector(512, 8, 1, 2, 512, 0, 0); }, 0, 512, 0, false},
        GeometryCase{"FatClusterNotAPowerOfTwo", [] { return fatBootSector(512, 3, 1, 2, 512, 32, 0); }, 0, 512, 0,
                     false},
        GeometryCase{"FatDataPastTheImage", [] { return fatBootSector(512, 8, 1, 2, 512, 60000, 0); }, 0, 512, 0,
                     false},
        GeometryCase{"NoVolume", [] { return std::vector<uint8_t>(512, 0x37); }, 0, 512, 0, false}),
    [](const testing::TestParamInfo<GeometryCase>& info) { return std::string(info.param.name); });

TEST(ClusterGeometry, ShortOrMissingImagesGiveSectors) {
  const std::vector<uint8_t> tiny(100, 0xEB);
  EXPECT_EQ(guessClusterGeometry(tiny.data(), tiny.size()).unit, 512u);
  EXPECT_EQ(guessClusterGeometry(nullptr, 0).unit, 512u);
}

}  // namespace
}  // namespace kestrix
