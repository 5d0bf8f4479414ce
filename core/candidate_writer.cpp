#include "core/candidate_writer.h"

#include <fcntl.h>
#include <stdio.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "core/candidate_bytes.h"

namespace kestrix {

namespace {

// Length of the EXIF date form "YYYY:MM:DD hh:mm:ss" (EXIF 2.3, DateTimeOriginal).
constexpr size_t kShotDateLength = 19;

// Bytes per write: large enough that the system-call cost is negligible,
// small enough that a stop request is heard quickly.
constexpr uint64_t kWriteChunkBytes = uint64_t{8} << 20;

// Free names tried after the row's own: "NAME (2)" up to "NAME (9999)". A
// folder holding ten thousand copies of one name is a mistake to report,
// not to work around.
constexpr int kLastNumberedName = 9999;

// Leading decimal digits of text[first, first + count); no digits give 0.
int fieldValue(const char* text, size_t first, size_t count) {
  int value = 0;
  for (size_t i = first; i < first + count && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The permission bits a restored photo gets: those of an ordinary new file,
// 0666 less the user's umask. The umask can only be read by setting it,
// and it is process-wide: it is read once, at static initialisation before
// main starts any thread, so no other file is ever created under the 0.
mode_t readRestoredFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}
const mode_t kRestoredFileMode = readRestoredFileMode();

// The temporary name's fixed part and the six characters mkostemp fills in
// (glibc draws them from letters and digits). Only names of exactly this
// form are ever taken for a stale temporary of ours.
constexpr std::string_view kTemporaryPrefix = ".kxpart-";
constexpr size_t kTemporaryRandomLength = 6;

// Tries for a temporary name that a cleaner of another restore did not
// remove between mkostemp and the lock: a few, each a fresh random name.
constexpr int kTemporaryAttempts = 8;

// Removes the temporary file on every path that does not give it a name.
// A second, read-only descriptor of the file holds an exclusive flock for
// as long as the file is ours (written, then waiting for its name, until
// it has it), so the next restore into the folder can tell it from one
// left by a restore that was killed (removeStaleTemporaries). The lock has
// a descriptor of its own so that closing the written one still reports a
// delayed write error before the file is named, as it always did.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& folder) {
    for (int attempt = 0; attempt < kTemporaryAttempts && fd_ < 0; ++attempt) {
      path_ =
          folder + "/" + std::string(kTemporaryPrefix) + std::string(kTemporaryRandomLength, 'X');
      const int fd = mkostemp(path_.data(), O_CLOEXEC);
      if (fd < 0) return;
      // A cleaner that opened the new name first holds its lock only while
      // it unlinks: waiting for it, then finding no link left, means the
      // name is gone and another is tried. Where the file cannot be locked
      // (a file system without flock) it stays unlocked, and a cleaner,
      // unable to lock it either, leaves it alone.
      const int lock = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      struct stat info {};
      if (lock >= 0 && flock(lock, LOCK_EX) == 0 && fstat(fd, &info) == 0 && info.st_nlink == 0) {
        ::close(lock);
        ::close(fd);
        continue;
      }
      fd_ = fd;
      lockFd_ = lock;
      created_ = true;
    }
    if (fd_ < 0) errno = EEXIST;
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    // Unlinked before the lock goes, so no cleaner ever finds a temporary
    // of a live restore unlocked.
    if (created_ && !kept_) ::unlink(path_.c_str());
    if (lockFd_ >= 0) ::close(lockFd_);
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the written descriptor, reporting a failed close (a delayed
  // write error); the lock stays.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  // The file has its name: nothing to remove, and the lock goes with this
  // object.
  void keep() { kept_ = true; }
  // The file waits for its name: the caller takes the lock's descriptor
  // (-1 when the file could not be locked) and closes it once it is named.
  int keepWaiting() {
    kept_ = true;
    const int lock = lockFd_;
    lockFd_ = -1;
    return lock;
  }

 private:
  std::string path_;
  int fd_ = -1;
  int lockFd_ = -1;       // holds the flock; -1 when the file could not be locked
  bool created_ = false;  // mkostemp made path_; only then is it ours to remove
  bool kept_ = false;
};

bool isTemporaryName(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kTemporaryRandomLength) return false;
  if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix) return false;
  for (const char c : name.substr(kTemporaryPrefix.size())) {
    const bool letterOrDigit =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letterOrDigit) return false;
  }
  return true;
}

