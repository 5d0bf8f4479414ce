#include "jpeg_test_support.h"

#include "imaging/loader/dib_image.h"
#include "imaging/loader/thumbnail_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace kestrix::test {
namespace {

std::string WriteJpeg(const std::string& name, const Bytes& bytes) {
  const std::string path = ScratchDirectory() + "/" + name;
  WriteFile(path, bytes);
  return path;
}

struct ExtensionCase {
  const char* name;
  std::string fileName;
  bool loads;
};

class DibExtensions : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(DibExtensions, PickTheLoaderByTheLastDot) {
  const Bytes jpeg = EncodeWithCjpeg(24, 16, "");
  const std::string folder = ScratchDirectory() + "/dir.jpg";
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/" + GetParam().fileName;
  WriteFile(path, jpeg);
  DibImage image;
  EXPECT_EQ(image.Load(path) != 0, GetParam().loads);
}

INSTANTIATE_TEST_SUITE_P(Names, DibExtensions,
                         ::testing::Values(ExtensionCase{"lower_case_jpg", "a.jpg", true},
                                           ExtensionCase{"upper_case_JPG", "b.JPG", true},
                                           ExtensionCase{"four_letter_jpeg", "c.jpeg", false},
                                           ExtensionCase{"no_dot_in_file_name", "noextension",
                                                         false},
                                           ExtensionCase{"raw_without_dimensions", "d.raw", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DibImage, ColourJpegLoadsBottomUpAsBgrx) {
  const Bytes jpeg = EncodeWithCjpeg(21, 13, "-sample 2x2");
  const DecodeResult decoded = Decode(jpeg);
  DibImage image;
  ASSERT_NE(image.Load(WriteJpeg("colour.jpg", jpeg)), 0);
  ASSERT_EQ(image.BitCount(), 32);
  EXPECT_EQ(image.Stride(), 21 * 4);
  BitmapInfoHeader header;
  image.GetHeader(&header);
  EXPECT_EQ(header.biSizeImage, 21u * 4 * 13);
  // Picture row 0 is the last buffer row.
  const std::uint8_t* top = image.Pixels() + std::size_t(12) * image.Stride();
  EXPECT_EQ(top[0], decoded.picture.samples[2]);
  EXPECT_EQ(top[1], decoded.picture.samples[1]);
  EXPECT_EQ(top[2], decoded.picture.samples[0]);
  EXPECT_EQ(top[3], 255);
}

// Regression: drawing refused 8-bit images, so a greyscale photo's thumbnail
// and viewer picture were all white.
TEST(DibImage, GreyscaleJpegLoadsAs8BitLumaAndDrawsAsGrey) {
  const Bytes jpeg = EncodeWithCjpeg(10, 6, "-grayscale");
  const DecodeResult decoded = Decode(jpeg);
  DibImage image;
  ASSERT_NE(image.Load(WriteJpeg("grey.jpg", jpeg)), 0);
  EXPECT_EQ(image.BitCount(), 8);
  EXPECT_EQ(image.Pixels()[std::size_t(5) * image.Stride() + 3], decoded.picture.samples[3]);
  std::uint8_t drawn[10 * 6 * 3];
  ASSERT_TRUE(image.DrawScaled(drawn, 10, 6, 30, 0, 0, -1, -1));
  for (int i = 0; i < 10 * 6; ++i) {
    EXPECT_EQ(drawn[3 * i], decoded.picture.samples[i]);
    EXPECT_EQ(drawn[3 * i + 1], decoded.picture.samples[i]);
    EXPECT_EQ(drawn[3 * i + 2], decoded.picture.samples[i]);
  }
  std::uint8_t cell[100 * 75 * 3];
  EXPECT_TRUE(RenderThumbnail(image, cell));
}

TEST(DibImage, FragmentClaimingAHugePictureIsRefusedBeforeAllocating) {
  // A few hundred bytes whose frame header claims 24576 x 24576 (600
  // megapixels): the decoder accepts the size, the loader must not spend
  // 2.4 GB on it. 12000 x 12000 (144 megapixels) is still a picture.
  HandStream stream;
  stream.dcCounts = {0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.dcSymbols = {0x00, 0x03, 0x08};
  stream.acCounts = {0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.acSymbols = {0x00, 0xF0, 0x01};
  stream.bits = "0000";
  stream.width = stream.height = 24576;
  DibImage image;
  EXPECT_EQ(image.Load(WriteJpeg("huge.jpg", stream.Build())), 0);
  EXPECT_EQ(image.Width(), 0);
  stream.width = stream.height = 12000;
  EXPECT_NE(image.Load(WriteJpeg("large.jpg", stream.Build())), 0);
  EXPECT_EQ(image.Width(), 12000);
}

TEST(DibImage, DamagedJpegKeepsUndeliveredRowsWhite) {
  const Bytes full = EncodeWithCjpeg(32, 64, "-sample 2x2 -restart 1");
  DibImage image;
  const long marker = FindMarker(full, 0xD2);  // cut where RST2 stood: 3 MCU rows decode
  ASSERT_GT(marker, 0);
  ASSERT_NE(image.Load(WriteJpeg("cut.jpg", Bytes(full.begin(), full.begin() + marker))), 0);
  const std::uint8_t* topRow = image.Pixels() + std::size_t(63) * image.Stride();
  EXPECT_NE(std::count(topRow, topRow + image.Stride(), 255), image.Stride());
  // The bottom picture row is buffer row 0.
  for (int i = 0; i < image.Stride(); ++i) ASSERT_EQ(image.Pixels()[i], 255);
}

Bytes Bmp(std::int32_t width, std::int32_t height, int bitCount, std::uint32_t sizeImage,
          std::size_t pixelBytes, std::uint16_t planes = 1) {
  Bytes out(54, 0);
  auto put32 = [&out](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  out[26] = static_cast<std::uint8_t>(planes);
  out[28] = static_cast<std::uint8_t>(bitCount);
  put32(34, sizeImage);
  for (std::size_t i = 0; i < pixelBytes; ++i) out.push_back(static_cast<std::uint8_t>(i));
  return out;
}

struct BmpCase {
  const char* name;
  Bytes file;
  bool loads;
  int stride;
};

class DibBitmaps : public ::testing::TestWithParam<BmpCase> {};

TEST_P(DibBitmaps, LoadOrFailWithoutHugeAllocations) {
  const Bytes& bytes = GetParam().file;
  std::istringstream stream(std::string(bytes.begin(), bytes.end()));
  DibImage image;
  EXPECT_EQ(image.LoadBmp(stream), GetParam().loads);
  if (GetParam().loads)
    EXPECT_EQ(image.Stride(), GetParam().stride);
  else
    EXPECT_EQ(image.Pixels(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DibBitmaps,
    ::testing::Values(
        BmpCase{"24_bit_3_wide_has_stride_12", Bmp(3, 2, 24, 0, 24), true, 12},
        BmpCase{"8_bit_loads_without_palette", Bmp(5, 2, 8, 0, 16), true, 8},
        BmpCase{"short_pixel_data_still_loads", Bmp(3, 2, 24, 0, 10), true, 12},
        BmpCase{"negative_height_top_down", Bmp(3, -2, 24, 0, 24), false, 0},
        BmpCase{"planes_2", Bmp(3, 2, 24, 0, 24, 2), false, 0},
        BmpCase{"16_bit", Bmp(3, 2, 16, 0, 24), false, 0},
        BmpCase{"width_times_height_beyond_file", Bmp(20000, 20000, 24, 0, 24), false, 0},
        BmpCase{"absurd_width", Bmp(0x7FFFFFFF, 1, 24, 0, 24), false, 0},
        BmpCase{"negative_width", Bmp(-5, 2, 24, 0, 24), false, 0},
        BmpCase{"zero_width_size_image_beyond_file", Bmp(0, 2, 24, 0xFFFFFFF0u, 24), false, 0},
        BmpCase{"zero_width_keeps_header_size", Bmp(0, 2, 24, 16, 24), true, 0},
        BmpCase{"not_bm", Bytes(60, 0x41), false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct FitCase {
  const char* name;
  int width;
  int height;
  ThumbnailPlacement expected;
};

class ThumbnailFits : public ::testing::TestWithParam<FitCase> {};

TEST_P(ThumbnailFits, KeepTheAspectRatioCentred) {
  const ThumbnailPlacement placement = FitThumbnail(GetParam().width, GetParam().height);
  EXPECT_EQ(placement.x, GetParam().expected.x);
  EXPECT_EQ(placement.y, GetParam().expected.y);
  EXPECT_EQ(placement.width, GetParam().expected.width);
  EXPECT_EQ(placement.height, GetParam().expected.height);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ThumbnailFits,
    ::testing::Values(FitCase{"landscape_4_3_fills", 4000, 3000, {0, 0, 100, 75}},
                      FitCase{"exact_4_3_equality_case", 640, 480, {0, 0, 100, 75}},
                      FitCase{"portrait", 3000, 4000, {22, 0, 56, 75}},
                      FitCase{"strip", 1000, 200, {0, 27, 100, 20}},
                      FitCase{"empty", 0, 0, {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Thumbnail, AreaAveragingKeepsTheMeanAndWhiteBorders) {
  // 4 x 4 checkerboard of black and white 1-pixel squares, 32-bit, drawn
  // at 2 x 2: every output pixel averages two black and two white.
  DibImage image;
  ASSERT_TRUE(image.Create(3000, 4000, 32));
  std::uint8_t* pixels = const_cast<std::uint8_t*>(image.Pixels());
  for (int y = 0; y < 4000; ++y) {
    for (int x = 0; x < 3000; ++x) {
      const std::uint8_t value = ((x + y) & 1) ? 255 : 0;
      std::memset(pixels + std::size_t(y) * image.Stride() + x * 4, value, 3);
    }
  }
  std::uint8_t cell[100 * 75 * 3];
  ASSERT_TRUE(RenderThumbnail(image, cell));
  EXPECT_EQ(cell[0], 255);                         // left border stays white
  EXPECT_NEAR(cell[(10 * 100 + 50) * 3], 128, 1);  // line dropping would give 0 or 255
  EXPECT_EQ(cell[(10 * 100 + 80) * 3], 255);       // right border
}

}  // namespace
}  // namespace kestrix::test
