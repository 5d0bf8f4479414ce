// Reading a volume's own description of itself: which file system it holds
// (from the FAT/NTFS boot sector or the ISO 9660 volume descriptors) and the
// geometry its BIOS parameter block states. Every byte handled here came off
// the medium and is treated as hostile.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "media/boot_info.h"

namespace kestrix {

// ISO 9660 puts its first volume descriptor at sector 16 of 2048-byte
// sectors, identifier "CD001" at byte 1 of the descriptor.
constexpr uint64_t kIsoSectorSize = 2048;
constexpr uint64_t kIsoDescriptorOffset = 16 * kIsoSectorSize;
// Bytes from the start of the volume that detectVolumeKind needs to see.
constexpr uint64_t kVolumeProbeBytes = kIsoDescriptorOffset + kIsoSectorSize;
// The boot-sector fields the report prints all lie in the first 512 bytes.
constexpr uint32_t kBootSectorBytes = 512;
// Largest cluster a volume may claim: 128 sectors of 4096 bytes (the BPB's
// 8-bit count times the largest FAT sector size). Bigger means garbage.
constexpr uint64_t kMaximumClusterBytes = 128 * 4096;
// Cluster size used when the volume's own geometry cannot be trusted.
constexpr uint32_t kFallbackSectorsPerCluster = 64;

// Where a FAT12/16/32 or exFAT volume's clusters lie, in bytes from its
// boot sector: every file starts at dataOffset + k * clusterBytes.
struct ClusterLayout {
  uint64_t clusterBytes = 0;
  uint64_t dataOffset = 0;  // FAT: past the reserved sectors, the FATs and the root directory;
                            // exFAT: the cluster heap
};

// The cluster layout a boot sector states (its 55 AA signature at 510, the
// exFAT name or a FAT jump, counts in range); nullopt for anything else.
// Unlike detectVolumeKind it does not ask for a known media descriptor: a
// card's formatter may write any, and only the layout is wanted.
std::optional<ClusterLayout> clusterLayout(std::span<const uint8_t> sector);

// Kind of the volume whose first bytes are head (shorter is fine: whatever
// is missing simply does not match). Never Unavailable: bytes that were read
// but match nothing are Other.
VolumeKind detectVolumeKind(std::span<const uint8_t> head);

// Fills sector size, sectors per cluster and total sectors from the BIOS
// parameter block for kinds Fat, Fat32 and Ntfs (and the FAT variant for
// Fat); other kinds are left unchanged. False when the sector is too short
// to hold the fields (the record is then unchanged).
bool parseBootSector(std::span<const uint8_t> sector, BootInfo& info);

// The FAT variant named by the 8-byte type text at 0x36: the text up to its
// first space, compared case-insensitively with "FAT16" then "FAT12";
// anything else returns previous.
FatVariant fatVariantFromTypeText(std::span<const uint8_t> typeText, FatVariant previous);

// True when the record's geometry can be copied from a device of
// deviceBytes: power-of-two sector size 512..4096, non-zero power-of-two
// cluster of at most kMaximumClusterBytes, and total sectors that are
// non-zero and lie within the device.
bool isUsableGeometry(const BootInfo& info, uint64_t deviceBytes);

// Geometry covering the whole device: the device's sector size (512 when it
// is not a power of two in 512..4096), every whole sector, and the largest
// power-of-two cluster of at most kFallbackSectorsPerCluster sectors that
// divides the sector count, so no sector is left out of the image.
void setWholeDeviceGeometry(BootInfo& info, uint32_t deviceSectorSize, uint64_t deviceBytes);

}  // namespace kestrix
