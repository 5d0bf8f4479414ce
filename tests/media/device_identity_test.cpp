// Which devices count as the card when a destination folder is checked,
// read from a fake sysfs tree laid out as the kernel does: dev/block/N:M and
// class/block/NAME link into the device tree, partitions live inside their
// disk, device mapper names its parts in slaves/ and itself in their
// holders/, a loop device names what it reads only in loop/backing_file.
#include "media/device_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <map>

namespace kestrix {
namespace {

namespace fs = std::filesystem;

class StackedSysfs {
 public:
  StackedSysfs() {
    root_ = fs::temp_directory_path() / ("kx-stacks-" + std::to_string(getpid()));
    fs::remove_all(root_);
    // The card (sdb, two partitions) and the machine's own disk (sda).
    add("sdb", "", "8:16", root_ / "devices" / "pci0000:00" / "block");
    add("sdb1", "sdb", "8:17");
    add("sdb2", "sdb", "8:18");
    add("sda", "", "8:0", root_ / "devices" / "pci0000:00" / "block");
    add("sda1", "sda", "8:1");
    // An encrypted volume opened on the card's second partition.
    add("dm-0", "", "254:0");
    fs::create_directories(folders_["dm-0"] / "slaves");
    fs::create_directories(folders_["sdb2"] / "holders");
    fs::create_directory_symlink(folders_["sdb2"], folders_["dm-0"] / "slaves" / "sdb2");
    fs::create_directory_symlink(folders_["dm-0"], folders_["sdb2"] / "holders" / "dm-0");
    // loop0 reads the card's first partition through a device node (which
    // only root can make), and has a partition of its own; loop1 reads a file.
    const fs::path node = root_ / "nodes" / "sdb1";
    fs::create_directories(node.parent_path());
    haveNode_ = mknod(node.c_str(), S_IFBLK | 0400, makedev(8, 17)) == 0;
    add("loop0", "", "7:0");
    write(folders_["loop0"] / "loop" / "backing_file", node.string() + "\n");
    add("loop0p1", "loop0", "259:0");
    add("loop1", "", "7:1");
    write(root_ / "card.img", "not a device");
    write(folders_["loop1"] / "loop" / "backing_file", (root_ / "card.img").string() + "\n");
  }
  ~StackedSysfs() { fs::remove_all(root_); }

  const fs::path& root() const { return root_; }
  bool haveNode() const { return haveNode_; }

 private:
  // A disk (parent empty, under `under` or the virtual devices) or a
  // partition of parent, with its dev file and both links.
  void add(const std::string& name, const std::string& parent, const std::string& number,
           fs::path under = {}) {
    if (under.empty()) under = root_ / "devices" / "virtual" / "block";
    const fs::path folder = parent.empty() ? under / name : folders_.at(parent) / name;
    write(folder / "dev", number + "\n");
    if (!parent.empty()) write(folder / "partition", "1\n");
    fs::create_directories(root_ / "dev" / "block");
    fs::create_directories(root_ / "class" / "block");
    fs::create_directory_symlink(folder, root_ / "dev" / "block" / number);
    fs::create_directory_symlink(folder, root_ / "class" / "block" / name);
    folders_[name] = folder;
  }
  static void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }

  fs::path root_;
  std::map<std::string, fs::path> folders_;
  bool haveNode_ = false;
};

struct StackCase {
  const char* name;
  unsigned sourceMajor, sourceMinor;  // the device read
  unsigned folderMajor, folderMinor;  // the device the folder's file system lives on
  bool onSource;
  bool throughLoopOverTheCard;  // needs loop0's device node
};

class DestinationOnTheCard : public ::testing::TestWithParam<StackCase> {};

TEST_P(DestinationOnTheCard, IsToldFromAnotherDrive) {
  const StackCase& c = GetParam();
  StackedSysfs sysfs;
  if (c.throughLoopOverTheCard && !sysfs.haveNode()) GTEST_SKIP() << "mknod refused here";
  EXPECT_EQ(isOnSourceDeviceNumber(makedev(c.sourceMajor, c.sourceMinor),
                                   makedev(c.folderMajor, c.folderMinor), sysfs.root()),
            c.onSource);
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, DestinationOnTheCard,
    ::testing::Values(
        StackCase{"ThePartitionItself", 8, 17, 8, 17, true, false},
        StackCase{"AnotherPartitionOfTheCard", 8, 17, 8, 18, true, false},
        StackCase{"WholeCardReadFolderOnAPartition", 8, 16, 8, 17, true, false},
        StackCase{"PartitionReadFolderOnTheWholeCard", 8, 17, 8, 16, true, false},
        StackCase{"DeviceMapperOnAPartition", 8, 16, 254, 0, true, false},
        StackCase{"DeviceMapperReadFolderOnTheCardBeneath", 254, 0, 8, 17, true, false},
        StackCase{"LoopDeviceOverAPartition", 8, 16, 7, 0, true, true},
        StackCase{"PartitionOfALoopDeviceOverTheCard", 8, 18, 259, 0, true, true},
        StackCase{"LoopDeviceReadFolderOnTheCardBeneath", 7, 0, 8, 18, true, true},
        StackCase{"TheMachinesOwnDisk", 8, 16, 8, 1, false, false},
        StackCase{"LoopDeviceOverAFile", 8, 16, 7, 1, false, false},
        StackCase{"LoopDeviceOverAFileReadFolderOnTheCard", 7, 1, 8, 17, false, false},
        StackCase{"SourceUnknownToSysfs", 8, 99, 8, 17, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrix
