// MovieFrameReader with the real helper on clips the ffmpeg program makes
// here, and with stand-in helpers (shell scripts) that hang, crash, lie or
// look at what they were given.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "imaging/movie/movie_frame_reader.h"
#include "media/test_files.h"

namespace kestrix {
namespace {

using test::readFile;
using test::writeFile;

std::string helperPath() {
  const char* bin = std::getenv("KESTRIX_BIN_DIR");
  return std::string(bin != nullptr ? bin : ".") + "/" + kMovieFrameProgramName;
}

bool haveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

// 2 s of the test pattern, 320 x 240 at 25 frames a second, unless the
// filter says otherwise. Each test runs in a process of its own, so the
// clips are kept in the test folder of the build and made only when
// missing; written under a name of this process and renamed, so that tests
// run side by side never see half a clip.
bool makeClip(const std::string& path, const std::string& codecAndFormat,
              const std::string& filter = "") {
  if (::access(path.c_str(), R_OK) == 0) return true;
  const std::string extension = path.substr(path.rfind('.'));
  const std::string partial = path + ".part" + std::to_string(::getpid()) + extension;
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 " +
      (filter.empty() ? std::string() : "-vf " + filter + " ") + codecAndFormat + " '" + partial +
      "'";
  return std::system(command.c_str()) == 0 && std::rename(partial.c_str(), path.c_str()) == 0;
}

std::vector<uint8_t> garbage(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = uint8_t(random());
  return bytes;
}

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path, int flags = O_RDONLY)
      : fd_(::open(path.c_str(), flags | O_CLOEXEC)) {}
  ~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// No child of this test process is left, running or as a zombie.
bool noChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// More than a few colours: a black, white or flat frame fails this.
size_t coloursIn(const MovieFrame& frame) {
  std::set<uint32_t> colours;
  for (size_t i = 0; i + 2 < frame.rgb.size(); i += 3) {
    colours.insert(uint32_t(frame.rgb[i]) << 16 | uint32_t(frame.rgb[i + 1]) << 8 |
                   frame.rgb[i + 2]);
  }
  return colours.size();
}

void expectSameFrame(const MovieFrame& actual, const MovieFrame& expected) {
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.height, expected.height);
  EXPECT_EQ(actual.durationMs, expected.durationMs);
  EXPECT_EQ(actual.rgb, expected.rgb);
}

class MovieFrameReaderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new test::TempFolder();
    ::mkdir(kClipFolder, 0755);
    if (!haveFfmpeg()) {
      skipReason_ = "ffmpeg not installed: no test clips";
      return;
    }
    if (::access(helperPath().c_str(), X_OK) != 0) {
      skipReason_ = helperPath() + " not built (FFmpeg development libraries missing)";
      return;
    }
    const std::string h264 = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p ";
    const bool made = makeClip(clip("fast.mp4"), h264 + "-movflags +faststart") &&
                      makeClip(clip("tail.mp4"), h264) &&
                      makeClip(clip("clip.mov"), "-c:v mjpeg -q:v 3 -f mov") &&
                      makeClip(clip("wide.mp4"), h264, "setsar=2") &&
                      makeClip(clip("tall.mp4"), h264, "setsar=1/2");
    if (!made) skipReason_ = "ffmpeg could not make the test clips";
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
  }

  // Clips made by ffmpeg live in the build's test folder (the working
  // folder of ctest); everything else a test writes goes to its TempFolder.
  static constexpr const char* kClipFolder = "movie-clips";
  static std::string clip(const std::string& name) { return std::string(kClipFolder) + "/" + name; }

  // The frame of a whole file, read through the descriptor API.
  static std::optional<MovieFrame> readWhole(const MovieFrameReader& reader,
                                             const std::string& path, std::string* error) {
    const ReadOnlyFile file(path);
    return reader.read(file.fd(), 0, readFile(path).size(), error);
  }

  // A stand-in helper: a shell script with this body.
  static std::string fakeHelper(const std::string& name, const std::string& body,
                                mode_t mode = 0755) {
    const std::string path = folder_->file(name);
    const std::string text = "#!/bin/sh\n" + body + "\n";
    writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    ::chmod(path.c_str(), mode);
    return path;
  }

  static test::TempFolder* folder_;
  static std::string skipReason_;
};

