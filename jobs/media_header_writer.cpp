#include "jobs/media_header_writer.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "media/boot_info.h"
#include "media/boot_sector.h"
#include "media/little_endian_reader.h"
#include "media/raw_drive.h"

namespace kestrix {

namespace {

constexpr const char* kSeparator = "/* ********************************************* */\r\n";

__attribute__((format(printf, 2, 3))) void appendFormat(std::string& out, const char* format, ...) {
  char line[256];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (length > 0) out.append(line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
}

const char* kindName(const BootInfo& info) {
  switch (info.volumeKind) {
    case VolumeKind::Unavailable: return "不明";
    case VolumeKind::Fat:
      if (info.fatVariant == FatVariant::Fat16) return "FAT16";
      if (info.fatVariant == FatVariant::Fat12) return "FAT12";
      return "FAT";
    case VolumeKind::Fat32: return "FAT32";
    case VolumeKind::Ntfs: return "NTFS";
    case VolumeKind::Cdfs: return "CDFS";
    case VolumeKind::Hfs: return "HFS";
    case VolumeKind::Other: return "OTHER";
  }
  return "無効";  // a value outside the table
}

// Text fields are printed as stored, except that a zero byte (an unset
// label, or the zero area of an unreadable boot sector) becomes a space so
// the text does not end in the middle of the header.
void appendStoredText(std::string& out, const std::array<uint8_t, 512>& sector, size_t at,
                      size_t length) {
  for (size_t i = 0; i < length; ++i) {
    uint8_t byte = sector[at + i];
    out.push_back(byte == 0 ? ' ' : static_cast<char>(byte));
  }
}

// Boot-sector block fields; offsets per the FAT12/16 and FAT32 extended BPBs.
struct FatBlockLayout {
  uint64_t serialAt;
  uint64_t driveNumberAt;
  uint64_t labelAt;
  uint64_t typeTextAt;
  const char* serialFormat;
  const char* typeTextHeading;
};
constexpr FatBlockLayout kFat16Layout{
    0x27, 0x24, 0x2B, 0x36, "シリアル番号:\t\t%04X - %04X\r\n", "FATタイプ:\t\t"};
constexpr FatBlockLayout kFat32Layout{
    0x43, 0x40, 0x47, 0x52, "シリアル番号:\t\t%X - %X\r\n", "システムID:\t\t"};

void appendBootSectorBlock(std::string& out, VolumeKind kind,
                           const std::array<uint8_t, 512>& sector) {
  LittleEndianReader reader(sector);
  uint8_t media = 0, fatCount = 0, driveNumber = 0;
  uint16_t rootEntries = 0, fatSectors = 0, trackSectors = 0, reserved = 0;
  uint32_t hidden = 0, serial = 0;
  // Every offset below lies inside the 512-byte area; the reads cannot fail.
  reader.u8(0x15, &media);
  reader.u16(0x18, &trackSectors);
  appendFormat(out, "メディアタイプ:\t\t0x%X\r\n", media);
  if (kind == VolumeKind::Ntfs) {
    appendFormat(out, "トラックサイズ:\t\t%d セクタ\r\n", trackSectors);
    return;
  }
  const FatBlockLayout& layout = kind == VolumeKind::Fat32 ? kFat32Layout : kFat16Layout;
  reader.u8(0x10, &fatCount);
  reader.u16(0x11, &rootEntries);
  reader.u16(0x16, &fatSectors);
  reader.u32(0x1C, &hidden);
  reader.u16(0x0E, &reserved);
  reader.u32(layout.serialAt, &serial);
  reader.u8(layout.driveNumberAt, &driveNumber);
  appendFormat(out, "FATの数:\t\t%d 個\r\n", fatCount);
  appendFormat(out, "ルートエントリー数:\t%d 個\r\n", rootEntries);
  appendFormat(out, "FATサイズ:\t\t%d セクタ\r\n", fatSectors);
  appendFormat(out, "トラックサイズ:\t\t%d セクタ\r\n", trackSectors);
  appendFormat(out, "隠しセクタ数:\t\t%u セクタ\r\n", hidden);
  appendFormat(out, "予約セクタ数:\t\t%d セクタ\r\n\r\n", reserved);
  appendFormat(out, layout.serialFormat, serial >> 16, serial & 0xFFFF);
  appendFormat(out, "ドライブ番号:\t\t%X\r\n", driveNumber);
  out += "ラベル名:\t\t\t";
  appendStoredText(out, sector, layout.labelAt, 11);
  out += "\r\n";
  out += layout.typeTextHeading;
  appendStoredText(out, sector, layout.typeTextAt, 8);
  out += "\r\n";
}

}  // namespace

size_t writeMediaHeader(RawDrive& drive, std::string& out) {
  BootInfo info = drive.bootInfo();
  out += kSeparator;
  std::string name = info.devicePath;
  if (name.empty() && info.driveIndex >= 0 && info.driveIndex < 26) {
    name = std::string(1, static_cast<char>('A' + info.driveIndex)) + ":";
  }
  appendFormat(out, "タイプ:\t\t\t(%s)%s \r\n", name.c_str(), kindName(info));
  appendFormat(out, "クラスタ総数:\t\t%llu クラスタ\r\n",
               static_cast<unsigned long long>(info.clusterCount()));
  appendFormat(out, "セクタ数/クラスタ:\t\t%u セクタ\r\n", info.sectorsPerCluster);
  appendFormat(out, "バイト/セクタ:\t\t%u バイト\r\n", static_cast<unsigned>(info.sectorSize));
  const VolumeKind kind = info.volumeKind;
  if (kind == VolumeKind::Fat || kind == VolumeKind::Fat32 || kind == VolumeKind::Ntfs) {
    std::array<uint8_t, kBootSectorBytes> sector{};
    if (!drive.copyBootSector(sector.data(), info)) sector.fill(0);
    appendBootSectorBlock(out, kind, sector);
  }
  out += kSeparator;
  return out.size();
}

}  // namespace kestrix
