#include "texts/drive_texts.h"

namespace kestrix {

const char* driveErrorText(uint32_t code) {
  switch (code) {
    case kDriveOk: return "";
    case kDriveAccessDenied: return "ドライブへのアクセスが拒否されました。";
    case kDriveInvalid: return "ドライブが間違っています。";
    case kDriveNotReady: return "ドライブの準備ができていません。";
    default: return "ディスクのブートセクタを読み取ることができません。";
  }
}

std::string_view driveTypeName(DriveType driveType) {
  switch (driveType) {
    case DriveType::Unknown: return "不明";
    case DriveType::NoRootDir: return "無効";
    case DriveType::Removable: return "リムーバブル";
    case DriveType::Fixed: return "固定Disk";
    case DriveType::Remote: return "リモートDisk";
    case DriveType::Cdrom: return "CD-ROM";
    case DriveType::RamDisk: return "RAMDisk";
  }
  return "無効";  // a code outside the table
}

std::string driveEntryText(const DriveEntry& entry) {
  std::string text = entry.devicePath + "(" + std::string(driveTypeName(entry.driveType)) + ")";
  if (entry.sizeBytes > 0) text += " " + formatDriveSize(entry.sizeBytes);
  if (!entry.model.empty()) text += " " + entry.model;
  return text;
}

}  // namespace kestrix