test::TempFolder* MovieFrameReaderTest::folder_ = nullptr;
std::string MovieFrameReaderTest::skipReason_;

TEST(MovieType, KnownByExtensionOrType) {
  for (const char* type : {".mov", ".MP4", "m4v", "3gp"}) EXPECT_TRUE(isMovieType(type)) << type;
  for (const char* type : {".jpg", "png", "", "."}) EXPECT_FALSE(isMovieType(type)) << type;
}

TEST_F(MovieFrameReaderTest, EveryLayoutGivesAFittedFrameAndItsDuration) {
  struct Row {
    const char* name;
    const char* file;
    int width;
    int height;
  } rows[] = {
      {"MP4, index first (faststart)", "fast.mp4", 200, 150},
      {"MP4, index at the end: read by seeking", "tail.mp4", 200, 150},
      {"MOV with Motion JPEG (full-range pixels)", "clip.mov", 200, 150},
      {"samples twice as wide: 640 x 240 shown", "wide.mp4", 200, 75},
      {"samples half as wide: 320 x 480 shown", "tall.mp4", 100, 150},
  };
  const MovieFrameReader reader(helperPath());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    const auto frame = readWhole(reader, clip(row.file), &error);
    ASSERT_TRUE(frame) << error;
    EXPECT_EQ(frame->width, row.width);
    EXPECT_EQ(frame->height, row.height);
    ASSERT_EQ(frame->rgb.size(), size_t(row.width) * row.height * 3);
    EXPECT_NEAR(double(frame->durationMs), 2000.0, 100.0);
    EXPECT_GT(coloursIn(*frame), 50u);
  }
  EXPECT_TRUE(noChildLeft());
}

// The find is a range of the card image: bytes around it, even another
// whole movie before it, must not change the frame.
TEST_F(MovieFrameReaderTest, RangeInsideALargerFileReadsOnlyThatRange) {
  const MovieFrameReader reader(helperPath());
  const std::vector<uint8_t> before = readFile(clip("clip.mov"));
  for (const char* name : {"fast.mp4", "tail.mp4"}) {
    SCOPED_TRACE(name);
    std::string error;
    const auto alone = readWhole(reader, clip(name), &error);
    ASSERT_TRUE(alone) << error;

    const std::vector<uint8_t> movie = readFile(clip(name));
    std::vector<uint8_t> image = before;
    const std::vector<uint8_t> lead = garbage(1001, 1), trail = garbage(3333, 2);
    image.insert(image.end(), lead.begin(), lead.end());
    const uint64_t offset = image.size();
    image.insert(image.end(), movie.begin(), movie.end());
    image.insert(image.end(), trail.begin(), trail.end());
    const std::string imagePath = folder_->file(std::string("image-") + name);
    writeFile(imagePath, image);

    const ReadOnlyFile file(imagePath);
    const auto embedded = reader.read(file.fd(), offset, movie.size(), &error);
    ASSERT_TRUE(embedded) << error;
    expectSameFrame(*embedded, *alone);
  }
}

