// The drives a user can copy: every disk and partition the kernel lists
// under /sys/class/block, each with its kind, size and model.
//
// Entry text: the device path, the kind name in brackets, then the size and
// the model when sysfs knows them, for example
//   "/dev/sdb1(リムーバブル) 7.4 GB SD Card"
//   "/dev/sr0(CD-ROM)"                      (an empty drive: no size)
// The path at the start of the text is what the create-image command opens.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The drive-type codes: what kind of drive an entry is (removable, fixed,
// optical, …); the kind names hang off them.
enum DriveType : uint32_t {
  kDriveTypeUnknown = 0,
  kDriveTypeNoRootDir = 1,
  kDriveTypeRemovable = 2,
  kDriveTypeFixed = 3,
  kDriveTypeRemote = 4,
  kDriveTypeCdrom = 5,
  kDriveTypeRamDisk = 6,
};

struct DriveEntry {
  std::string name;        // kernel name, "sdb1"
  std::string devicePath;  // "/dev/sdb1"
  uint32_t driveType = kDriveTypeUnknown;
  uint64_t sizeBytes = 0;  // 0 when no medium is present
  std::string model;       // empty when sysfs has none
  std::string text;        // what the drive box shows
};

// "リムーバブル", "固定Disk", …; "無効" for codes outside the table.
std::string_view driveTypeName(uint32_t driveType);

// "7.4 GB": binary units with one decimal, as disk tools show card sizes.
std::string formatDriveSize(uint64_t bytes);

// The drive box's text of `entry` from its path, kind, size and model.
std::string driveEntryText(const DriveEntry& entry);

// Every listable drive under sysfsRoot/class/block, sorted by text. Left out:
// loop devices with nothing attached (no loop/backing_file) and RAM, zram
// and network block devices of size 0 (unused slots the kernel keeps ready).
// Card readers and optical drives without a medium stay listed, as they are
// where the user is about to insert one.
std::vector<DriveEntry> listDrives(const std::filesystem::path& sysfsRoot = "/sys",
                                   const std::string& deviceFolder = "/dev");

}  // namespace kestrix
