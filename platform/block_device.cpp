#include "platform/block_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrix {

namespace {

// The only flags a source drive is ever opened with: no write mode exists in
// this file, whatever access a caller asks for.
constexpr int kReadOnlyFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;

int openReadOnly(const std::string& path, bool direct) {
  int flags = kReadOnlyFlags;
  if (direct) flags |= O_DIRECT;
  int fd;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

BlockDevice::~BlockDevice() { close(); }

int BlockDevice::open(const std::string& path) {
  close();
  if (path.empty()) return ENOENT;
  int fd = openReadOnly(path, false);
  if (fd < 0) {
    const int error = errno;
    if ((error == EACCES || error == EPERM) && deniedOpener_) {
      const int handed = deniedOpener_(path);
      // The opener's own failure says more than the first refusal.
      return handed >= 0 ? openDescriptor(handed, path) : -handed;
    }
    return error;
  }
  return adopt(fd, path, false);
}

int BlockDevice::openDescriptor(int fd, const std::string& path) {
  close();
  if (fd < 0) return EBADF;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return errno;
  if ((flags & O_ACCMODE) != O_RDONLY) {
    ::close(fd);
    return EPERM;
  }
  return adopt(fd, path, true);
}

int BlockDevice::adopt(int fd, const std::string& path, bool fromElsewhere) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    int error = errno;
    ::close(fd);
    return error;
  }
  if (S_ISBLK(info.st_mode)) {
    int logical = 0;
    uint64_t bytes = 0;
    if (ioctl(fd, BLKSSZGET, &logical) != 0 || logical <= 0) logical = 512;
    if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
      // A reader without a card answers here with ENOMEDIUM.
      int error = errno;
      ::close(fd);
      return error;
    }
    isBlockDevice_ = true;
    sectorSize_ = static_cast<uint32_t>(logical);
    sizeBytes_ = bytes;
    if (fromElsewhere) {
      const int flags = fcntl(fd, F_GETFL);
      direct_ = flags >= 0 && fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
    } else {
      int directFd = openReadOnly(path, true);
      if (directFd >= 0) {
        ::close(fd);
        fd = directFd;
        direct_ = true;
      }
    }
  } else if (S_ISREG(info.st_mode)) {
    isBlockDevice_ = false;
    sectorSize_ = 512;
    sizeBytes_ = static_cast<uint64_t>(info.st_size);
  } else {
    // A directory, a character device, a pipe: nothing with sectors.
    ::close(fd);
    return EINVAL;
  }
  fd_ = fd;
  path_ = path;
  fromElsewhere_ = fromElsewhere;
  return 0;
}

void BlockDevice::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
  isBlockDevice_ = false;
  direct_ = false;
  fromElsewhere_ = false;
  sectorSize_ = 512;
  sizeBytes_ = 0;
}

uint32_t BlockDevice::bufferAlignment() const {
  return sectorSize_ > kMinimumAlignment ? sectorSize_ : kMinimumAlignment;
}

int BlockDevice::reopenBuffered() {
  if (fromElsewhere_) {
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags & ~O_DIRECT) != 0) return errno;
    direct_ = false;
    return 0;
  }
  int fd = openReadOnly(path_, false);
  if (fd < 0) return errno;
  ::close(fd_);
  fd_ = fd;
  direct_ = false;
  return 0;
}

int BlockDevice::readAt(uint64_t offset, void* destination, uint32_t length, uint32_t* bytesRead) {
  *bytesRead = 0;
  if (fd_ < 0) return EBADF;
  if (offset > static_cast<uint64_t>(INT64_MAX) - length) return EINVAL;
  uint32_t done = 0;
  bool retriedBuffered = false;
  while (done < length) {
    ssize_t got = pread(fd_, static_cast<char*>(destination) + done, length - done,
                        static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      // The direct path rejects transfers that are not whole logical blocks;
      // the buffered descriptor reads anything, so fall back once.
      if (errno == EINVAL && direct_ && !retriedBuffered) {
        retriedBuffered = true;
        int error = reopenBuffered();
        if (error != 0) return error;
        continue;
      }
      int error = errno;
      *bytesRead = done;
      return error;
    }
    if (got == 0) break;  // end of the device
    done += static_cast<uint32_t>(got);
  }
  *bytesRead = done;
  return done == length ? 0 : kShortRead;
}

}  // namespace kestrix