// Writes all of [bytes, bytes + count) to fd, going on after short writes;
// false with WriteFailed when the system refuses.
bool writeWhole(int fd, const uint8_t* bytes, size_t count, FileProblem& problem) {
  size_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(fd, bytes + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      problem = {FileProblemCode::WriteFailed, put < 0 ? errno : 0};
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

// Gives the temporary file the name `target` without replacing anything:
// 0 on success, else errno (EEXIST when the name is taken).
int linkWithoutReplacing(const std::string& from, const std::string& target) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without RENAME_NOREPLACE (some FUSE and network ones):
  // link fails atomically on a taken name too.
  if (::link(from.c_str(), target.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

// Names the temporary file `from` as `name` in `folder`, or the first free
// "NAME (n)" when that is taken; `path` receives the name given. 0 or errno.
int giveFreeName(const std::string& from, const std::string& folder, const std::string& name,
                 std::string& path);

// syncfs of the file system holding `folder`; false with why.
bool flushFileSystem(const std::string& folder, FileProblem& problem) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    problem = {FileProblemCode::FolderNotOpened, errno};
    return false;
  }
  const bool flushed = syncfs(fd) == 0;
  if (!flushed) problem = {FileProblemCode::WriteFailed, errno};
  ::close(fd);
  return flushed;
}

}  // namespace

FileProblem rowNameProblem(std::string_view name) {
  if (name.empty()) return {FileProblemCode::EmptyName};
  if (name == "." || name == "..") return {FileProblemCode::ReservedName, 0, std::string(name)};
  // A row name is one entry of the destination folder; a separator would
  // let it reach outside. The backslash is the separator of the cards'
  // home system and never part of a name the program itself makes.
  if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    return {FileProblemCode::NameWithSeparator, 0, std::string(name)};
  }
  return {};
}

namespace {

int giveFreeName(const std::string& from, const std::string& folder, const std::string& name,
                 std::string& path) {
  path = folder + "/" + name;
  int error = linkWithoutReplacing(from, path);
  for (int number = 2; error == EEXIST && number <= kLastNumberedName; ++number) {
    path = folder + "/" + numberedName(name, number);
    error = linkWithoutReplacing(from, path);
  }
  if (error != 0) path.clear();
  return error;
}

}  // namespace

std::string numberedName(const std::string& name, int number) {
  const size_t dot = name.rfind('.');
  // A leading dot starts a hidden name, not an extension.
  const size_t cut = dot == std::string::npos || dot == 0 ? name.size() : dot;
  return name.substr(0, cut) + " (" + std::to_string(number) + ")" + name.substr(cut);
}

bool setFileTimeFromShotDate(int fd, const char* dateText) {
  if (dateText == nullptr || std::strlen(dateText) != kShotDateLength) return false;
  std::tm local{};
  local.tm_year = fieldValue(dateText, 0, 4) - 1900;
  local.tm_mon = fieldValue(dateText, 5, 2) - 1;
  local.tm_mday = fieldValue(dateText, 8, 2);
  local.tm_hour = fieldValue(dateText, 11, 2);
  local.tm_min = fieldValue(dateText, 14, 2);
  local.tm_sec = fieldValue(dateText, 17, 2);
  local.tm_isdst = -1;  // the time zone rules decide whether summer time applied
  const std::time_t seconds = std::mktime(&local);
  // Dates before 1970 (0000:00:00 00:00:00 of cameras without a clock) are
  // refused too: they cannot be told apart from a conversion failure.
  if (seconds == static_cast<std::time_t>(-1) || seconds < 0) return false;
  // Linux keeps no settable creation time; access and modification carry it.
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  return futimens(fd, times) == 0;
}

