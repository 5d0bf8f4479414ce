// RawDrive on real files standing in for drives, and on the memory double.
#include "media/raw_drive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "media/boot_sector.h"
#include "media/drive_error.h"
#include "media/memory_sector_device.h"
#include "media/test_files.h"

namespace kestrix {
namespace {

std::vector<uint8_t> ntfsVolume(uint64_t bytes) {
  std::vector<uint8_t> volume(bytes, 0);
  const uint8_t head[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  std::memcpy(volume.data(), head, sizeof head);
  volume[0x0C] = 2;
  volume[0x0D] = 8;
  volume[0x15] = 0xF8;
  volume[0x18] = 63;
  const uint64_t total = bytes / 512 - 1;  // NTFS keeps its backup boot sector past the count
  for (int i = 0; i < 8; ++i) volume[0x28 + i] = (total >> (8 * i)) & 0xFF;
  return volume;
}

std::vector<uint8_t> isoVolume(uint64_t sectors) {
  std::vector<uint8_t> volume(sectors * 2048, 0);
  const uint8_t descriptor[] = {1, 'C', 'D', '0', '0', '1', 1};
  std::memcpy(volume.data() + 16 * 2048, descriptor, sizeof descriptor);
  return volume;
}

TEST(RawDriveProbe, FatVolumesMadeByMkfs) {
  if (!test::haveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat not installed";
  struct Case {
    const char* name;
    int bits;
    int kib;
    int perCluster;
    VolumeKind kind;
    FatVariant variant;
  };
  const Case cases[] = {
      {"FAT12 floppy-sized", 12, 1440, 1, VolumeKind::Fat, FatVariant::Fat12},
      {"FAT16 card", 16, 20000, 4, VolumeKind::Fat, FatVariant::Fat16},
      {"FAT32 card", 32, 70000, 1, VolumeKind::Fat32, FatVariant::Unknown},
  };
  test::TempFolder folder;
  for (const Case& c : cases) {
    const std::string path = folder.file(std::string("fat") + std::to_string(c.bits));
    ASSERT_TRUE(test::makeFat(path, c.bits, c.kib, c.perCluster)) << c.name;
    RawDrive drive;
    ASSERT_EQ(drive.probe(path), kDriveOk) << c.name;
    const BootInfo& info = drive.bootInfo();
    EXPECT_EQ(info.volumeKind, c.kind) << c.name;
    EXPECT_EQ(info.fatVariant, c.variant) << c.name;
    EXPECT_EQ(info.sectorSize, 512) << c.name;
    EXPECT_EQ(info.sectorsPerCluster, static_cast<uint32_t>(c.perCluster)) << c.name;
    EXPECT_EQ(info.totalSectors, static_cast<uint64_t>(c.kib) * 2) << c.name;
    EXPECT_EQ(info.devicePath, path);
    EXPECT_FALSE(drive.isOpen()) << c.name << ": a probe leaves the drive closed";
  }
}

TEST(RawDriveProbe, HandBuiltAndUnrecognisedVolumes) {
  std::vector<uint8_t> fat(1 << 20, 0);
  auto sector = test::fat16BootSector(2048, 4);
  std::memcpy(fat.data(), sector.data(), sector.size());
  auto zeroCluster = fat;
  zeroCluster[0x0D] = 0;
  auto beyondDevice = fat;
  beyondDevice[0x13] = 0;
  beyondDevice[0x14] = 0x10;  // 4096 sectors on a 2048-sector file
  std::vector<uint8_t> odd(512 * 1001 + 77, 0xE5);

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    VolumeKind kind;
    uint16_t sectorSize;
    uint32_t perCluster;
    uint64_t total;
  };
  const Case cases[] = {
      {"NTFS from its boot sector", ntfsVolume(1 << 20), VolumeKind::Ntfs, 512, 8, 2047},
      {"ISO 9660: 2048-byte sectors, one per cluster", isoVolume(40), VolumeKind::Cdfs, 2048, 1,
       40},
      {"FAT16 boot sector", fat, VolumeKind::Fat, 512, 4, 2048},
      {"zero sectors per cluster is no FAT: whole device", zeroCluster, VolumeKind::Other, 512, 64,
       2048},
      {"more sectors than the device: whole device", beyondDevice, VolumeKind::Fat, 512, 64, 2048},
      {"unformatted: whole device, every whole sector", odd, VolumeKind::Other, 512, 1, 1001},
  };
  test::TempFolder folder;
  for (const Case& c : cases) {
    const std::string path = folder.file("volume");
    test::writeFile(path, c.bytes);
    RawDrive drive;
    ASSERT_EQ(drive.probe(path), kDriveOk) << c.name;
    const BootInfo& info = drive.bootInfo();
    EXPECT_EQ(info.volumeKind, c.kind) << c.name;
    EXPECT_EQ(info.sectorSize, c.sectorSize) << c.name;
    EXPECT_EQ(info.sectorsPerCluster, c.perCluster) << c.name;
    EXPECT_EQ(info.totalSectors, c.total) << c.name;
  }
}

TEST(RawDriveProbe, FailuresGiveTheirCodes) {
  test::TempFolder folder;
  test::writeFile(folder.file("empty"), {});
  test::writeFile(folder.file("short"), std::vector<uint8_t>(100, 0));
  struct Case {
    const char* name;
    std::string path;
    uint32_t code;
  };
  const Case cases[] = {
      {"no such device", folder.file("missing"), kDriveInvalid},
      {"a folder is not a drive", folder.file(""), kDriveInvalid},
      {"empty file has no boot sector", folder.file("empty"), kDriveEndOfMedium},
      {"shorter than one sector", folder.file("short"), kDriveEndOfMedium},
  };
  for (const Case& c : cases) {
    RawDrive drive;
    const uint32_t code = drive.probe(c.path);
    EXPECT_EQ(code, c.code) << c.name;
  }
  EXPECT_EQ(driveErrorFromErrno(EACCES), kDriveAccessDenied);
  EXPECT_EQ(driveErrorFromErrno(ENOMEDIUM), kDriveNotReady);
  EXPECT_EQ(driveErrorFromErrno(EIO), kDriveErrnoBase | EIO);
}

// The descriptor's open flags, from /proc/self/fdinfo of the fd that names path.
int openFlagsOf(const std::string& path) {
  for (const auto& link : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(link.path(), error) != path) continue;
    std::ifstream info("/proc/self/fdinfo/" + link.path().filename().string());
    std::string key;
    while (info >> key) {
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        return static_cast<int>(std::stol(octal, nullptr, 8));
      }
    }
  }
  return -1;
}

TEST(RawDrive, OpensReadOnlyWhateverAccessIsAsked) {
  test::TempFolder folder;
  const std::string path = folder.file("card");
  test::writeFile(path, std::vector<uint8_t>(4096, 1));
  for (uint32_t access : {RawDrive::kGenericRead, RawDrive::kGenericWrite,
                          RawDrive::kGenericRead | RawDrive::kGenericWrite}) {
    RawDrive drive;
    ASSERT_TRUE(drive.open(path, access));
    const int flags = openFlagsOf(path);
    ASSERT_NE(flags, -1);
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY) << "access " << access;
  }
}

