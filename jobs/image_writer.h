// The image file a copy writes: bytes put at their own offsets (a resumed
// copy fills the holes an earlier run left), never anything but a regular
// file, and never the drive being copied.
//
//   ImageWriter out;
//   out.create(path);                 // or openExisting(path) to resume
//   out.writeAt(offset, data, n, &written);
//   out.sync();                       // before the map says those bytes are there
//   out.finish(totalBytes);           // size, sync, close
//
// Codes: 0 success, otherwise an errno value.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix {

class ImageWriter {
 public:
  ImageWriter() = default;
  ~ImageWriter();
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  // A new, empty file at path: an earlier file of that name is unlinked
  // first and the new one made with O_EXCL, so a link planted at the name
  // (symbolic or hard) is never written through.
  int create(const std::string& path);
  // An existing regular file, kept as it is (no truncation), for a resume.
  // A symbolic link at path is refused.
  int openExisting(const std::string& path);

  // Writes length bytes at offset; *written is what reached the file (a
  // short count comes with the error that stopped it).
  int writeAt(uint64_t offset, const void* data, size_t length, size_t* written);
  // Makes the file size bytes long (zero bytes past the written end).
  int setSize(uint64_t bytes);
  // Data written so far is on the disk.
  int sync();
  // setSize, sync, close; the first failure wins.
  int finish(uint64_t bytes);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // Identity of the open file, to tell it apart from the source.
  dev_t device() const { return device_; }
  ino_t inode() const { return inode_; }

 private:
  int adopt(int fd);

  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace kestrix
