// The helper's input never reads or seeks outside its range of the file,
// wherever the range lies and however FFmpeg asks.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <numeric>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

#include "imaging/movie/byte_range_input.h"
#include "media/test_files.h"

namespace kestrix {
namespace {

class ByteRangeInputTest : public testing::Test {
 protected:
  void SetUp() override {
    bytes_.resize(100000);
    std::iota(bytes_.begin(), bytes_.end(), uint8_t(0));
    for (size_t i = 0; i < bytes_.size(); i += 7) bytes_[i] ^= uint8_t(i >> 8);
    test::writeFile(folder_.file("image"), bytes_);
    fd_ = ::open(folder_.file("image").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { ::close(fd_); }

  // Everything avio_read gives from the current position to the end.
  static std::vector<uint8_t> readToEnd(AVIOContext* context) {
    std::vector<uint8_t> out;
    uint8_t chunk[4096];
    for (int got; (got = avio_read(context, chunk, sizeof chunk)) > 0;)
      out.insert(out.end(), chunk, chunk + got);
    return out;
  }
  std::vector<uint8_t> slice(size_t from, size_t length) const {
    return std::vector<uint8_t>(bytes_.begin() + long(from), bytes_.begin() + long(from + length));
  }

  test::TempFolder folder_;
  std::vector<uint8_t> bytes_;
  int fd_ = -1;
};

TEST_F(ByteRangeInputTest, ReadsExactlyTheRange) {
  // Ranges that end mid-buffer, on a buffer boundary, and one byte long.
  for (const auto& [offset, length] :
       {std::pair<size_t, size_t>{1001, 50000}, {0, 32768}, {99999, 1}}) {
    SCOPED_TRACE(std::to_string(offset) + "+" + std::to_string(length));
    ByteRangeInput input(fd_, offset, length);
    ASSERT_NE(input.context(), nullptr);
    EXPECT_EQ(avio_size(input.context()), int64_t(length));
    EXPECT_EQ(readToEnd(input.context()), slice(offset, length));
    EXPECT_TRUE(avio_feof(input.context()));
  }
}

TEST_F(ByteRangeInputTest, SeeksStayInsideTheRange) {
  constexpr int64_t kOffset = 1001, kLength = 90000;
  ByteRangeInput input(fd_, kOffset, kLength);
  AVIOContext* context = input.context();
  ASSERT_NE(context, nullptr);
  // Seeks more than FFmpeg's short-seek distance (32 KiB) from the buffer
  // reach the seek callback; nearer ones are read forward.
  ASSERT_EQ(avio_seek(context, 60000, SEEK_SET), 60000);
  EXPECT_EQ(readToEnd(context), slice(kOffset + 60000, kLength - 60000));
  ASSERT_EQ(avio_seek(context, 10, SEEK_SET), 10);
  EXPECT_LT(avio_seek(context, kLength + 1, SEEK_SET), 0);
  EXPECT_LT(avio_seek(context, -1, SEEK_SET), 0);
  EXPECT_LT(avio_seek(context, INT64_MIN + 1, SEEK_CUR), 0);
  EXPECT_LT(avio_seek(context, INT64_MAX, SEEK_CUR), 0);
  // A refused seek leaves the position where it was.
  uint8_t byte = 0;
  ASSERT_EQ(avio_read(context, &byte, 1), 1);
  EXPECT_EQ(byte, bytes_[kOffset + 10]);
}

TEST_F(ByteRangeInputTest, FileShorterThanTheRangeEndsAtItsEnd) {
  ByteRangeInput input(fd_, 90000, 50000);
  ASSERT_NE(input.context(), nullptr);
  EXPECT_EQ(readToEnd(input.context()), slice(90000, 10000));
}

}  // namespace
}  // namespace kestrix
