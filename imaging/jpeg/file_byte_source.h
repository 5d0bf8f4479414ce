#pragma once

#include "imaging/jpeg/byte_source.h"

#include <fstream>
#include <string>

namespace kestrix {

// Reads a file through a binary std::ifstream.
class FileByteSource : public ByteSource {
 public:
  FileByteSource() = default;
  explicit FileByteSource(const std::string& path) { Open(path); }
  ~FileByteSource() override;

  // Opens path for binary reading; false when it cannot be opened.
  bool Open(const std::string& path);
  bool IsOpen() const { return stream_.is_open(); }

  // -1: no stream open, or the stream reported an error (sticky).
  // Otherwise the count delivered; a short read without a stream error means
  // the end of the file was reached and sets *endOfData.
  int Read(std::uint8_t* buffer, int maxCount, bool* endOfData) override;

 private:
  std::ifstream stream_;
  bool atEnd_ = false;
  bool failed_ = false;
};

}  // namespace kestrix
