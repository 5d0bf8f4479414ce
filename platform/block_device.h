// A Linux block device (/dev/sdb, /dev/mmcblk0p1, /dev/loop0, /dev/sr0) or a
// regular file standing in for one, opened for reading only.
//
// Devices are opened with O_DIRECT when the kernel allows it, so that copying
// a whole card does not push everything else out of the page cache; a device
// that refuses it (or a read that the direct path rejects) falls back to an
// ordinary descriptor. Regular files are read through the page cache: they
// are usually images the user copied before, and cached reads are faster.
//
// A desktop user who may not open a card's device node can still be handed a
// read-only descriptor for it by the desktop's disk service (udisks2, after
// its polkit agent asked the user). setDeniedOpener installs that second way
// in; openDescriptor takes such a descriptor directly. Either way only a
// descriptor opened for reading alone is accepted.
#pragma once

#include <functional>
#include <string>

#include "platform/sector_device.h"

namespace kestrix {

class BlockDevice : public SectorDevice {
 public:
  // Smallest alignment handed out for read buffers: one page, which also
  // satisfies every logical block size up to 4096.
  static constexpr uint32_t kMinimumAlignment = 4096;

  BlockDevice() = default;
  ~BlockDevice() override;
  BlockDevice(const BlockDevice&) = delete;
  BlockDevice& operator=(const BlockDevice&) = delete;

  // Asked for a descriptor when opening `path` itself is refused (EACCES,
  // EPERM): returns a descriptor the device then owns, or a negative errno.
  using DeniedOpener = std::function<int(const std::string& path)>;

  int open(const std::string& path) override;
  // Takes ownership of `fd`, opened elsewhere for `path`, and reads through
  // it. Refuses (EBADF, EPERM) and closes a descriptor that is not open for
  // reading only: a source drive is never held writable. Same checks and
  // codes as open() otherwise.
  int openDescriptor(int fd, const std::string& path);
  void setDeniedOpener(DeniedOpener opener) { deniedOpener_ = std::move(opener); }
  void close() override;
  bool isOpen() const override { return fd_ >= 0; }
  int readAt(uint64_t offset, void* destination, uint32_t length, uint32_t* bytesRead) override;
  uint32_t logicalSectorSize() const override { return sectorSize_; }
  uint64_t sizeBytes() const override { return sizeBytes_; }
  uint32_t bufferAlignment() const override;

  bool isBlockDevice() const { return isBlockDevice_; }
  bool isDirect() const { return direct_; }

 private:
  int reopenBuffered();
  int adopt(int fd, const std::string& path, bool fromElsewhere);

  int fd_ = -1;
  std::string path_;
  bool isBlockDevice_ = false;
  bool direct_ = false;
  // The descriptor came from openDescriptor: the path cannot be opened
  // again, so direct I/O is switched on and off on the descriptor itself.
  bool fromElsewhere_ = false;
  DeniedOpener deniedOpener_;
  uint32_t sectorSize_ = 512;
  uint64_t sizeBytes_ = 0;
};

}  // namespace kestrix
