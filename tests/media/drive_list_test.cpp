// The drive list read from a fake sysfs tree laid out as the kernel does:
// /sys/class/block/NAME links into the device tree, partitions inside disks.
#include "media/drive_list.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace kestrix {
namespace {

namespace fs = std::filesystem;

class FakeSysfs {
 public:
  FakeSysfs() {
    root_ = fs::temp_directory_path() / ("kx-sysfs-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "class" / "block");
  }
  ~FakeSysfs() { fs::remove_all(root_); }

  // A disk (parent empty) or a partition of parent.
  fs::path add(const std::string& name, const std::string& parent, uint64_t sectors) {
    fs::path folder = parent.empty() ? root_ / "devices" / "virtual" / "block" / name
                                     : folders_.at(parent) / name;
    fs::create_directories(folder);
    write(folder / "size", std::to_string(sectors) + "\n");
    if (!parent.empty()) write(folder / "partition", "1\n");
    fs::create_symlink(folder, root_ / "class" / "block" / name);
    folders_[name] = folder;
    return folder;
  }
  static void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
  std::map<std::string, fs::path> folders_;
};

TEST(DriveList, KindsSizesModelsAndLeftOutSlots) {
  FakeSysfs sysfs;
  fs::path sdb = sysfs.add("sdb", "", 15523840);  // 7.4 GiB card reader
  FakeSysfs::write(sdb / "removable", "1\n");
  FakeSysfs::write(sdb / "device" / "model", "SD Card        \n");
  sysfs.add("sdb1", "sdb", 15521792);
  fs::path sda = sysfs.add("sda", "", 500118192);
  FakeSysfs::write(sda / "removable", "0\n");
  FakeSysfs::write(sda / "device" / "model", "Samsung SSD\n");
  fs::path mmc = sysfs.add("mmcblk0", "", 31116288);
  FakeSysfs::write(mmc / "removable", "0\n");
  FakeSysfs::write(mmc / "device" / "name", "SD32G\n");
  sysfs.add("mmcblk0p1", "mmcblk0", 31108096);
  sysfs.add("sr0", "", 0);    // empty optical drive: still listed
  sysfs.add("loop0", "", 0);  // nothing attached: left out
  fs::path loop1 = sysfs.add("loop1", "", 2048);
  FakeSysfs::write(loop1 / "loop" / "backing_file", "/tmp/card.img\n");
  sysfs.add("ram0", "", 0);  // unused slot: left out
  sysfs.add("zram0", "", 8388608);
  sysfs.add("nbd0", "", 0);  // unused slot: left out
  sysfs.add("nbd1", "", 2097152);

  // Path, kind code, size and model of each entry, in the list's order.
  std::vector<std::string> facts;
  for (const DriveEntry& entry : listDrives(sysfs.root(), "/dev")) {
    facts.push_back(entry.devicePath + " " + std::to_string(static_cast<int>(entry.driveType)) +
                    " " + formatDriveSize(entry.sizeBytes) + " " + entry.model);
  }
  const std::vector<std::string> expected = {
      "/dev/loop1 3 1.0 MB ",
      "/dev/mmcblk0 2 14.8 GB SD32G",
      "/dev/mmcblk0p1 2 14.8 GB SD32G",
      "/dev/nbd1 4 1.0 GB ",
      "/dev/sda 3 238.5 GB Samsung SSD",
      "/dev/sdb 2 7.4 GB SD Card",
      "/dev/sdb1 2 7.4 GB SD Card",
      "/dev/sr0 5 0 B ",
      "/dev/zram0 6 4.0 GB ",
  };
  EXPECT_EQ(facts, expected);
}

TEST(DriveList, MissingSysfsGivesEmptyList) {
  EXPECT_TRUE(listDrives("/nonexistent-sysfs").empty());
}

}  // namespace
}  // namespace kestrix
