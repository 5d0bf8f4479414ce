// How a movie row looks: its frame fitted into the cell with the movie's
// length on it, and the movie icon when there is no frame; and the pool's
// pixels of a drawn cell back as the same picture.
#include <gtest/gtest.h>

#include <QColor>

#include "ui/widgets/thumbnail_decoder.h"

namespace kestrix {
namespace {

// A frame of one colour: `channel` (0 red, 1 green, 2 blue) at `level`.
MovieFrame flatFrame(int width, int height, int64_t durationMs, int channel, uint8_t level) {
  MovieFrame frame;
  frame.width = width;
  frame.height = height;
  frame.durationMs = durationMs;
  frame.rgb.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
  for (size_t i = static_cast<size_t>(channel); i < frame.rgb.size(); i += 3) frame.rgb[i] = level;
  return frame;
}

TEST(MovieThumbnail, LengthsReadAsAPlayerShowsThem) {
  EXPECT_EQ(movieLengthText(-1), QString());
  EXPECT_EQ(movieLengthText(0), "0:00");
  EXPECT_EQ(movieLengthText(1499), "0:01");
  EXPECT_EQ(movieLengthText(59600), "1:00");
  EXPECT_EQ(movieLengthText(65000), "1:05");
  EXPECT_EQ(movieLengthText(3723000), "1:02:03");
}

TEST(MovieThumbnail, FrameFillsTheCellWithTheLengthInItsCorner) {
  MovieFrame frame = flatFrame(200, 150, 5000, 0, 220);  // red
  const QImage cell = movieThumbnail(frame);
  ASSERT_EQ(cell.size(), QSize(100, 75));
  EXPECT_EQ(QColor(cell.pixel(30, 30)).red(), 220);
  EXPECT_EQ(QColor(cell.pixel(30, 30)).green(), 0);
  // The badge darkens the bottom right corner.
  EXPECT_LT(QColor(cell.pixel(95, 70)).red(), 120);

  // A portrait frame sits on black between bars.
  frame.width = 50;
  frame.height = 150;
  frame.rgb.assign(50 * 150 * 3, 255);
  const QImage portrait = movieThumbnail(frame);
  EXPECT_EQ(QColor(portrait.pixel(50, 30)).red(), 255);
  EXPECT_LT(QColor(portrait.pixel(3, 30)).red(), 40);

  // Pixels that do not match the size are refused, not read past.
  frame.rgb.resize(10);
  EXPECT_TRUE(movieThumbnail(frame).isNull());
}

TEST(MovieThumbnail, TheIconFillsTheCell) { EXPECT_EQ(movieIconImage().size(), QSize(100, 75)); }

TEST(MovieThumbnail, ThePoolsPixelsComeBackAsTheCellThatWasDrawn) {
  // The check pool carries the drawing's pixels to the list: whatever the
  // lines' padding, the list must show the same picture.
  const MovieFrame frame = flatFrame(64, 48, 2000, 1, 180);  // green
  const std::optional<ThumbnailPixels> pixels = windowThumbnailDrawing().movieFrame(frame);
  ASSERT_TRUE(pixels.has_value());
  EXPECT_EQ(pixels->width, 100);
  EXPECT_EQ(pixels->height, 75);
  EXPECT_EQ(thumbnailImage(*pixels), movieThumbnail(frame).convertToFormat(QImage::Format_RGB32));

  // Pixels shorter than their own size are refused, not read past.
  ThumbnailPixels cut = *pixels;
  cut.rgb.resize(cut.rgb.size() - 1);
  EXPECT_TRUE(thumbnailImage(cut).isNull());
  cut = *pixels;
  cut.stride = cut.width * 3 - 1;
  EXPECT_TRUE(thumbnailImage(cut).isNull());
  // Bytes that are no picture give none.
  const uint8_t junk[] = {1, 2, 3, 4};
  EXPECT_FALSE(windowThumbnailDrawing().picture(junk, sizeof junk, ".png").has_value());
}

}  // namespace
}  // namespace kestrix