TEST_F(MovieFrameReaderTest, MemoryGivesTheSameFrameAsTheFile) {
  const MovieFrameReader reader(helperPath());
  for (const char* name : {"fast.mp4", "tail.mp4"}) {
    SCOPED_TRACE(name);
    std::string error;
    const auto fromFile = readWhole(reader, clip(name), &error);
    ASSERT_TRUE(fromFile) << error;
    const std::vector<uint8_t> bytes = readFile(clip(name));
    const auto fromMemory = reader.read(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(fromMemory) << error;
    expectSameFrame(*fromMemory, *fromFile);
  }
}

TEST_F(MovieFrameReaderTest, BytesThatAreNoMovieGiveAReason) {
  const MovieFrameReader reader(helperPath());
  const std::string noise = folder_->file("noise.bin");
  writeFile(noise, garbage(65536, 3));
  const ReadOnlyFile file(noise);
  const uint64_t size = 65536;
  struct Row {
    const char* name;
    uint64_t offset;
    uint64_t length;
    const char* reasonPart;
  } rows[] = {
      {"random bytes", 0, size, "exit code 1"},
      {"zero-length range", 0, 0, "empty byte range"},
      {"range past the end of the file", size, 4096, "exit code 1"},
      {"range that overflows", UINT64_MAX - 10, 100, "largest file offset"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    EXPECT_FALSE(reader.read(file.fd(), row.offset, row.length, &error));
    EXPECT_NE(error.find(row.reasonPart), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(reader.read(static_cast<const uint8_t*>(nullptr), 0, &error));
  EXPECT_EQ(error, "empty byte range");
  EXPECT_TRUE(noChildLeft());
}

// Either a frame or a reason; never a crash, never a half-valid frame. The
// half read as a range of the whole file must give what the half alone
// gives: the rest of the file (with the index of the clip whose index is
// at its end) lies outside the range and must stay unread.
TEST_F(MovieFrameReaderTest, MovieCutInHalfGivesAFrameOrAReason) {
  const MovieFrameReader reader(helperPath());
  for (const char* name : {"fast.mp4", "tail.mp4", "clip.mov"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = readFile(clip(name));
    std::string error;
    const auto alone = reader.read(bytes.data(), bytes.size() / 2, &error);
    if (alone) {
      EXPECT_EQ(alone->rgb.size(), size_t(alone->width) * alone->height * 3);
    } else {
      EXPECT_NE(error.find("exit code 1"), std::string::npos) << error;
    }
    const ReadOnlyFile file(clip(name));
    const auto ranged = reader.read(file.fd(), 0, bytes.size() / 2, &error);
    ASSERT_EQ(bool(ranged), bool(alone));
    if (alone) expectSameFrame(*ranged, *alone);
  }
  const std::vector<uint8_t> tail = readFile(clip("tail.mp4"));
  EXPECT_FALSE(reader.read(tail.data(), tail.size() / 2, nullptr))
      << "index at the end was cut off";
}

TEST_F(MovieFrameReaderTest, HelperOverItsMemoryLimitFailsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an AddressSanitizer build of the helper runs without an address-space limit";
#endif
  MovieFrameLimits limits;
  limits.memoryMib = 16;  // less than the FFmpeg libraries alone take
  const MovieFrameReader reader(helperPath(), limits);
  std::string error;
  EXPECT_FALSE(readWhole(reader, clip("fast.mp4"), &error));
  EXPECT_NE(error.find("out of memory"), std::string::npos) << error;
  EXPECT_TRUE(noChildLeft());
}

TEST_F(MovieFrameReaderTest, ThreadsReadAtOnce) {
  const MovieFrameReader reader(helperPath());
  std::string error;
  const auto expected = readWhole(reader, clip("tail.mp4"), &error);
  ASSERT_TRUE(expected) << error;
  std::vector<std::optional<MovieFrame>> frames(4);
  std::vector<std::thread> threads;
  for (auto& frame : frames) {
    threads.emplace_back([&] { frame = readWhole(reader, clip("tail.mp4"), nullptr); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& frame : frames) {
    ASSERT_TRUE(frame);
    expectSameFrame(*frame, *expected);
  }
  EXPECT_TRUE(noChildLeft());
}

TEST_F(MovieFrameReaderTest, HelperFailuresEachHaveTheirReason) {
  struct Row {
    const char* name;
    std::string helper;
    const char* reasonPart;
  } rows[] = {
      {"helper missing", folder_->file("no-such-helper"), "helper not found"},
      {"helper not executable", fakeHelper("plain-file", "exit 0", 0644), "could not start"},
      {"helper crashes", fakeHelper("crash", "kill -SEGV $$"), "crashed (SIGSEGV)"},
      {"helper fails with a reason",
       fakeHelper("fail", "echo 'no video here' >&2; echo more >&2; exit 3"),
       "failed (exit code 3): no video here"},
      {"helper writes no reply", fakeHelper("silent", "exit 0"), "malformed reply"},
      {"helper writes text", fakeHelper("text", "echo hello"), "malformed reply"},
      {"helper writes without end", fakeHelper("flood", "exec cat /dev/zero"), "longer than"},
  };
  const ReadOnlyFile file(clip("fast.mp4"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MovieFrameLimits limits;
    limits.wallMilliseconds = 3000;
    std::string error;
    EXPECT_FALSE(MovieFrameReader(row.helper, limits).read(file.fd(), 0, 1000, &error));
    EXPECT_NE(error.find(row.reasonPart), std::string::npos) << error;
  }
  EXPECT_TRUE(noChildLeft());
}

// Gone, or a zombie waiting for init: either way no longer running.
bool stopped(pid_t pid) {
  const std::vector<uint8_t> stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const std::string text(stat.begin(), stat.end());
  const size_t paren = text.rfind(')');
  return text.empty() ||
         (paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'Z');
}

TEST_F(MovieFrameReaderTest, HangingHelperIsKilledAtTheWallLimit) {
  MovieFrameLimits limits;
  limits.wallMilliseconds = 300;
  // The shell waits for a child of its own, which holds the reply pipe
  // too: the kill must reach the helper's whole process group.
  const std::string sleeperFile = folder_->file("sleeper.pid");
  const MovieFrameReader reader(
      fakeHelper("hang", "sleep 30 & echo $! > '" + sleeperFile + "'; wait"), limits);
  const ReadOnlyFile file(clip("fast.mp4"));
  const auto started = std::chrono::steady_clock::now();
  std::string error;
  EXPECT_FALSE(reader.read(file.fd(), 0, 1000, &error));
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_NE(error.find("time limit of 300 ms"), std::string::npos) << error;
  EXPECT_LT(waited, std::chrono::seconds(5));  // far below the helper's 30 s
  EXPECT_TRUE(noChildLeft());

  const std::vector<uint8_t> pidText = readFile(sleeperFile);
  const pid_t sleeper = std::atoi(std::string(pidText.begin(), pidText.end()).c_str());
  ASSERT_GT(sleeper, 0);
  // SIGKILL is delivered asynchronously; wait for its effect, not a time.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!stopped(sleeper) && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
  EXPECT_TRUE(stopped(sleeper)) << "the helper's own child " << sleeper << " still runs";
}

// The helper gets the movie on descriptor 3, read-only even when the
// caller's descriptor is not, and no other descriptor of this process
// (one opened without O_CLOEXEC included).
TEST_F(MovieFrameReaderTest, HelperSeesOnlyItsDescriptors) {
  const std::string target = folder_->file("writable.bin");
  writeFile(target, std::vector<uint8_t>(64, 'a'));
  const ReadOnlyFile writable(target, O_RDWR);
  constexpr int kStray = 40;
  const int stray = ::open("/dev/null", O_RDONLY);  // inherited by a plain fork+exec
  ASSERT_EQ(::dup2(stray, kStray), kStray);
  ::close(stray);

  const std::string probe =
      "three=no; [ -e /proc/$$/fd/3 ] && three=yes\n"
      "stray=no; [ -e /proc/$$/fd/" +
      std::to_string(kStray) +
      " ] && stray=yes\n"
      "wrote=no; (printf x >&3) 2>/dev/null && wrote=yes\n"
      "echo \"fd3=$three stray=$stray wrote=$wrote\" >&2; exit 5";
  std::string error;
  EXPECT_FALSE(MovieFrameReader(fakeHelper("probe", probe)).read(writable.fd(), 0, 64, &error));
  ::close(kStray);
  EXPECT_NE(error.find("fd3=yes stray=no wrote=no"), std::string::npos) << error;
  EXPECT_EQ(readFile(target), std::vector<uint8_t>(64, 'a'));
}

}  // namespace
}  // namespace kestrix
