#include "media/boot_sector.h"

#include <array>
#include <cctype>
#include <string_view>

#include "media/little_endian_reader.h"
#include "platform/byte_view.h"

namespace kestrix {

namespace {

// BIOS parameter block offsets shared by FAT12/16, FAT32 and NTFS.
constexpr uint64_t kBytesPerSectorAt = 0x0B;
constexpr uint64_t kSectorsPerClusterAt = 0x0D;
constexpr uint64_t kReservedSectorsAt = 0x0E;
constexpr uint64_t kFatCountAt = 0x10;
constexpr uint64_t kRootEntriesAt = 0x11;
constexpr uint64_t kTotalSectors16At = 0x13;
constexpr uint64_t kMediaDescriptorAt = 0x15;
constexpr uint64_t kFatSectors16At = 0x16;
constexpr uint64_t kTotalSectors32At = 0x20;
constexpr uint64_t kFatTypeTextAt = 0x36;  // FAT12/16 extended BPB
constexpr uint64_t kNtfsTotalSectorsAt = 0x28;
constexpr uint64_t kOemNameAt = 0x03;
constexpr uint64_t kFatSectors32At = 0x24;    // FAT32 extended BPB
constexpr uint64_t kBootSignatureAt = 0x1FE;  // 55 AA
// exFAT boot sector fields (its own layout after the name).
constexpr uint64_t kExfatClusterHeapAt = 0x58;
constexpr uint64_t kExfatSectorShiftAt = 0x6C;
constexpr uint64_t kExfatClusterShiftAt = 0x6D;

constexpr std::array<char, 8> kNtfsOemName{'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
constexpr std::array<char, 8> kExfatOemName{'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '};
constexpr std::array<char, 5> kIsoIdentifier{'C', 'D', '0', '0', '1'};

bool isPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

bool isSectorSize(uint64_t value) { return isPowerOfTwo(value) && value >= 512 && value <= 4096; }

// A FAT boot sector starts with a jump (EB xx or E9 xx xx) and its BPB holds
// sane counts; a partition table or random data almost never passes all of
// these at once.
bool looksLikeFatBpb(const LittleEndianReader& reader) {
  uint8_t jump = 0, sectorsPerCluster = 0, fatCount = 0, media = 0;
  uint16_t bytesPerSector = 0, reserved = 0;
  if (!reader.u8(0, &jump) || !reader.u16(kBytesPerSectorAt, &bytesPerSector) ||
      !reader.u8(kSectorsPerClusterAt, &sectorsPerCluster) ||
      !reader.u16(kReservedSectorsAt, &reserved) || !reader.u8(kFatCountAt, &fatCount) ||
      !reader.u8(kMediaDescriptorAt, &media)) {
    return false;
  }
  if (jump != 0xEB && jump != 0xE9) return false;
  if (!isSectorSize(bytesPerSector) || !isPowerOfTwo(sectorsPerCluster)) return false;
  if (reserved == 0 || fatCount == 0) return false;
  return media == 0xF0 || media >= 0xF8;  // the only descriptors FAT defines
}

}  // namespace

VolumeKind detectVolumeKind(std::span<const uint8_t> head) {
  LittleEndianReader reader(head);
  if (reader.matches(kOemNameAt, kNtfsOemName)) return VolumeKind::Ntfs;
  if (reader.matches(kOemNameAt, kExfatOemName)) return VolumeKind::Other;
  if (looksLikeFatBpb(reader)) {
    // FAT32 is the FAT whose 16-bit FAT size and root entry count are both
    // zero (the FAT32 boot-sector layout: BPB_FATSz16 and BPB_RootEntCnt).
    uint16_t rootEntries = 0, fatSectors16 = 0;
    reader.u16(kRootEntriesAt, &rootEntries);
    reader.u16(kFatSectors16At, &fatSectors16);
    return rootEntries == 0 && fatSectors16 == 0 ? VolumeKind::Fat32 : VolumeKind::Fat;
  }
  if (reader.matches(kIsoDescriptorOffset + 1, kIsoIdentifier)) return VolumeKind::Cdfs;
  return VolumeKind::Other;
}

std::optional<ClusterLayout> clusterLayout(std::span<const uint8_t> sector) {
  const ByteView boot(sector);
  constexpr uint8_t kSignature[] = {0x55, 0xAA};
  if (!boot.equals(kBootSignatureAt, kSignature, sizeof kSignature)) return std::nullopt;
  constexpr auto little = ByteOrder::LittleEndian;
  if (boot.equals(kOemNameAt, kExfatOemName.data(), kExfatOemName.size())) {
    const auto sectorShift = boot.u8(kExfatSectorShiftAt);
    const auto clusterShift = boot.u8(kExfatClusterShiftAt);
    const auto heapSector = boot.u32(kExfatClusterHeapAt, little);
    // exFAT: sectors of 2^9..2^12 bytes, clusters of at most 32 MiB.
    if (!sectorShift || !clusterShift || !heapSector || *sectorShift < 9 || *sectorShift > 12 ||
        *clusterShift > 25 - *sectorShift) {
      return std::nullopt;
    }
    const uint64_t sectorBytes = uint64_t{1} << *sectorShift;
    return ClusterLayout{sectorBytes << *clusterShift, uint64_t{*heapSector} * sectorBytes};
  }
  const auto jump = boot.u8(0);
  const auto sectorBytes = boot.u16(kBytesPerSectorAt, little);
  const auto perCluster = boot.u8(kSectorsPerClusterAt);
  const auto reserved = boot.u16(kReservedSectorsAt, little);
  const auto fats = boot.u8(kFatCountAt);
  const auto rootEntries = boot.u16(kRootEntriesAt, little);
  const auto fatSectors16 = boot.u16(kFatSectors16At, little);
  const auto fatSectors32 = boot.u32(kFatSectors32At, little);
  if (!jump || !sectorBytes || !perCluster || !reserved || !fats || !rootEntries || !fatSectors16 ||
      !fatSectors32 || (*jump != 0xEB && *jump != 0xE9)) {
    return std::nullopt;
  }
  // FAT32 leaves the 16-bit FAT size zero and gives the 32-bit one.
  const uint64_t fatSectors = *fatSectors16 != 0 ? *fatSectors16 : *fatSectors32;
  if (!isSectorSize(*sectorBytes) || !isPowerOfTwo(*perCluster) || *reserved == 0 || *fats == 0 ||
      *fats > 4 || fatSectors == 0) {
    return std::nullopt;
  }
  // The root directory of FAT12/16: 32-byte entries, whole sectors.
  const uint64_t rootSectors = (uint64_t{*rootEntries} * 32 + *sectorBytes - 1) / *sectorBytes;
  return ClusterLayout{uint64_t{*sectorBytes} * *perCluster,
                       (*reserved + *fats * fatSectors + rootSectors) * *sectorBytes};
}

FatVariant fatVariantFromTypeText(std::span<const uint8_t> typeText, FatVariant previous) {
  // The text ends at its first space or zero byte; only the first 8 count.
  std::array<char, 9> text{};
  for (size_t i = 0; i < 8 && i < typeText.size(); ++i) {
    if (typeText[i] == ' ' || typeText[i] == 0) break;
    text[i] = static_cast<char>(std::toupper(typeText[i]));
  }
  std::string_view name(text.data());
  if (name == "FAT16") return FatVariant::Fat16;
  if (name == "FAT12") return FatVariant::Fat12;
  return previous;
}

bool parseBootSector(std::span<const uint8_t> sector, BootInfo& info) {
  LittleEndianReader reader(sector);
  uint16_t bytesPerSector = 0, total16 = 0;
  uint8_t sectorsPerCluster = 0;
  uint32_t total32 = 0;
  uint64_t total64 = 0;
  switch (info.volumeKind) {
    case VolumeKind::Fat:
    case VolumeKind::Fat32: {
      if (!reader.u16(kBytesPerSectorAt, &bytesPerSector) ||
          !reader.u8(kSectorsPerClusterAt, &sectorsPerCluster) ||
          !reader.u16(kTotalSectors16At, &total16) || !reader.u32(kTotalSectors32At, &total32) ||
          !reader.has(kFatTypeTextAt, 8)) {
        return false;
      }
      info.sectorSize = bytesPerSector;
      info.sectorsPerCluster = sectorsPerCluster;
      info.totalSectors = total16 != 0 ? total16 : total32;
      if (info.volumeKind == VolumeKind::Fat) {
        info.fatVariant =
            fatVariantFromTypeText(sector.subspan(kFatTypeTextAt, 8), info.fatVariant);
      }
      return true;
    }
    case VolumeKind::Ntfs:
      if (!reader.u16(kBytesPerSectorAt, &bytesPerSector) ||
          !reader.u8(kSectorsPerClusterAt, &sectorsPerCluster) ||
          !reader.u64(kNtfsTotalSectorsAt, &total64)) {
        return false;
      }
      info.sectorSize = bytesPerSector;
      info.sectorsPerCluster = sectorsPerCluster;
      info.totalSectors = total64;
      return true;
    default: return true;  // the platform's view stays
  }
}

bool isUsableGeometry(const BootInfo& info, uint64_t deviceBytes) {
  if (!isSectorSize(info.sectorSize) || !isPowerOfTwo(info.sectorsPerCluster)) return false;
  if (info.clusterBytes() > kMaximumClusterBytes) return false;
  if (info.totalSectors == 0 || info.totalSectors > deviceBytes / info.sectorSize) return false;
  return info.clusterCount() > 0;
}

void setWholeDeviceGeometry(BootInfo& info, uint32_t deviceSectorSize, uint64_t deviceBytes) {
  info.sectorSize = static_cast<uint16_t>(isSectorSize(deviceSectorSize) ? deviceSectorSize : 512);
  info.totalSectors = deviceBytes / info.sectorSize;
  uint32_t sectorsPerCluster = kFallbackSectorsPerCluster;
  while (sectorsPerCluster > 1 && info.totalSectors % sectorsPerCluster != 0) {
    sectorsPerCluster /= 2;
  }
  info.sectorsPerCluster = sectorsPerCluster;
}

}  // namespace kestrix
