// The disk image as a read-only shared mapping of its file or block device.
//
//   ImageOpenResult opened = ImageFile::open("/media/backup/card.ksx");
//   if (!opened.image) show(loadStatusMessage(opened.status));
//   scanImage(*opened.image, ...);          // pages come in as they are read
//
// Why a mapping and not a copy: a 64 GB card does not fit into the memory of
// a 16 GB laptop, and a copy into anonymous memory is private memory the size
// of the card. A shared read-only mapping costs no private memory, the page
// cache holds what was read recently, and the kernel may drop clean pages at
// any time, so an image larger than memory scans in one pass.
//
// The file is opened O_RDONLY and never written, for the scan and for every
// restore: a card reader's block device can be mapped the same way. Only
// regular files and block devices are accepted; a pipe, FIFO, character
// device or folder is refused at once (opening a FIFO never waits for a
// writer, thanks to O_NONBLOCK).
//
// Unreadable pages. Reading a mapped page the kernel cannot fill (a bad
// sector of a card read directly, a file cut short while mapped) raises
// SIGBUS, which would end the program with the user's results. A handler
// installed with the first mapping replaces such a page of an image with a
// page of zeros, as the disk copy zero-fills sectors it cannot read, counts
// it, and lets the read go on. unreadableBytes() tells how much was lost.
// That suits the scan, which must get through the card; a restore reads
// with read() instead, which fails where the mapping would give zeros.
//
// Threads: immutable after open; any thread may read the bytes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/image_block.h"

namespace kestrix {

// Outcome of opening an image; each failure has its own words in the
// programs (loadStatusMessage, texts/job_texts.h).
enum class LoadStatus {
  Loaded,      // the mapping covers every byte of the file or device
  NotFound,    // no file of that name
  OpenFailed,  // the file exists but may not be read
  NotAnImage,  // a pipe, FIFO, character device, socket or folder
  ReadFailed,  // its size could not be learnt or the mapping failed
};

class ImageFile;

struct ImageOpenResult {
  LoadStatus status = LoadStatus::ReadFailed;
  std::unique_ptr<ImageFile> image;  // set exactly when status is Loaded
};

class ImageFile : public ImageBlock {
 public:
  static ImageOpenResult open(const std::string& path);
  ~ImageFile() override;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  const uint8_t* data() const override { return data_; }
  uint64_t size() const override { return size_; }
  const std::string& path() const { return path_; }
  // Device and inode of the file when it was opened: the same image chosen
  // again is recognised by identity, not by spelling of its path.
  dev_t device() const { return device_; }
  ino_t inode() const { return inode_; }
  bool isBlockDevice() const { return blockDevice_; }
  // The image's own descriptor, open read-only (O_CLOEXEC) while the image
  // lives: a helper process is handed it to read a byte range by pread,
  // never to write.
  int descriptor() const { return descriptor_; }

  // Read-ahead advice for a front-to-back pass (the scan) or for random
  // reads (restores and thumbnails). Advice only: failures are ignored.
  void adviseSequential() const override;
  void adviseRandom() const override;
  // Reads the range with pread on the image's own descriptor, never
  // through the mapping, so a bad sector (EIO), a pulled card (ENODEV,
  // ENXIO) or a file cut short since it was mapped (a read that ends
  // early) fails the read instead of giving the SIGBUS handler's zeros.
  bool read(uint64_t start, uint8_t* into, size_t length, FileProblem& problem) const override;
  // Re-reads the size: fstat for a file, BLKGETSIZE64 for a device; false
  // when it is below `end` or cannot be learnt any more.
  bool stillHolds(uint64_t end) const override;

  // Bytes of this image read as zeros because their pages could not be
  // read (see above); 0 for a healthy image.
  uint64_t unreadableBytes() const override;

  // Tells the kernel the range [start, start + length) is not needed soon:
  // its pages leave this process's page tables (they stay in the page cache
  // and come back on the next read), so a scan far larger than memory does
  // not hold a mapped copy of what it has passed.
  void releaseRange(uint64_t start, uint64_t length) const override;

 private:
  ImageFile() = default;

  const uint8_t* data_ = nullptr;  // the mapping, or a static byte when empty
  uint64_t size_ = 0;
  void* mapping_ = nullptr;  // what munmap releases; null when empty
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool blockDevice_ = false;
  int slot_ = -1;        // this mapping's entry in the SIGBUS table, or -1
  int descriptor_ = -1;  // the read-only descriptor the image was opened with
};

}  // namespace kestrix
