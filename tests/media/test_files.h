// Temporary files for the media tests: made with mkfs.vfat when it is
// installed, or written byte by byte.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrix::test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx-media-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline bool haveMkfsVfat() {
  return std::system(
             "command -v mkfs.vfat >/dev/null 2>&1 || test -x /usr/sbin/mkfs.vfat || test -x "
             "/sbin/mkfs.vfat") == 0;
}

// mkfs.vfat with a fixed serial and label, so headers can be pinned.
inline bool makeFat(const std::string& path, int fatBits, int kibibytes, int sectorsPerCluster) {
  std::string command = "PATH=$PATH:/usr/sbin:/sbin mkfs.vfat -C -F " + std::to_string(fatBits) +
                        " -s " + std::to_string(sectorsPerCluster) + " -i 1234ABCD -n KXCARD '" +
                        path + "' " + std::to_string(kibibytes) + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kestrix::test
