// The reply parser takes exactly the replies the helper writes and refuses
// everything a helper gone wrong (or stopped half-way) could leave.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "imaging/movie/movie_frame_reply.h"

namespace kestrix {
namespace {

MovieFrame frameOf(int width, int height, int64_t durationMs) {
  MovieFrame frame;
  frame.width = width;
  frame.height = height;
  frame.durationMs = durationMs;
  frame.rgb.resize(size_t(width) * size_t(height) * 3);
  for (size_t i = 0; i < frame.rgb.size(); ++i) frame.rgb[i] = uint8_t(i * 7);
  return frame;
}

void putU32(std::vector<uint8_t>& reply, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) reply[at + i] = uint8_t(value >> (8 * i));
}

TEST(MovieFrameReply, ParsesWhatTheWriterWritesAtTheBounds) {
  for (const MovieFrame& frame :
       {frameOf(1, 1, -1), frameOf(200, 150, 0), frameOf(200, 75, 7'200'000)}) {
    SCOPED_TRACE(std::to_string(frame.width) + " x " + std::to_string(frame.height));
    const std::vector<uint8_t> reply = encodeMovieFrameReply(frame);
    ASSERT_EQ(reply.size(), kMovieFrameReplyHeaderSize + frame.rgb.size());
    std::string error;
    const auto parsed = parseMovieFrameReply(reply.data(), reply.size(), &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->width, frame.width);
    EXPECT_EQ(parsed->height, frame.height);
    EXPECT_EQ(parsed->durationMs, frame.durationMs);
    EXPECT_EQ(parsed->rgb, frame.rgb);
  }
}

TEST(MovieFrameReply, WriterRefusesFramesTheParserWouldRefuse) {
  MovieFrame shortPixels = frameOf(4, 3, 10);
  shortPixels.rgb.pop_back();
  for (const MovieFrame& frame :
       {frameOf(201, 1, 0), frameOf(1, 151, 0), frameOf(0, 1, 0), frameOf(2, 2, -2), shortPixels}) {
    EXPECT_TRUE(encodeMovieFrameReply(frame).empty()) << frame.width << " x " << frame.height;
  }
}

TEST(MovieFrameReply, RefusesMalformedReplies) {
  const std::vector<uint8_t> good = encodeMovieFrameReply(frameOf(4, 3, 2000));
  struct Row {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* reasonPart;
  } rows[] = {
      {"empty", [](auto& r) { r.clear(); }, "too short"},
      {"header cut short", [](auto& r) { r.resize(kMovieFrameReplyHeaderSize - 1); }, "too short"},
      {"wrong magic", [](auto& r) { r[0] = 'k'; }, "magic"},
      {"another version", [](auto& r) { putU32(r, 4, 2); }, "version 2"},
      {"zero width", [](auto& r) { putU32(r, 8, 0); }, "outside"},
      {"width past 200", [](auto& r) { putU32(r, 8, 201); }, "outside"},
      {"height past 150", [](auto& r) { putU32(r, 12, 151); }, "outside"},
      {"width that overflows 32-bit pixel counts", [](auto& r) { putU32(r, 8, 0x80000001u); },
       "outside"},
      {"duration below -1",
       [](auto& r) {
         putU32(r, 16, 0xFFFFFFFEu);
         putU32(r, 20, 0xFFFFFFFFu);
       },
       "duration"},
      {"one pixel byte missing", [](auto& r) { r.pop_back(); }, "needs"},
      {"one byte too many", [](auto& r) { r.push_back(0); }, "needs"},
      {"size says more than was sent", [](auto& r) { putU32(r, 8, 200); }, "needs"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> reply = good;
    row.damage(reply);
    std::string error;
    EXPECT_FALSE(parseMovieFrameReply(reply.data(), reply.size(), &error));
    EXPECT_NE(error.find(row.reasonPart), std::string::npos) << error;
  }
  EXPECT_FALSE(parseMovieFrameReply(nullptr, 100, nullptr));
}

}  // namespace
}  // namespace kestrix
