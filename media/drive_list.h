// The drives a user can copy: every disk and partition the kernel lists
// under /sys/class/block, each with its kind, size and model. The programs
// make the drive box's line of an entry (driveEntryText, texts/drive_texts.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The drive-type codes: what kind of drive an entry is (removable, fixed,
// optical, …); the programs hold the kind names (driveTypeName). The numbers are the usual
// platform drive-type codes, kept so a code outside the table stays "無効".
enum class DriveType : uint32_t {
  Unknown = 0,
  NoRootDir = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  Cdrom = 5,
  RamDisk = 6,
};

struct DriveEntry {
  std::string name;        // kernel name, "sdb1"
  std::string devicePath;  // "/dev/sdb1"
  DriveType driveType = DriveType::Unknown;
  uint64_t sizeBytes = 0;  // 0 when no medium is present
  std::string model;       // empty when sysfs has none
};

// "7.4 GB": binary units with one decimal, as disk tools show card sizes.
std::string formatDriveSize(uint64_t bytes);

// Every listable drive under sysfsRoot/class/block, sorted by device path. Left out:
// loop devices with nothing attached (no loop/backing_file) and RAM, zram
// and network block devices of size 0 (unused slots the kernel keeps ready).
// Card readers and optical drives without a medium stay listed, as they are
// where the user is about to insert one.
std::vector<DriveEntry> listDrives(const std::filesystem::path& sysfsRoot = "/sys",
                                   const std::string& deviceFolder = "/dev");

}  // namespace kestrix
