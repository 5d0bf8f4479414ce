#include "cli/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/system_error_text.h"

namespace kestrix {

namespace {

// Writes every byte, going on after short writes and interrupted calls.
bool writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool writeBoth(int fd, const std::string& header, const std::uint8_t* data, std::size_t size) {
  return writeAll(fd, reinterpret_cast<const std::uint8_t*>(header.data()), header.size()) &&
         writeAll(fd, data, size);
}

}  // namespace

bool writeWholeFile(const std::string& path, const std::string& header, const std::uint8_t* data,
                    std::size_t size, std::string& error) {
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    bool done = fd >= 0 && writeBoth(fd, header, data, size);
    const int reason = errno;
    if (fd >= 0 && ::close(fd) != 0 && done) {
      done = false;
      error = systemErrorText(errno);
    } else if (!done) {
      error = systemErrorText(reason);
    }
    return done;
  }

  std::vector<char> temporary(path.begin(), path.end());
  const char suffix[] = ".partXXXXXX";
  temporary.insert(temporary.end(), suffix, suffix + sizeof suffix);  // with its NUL
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = systemErrorText(errno);
    return false;
  }
  // The temporary is made 0600; the picture gets what a new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  bool done =
      ::fchmod(fd, 0666 & ~mask) == 0 && writeBoth(fd, header, data, size) && ::fsync(fd) == 0;
  int reason = errno;
  if (::close(fd) != 0 && done) {
    done = false;
    reason = errno;
  }
  if (done && ::rename(temporary.data(), path.c_str()) != 0) {
    done = false;
    reason = errno;
  }
  if (!done) {
    ::unlink(temporary.data());
    error = systemErrorText(reason);
  }
  return done;
}

}  // namespace kestrix
