#include "media/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

namespace kestrix {

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (in) std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  return line;
}

std::string deviceNumberText(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The sysfs folder of a block device number, links resolved.
fs::path sysfsFolder(const fs::path& sysfsRoot, const std::string& number) {
  std::error_code ignored;
  return fs::canonical(sysfsRoot / "dev" / "block" / number, ignored);
}

fs::path sysfsFolder(dev_t device) { return sysfsFolder("/sys", deviceNumberText(device)); }

// The whole disk's sysfs folder for a disk or partition folder.
fs::path wholeDiskFolder(const fs::path& folder) {
  std::error_code ignored;
  return fs::exists(folder / "partition", ignored) ? folder.parent_path() : folder;
}

// Stacking is shallow; a loop in sysfs is not followed forever.
constexpr int kMaximumStackDepth = 8;

// The device number a loop device reads from, when its backing file is a
// block device ("" for a file, or no loop at all). A loop device over a
// card does not appear among the card's holders: only its backing_file
// names the card.
std::string loopBackingNumber(const fs::path& folder) {
  const std::string backing = firstLine(folder / "loop" / "backing_file");
  struct stat info {};
  if (backing.empty() || stat(backing.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return {};
  return deviceNumberText(info.st_rdev);
}

// What one walk over the stacks needs: the sysfs tree, and which loop
// devices read from which device number.
struct StackWalk {
  fs::path root;
  std::multimap<std::string, fs::path> loopsOver;  // backing device number, loop device folder

  explicit StackWalk(fs::path sysfsRoot) : root(std::move(sysfsRoot)) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / "class" / "block", error)) {
      std::error_code ignored;
      const fs::path folder = fs::canonical(entry.path(), ignored);
      const std::string backing = loopBackingNumber(folder);
      if (!backing.empty()) loopsOver.emplace(backing, folder);
    }
  }

  // Adds the drives at the bottom of folder's stack (what a device mapper
  // or md device is made of, what a loop device reads), as whole disks.
  void collectBelow(const fs::path& folder, std::set<fs::path>& bottoms, int depth) const {
    if (depth > kMaximumStackDepth) return;
    bool stacked = false;
    std::error_code error;
    for (const auto& slave : fs::directory_iterator(folder / "slaves", error)) {
      std::error_code ignored;
      const fs::path below = fs::canonical(slave.path(), ignored);
      if (below.empty()) continue;
      stacked = true;
      collectBelow(below, bottoms, depth + 1);
    }
    const std::string backing = loopBackingNumber(folder);
    const fs::path backingFolder = backing.empty() ? fs::path() : sysfsFolder(root, backing);
    if (!backingFolder.empty()) {
      stacked = true;
      collectBelow(backingFolder, bottoms, depth + 1);
    }
    if (!stacked) bottoms.insert(wholeDiskFolder(folder));
  }

  // Adds the device number of folder, of everything stacked on it (holders,
  // loop devices over it) and, for a disk, of its partitions and theirs.
  void collectAbove(const fs::path& folder, std::set<std::string>& devices, int depth) const {
    if (depth > kMaximumStackDepth) return;
    const std::string number = firstLine(folder / "dev");
    if (!number.empty() && !devices.insert(number).second) return;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      std::error_code ignored;
      if (entry.is_directory(ignored) && fs::exists(entry.path() / "partition", ignored)) {
        collectAbove(entry.path(), devices, depth + 1);
      }
    }
    for (const auto& holder : fs::directory_iterator(folder / "holders", error)) {
      std::error_code ignored;
      const fs::path above = fs::canonical(holder.path(), ignored);
      if (!above.empty()) collectAbove(above, devices, depth + 1);
    }
    const auto [first, last] = loopsOver.equal_range(number);
    for (auto loop = first; loop != last; ++loop) collectAbove(loop->second, devices, depth + 1);
  }
};

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

DeviceIdentity identifyDevice(const std::string& path, uint64_t sizeBytes) {
  DeviceIdentity identity;
  identity.path = path;
  identity.size = sizeBytes;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return identity;
  if (S_ISREG(info.st_mode)) {
    identity.id =
        "file:dev=" + deviceNumberText(info.st_dev) + ";ino=" + std::to_string(info.st_ino);
    return identity;
  }
  if (!S_ISBLK(info.st_mode)) return identity;
  const fs::path folder = sysfsFolder(info.st_rdev);
  const fs::path disk = wholeDiskFolder(folder);
  std::string id;
  auto add = [&](const char* name, const fs::path& file) {
    const std::string value = firstLine(file);
    if (!value.empty()) id += std::string(id.empty() ? "" : ";") + name + "=" + value;
  };
  add("cid", disk / "device" / "cid");  // SD and MMC cards: unique per card
  add("serial", disk / "device" / "serial");
  add("wwid", disk / "device" / "wwid");
  add("vendor", disk / "device" / "vendor");
  add("model", disk / "device" / "model");
  add("backing", disk / "loop" / "backing_file");
  add("offset", disk / "loop" / "offset");
  if (id.empty()) id = "dev=" + deviceNumberText(info.st_rdev);
  add("partition", folder / "partition");
  identity.id = "block:" + id;
  return identity;
}

bool isOnSourceDevice(const std::string& sourcePath, const std::string& destinationFolder) {
  struct stat source {
  }, folder{};
  if (stat(sourcePath.c_str(), &source) != 0 || !S_ISBLK(source.st_mode)) return false;
  if (stat(destinationFolder.c_str(), &folder) != 0) return false;
  return isOnSourceDeviceNumber(source.st_rdev, folder.st_dev, "/sys");
}

bool isOnSourceDeviceNumber(dev_t sourceDevice, dev_t folderDevice, const fs::path& sysfsRoot) {
  if (folderDevice == sourceDevice) return true;
  const fs::path sourceFolder = sysfsFolder(sysfsRoot, deviceNumberText(sourceDevice));
  if (sourceFolder.empty()) return false;
  // The card is whatever lies at the bottom of the source's stack; every
  // device made from it, whichever layer the user named, is the card too.
  const StackWalk walk(sysfsRoot);
  std::set<fs::path> bottoms;
  walk.collectBelow(sourceFolder, bottoms, 0);
  std::set<std::string> related;
  for (const fs::path& disk : bottoms) walk.collectAbove(disk, related, 0);
  return related.count(deviceNumberText(folderDevice)) > 0;
}

}  // namespace kestrix