namespace {

std::string systemTemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  std::string result = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

// A folder made at first use and removed with everything in it when the
// process ends (static destruction, after the window has joined its
// workers).
class PrivateFolder {
 public:
  explicit PrivateFolder(std::string path, bool owned) : path_(std::move(path)), owned_(owned) {}
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder() {
    std::error_code ignored;
    if (owned_) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool owned_;
};

PrivateFolder makeProcessFolder() {
  std::string pattern = systemTemporaryFolder() + "/kestrix-XXXXXX";
  // mkdtemp makes the folder with mode 0700 under a fresh name.
  if (::mkdtemp(pattern.data()) == nullptr) return PrivateFolder(systemTemporaryFolder(), false);
  return PrivateFolder(pattern, true);
}

}  // namespace

std::string temporaryFolder() {
  static const PrivateFolder folder = makeProcessFolder();
  return folder.path();
}

WrittenFile CandidateWriter::write(const CandidateInfo& info, const std::string& folder,
                                   const WriteOptions& options) {
  WrittenFile result;
  auto fail = [&result](FileProblem problem) {
    result.ok = false;
    result.problem = std::move(problem);
    return result;
  };
  result.problem = rowNameProblem(info.name);
  if (result.problem) return result;
  // An extraction reads the mapping, where a page that cannot be read (a
  // file cut short, a card pulled) comes back as zeros: a rise of this
  // count, or an image that no longer reaches the find's end, means the
  // file holds such zeros. The count is the whole image's, so a page lost
  // elsewhere meanwhile fails this file too: one file to restore again,
  // where zeros named as a photo would be one lost.
  const uint64_t unreadableBefore = image_.unreadableBytes();
  const CandidateBytes source(image_, engines_, info);
  if (!source.ok()) return fail(source.problem());
  const uint8_t* bytes = source.data();
  const uint64_t count = source.size();
  // A plain range is read from the medium itself, chunk by chunk, so every
  // byte that cannot be read fails the file instead of arriving as zeros.
  std::unique_ptr<uint8_t[]> chunk;
  if (info.find.plainRange)
    chunk.reset(new (std::nothrow) uint8_t[std::min(count, kWriteChunkBytes)]);
  if (info.find.plainRange && !chunk) return fail({FileProblemCode::OutOfMemory});

  TemporaryFile output(folder);
  if (output.fd() < 0) return fail({FileProblemCode::OutputNotCreated, errno});

  uint64_t done = 0;
  FileProblem problem;
  while (done < count) {
    if (options.keepGoing && !options.keepGoing()) {
      result.stopped = true;
      return fail({FileProblemCode::Stopped});
    }
    size_t want = static_cast<size_t>(std::min(count - done, kWriteChunkBytes));
    const uint8_t* from = bytes + done;
    if (info.find.plainRange) {
      // A reassembled file is read piece by piece, each from its own place.
      uint64_t at = info.find.start + done;
      uint64_t skipped = 0;
      for (const FilePiece& piece : info.find.fragments) {
        const uint64_t length = piece.end - piece.start;
        if (done < skipped + length) {
          at = piece.start + (done - skipped);
          want = static_cast<size_t>(std::min<uint64_t>(want, skipped + length - done));
          break;
        }
        skipped += length;
      }
      if (!image_.read(at, chunk.get(), want, problem)) return fail(problem);
      from = chunk.get();
    }
    if (!writeWhole(output.fd(), from, want, problem)) return fail(problem);
    done += want;
  }
  if (!info.find.plainRange && !image_.stillHolds(info.find.end))
    return fail({FileProblemCode::ImageShrank});
  if (!info.find.plainRange && image_.unreadableBytes() != unreadableBefore) {
    return fail({FileProblemCode::ImageUnreadable});
  }
  // mkstemp creates 0600; a restored photo is an ordinary file, with the
  // bits open() would have given it under the user's umask.
  fchmod(output.fd(), kRestoredFileMode);
  if (!info.shotDate.empty() && options.dateOption == kDateOptionSetFileTime) {
    // A date that cannot be converted leaves the times as written; the file
    // itself is still a success.
    setFileTimeFromShotDate(output.fd(), info.shotDate.c_str());
  }
  if (options.deferNaming) {
    // Flushed and named with the others of its batch by nameWaiting().
    if (!output.close()) return fail({FileProblemCode::WriteFailed, errno});
    result.ok = true;
    result.problem = {};
    result.name = info.name;
    result.bytes = count;
    waiting_.push_back({output.path(), folder, result, output.keepWaiting()});
    waitingBytes_ += count;
    return result;
  }
  // The data reaches the medium before the file gets its name: a name never
  // stands for an empty or partial file after a power cut.
  if (fdatasync(output.fd()) != 0 && errno != EINVAL && errno != EROFS) {
    return fail({FileProblemCode::WriteFailed, errno});
  }
  if (!output.close()) return fail({FileProblemCode::WriteFailed, errno});
  const std::string target = folder + "/" + info.name;
  if (options.replaceExisting) {
    if (::rename(output.path().c_str(), target.c_str()) != 0) {
      return fail({FileProblemCode::OutputNotCreated, errno});
    }
    result.path = target;
  } else {
    const int error = giveFreeName(output.path(), folder, info.name, result.path);
    if (error != 0) return fail({FileProblemCode::OutputNotCreated, error});
  }
  output.keep();
  result.ok = true;
  result.problem = {};
  result.name = info.name;
  result.bytes = count;
  return result;
}

CandidateWriter::~CandidateWriter() {
  // Files never named are not the user's: they go.
  for (const Waiting& file : waiting_) {
    ::unlink(file.temporaryPath.c_str());
    if (file.lockFd >= 0) ::close(file.lockFd);
  }
}

std::vector<WrittenFile> CandidateWriter::nameWaiting() {
  std::vector<Waiting> batch = std::move(waiting_);
  waiting_.clear();
  waitingBytes_ = 0;
  std::vector<WrittenFile> results;
  if (batch.empty()) return results;
  // One flush for the whole batch: syncfs writes every file of the folder's
  // file system, with the journal committed once.
  FileProblem problem;
  bool flushed = true;
  std::vector<std::string> folders;
  for (const Waiting& file : batch) {
    if (std::find(folders.begin(), folders.end(), file.folder) == folders.end()) {
      folders.push_back(file.folder);
    }
  }
  for (const std::string& folder : folders) flushed = flushed && flushFileSystem(folder, problem);
  for (Waiting& file : batch) {
    WrittenFile result = file.file;
    if (!flushed) {
      ::unlink(file.temporaryPath.c_str());
      result.ok = false;
      result.problem = problem;
    } else if (const int error =
                   giveFreeName(file.temporaryPath, file.folder, result.name, result.path)) {
      ::unlink(file.temporaryPath.c_str());
      result.ok = false;
      result.path.clear();
      result.problem = {FileProblemCode::OutputNotCreated, error};
    }
    // Named or removed: the lock has nothing left to guard.
    if (file.lockFd >= 0) ::close(file.lockFd);
    results.push_back(std::move(result));
  }
  // The names themselves reach the medium before anything counts as done.
  for (const std::string& folder : folders) {
    if (syncFolder(folder, &problem)) continue;
    for (WrittenFile& result : results) {
      if (result.ok) {
        result.ok = false;
        result.problem = problem;
      }
    }
  }
  return results;
}

size_t CandidateWriter::removeStaleTemporaries(const std::string& folder) {
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* dir = fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return 0;
  }
  size_t removed = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!isTemporaryName(name)) continue;
    // Only a regular file is ever one of ours: a link or folder of that
    // name is the user's, and is not followed either.
    struct stat seen {};
    if (fstatat(dirFd, entry->d_name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode))
      continue;
    const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat opened {};
    // The lock taken means no live writer holds it: its restore ended
    // without removing it (killed, or the machine stopped). A lock that
    // cannot be taken, for whatever reason, leaves the file alone.
    if (fstat(fd, &opened) == 0 && opened.st_ino == seen.st_ino && opened.st_dev == seen.st_dev &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
      struct stat now {};
      // Still the same file under that name when it goes.
      if (fstatat(dirFd, entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
          now.st_ino == opened.st_ino && now.st_dev == opened.st_dev &&
          unlinkat(dirFd, entry->d_name, 0) == 0) {
        ++removed;
      }
    }
    ::close(fd);
  }
  closedir(dir);
  return removed;
}

bool CandidateWriter::syncFolder(const std::string& folder, FileProblem* problem) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (problem != nullptr) *problem = {FileProblemCode::FolderNotOpened, errno};
    return false;
  }
  // Some file systems cannot sync a folder (EINVAL); their renames are
  // as durable as they get.
  const bool synced = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int error = errno;
  ::close(fd);
  if (!synced && problem != nullptr) *problem = {FileProblemCode::FolderNotSynced, error};
  return synced;
}

}  // namespace kestrix
