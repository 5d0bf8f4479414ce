// Destination folders a restore must refuse, made at test time: one that
// takes no files and one too small for the selection.
//
// Without root a folder whose write permission is removed refuses files;
// root writes there anyway, so as root the folder is a tmpfs mounted
// read-only (and the small one a tmpfs of a few blocks). Where neither can
// be made, `why` says so and the test skips.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kestrix::test {

class MadeDestination {
 public:
  enum class Kind {
    ReadOnly,  // refuses new files
    Small,     // room for about `bytes` (root only: a tmpfs of that size)
  };

  // A folder inside `parent` (which must exist).
  MadeDestination(const std::string& parent, Kind kind, unsigned long bytes = 0)
      : path_(parent + (kind == Kind::ReadOnly ? "/read-only" : "/small")) {
    if (::mkdir(path_.c_str(), 0755) != 0) {
      fail("mkdir");
      return;
    }
    if (::geteuid() != 0) {
      if (kind == Kind::Small) {
        why_ = "a small file system needs root to mount";
      } else if (::chmod(path_.c_str(), 0555) != 0) {
        fail("chmod");
      }
      return;
    }
    if (kind == Kind::ReadOnly)
      mountTmpfs("size=64k", MS_RDONLY);
    else
      mountTmpfs("size=" + std::to_string(bytes), 0);
  }
  MadeDestination(const MadeDestination&) = delete;
  MadeDestination& operator=(const MadeDestination&) = delete;

  ~MadeDestination() {
    if (mounted_) ::umount(path_.c_str());
    ::chmod(path_.c_str(), 0755);
    ::rmdir(path_.c_str());
  }

  bool ok() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  const std::string& path() const { return path_; }

 private:
  void fail(const char* what) { why_ = std::string(what) + ": " + std::strerror(errno); }

  void mountTmpfs(const std::string& options, unsigned long flags) {
    if (::mount("tmpfs", path_.c_str(), "tmpfs", flags, options.c_str()) != 0) {
      fail("mount tmpfs (a container without CAP_SYS_ADMIN)");
      return;
    }
    mounted_ = true;
  }

  std::string path_;
  std::string why_;
  bool mounted_ = false;
};

}  // namespace kestrix::test
