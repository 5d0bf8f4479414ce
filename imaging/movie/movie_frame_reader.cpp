#include "imaging/movie/movie_frame_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/movie/movie_frame_reply.h"
#include "platform/program_path.h"

extern char** environ;

namespace kestrix {

namespace {

using Clock = std::chrono::steady_clock;

// Descriptors handed to the child are first moved to this number or above,
// so that none of them can be one of the targets 0..3 the file actions
// write to: a source already sitting on 3, or a pipe on 1, would otherwise
// be overwritten by an earlier dup2 before its own turn.
constexpr int kFirstHandedDescriptor = 10;
// The helper's fixed descriptor for the movie bytes.
constexpr int kSourceDescriptor = 3;
// How much of the helper's standard error is kept for the reason.
constexpr size_t kReasonBytes = 512;
// After SIGKILL the child normally dies at once; one blocked in the kernel
// (a read from a failing card) dies only when that read returns. Waiting
// this long for it keeps the caller's delay bounded; a child still there is
// reaped by a background thread.
constexpr auto kKillGrace = std::chrono::milliseconds(1000);
constexpr auto kReapPollStep = std::chrono::milliseconds(1);

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

std::optional<MovieFrame> fail(std::string* error, std::string reason) {
  if (error != nullptr) *error = std::move(reason);
  return std::nullopt;
}

std::string errnoText(int code) { return std::strerror(code); }

// A close-on-exec duplicate at kFirstHandedDescriptor or above.
UniqueFd raised(int fd) { return UniqueFd(fcntl(fd, F_DUPFD_CLOEXEC, kFirstHandedDescriptor)); }

// The descriptor the child reads from: read-only even when the caller's is
// not, so a helper gone wrong cannot write to the image. A descriptor that
// cannot be reopened (a device handed over by udisks2 is not ours to open
// by name) is duplicated as it is; the helper's RLIMIT_FSIZE of 0 still
// refuses every write to a file.
UniqueFd sourceForChild(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return UniqueFd();
  if ((flags & O_ACCMODE) != O_RDONLY) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    UniqueFd reopened(::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (reopened.valid()) {
      UniqueFd moved = raised(reopened.get());
      if (moved.valid()) return moved;
    }
  }
  return raised(fd);
}

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

// A pipe whose ends are both close-on-exec and above the handed range; the
// parent's end does not block, the child's end does (its writes must not
// fail with EAGAIN when the 90 KB reply outgrows the pipe).
bool makePipe(Pipe* pipe) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  UniqueFd low[2] = {UniqueFd(ends[0]), UniqueFd(ends[1])};
  pipe->read = raised(low[0].get());
  pipe->write = raised(low[1].get());
  return pipe->read.valid() && pipe->write.valid() &&
         fcntl(pipe->read.get(), F_SETFL, O_NONBLOCK) == 0;
}

// Arguments of the helper, its descriptors and signal state. Owns the spawn
// attribute objects for one spawn.
class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
  }
  ~SpawnSetup() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // 0 or the error number of the first step that failed.
  int prepare(int source, int replyWrite, int reasonWrite) {
    if (!actionsReady_ || !attributesReady_) return ENOMEM;
    // dup2 onto the fixed numbers clears close-on-exec there; closefrom then
    // drops anything above 3 that another thread opened without
    // O_CLOEXEC, so the helper sees exactly 0..3.
    int result = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (result == 0) result = posix_spawn_file_actions_adddup2(&actions_, replyWrite, 1);
    if (result == 0) result = posix_spawn_file_actions_adddup2(&actions_, reasonWrite, 2);
    if (result == 0)
      result = posix_spawn_file_actions_adddup2(&actions_, source, kSourceDescriptor);
    if (result == 0)
      result = posix_spawn_file_actions_addclosefrom_np(&actions_, kSourceDescriptor + 1);
    if (result != 0) return result;
    // Worker threads may block signals or the program may ignore SIGPIPE;
    // the helper starts with no signal blocked and every one at its default.
    // Its own process group lets a kill reach whatever it started too.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    result = posix_spawnattr_setsigmask(&attributes_, &none);
    if (result == 0) result = posix_spawnattr_setsigdefault(&attributes_, &all);
    if (result == 0) result = posix_spawnattr_setpgroup(&attributes_, 0);
    if (result == 0) {
      result = posix_spawnattr_setflags(
          &attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    }
    return result;
  }

  int spawn(const std::string& path, std::vector<std::string>& arguments, pid_t* child) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return posix_spawn(child, path.c_str(), &actions_, &attributes_, argv.data(), environ);
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
  bool actionsReady_ = false;
  bool attributesReady_ = false;
};

