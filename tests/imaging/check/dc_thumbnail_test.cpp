// Thumbnails from the 1/8-scale DC picture, against libjpeg's own 1/8-scale
// decode (djpeg -scale 1/8) of the same file.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/memory_byte_source.h"
#include "imaging/loader/dib_image.h"
#include "imaging/loader/jpeg_thumbnail.h"
#include "imaging/loader/thumbnail_fit.h"

#include "../jpeg/jpeg_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace kestrix {
namespace {

using test::Bytes;
using test::Picture;

Picture ReferenceEighth(const Bytes& jpeg, const std::string& options) {
  const std::string in = test::ScratchDirectory() + "/eighth.jpg";
  const std::string out = test::ScratchDirectory() + "/eighth.pnm";
  test::WriteFile(in, jpeg);
  test::Shell("djpeg -scale 1/8 " + options + " " + in + " > " + out);
  return test::ReadPnm(out);
}

JpegDcImage DcOf(const Bytes& jpeg) {
  MemoryByteSource source(jpeg);
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  JpegDcImage dc;
  EXPECT_EQ(decoder->DecodeDc(&dc), 0);
  decoder->Close();
  return dc;
}

double MeanDifference(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double total = 0;
  for (std::size_t i = 0; i < a.size(); ++i) total += std::abs(int(a[i]) - int(b[i]));
  return total / double(a.size());
}

struct EighthCase {
  const char* name;
  const char* cjpeg;
  const char* djpeg;
  double tolerance;  // mean absolute difference per sample
};

class DcPictures : public ::testing::TestWithParam<EighthCase> {};

// Luma is the same arithmetic up to rounding; colour differs more because
// libjpeg interpolates chroma where the DC picture replicates it.
TEST_P(DcPictures, MatchTheReferenceEighthScaleDecode) {
  const EighthCase& row = GetParam();
  const Bytes jpeg = test::EncodeWithCjpeg(640, 480, row.cjpeg);
  ASSERT_FALSE(jpeg.empty());
  const JpegDcImage dc = DcOf(jpeg);
  const Picture reference = ReferenceEighth(jpeg, row.djpeg);
  ASSERT_EQ(dc.width, reference.width);
  ASSERT_EQ(dc.height, reference.height);
  ASSERT_EQ(dc.channels, reference.channels);
  EXPECT_LT(MeanDifference(dc.pixels, reference.samples), row.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DcPictures,
                         ::testing::Values(EighthCase{"greyscale", "-grayscale", "-grayscale", 1.0},
                                           EighthCase{"greyscale_progressive",
                                                      "-grayscale -progressive", "-grayscale", 1.0},
                                           EighthCase{"greyscale_restarts", "-grayscale -restart 1",
                                                      "-grayscale", 1.0},
                                           EighthCase{"baseline_420", "-quality 90", "", 4.0},
                                           EighthCase{"progressive_420", "-progressive", "", 4.0},
                                           EighthCase{"sampling_444", "-sample 1x1", "", 3.0},
                                           EighthCase{"sampling_422", "-sample 2x1", "", 4.0},
                                           EighthCase{"restarts", "-restart 1", "", 4.0},
                                           EighthCase{"tables_16_bit", "-quality 1", "", 4.0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The cell of a greyscale photo is its picture, not white: the same cell as
// the reference 1/8 decode rendered through the same fit.
TEST(DcThumbnail, GreyscaleCellMatchesTheReference) {
  const Bytes jpeg = test::EncodeWithCjpeg(640, 480, "-grayscale");
  std::uint8_t cell[kThumbnailWidth * kThumbnailHeight * 3];
  ASSERT_TRUE(MakeJpegThumbnail(jpeg.data(), jpeg.size(), cell));

  const Picture reference = ReferenceEighth(jpeg, "-grayscale");
  DibImage image;
  ASSERT_TRUE(image.Create(reference.width, reference.height, 8));
  for (int y = 0; y < reference.height; ++y) {
    for (int x = 0; x < reference.width; ++x)
      const_cast<std::uint8_t*>(
          image.Pixels())[std::size_t(reference.height - 1 - y) * image.Stride() + x] =
          reference.samples[std::size_t(y) * reference.width + x];
  }
  std::uint8_t expected[sizeof cell];
  ASSERT_TRUE(RenderThumbnail(image, 640, 480, expected));
  const Bytes got(cell, cell + sizeof cell);
  const Bytes want(expected, expected + sizeof expected);
  EXPECT_LT(MeanDifference(got, want), 1.0);
  int white = 0;
  for (std::uint8_t sample : got) white += sample == 255;
  EXPECT_LT(white, int(got.size()) / 10);
}

// The viewer draws a greyscale photo loaded whole: its own luma as grey.
TEST(DcThumbnail, GreyscaleFullPictureDrawsAsItsLuma) {
  const Bytes jpeg = test::EncodeWithCjpeg(64, 48, "-grayscale");
  MemoryByteSource source(jpeg);
  DibImage image;
  ASSERT_TRUE(image.LoadJpeg(source));
  std::vector<std::uint8_t> drawn(64 * 48 * 3);
  ASSERT_TRUE(image.DrawScaled(drawn.data(), 64, 48, 64 * 3, 0, 0, -1, -1));
  const Picture reference = test::ReferenceDecode(jpeg);
  ASSERT_EQ(reference.samples.size(), 64u * 48u);
  double total = 0;
  for (std::size_t i = 0; i < reference.samples.size(); ++i) {
    EXPECT_EQ(drawn[3 * i], drawn[3 * i + 1]);
    EXPECT_EQ(drawn[3 * i], drawn[3 * i + 2]);
    total += std::abs(int(drawn[3 * i]) - int(reference.samples[i]));
  }
  EXPECT_LT(total / double(reference.samples.size()), 2.0);
}

// A photo cut short still gives the blocks it had; the rest is white.
TEST(DcThumbnail, CutPhotoKeepsItsTopAndWhitensTheRest) {
  const Bytes whole = test::EncodeWithCjpeg(640, 480, "-grayscale");
  const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
  MemoryByteSource source(cut);
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  JpegDcImage dc;
  decoder->DecodeDc(&dc);
  EXPECT_TRUE(decoder->InputEnded());
  decoder->Close();
  const JpegDcImage full = DcOf(whole);
  ASSERT_EQ(dc.pixels.size(), full.pixels.size());
  EXPECT_TRUE(std::equal(full.pixels.begin(), full.pixels.begin() + 80 * 10, dc.pixels.begin()));
  EXPECT_EQ(dc.pixels.back(), 255);
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

// A photo of the given size carrying a solid red 160 x 120 EXIF thumbnail.
Bytes PhotoWithRedExifThumbnail(int width, int height) {
  const std::string folder = test::ScratchDirectory();
  const std::string photo = folder + "/exif_photo.jpg";
  const std::string red = folder + "/red.jpg";
  const Bytes plain = test::EncodeWithCjpeg(width, height, "");
  test::WriteFile(photo, plain);
  if (!test::Shell("convert -size 160x120 xc:red " + red +
                   " && exiftool -q -overwrite_original "
                   "'-ThumbnailImage<=" +
                   red + "' " + photo))
    return {};
  return test::ReadFile(photo);
}

bool CentreIsRed(const std::uint8_t* cell) {
  const std::uint8_t* centre = cell + (37 * kThumbnailWidth + 50) * 3;
  return centre[0] > 200 && centre[1] < 60 && centre[2] < 60;
}

TEST(ExifThumbnail, IsUsedWhenItsAspectMatches) {
  const Bytes jpeg = PhotoWithRedExifThumbnail(640, 480);
  ASSERT_FALSE(jpeg.empty());
  std::uint8_t cell[kThumbnailWidth * kThumbnailHeight * 3];
  ASSERT_TRUE(MakeJpegThumbnail(jpeg.data(), jpeg.size(), cell));
  EXPECT_TRUE(CentreIsRed(cell));
}

TEST(ExifThumbnail, IsIgnoredWhenItsAspectDiffers) {
  const Bytes jpeg = PhotoWithRedExifThumbnail(600, 400);
  ASSERT_FALSE(jpeg.empty());
  std::uint8_t cell[kThumbnailWidth * kThumbnailHeight * 3];
  ASSERT_TRUE(MakeJpegThumbnail(jpeg.data(), jpeg.size(), cell));
  EXPECT_FALSE(CentreIsRed(cell));
  // The DC picture fills the 3:2 placement: 100 x 66 at y 4.
  EXPECT_EQ(cell[0], 255);
  EXPECT_NE(cell[(10 * kThumbnailWidth + 50) * 3 + 1], 255);
}

}  // namespace
}  // namespace kestrix
