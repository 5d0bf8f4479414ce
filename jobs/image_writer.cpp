#include "jobs/image_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrix {

namespace {

constexpr int kWriteFlags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
constexpr mode_t kImageMode = 0644;  // less the umask, as any new file

int openRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

ImageWriter::~ImageWriter() { close(); }

int ImageWriter::adopt(int fd) {
  if (fd < 0) return errno;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    int error = errno;
    ::close(fd);
    return error;
  }
  // A device node at the image's name would be written as a device.
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return EINVAL;
  }
  fd_ = fd;
  device_ = info.st_dev;
  inode_ = info.st_ino;
  return 0;
}

int ImageWriter::create(const std::string& path) {
  close();
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
  return adopt(openRetrying(path.c_str(), kWriteFlags | O_CREAT | O_EXCL, kImageMode));
}

int ImageWriter::openExisting(const std::string& path) {
  close();
  return adopt(openRetrying(path.c_str(), kWriteFlags, 0));
}

int ImageWriter::writeAt(uint64_t offset, const void* data, size_t length, size_t* written) {
  *written = 0;
  if (fd_ < 0) return EBADF;
  const char* bytes = static_cast<const char*>(data);
  while (*written < length) {
    ssize_t n =
        ::pwrite(fd_, bytes + *written, length - *written, static_cast<off_t>(offset + *written));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    *written += static_cast<size_t>(n);
  }
  // Start putting these bytes on the disk now: the copy syncs before every
  // map save and at the end, and write-back that ran alongside the reads
  // leaves those syncs little to wait for.
  ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                    SYNC_FILE_RANGE_WRITE);
  return 0;
}

int ImageWriter::setSize(uint64_t bytes) {
  if (fd_ < 0) return EBADF;
  struct stat info {};
  if (fstat(fd_, &info) != 0) return errno;
  // Never shorter: bytes past the drive's end cannot be there, but growing
  // is all a finished copy needs (trailing unreadable sectors).
  if (static_cast<uint64_t>(info.st_size) >= bytes) return 0;
  return ::ftruncate(fd_, static_cast<off_t>(bytes)) == 0 ? 0 : errno;
}

int ImageWriter::sync() {
  if (fd_ < 0) return EBADF;
  return ::fdatasync(fd_) == 0 ? 0 : errno;
}

int ImageWriter::finish(uint64_t bytes) {
  int error = setSize(bytes);
  if (error == 0) error = sync();
  if (fd_ >= 0 && ::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  return error;
}

void ImageWriter::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace kestrix
