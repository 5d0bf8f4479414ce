#include "imaging/jpeg/file_byte_source.h"

namespace kestrix {

FileByteSource::~FileByteSource() {
  if (stream_.is_open()) stream_.close();
}

bool FileByteSource::Open(const std::string& path) {
  if (stream_.is_open()) stream_.close();
  stream_.clear();
  atEnd_ = false;
  failed_ = false;
  stream_.open(path, std::ios::in | std::ios::binary);
  return stream_.is_open();
}

int FileByteSource::Read(std::uint8_t* buffer, int maxCount, bool* endOfData) {
  if (!stream_.is_open() || failed_) return -1;
  if (atEnd_) {
    *endOfData = true;
    return 0;
  }
  if (maxCount <= 0) return 0;
  stream_.read(reinterpret_cast<char*>(buffer), maxCount);
  const auto count = static_cast<int>(stream_.gcount());
  if (count == maxCount) return count;
  if (stream_.bad()) {
    failed_ = true;
    return -1;
  }
  atEnd_ = true;
  *endOfData = true;
  return count;
}

}  // namespace kestrix
