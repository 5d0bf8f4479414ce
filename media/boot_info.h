// The geometry record every RawDrive carries: which file system the volume
// holds and in which units the image copy reads it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

// Stored as a plain 32-bit value: the media report names values outside the
// table "無効" rather than trusting them.
enum class VolumeKind : int32_t {
  Unavailable = 0,  // the volume could not be examined
  Fat = 1,          // FAT12 or FAT16
  Fat32 = 2,
  Ntfs = 3,
  Cdfs = 4,   // ISO 9660
  Hfs = 5,    // never detected; the report still has a name for it
  Other = 6,  // readable, but none of the above (exFAT, ext4, wiped)
};

enum class FatVariant : int32_t {
  Unknown = 0,
  Fat12 = 1,
  Fat16 = 2,
};

struct BootInfo {
  // A drive number for callers that count drives; −1 when the drive was
  // named by its device path, as every Linux drive is.
  int32_t driveIndex = -1;
  std::string devicePath;
  VolumeKind volumeKind = VolumeKind::Unavailable;
  FatVariant fatVariant = FatVariant::Unknown;  // meaningful for VolumeKind::Fat only
  uint16_t sectorSize = 0;                      // bytes per sector
  uint32_t sectorsPerCluster = 0;               // 0 until a geometry is known
  uint64_t totalSectors = 0;

  // Whole clusters in the volume; trailing sectors past the last whole
  // cluster are not counted. 0 when no cluster size is known.
  uint64_t clusterCount() const {
    return sectorsPerCluster == 0 ? 0 : totalSectors / sectorsPerCluster;
  }
  uint64_t clusterBytes() const { return uint64_t{sectorsPerCluster} * sectorSize; }
};

}  // namespace kestrix
