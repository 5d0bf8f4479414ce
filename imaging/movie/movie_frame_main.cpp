// kestrix-movie-frame: one thumbnail frame of a movie, in a process of its
// own. Started by MovieFrameReader, never by hand:
//
//   kestrix-movie-frame --offset O --length L --memory-mib M --cpu-seconds S
//
// The movie is bytes [O, O + L) of descriptor 3; the reply
// (movie_frame_reply.h) goes to standard output; on failure a one-line
// reason goes to standard error and the exit code is not 0.
//
//   exit  meaning
//   0     reply written
//   1     nothing decodes (the reason says why), or the reply could not be written
//   2     wrong arguments
//   3     the limits could not be set; nothing was read
//   4     out of memory outside FFmpeg
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "imaging/movie/byte_range_input.h"
#include "imaging/movie/movie_frame_decoder.h"
#include "imaging/movie/movie_frame_reply.h"

namespace kestrix {
namespace {

constexpr int kSourceDescriptor = 3;
// Standard input, output, error and the movie; FFmpeg opens nothing here,
// so a few spare are plenty and a runaway cannot hoard descriptors.
constexpr rlim_t kOpenFilesLimit = 8;
constexpr uint64_t kMaxMemoryMib = 1 << 20;  // 1 TiB: any larger number is a mistake
constexpr uint64_t kMaxCpuSeconds = 3600;

// The exit status the reader reports (movie_frame_reader.cpp names any
// non-zero one in its reason).
enum class ExitCode : int {
  Replied = 0,
  NothingDecodes = 1,
  BadArguments = 2,
  NoLimits = 3,
  OutOfMemory = 4
};

// Writes all of text; no stdio, which may allocate, and no formatting.
bool writeAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t done = ::write(fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    size -= size_t(done);
  }
  return true;
}

ExitCode say(ExitCode code, const std::string& reason) {
  const std::string line = "kestrix-movie-frame: " + reason + "\n";
  writeAll(2, line.data(), line.size());
  return code;
}

bool setLimit(int resource, rlim_t soft, rlim_t hard) {
  const rlimit limit = {soft, hard};
  return ::setrlimit(resource, &limit) == 0;
}

struct Options {
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t memoryMib = 0;
  uint64_t cpuSeconds = 0;
};

// A whole decimal number of at most `maximum`, nothing else.
bool parseNumber(const char* text, uint64_t maximum, uint64_t* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || number > maximum) return false;
  *value = number;
  return true;
}

bool parseOptions(int argc, char** argv, Options* options) {
  // name, target, largest value, seen
  struct Option {
    const char* name;
    uint64_t* value;
    uint64_t maximum;
    bool seen;
  } table[] = {
      {"--offset", &options->offset, uint64_t(INT64_MAX), false},
      {"--length", &options->length, uint64_t(INT64_MAX), false},
      {"--memory-mib", &options->memoryMib, kMaxMemoryMib, false},
      {"--cpu-seconds", &options->cpuSeconds, kMaxCpuSeconds, false},
  };
  for (int i = 1; i < argc; i += 2) {
    Option* match = nullptr;
    for (Option& option : table) {
      if (std::strcmp(argv[i], option.name) == 0) match = &option;
    }
    if (match == nullptr || match->seen || i + 1 >= argc ||
        !parseNumber(argv[i + 1], match->maximum, match->value)) {
      return false;
    }
    match->seen = true;
  }
  for (const Option& option : table) {
    if (!option.seen) return false;
  }
  return options->length > 0 && options->offset <= uint64_t(INT64_MAX) - options->length &&
         options->memoryMib > 0 && options->cpuSeconds > 0;
}

// AddressSanitizer reserves terabytes of address space for its shadow at
// start-up, so under it an address-space limit would leave no room for any
// allocation at all; a sanitizer build runs without one.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSpaceLimited = false;
#else
constexpr bool kAddressSpaceLimited = true;
#endif
#else
constexpr bool kAddressSpaceLimited = true;
#endif

ExitCode run(int argc, char** argv) {
  // Before anything else: a crash leaves no core file of card bytes, no
  // file can be written, few descriptors can be held.
  if (!setLimit(RLIMIT_CORE, 0, 0) || !setLimit(RLIMIT_FSIZE, 0, 0) ||
      !setLimit(RLIMIT_NOFILE, kOpenFilesLimit, kOpenFilesLimit)) {
    return say(ExitCode::NoLimits, std::string("cannot limit itself: ") + std::strerror(errno));
  }
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    return say(
        ExitCode::BadArguments,
        "usage: --offset O --length L --memory-mib M --cpu-seconds S (movie on descriptor 3)");
  }
  // The CPU limit sends SIGXCPU at the soft limit and SIGKILL a second
  // later, should the first be caught or ignored by anything.
  if (!setLimit(RLIMIT_CPU, options.cpuSeconds, options.cpuSeconds + 1) ||
      (kAddressSpaceLimited &&
       !setLimit(RLIMIT_AS, options.memoryMib << 20, options.memoryMib << 20))) {
    return say(ExitCode::NoLimits, std::string("cannot limit itself: ") + std::strerror(errno));
  }
  // The reader closes everything else already; this covers a start by
  // other hands.
  ::close_range(kSourceDescriptor + 1, ~0U, 0);
  // A reader that stopped listening makes writes fail with EPIPE rather
  // than kill the helper in the middle of its reason.
  ::signal(SIGPIPE, SIG_IGN);
  av_log_set_level(AV_LOG_QUIET);

  std::string reason;
  std::optional<MovieFrame> frame;
  {
    ByteRangeInput input(kSourceDescriptor, options.offset, options.length);
    frame = decodeMovieFrame(input.context(), &reason);
  }
  if (!frame) return say(ExitCode::NothingDecodes, reason);
  const std::vector<uint8_t> reply = encodeMovieFrameReply(*frame);
  if (reply.empty()) return say(ExitCode::NothingDecodes, "frame outside the reply's bounds");
  if (!writeAll(1, reply.data(), reply.size())) {
    return say(ExitCode::NothingDecodes,
               std::string("cannot write the reply: ") + std::strerror(errno));
  }
  return ExitCode::Replied;
}

}  // namespace
}  // namespace kestrix

int main(int argc, char** argv) {
  try {
    return static_cast<int>(kestrix::run(argc, argv));
  } catch (const std::bad_alloc&) {
    // The address-space limit shows up here when it is reached in our own
    // code rather than inside FFmpeg, which reports ENOMEM instead.
    static const char text[] = "kestrix-movie-frame: out of memory\n";
    kestrix::writeAll(2, text, sizeof text - 1);
    return static_cast<int>(kestrix::ExitCode::OutOfMemory);
  }
}