TEST(RawDrive, FailedReadLeavesZeroFilledBufferAndEndOfDeviceFails) {
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes.assign(512 * 8, 0xAB);
  state->failSector(3);
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  ASSERT_TRUE(drive.open("card"));
  uint32_t bytesRead = 99;
  ASSERT_TRUE(drive.readSectors(0, 2, 512, &bytesRead));
  EXPECT_EQ(bytesRead, 1024u);
  EXPECT_EQ(drive.buffer()[1023], 0xAB);

  EXPECT_FALSE(drive.readSectors(2, 2, 512, &bytesRead)) << "touches the bad sector";
  EXPECT_EQ(bytesRead, 0u);
  ASSERT_EQ(drive.bufferSize(), 1024u);
  for (uint32_t i = 0; i < drive.bufferSize(); ++i) ASSERT_EQ(drive.buffer()[i], 0) << i;

  EXPECT_FALSE(drive.readSectors(7, 2, 512, &bytesRead)) << "runs past the end";
  EXPECT_EQ(drive.lastError(), kDriveEndOfMedium);
  ASSERT_TRUE(drive.readSectors(0, 1, 512, &bytesRead));
  EXPECT_FALSE(drive.readClusters(0, 0x10000, 512, 0x10000, &bytesRead))
      << "count overflows 32 bits";
  EXPECT_EQ(drive.bufferSize(), 0u) << "no earlier read's bytes stay behind a failure";
  EXPECT_FALSE(drive.readClusters(0, 1, 512, 0, &bytesRead)) << "zero cluster size";
  EXPECT_EQ(reinterpret_cast<uintptr_t>(drive.buffer()) % 4096, 0u);
}

TEST(RawDriveProbe, IsoVolumeOnA4KiBSectorDeviceIsFound) {
  // The descriptor sits at 32 KiB + 1: reading only whole 4 KiB sectors
  // below the probe length would stop just short of it.
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes = isoVolume(40);
  state->sectorSize = 4096;
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  ASSERT_EQ(drive.probe("card"), kDriveOk);
  EXPECT_EQ(drive.bootInfo().volumeKind, VolumeKind::Cdfs);
}

TEST(RawDrive, ProbeSurvivesBadSectorsAfterTheBootSector) {
  auto state = std::make_shared<test::MemoryDriveState>();
  state->bytes.assign(512 * 2048, 0);
  auto sector = test::fat16BootSector(2048, 4);
  std::memcpy(state->bytes.data(), sector.data(), 512);
  state->failSector(10);
  RawDrive drive(std::make_unique<test::MemorySectorDevice>(state));
  ASSERT_EQ(drive.probe("card"), kDriveOk);
  EXPECT_EQ(drive.bootInfo().volumeKind, VolumeKind::Fat);
  EXPECT_EQ(drive.bootInfo().sectorsPerCluster, 4u);

  state->failSector(0);
  EXPECT_NE(drive.probe("card"), kDriveOk) << "an unreadable boot sector fails the probe";
}

}  // namespace
}  // namespace kestrix