struct ChildOutput {
  std::vector<uint8_t> reply;
  std::string reason;
  bool timedOut = false;
  bool replyTooLong = false;
};

// Reads the reply and the reason until both pipes reach end of file or the
// deadline passes. Never keeps more than a valid reply can be: a helper
// writing on past that is wrong and is not waited for.
void collectOutput(int replyFd, int reasonFd, Clock::time_point deadline, ChildOutput* output) {
  bool replyOpen = true, reasonOpen = true;
  uint8_t buffer[16384];
  while (replyOpen || reasonOpen) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      output->timedOut = true;
      return;
    }
    pollfd fds[2] = {{replyOpen ? replyFd : -1, POLLIN, 0},
                     {reasonOpen ? reasonFd : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, int(std::min<int64_t>(left.count() + 1, 60000)));
    if (ready < 0 && errno != EINTR) {
      output->timedOut = true;  // cannot wait any more: treat as out of time
      return;
    }
    if (ready <= 0) continue;
    if (replyOpen && fds[0].revents != 0) {
      const ssize_t got = ::read(replyFd, buffer, sizeof buffer);
      if (got > 0) {
        if (output->reply.size() + size_t(got) > kMovieFrameReplyMaxSize) {
          output->replyTooLong = true;
          return;
        }
        output->reply.insert(output->reply.end(), buffer, buffer + got);
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        replyOpen = false;
      }
    }
    if (reasonOpen && fds[1].revents != 0) {
      const ssize_t got = ::read(reasonFd, buffer, sizeof buffer);
      if (got > 0) {
        const size_t room = kReasonBytes - std::min(kReasonBytes, output->reason.size());
        output->reason.append(reinterpret_cast<const char*>(buffer), std::min(room, size_t(got)));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        reasonOpen = false;
      }
    }
  }
}

enum class Reaped { Exited, StillRunning, Lost };

// waitpid without blocking past the deadline. Lost: the status cannot be
// had (SIGCHLD ignored by the program reaps children itself).
Reaped reapBefore(pid_t child, Clock::time_point deadline, int* status) {
  for (;;) {
    const pid_t result = ::waitpid(child, status, WNOHANG);
    if (result == child) return Reaped::Exited;
    if (result < 0 && errno != EINTR) return Reaped::Lost;
    if (result == 0) {
      if (Clock::now() >= deadline) return Reaped::StillRunning;
      std::this_thread::sleep_for(kReapPollStep);
    }
  }
}

// Kills the child's process group (the helper and anything it started) and
// reaps the helper, waiting at most the grace; a child stuck in the kernel
// past it is left to a detached thread that reaps it when it dies, so no
// zombie stays and the caller does not wait on a failing card.
void killAndReap(pid_t child) {
  ::kill(-child, SIGKILL);
  ::kill(child, SIGKILL);  // in case the group could not be set up
  int status = 0;
  if (reapBefore(child, Clock::now() + kKillGrace, &status) != Reaped::StillRunning) return;
  const auto reap = [child] {
    int ignored = 0;
    while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
    }
  };
  try {
    std::thread(reap).detach();
  } catch (const std::system_error&) {
    reap();  // no thread to be had: waiting here is the only way left not to leave a zombie
  }
}

std::string signalName(int number) {
  const char* abbreviation = sigabbrev_np(number);
  std::string name = abbreviation != nullptr ? std::string("SIG") + abbreviation
                                             : "signal " + std::to_string(number);
  if (number == SIGXCPU) name += ", CPU time limit";
  return name;
}

// The first line of the helper's standard error, or nothing.
std::string firstLine(const std::string& text) {
  const size_t end = text.find('\n');
  return text.substr(0, end);
}

