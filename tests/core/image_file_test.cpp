// The image as a read-only mapping: what it accepts, what it refuses at once
// (and with which message), and images past the 4 GiB line.
#include "core/image_file.h"
#include "texts/job_texts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps SIGBUS for itself unless told to let the program's
// own handler in; the image's handler is what this test is about.
extern "C" const char* __asan_default_options() { return "allow_user_segv_handler=1"; }
#endif

namespace kestrix {
namespace {

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/kestrix-image-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(ImageFile, MapsAFileReadOnlyWithItsBytesAndIdentity) {
  ScratchFolder scratch;
  std::ofstream(scratch.file("card.img"), std::ios::binary) << "card bytes";
  ImageOpenResult opened = ImageFile::open(scratch.file("card.img"));
  ASSERT_EQ(opened.status, LoadStatus::Loaded);
  ASSERT_TRUE(opened.image);
  EXPECT_EQ(opened.image->size(), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(opened.image->data()), 10), "card bytes");
  struct stat info {};
  ASSERT_EQ(stat(scratch.file("card.img").c_str(), &info), 0);
  EXPECT_EQ(opened.image->inode(), info.st_ino);
  EXPECT_FALSE(opened.image->isBlockDevice());
  // The mapping is no private copy: a change to the file shows through.
  std::fstream(scratch.file("card.img"), std::ios::in | std::ios::out | std::ios::binary) << "CARD";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(opened.image->data()), 4), "CARD");
  // The descriptor kept for helper processes reads the same bytes, may not
  // write, is not inherited by a program started without asking, and goes
  // with the image.
  const int fd = opened.image->descriptor();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  char bytes[5] = {};
  EXPECT_EQ(pread(fd, bytes, 5, 5), 5);
  EXPECT_EQ(std::string(bytes, 5), "bytes");
  opened.image.reset();
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "closed with the image";
}

TEST(ImageFile, AnEmptyImageHasNoBytesButANonNullBlock) {
  ScratchFolder scratch;
  std::ofstream(scratch.file("empty.img"));
  ImageOpenResult opened = ImageFile::open(scratch.file("empty.img"));
  ASSERT_EQ(opened.status, LoadStatus::Loaded);
  EXPECT_EQ(opened.image->size(), 0u);
  EXPECT_NE(opened.image->data(), nullptr);
}

TEST(ImageFile, ASparseImageOfSixGiBIsMappedWhole) {
  ScratchFolder scratch;
  const std::string path = scratch.file("big.img");
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  const off_t size = (off_t{6} << 30) + 3;
  ASSERT_EQ(pwrite(fd, "END", 3, size - 3), 3);
  close(fd);
  ImageOpenResult opened = ImageFile::open(path);
  ASSERT_EQ(opened.status, LoadStatus::Loaded);
  ASSERT_EQ(opened.image->size(), static_cast<uint64_t>(size));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(opened.image->data()) + size - 3, 3), "END");
  EXPECT_EQ(opened.image->data()[uint64_t{5} << 30], 0);
}

// Each of these used to give an empty card, or a scan that never ended.
struct RefusedCase {
  const char* name;
  LoadStatus status;
  const char* message;
};

class ImageFileRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ImageFileRefuses, AtOnceWithItsMessage) {
  const RefusedCase& c = GetParam();
  ScratchFolder scratch;
  std::string path;
  int pipeEnds[2] = {-1, -1};
  const std::string name = c.name;
  if (name == "Missing") {
    path = scratch.file("nothing.img");
  } else if (name == "Folder") {
    path = scratch.path();
  } else if (name == "Fifo") {
    path = scratch.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // no writer: a plain open would wait for ever
  } else if (name == "Pipe") {
    ASSERT_EQ(pipe(pipeEnds), 0);
    path = "/proc/self/fd/" + std::to_string(pipeEnds[0]);
  } else if (name == "CharacterDevice") {
    path = "/dev/zero";
  } else if (name == "EmptyName") {
    path = "";
  }
  const ImageOpenResult opened = ImageFile::open(path);
  EXPECT_EQ(opened.status, c.status);
  EXPECT_FALSE(opened.image);
  EXPECT_EQ(std::string(loadStatusMessage(opened.status)), c.message);
  for (int end : pipeEnds) {
    if (end >= 0) close(end);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ImageFileRefuses,
    ::testing::Values(
        RefusedCase{"Missing", LoadStatus::NotFound, "イメージファイルが見つかりません。"},
        RefusedCase{"EmptyName", LoadStatus::NotFound, "イメージファイルが見つかりません。"},
        RefusedCase{"Folder", LoadStatus::NotAnImage,
                    "イメージファイルではありません（パイプ、FIFO、キャラクタデバイス、フォルダは読"
                    "み込めません）。"},
        RefusedCase{"Fifo", LoadStatus::NotAnImage,
                    "イメージファイルではありません（パイプ、FIFO、キャラクタデバイス、フォルダは読"
                    "み込めません）。"},
        RefusedCase{"Pipe", LoadStatus::NotAnImage,
                    "イメージファイルではありません（パイプ、FIFO、キャラクタデバイス、フォルダは読"
                    "み込めません）。"},
        RefusedCase{"CharacterDevice", LoadStatus::NotAnImage,
                    "イメージファイルではありません（パイプ、FIFO、キャラクタデバイス、フォルダは読"
                    "み込めません）。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageFile, AnUnreadableFileIsAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  ScratchFolder scratch;
  std::ofstream(scratch.file("locked.img")) << "x";
  chmod(scratch.file("locked.img").c_str(), 0);
  EXPECT_EQ(ImageFile::open(scratch.file("locked.img")).status, LoadStatus::OpenFailed);
}

TEST(ImageFile, AReadOnlyLoopDeviceIsMappedLikeAFile) {
  if (geteuid() != 0) GTEST_SKIP() << "making a loop device needs root";
  ScratchFolder scratch;
  const std::string backing = scratch.file("card.img");
  std::string content(1 << 20, '\0');
  content.replace(4096, 10, "photo here");
  std::ofstream(backing, std::ios::binary) << content;
  const std::string attach = "losetup -r -f --show '" + backing + "' 2>/dev/null";
  FILE* out = popen(attach.c_str(), "r");
  char device[64] = {};
  const bool made = out != nullptr && fgets(device, sizeof device, out) != nullptr;
  if (out != nullptr) pclose(out);
  if (!made) GTEST_SKIP() << "no loop device could be made here (no /dev/loop-control?)";
  std::string path(device);
  while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) path.pop_back();
  {
    ImageOpenResult opened = ImageFile::open(path);
    EXPECT_EQ(opened.status, LoadStatus::Loaded);
    if (opened.image) {
      EXPECT_TRUE(opened.image->isBlockDevice());
      EXPECT_EQ(opened.image->size(), content.size());
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(opened.image->data()) + 4096, 10),
                "photo here");
    }
  }
  std::system(("losetup -d " + path).c_str());
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST(ImageFile, PagesThatCannotBeReadReadAsZerosInsteadOfEndingTheProgram) {
  ScratchFolder scratch;
  const std::string path = scratch.file("shrinking.img");
  std::ofstream(path, std::ios::binary) << std::string(3 * 4096, 'x');
  ImageOpenResult opened = ImageFile::open(path);
  ASSERT_TRUE(opened.image);
  // Cut short under the mapping: the last two pages no longer exist, and a
  // read of them raises SIGBUS, as a bad sector of a card read directly does.
  ASSERT_EQ(truncate(path.c_str(), 4096), 0);
  const uint8_t* data = opened.image->data();
  EXPECT_EQ(data[10], 'x');
  EXPECT_EQ(data[2 * 4096 + 5], 0);
  EXPECT_EQ(data[4096], 0);
  EXPECT_EQ(opened.image->unreadableBytes(), 2u * 4096);
}

}  // namespace
}  // namespace kestrix
