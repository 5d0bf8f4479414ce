// The disk image copy's output file.
//
//   ImageBuffer image;
//   image.OpenFile(path, FileAccess::Write);   // created, or emptied first
//   image.WriteBytes(cluster, count, &written);
//   image.CloseFile();
//
// Reading and scanning an image live in core/ (ImageFile, scanImage).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix {

enum class FileAccess {
  Read,   // an existing file, for reading
  Write,  // opened or created for writing, emptied first
};

class ImageBuffer {
 public:
  ImageBuffer() = default;
  ~ImageBuffer();
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  // Stores a non-empty path, then opens the stored path. False when the
  // stored path is empty, a file is already open, or the open fails (no file
  // is left open then).
  bool OpenFile(std::string_view path, FileAccess access);
  // Closes the file if one is open.
  void CloseFile();
  // Writes all `count` bytes to the open file; *written receives what was
  // written. False when no file is open or not every byte was written.
  bool WriteBytes(const void* data, uint32_t count, uint32_t* written);

  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;        // the open image file, or -1
  std::string path_;   // the path last given to OpenFile
};

}  // namespace kestrix
