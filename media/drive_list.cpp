#include "media/drive_list.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace kestrix {

namespace {

namespace fs = std::filesystem;

// First line of a sysfs attribute, without surrounding blanks; empty when
// the attribute is missing.
std::string readAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  const char* blanks = " \t\r\n";
  size_t first = line.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = line.find_last_not_of(blanks);
  return line.substr(first, last - first + 1);
}

uint64_t readNumber(const fs::path& file) {
  std::string text = readAttribute(file);
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    if (value > (UINT64_MAX - 9) / 10) return 0;  // nonsense, not a size
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Kind by name first (the kernel names these classes), then by the disk's
// removable flag. SD/MMC cards count as removable: the mmc layer does not
// always set the flag, and these cards are what this program copies.
DriveType classify(std::string_view name, bool removable) {
  if (startsWith(name, "sr")) return DriveType::Cdrom;
  if (startsWith(name, "ram") || startsWith(name, "zram")) return DriveType::RamDisk;
  if (startsWith(name, "nbd")) return DriveType::Remote;
  if (removable || startsWith(name, "mmcblk")) return DriveType::Removable;
  return DriveType::Fixed;
}

}  // namespace

std::string formatDriveSize(uint64_t bytes) {
  // Unit table, largest first.
  struct Unit {
    uint64_t size;
    const char* name;
  };
  static constexpr Unit kUnits[] = {
      {uint64_t{1} << 40, "TB"},
      {uint64_t{1} << 30, "GB"},
      {uint64_t{1} << 20, "MB"},
      {uint64_t{1} << 10, "KB"},
  };
  char text[32];
  for (const Unit& unit : kUnits) {
    if (bytes >= unit.size) {
      std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(bytes) / unit.size,
                    unit.name);
      return text;
    }
  }
  std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  return text;
}

std::vector<DriveEntry> listDrives(const fs::path& sysfsRoot, const std::string& deviceFolder) {
  std::vector<DriveEntry> entries;
  std::error_code error;
  fs::directory_iterator it(sysfsRoot / "class" / "block", error);
  if (error) return entries;
  // Advanced with an error code: a card pulled while the list is built must
  // end the walk, not throw out of the drive box.
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const fs::directory_entry& item = *it;
    const std::string name = item.path().filename().string();
    std::error_code itemError;
    // The link leads into the device tree, where a partition's folder lies
    // inside its disk's folder.
    fs::path folder = fs::canonical(item.path(), itemError);
    if (itemError) continue;
    const bool isPartition = fs::exists(folder / "partition", itemError);
    const fs::path disk = isPartition ? folder.parent_path() : folder;

    DriveEntry entry;
    entry.name = name;
    entry.sizeBytes = readNumber(folder / "size") * 512;  // sysfs counts 512-byte units
    if (startsWith(name, "loop") && !fs::exists(folder / "loop" / "backing_file", itemError)) {
      continue;  // nothing attached
    }
    entry.driveType = classify(name, readAttribute(disk / "removable") == "1");
    if (entry.sizeBytes == 0 &&
        (entry.driveType == DriveType::RamDisk || entry.driveType == DriveType::Remote)) {
      continue;  // an unused slot
    }
    entry.model = readAttribute(disk / "device" / "model");
    if (entry.model.empty()) entry.model = readAttribute(disk / "device" / "name");  // SD/MMC

    // Kernel names with '!' stand for a '/' in the device path (cciss!c0d0).
    std::string nodeName = name;
    std::replace(nodeName.begin(), nodeName.end(), '!', '/');
    entry.devicePath = deviceFolder + "/" + nodeName;
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const DriveEntry& a, const DriveEntry& b) { return a.devicePath < b.devicePath; });
  return entries;
}

}  // namespace kestrix
