#include "jobs/image_buffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestrix {

ImageBuffer::~ImageBuffer() { CloseFile(); }

bool ImageBuffer::OpenFile(std::string_view path, FileAccess access) {
  if (!path.empty()) path_.assign(path);
  if (path_.empty() || fd_ >= 0) return false;
  // Write access empties an existing file: a disk image left longer by an
  // earlier, larger copy would otherwise carry another drive's bytes at its
  // end, and those would be scanned as if they came from this one.
  const int flags = access == FileAccess::Read ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
  fd_ = ::open(path_.c_str(), flags | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

void ImageBuffer::CloseFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ImageBuffer::WriteBytes(const void* data, uint32_t count, uint32_t* written) {
  uint32_t done = 0;
  if (fd_ >= 0) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (done < count) {
      const ssize_t put = ::write(fd_, bytes + done, count - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;  // disk full or an I/O error: the caller hears a short count
      done += static_cast<uint32_t>(put);
    }
  }
  if (written != nullptr) *written = done;
  return fd_ >= 0 && done == count;
}

}  // namespace kestrix
