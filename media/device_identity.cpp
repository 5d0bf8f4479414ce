#include "media/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

namespace kestrix {

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (in) std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string deviceNumberText(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The sysfs folder of a block device number, links resolved.
fs::path sysfsFolder(dev_t device) {
  std::error_code ignored;
  return fs::canonical(fs::path("/sys/dev/block") / deviceNumberText(device), ignored);
}

// The whole disk's sysfs folder for a disk or partition folder.
fs::path wholeDiskFolder(const fs::path& folder) {
  std::error_code ignored;
  return fs::exists(folder / "partition", ignored) ? folder.parent_path() : folder;
}

// Adds the device number of folder, of everything stacked on it (holders)
// and, for a disk, of its partitions and theirs.
void collectDevices(const fs::path& folder, std::set<std::string>& devices, int depth) {
  if (depth > 8) return;  // stacking is shallow; a loop in sysfs is not followed forever
  const std::string number = firstLine(folder / "dev");
  if (!number.empty() && !devices.insert(number).second) return;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    std::error_code ignored;
    if (entry.is_directory(ignored) && fs::exists(entry.path() / "partition", ignored)) {
      collectDevices(entry.path(), devices, depth + 1);
    }
  }
  for (const auto& holder : fs::directory_iterator(folder / "holders", error)) {
    std::error_code ignored;
    collectDevices(fs::canonical(holder.path(), ignored), devices, depth + 1);
  }
}

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
    identity.id = "file:dev=" + deviceNumberText(info.st_dev) + ";ino=" + std::to_string(info.st_ino);
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
  struct stat source {}, folder {};
  if (stat(sourcePath.c_str(), &source) != 0 || !S_ISBLK(source.st_mode)) return false;
  if (stat(destinationFolder.c_str(), &folder) != 0) return false;
  if (folder.st_dev == source.st_rdev) return true;
  const fs::path sourceFolder = sysfsFolder(source.st_rdev);
  if (sourceFolder.empty()) return false;
  std::set<std::string> related;
  collectDevices(wholeDiskFolder(sourceFolder), related, 0);
  return related.count(deviceNumberText(folder.st_dev)) > 0;
}

}  // namespace kestrix
