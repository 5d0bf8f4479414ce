// Volume detection and the boot-sector parse on hand-built and hostile bytes.
#include "media/boot_sector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/memory_sector_device.h"

namespace kestrix {
namespace {

std::vector<uint8_t> withBytes(std::vector<uint8_t> base, size_t at, std::vector<uint8_t> bytes) {
  if (base.size() < at + bytes.size()) base.resize(at + bytes.size(), 0);
  std::memcpy(base.data() + at, bytes.data(), bytes.size());
  return base;
}

std::vector<uint8_t> fat32Sector() {
  auto sector = test::fat16BootSector(0, 8);
  sector[0x11] = sector[0x12] = 0;  // no root entries
  sector[0x16] = sector[0x17] = 0;  // FAT size lives at 0x24 in FAT32
  for (int i = 0; i < 4; ++i) sector[0x20 + i] = (1000000 >> (8 * i)) & 0xFF;
  return sector;
}

std::vector<uint8_t> ntfsSector() {
  std::vector<uint8_t> sector(512, 0);
  sector = withBytes(sector, 0, {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '});
  sector[0x0C] = 2;  // 512
  sector[0x0D] = 8;
  sector[0x15] = 0xF8;
  sector[0x18] = 63;
  const uint64_t total = 0x1'2345'6789ULL;
  for (int i = 0; i < 8; ++i) sector[0x28 + i] = (total >> (8 * i)) & 0xFF;
  return sector;
}

struct DetectCase {
  const char* name;
  std::vector<uint8_t> head;
  VolumeKind expected;
};

TEST(DetectVolumeKind, ClassifiesBySignatures) {
  std::vector<uint8_t> iso(kVolumeProbeBytes, 0);
  iso = withBytes(iso, kIsoDescriptorOffset, {1, 'C', 'D', '0', '0', '1', 1});
  auto badSectorSize = test::fat16BootSector(4000, 4);
  badSectorSize[0x0B] = 0x00;
  badSectorSize[0x0C] = 0x03;  // 768
  auto badMedia = test::fat16BootSector(4000, 4);
  badMedia[0x15] = 0x12;
  auto noJump = test::fat16BootSector(4000, 4);
  noJump[0] = 0x33;
  const DetectCase cases[] = {
      {"fat16 from its bpb", test::fat16BootSector(4000, 4), VolumeKind::Fat},
      {"fat32 has no 16-bit fat size and no root entries", fat32Sector(), VolumeKind::Fat32},
      {"ntfs oem name", ntfsSector(), VolumeKind::Ntfs},
      {"exfat is other",
       withBytes(std::vector<uint8_t>(512, 0), 0,
                 {0xEB, 0x76, 0x90, 'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '}),
       VolumeKind::Other},
      {"iso 9660 descriptor at sector 16", iso, VolumeKind::Cdfs},
      {"iso signature cut off by a short head",
       std::vector<uint8_t>(iso.begin(), iso.begin() + kIsoDescriptorOffset + 3),
       VolumeKind::Other},
      {"wiped card", std::vector<uint8_t>(kVolumeProbeBytes, 0), VolumeKind::Other},
      {"erased flash", std::vector<uint8_t>(kVolumeProbeBytes, 0xFF), VolumeKind::Other},
      {"sector size not a power of two", badSectorSize, VolumeKind::Other},
      {"media descriptor FAT never uses", badMedia, VolumeKind::Other},
      {"partition table without a jump", noJump, VolumeKind::Other},
      {"ten bytes only", std::vector<uint8_t>{0xEB, 0x3C, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' '},
       VolumeKind::Other},
      {"nothing at all", {}, VolumeKind::Other},
  };
  for (const DetectCase& c : cases) {
    EXPECT_EQ(detectVolumeKind(c.head), c.expected) << c.name;
  }
}

TEST(FatVariant, TypeTextUpToFirstSpaceCaseInsensitive) {
  struct Case {
    const char* name;
    const char* text;
    FatVariant previous;
    FatVariant expected;
  };
  const Case cases[] = {
      {"FAT12 padded", "FAT12   ", FatVariant::Unknown, FatVariant::Fat12},
      {"lower-case fat16", "fat16   ", FatVariant::Unknown, FatVariant::Fat16},
      {"space inside ends the text", "FAT 16  ", FatVariant::Unknown, FatVariant::Unknown},
      {"plain FAT keeps the earlier variant", "FAT     ", FatVariant::Fat12, FatVariant::Fat12},
      {"ninth byte never counts", "FAT16XYZ", FatVariant::Unknown, FatVariant::Unknown},
      {"zero byte ends the text", "FAT12\0\0\0", FatVariant::Unknown, FatVariant::Fat12},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> text(c.text, c.text + 8);
    EXPECT_EQ(fatVariantFromTypeText(text, c.previous), c.expected) << c.name;
  }
}

TEST(ParseBootSector, FieldsPerKind) {
  BootInfo fat;
  fat.volumeKind = VolumeKind::Fat;
  ASSERT_TRUE(parseBootSector(test::fat16BootSector(70000, 4), fat));
  EXPECT_EQ(fat.totalSectors, 70000u) << "16-bit total zero: the 32-bit count at 0x20";
  EXPECT_EQ(fat.sectorsPerCluster, 4u);
  EXPECT_EQ(fat.sectorSize, 512);
  EXPECT_EQ(fat.fatVariant, FatVariant::Fat16);

  BootInfo fat32;  // named FAT32 by detection: FAT16-looking fields change nothing
  fat32.volumeKind = VolumeKind::Fat32;
  ASSERT_TRUE(parseBootSector(test::fat16BootSector(4000, 2), fat32));
  EXPECT_EQ(fat32.totalSectors, 4000u);
  EXPECT_EQ(fat32.fatVariant, FatVariant::Unknown);

  BootInfo ntfs;
  ntfs.volumeKind = VolumeKind::Ntfs;
  ASSERT_TRUE(parseBootSector(ntfsSector(), ntfs));
  EXPECT_EQ(ntfs.totalSectors, 0x1'2345'6789ULL);
  EXPECT_EQ(ntfs.sectorsPerCluster, 8u);

  BootInfo cd;
  cd.volumeKind = VolumeKind::Cdfs;
  cd.sectorSize = 2048;
  cd.sectorsPerCluster = 1;
  cd.totalSectors = 99;
  ASSERT_TRUE(parseBootSector(test::fat16BootSector(4000, 2), cd));
  EXPECT_EQ(cd.sectorSize, 2048) << "other kinds keep the platform's view";
  EXPECT_EQ(cd.totalSectors, 99u);

  BootInfo shortRead;
  shortRead.volumeKind = VolumeKind::Ntfs;
  std::vector<uint8_t> cut(0x2C, 0);
  EXPECT_FALSE(parseBootSector(cut, shortRead));
  EXPECT_EQ(shortRead.sectorSize, 0) << "a sector too short leaves the record alone";
}

TEST(Geometry, UsableOnlyWhenTheDeviceCanHoldIt) {
  struct Case {
    const char* name;
    uint16_t sectorSize;
    uint32_t perCluster;
    uint64_t total;
    uint64_t device;
    bool usable;
  };
  const Case cases[] = {
      {"ordinary card", 512, 64, 1000, 512000, true},
      {"zero sectors per cluster", 512, 0, 1000, 512000, false},
      {"cluster not a power of two", 512, 3, 1000, 512000, false},
      {"zero bytes per sector", 0, 4, 1000, 512000, false},
      {"bytes per sector not a power of two", 520, 4, 1000, 1 << 20, false},
      {"zero total", 512, 4, 0, 512000, false},
      {"more sectors than the device", 512, 4, 1001, 512000, false},
      {"fewer sectors than one cluster", 512, 64, 10, 512000, false},
      {"cluster of 128 sectors of 4096 is the limit", 4096, 128, 1024, 4 << 20, true},
  };
  for (const Case& c : cases) {
    BootInfo info;
    info.sectorSize = c.sectorSize;
    info.sectorsPerCluster = c.perCluster;
    info.totalSectors = c.total;
    EXPECT_EQ(isUsableGeometry(info, c.device), c.usable) << c.name;
  }
}

TEST(Geometry, WholeDeviceKeepsEverySector) {
  struct Case {
    const char* name;
    uint32_t deviceSector;
    uint64_t bytes;
    uint16_t sectorSize;
    uint32_t perCluster;
    uint64_t total;
  };
  const Case cases[] = {
      {"1 GiB card", 512, 1ULL << 30, 512, 64, 2097152},
      {"1000 sectors", 512, 512000, 512, 8, 1000},
      {"odd sector count", 512, 512 * 1001, 512, 1, 1001},
      {"partial last sector dropped", 512, 512 * 64 + 100, 512, 64, 64},
      {"4Kn device", 4096, 4096 * 128, 4096, 64, 128},
      {"device reports nonsense sector size", 3, 512 * 16, 512, 16, 16},
  };
  for (const Case& c : cases) {
    BootInfo info;
    setWholeDeviceGeometry(info, c.deviceSector, c.bytes);
    EXPECT_EQ(info.sectorSize, c.sectorSize) << c.name;
    EXPECT_EQ(info.sectorsPerCluster, c.perCluster) << c.name;
    EXPECT_EQ(info.totalSectors, c.total) << c.name;
    EXPECT_EQ(info.clusterCount() * info.sectorsPerCluster, info.totalSectors) << c.name;
  }
}

}  // namespace
}  // namespace kestrix
