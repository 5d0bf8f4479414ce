// How a movie row looks: its frame fitted into the cell with the movie's
// length on it, and the movie icon when there is no frame.
#include <gtest/gtest.h>

#include <QColor>

#include "ui/widgets/thumbnail_decoder.h"

namespace kestrix {
namespace {

TEST(MovieThumbnail, LengthsReadAsAPlayerShowsThem) {
  EXPECT_EQ(movieLengthText(-1), QString());
  EXPECT_EQ(movieLengthText(0), "0:00");
  EXPECT_EQ(movieLengthText(1499), "0:01");
  EXPECT_EQ(movieLengthText(59600), "1:00");
  EXPECT_EQ(movieLengthText(65000), "1:05");
  EXPECT_EQ(movieLengthText(3723000), "1:02:03");
}

TEST(MovieThumbnail, FrameFillsTheCellWithTheLengthInItsCorner) {
  MovieFrame frame;
  frame.width = 200;
  frame.height = 150;
  frame.durationMs = 5000;
  frame.rgb.assign(200 * 150 * 3, 0);
  for (size_t i = 0; i < frame.rgb.size(); i += 3) frame.rgb[i] = 220;  // red
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

TEST(MovieThumbnail, MovieTypesAreKnownByExtensionOrType) {
  for (const char* type : {".mov", ".MP4", "m4v", "3gp"}) EXPECT_TRUE(isMovieType(type)) << type;
  for (const char* type : {".jpg", "png", "", "."}) EXPECT_FALSE(isMovieType(type)) << type;
  EXPECT_EQ(movieIconImage().size(), QSize(100, 75));
}

}  // namespace
}  // namespace kestrix