std::optional<MovieFrame> runHelper(const std::string& helperPath, const MovieFrameLimits& limits,
                                    int sourceFd, uint64_t offset, uint64_t length,
                                    std::string* error) {
  if (length == 0) return fail(error, "empty byte range");
  if (offset > UINT64_MAX - length || offset + length > uint64_t(INT64_MAX)) {
    return fail(error, "byte range past the largest file offset");
  }
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + std::chrono::milliseconds(limits.wallMilliseconds);

  UniqueFd source = sourceForChild(sourceFd);
  if (!source.valid())
    return fail(error, "movie bytes not readable: descriptor " + std::to_string(sourceFd));
  Pipe reply, reason;
  if (!makePipe(&reply) || !makePipe(&reason)) {
    return fail(error, "could not make the pipes for the movie frame helper");
  }
  SpawnSetup setup;
  int result = setup.prepare(source.get(), reply.write.get(), reason.write.get());
  std::vector<std::string> arguments = {
      helperPath,
      "--offset",
      std::to_string(offset),
      "--length",
      std::to_string(length),
      "--memory-mib",
      std::to_string(limits.memoryMib),
      "--cpu-seconds",
      std::to_string(limits.cpuSeconds),
  };
  pid_t child = -1;
  if (result == 0) result = setup.spawn(helperPath, arguments, &child);
  if (result == ENOENT) return fail(error, "movie frame helper not found: " + helperPath);
  if (result != 0) {
    return fail(error,
                "could not start the movie frame helper " + helperPath + ": " + errnoText(result));
  }
  // Only the child may hold the write ends, or end of file never comes.
  reply.write.reset();
  reason.write.reset();
  source.reset();

  ChildOutput output;
  collectOutput(reply.read.get(), reason.read.get(), deadline, &output);
  int status = 0;
  Reaped reaped = Reaped::StillRunning;
  if (!output.timedOut && !output.replyTooLong) reaped = reapBefore(child, deadline, &status);
  if (reaped == Reaped::StillRunning) {
    killAndReap(child);
    if (output.replyTooLong) {
      return fail(error, "malformed reply from the movie frame helper: longer than " +
                             std::to_string(kMovieFrameReplyMaxSize) + " bytes");
    }
    return fail(error, "movie frame helper ran past its time limit of " +
                           std::to_string(limits.wallMilliseconds) + " ms and was stopped");
  }
  if (reaped == Reaped::Exited && WIFSIGNALED(status)) {
    return fail(error, "movie frame helper crashed (" + signalName(WTERMSIG(status)) + ")");
  }
  if (reaped == Reaped::Exited && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    std::string text =
        "movie frame helper failed (exit code " + std::to_string(WEXITSTATUS(status)) + ")";
    const std::string said = firstLine(output.reason);
    if (!said.empty()) text += ": " + said;
    return fail(error, text);
  }
  // Exited with 0, or the status was lost: only a well-formed reply counts.
  std::string parseError;
  auto frame = parseMovieFrameReply(output.reply.data(), output.reply.size(), &parseError);
  if (!frame) return fail(error, "malformed reply from the movie frame helper: " + parseError);
  return frame;
}

// The bytes in a sealed memfd: the child reads them by pread as it would a
// file, and the seals keep it (or anyone) from changing them meanwhile.
// Empty with *code set to the error number when it cannot be made.
UniqueFd memoryFile(const uint8_t* data, uint64_t size, int* code) {
  UniqueFd file(::memfd_create("kestrix-movie", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  *code = errno;
  if (!file.valid()) return file;
  uint64_t written = 0;
  while (written < size) {
    const size_t chunk = size_t(std::min<uint64_t>(size - written, 1u << 30));
    const ssize_t done = ::write(file.get(), data + written, chunk);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      *code = done < 0 ? errno : ENOSPC;
      return UniqueFd();
    }
    written += uint64_t(done);
  }
  if (fcntl(file.get(), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) !=
      0) {
    *code = errno;
    return UniqueFd();
  }
  return file;
}

}  // namespace

MovieFrameReader::MovieFrameReader(MovieFrameLimits limits)
    : MovieFrameReader(programFolder() + kMovieFrameProgramName, limits) {}

MovieFrameReader::MovieFrameReader(std::string helperPath, MovieFrameLimits limits)
    : helperPath_(std::move(helperPath)), limits_(limits) {}

std::optional<MovieFrame> MovieFrameReader::read(int fd, uint64_t offset, uint64_t length,
                                                 std::string* error) const {
  return runHelper(helperPath_, limits_, fd, offset, length, error);
}

std::optional<MovieFrame> MovieFrameReader::read(const uint8_t* data, uint64_t size,
                                                 std::string* error) const {
  if (data == nullptr || size == 0) return fail(error, "empty byte range");
  int code = 0;
  UniqueFd file = memoryFile(data, size, &code);
  if (!file.valid()) return fail(error, "could not hand the movie bytes over: " + errnoText(code));
  return runHelper(helperPath_, limits_, file.get(), 0, size, error);
}

}  // namespace kestrix
