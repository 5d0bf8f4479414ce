// Verdicts of finds made at test time from our own photos, clips and
// pictures: whole ones of every kind must come out intact, and each kind of
// damage a card gives must come out as what it is.
#include "imaging/check/find_checker.h"
#include "imaging/check/verdict.h"

#include "../jpeg/jpeg_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kestrix {
namespace {

using test::Bytes;

Bytes Photo(const std::string& options, int width = 640, int height = 480) {
  return test::EncodeWithCjpeg(width, height, options);
}

// A picture or clip made by a tool into the scratch folder, read back.
Bytes Made(const std::string& command, const std::string& name, const std::string& prefix = "") {
  const std::string path = test::ScratchDirectory() + "/" + name;
  if (!test::Shell(command + " " + prefix + path + " >/dev/null 2>&1")) return {};
  return test::ReadFile(path);
}

Bytes Png(const std::string& options) {
  return Made("convert -size 200x150 -seed 5 plasma:fractal " + options, "picture.png");
}

Bytes Movie(const std::string& extension) {
  return Made("ffmpeg -y -loglevel error -f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mpeg4",
              "clip." + extension);
}

Bytes WithHole(Bytes bytes, std::size_t at, std::size_t size) {
  for (std::size_t i = at; i < at + size && i < bytes.size(); ++i) bytes[i] = 0;
  return bytes;
}

// Bytes of some other file: a fixed pseudo-random stream, FF bytes included.
Bytes WithForeignBytes(Bytes bytes, std::size_t at, std::size_t size) {
  std::uint32_t state = 12345;
  for (std::size_t i = at; i < at + size && i < bytes.size(); ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(state >> 16);
  }
  return bytes;
}

Bytes Cut(const Bytes& bytes, double fraction) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(double(bytes.size()) * fraction));
}

// The offset of the first data FF (FF 00 in entropy data) at or after the
// given fraction of the bytes.
std::size_t DataFfFrom(const Bytes& bytes, double fraction) {
  for (auto i = static_cast<std::size_t>(double(bytes.size()) * fraction); i + 1 < bytes.size();
       ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0x00) return i;
  }
  return bytes.size();
}

// Cut right after a data FF, its 00 gone: the decoder takes the lone FF for
// a marker and decodes one bits from there.
Bytes CutAfterDataFf(const Bytes& bytes, double fraction) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(DataFfFrom(bytes, fraction) + 1));
}

// A marker that has no place in entropy data (an APP1) a few bytes before
// the data FF at or after fraction; cut after that FF when cut is set.
Bytes WithBadMarkerBeforeDataFf(const Bytes& bytes, double fraction, bool cut) {
  const std::size_t at = DataFfFrom(bytes, fraction);
  Bytes out = cut ? CutAfterDataFf(bytes, fraction) : bytes;
  out[at - 4] = 0xFF;
  out[at - 3] = 0xE1;
  return out;
}

// The first half of one photo, then a whole other one: what a carver cuts
// when a photo's clusters are split by another file's.
Bytes SplitByAnother(const Bytes& photo, const Bytes& other) {
  Bytes out(photo.begin(), photo.begin() + static_cast<long>(photo.size() / 2));
  out.insert(out.end(), other.begin(), other.end());
  return out;
}

Bytes Flipped(Bytes bytes, std::size_t at, std::size_t count) {
  for (std::size_t i = at; i < at + count && i < bytes.size(); ++i) bytes[i] ^= 0xFF;
  return bytes;
}

// Renumbers the second restart marker, so RST0 is followed by RST2.
Bytes WithRestartOutOfOrder(Bytes bytes) {
  int seen = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7 && ++seen == 2) {
      bytes[i + 1] = 0xD2;
      break;
    }
  }
  return bytes;
}

// Points the first chunk offset of the first stco atom at the file type atom.
Bytes WithChunkOutsideMovieData(Bytes bytes) {
  for (std::size_t i = 4; i + 16 < bytes.size(); ++i) {
    if (bytes[i] == 's' && bytes[i + 1] == 't' && bytes[i + 2] == 'c' && bytes[i + 3] == 'o') {
      bytes[i + 12] = 0;
      bytes[i + 13] = 0;
      bytes[i + 14] = 0;
      bytes[i + 15] = 8;
      break;
    }
  }
  return bytes;
}

struct FindCase {
  const char* name;
  const char* type;
  std::function<Bytes()> make;
  Verdict verdict;
};

std::ostream& operator<<(std::ostream& out, const FindCase& find) { return out << find.name; }

class FindVerdicts : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindVerdicts, ComeOutAsWhatTheyAre) {
  const FindCase& find = GetParam();
  const Bytes bytes = find.make();
  ASSERT_GT(bytes.size(), 1000u) << "the tools made no file";
  const CheckResult result = CheckFind(bytes.data(), bytes.size(), find.type);
  EXPECT_STREQ(VerdictText(result.verdict), VerdictText(find.verdict))
      << result.reason << " at " << result.badOffset;
  if (find.verdict == Verdict::Damaged || find.verdict == Verdict::Truncated) {
    EXPECT_TRUE(result.hasBadOffset);
    EXPECT_LE(result.badOffset, bytes.size());
    EXPECT_FALSE(result.reason.empty());
  }
}

// Every kind of whole photo the decoder supports: never damaged.
INSTANTIATE_TEST_SUITE_P(
    WholeJpegs, FindVerdicts,
    ::testing::Values(
        FindCase{"baseline_420", "jpg", [] { return Photo("-quality 90"); }, Verdict::Intact},
        FindCase{"baseline_optimised", "jpg", [] { return Photo("-optimize"); }, Verdict::Intact},
        FindCase{"progressive", "jpg", [] { return Photo("-progressive"); }, Verdict::Intact},
        FindCase{"greyscale", "jpg", [] { return Photo("-grayscale"); }, Verdict::Intact},
        FindCase{"greyscale_progressive", "jpg", [] { return Photo("-grayscale -progressive"); },
                 Verdict::Intact},
        FindCase{"sampling_444", "jpg", [] { return Photo("-sample 1x1"); }, Verdict::Intact},
        FindCase{"sampling_422", "jpg", [] { return Photo("-sample 2x1"); }, Verdict::Intact},
        FindCase{"sampling_440", "jpg", [] { return Photo("-sample 1x2"); }, Verdict::Intact},
        FindCase{"progressive_444", "jpg", [] { return Photo("-progressive -sample 1x1"); },
                 Verdict::Intact},
        FindCase{"restart_every_row", "jpg", [] { return Photo("-restart 1"); }, Verdict::Intact},
        FindCase{"restart_every_block", "jpg", [] { return Photo("-restart 1B -sample 1x1"); },
                 Verdict::Intact},
        FindCase{"restart_progressive", "jpg", [] { return Photo("-progressive -restart 2"); },
                 Verdict::Intact},
        FindCase{"tables_16_bit", "jpg", [] { return Photo("-quality 1"); }, Verdict::Intact},
        FindCase{"odd_size", "jpg", [] { return Photo("", 1001, 333); }, Verdict::Intact},
        FindCase{"flat_black_optimised", "jpg",
                 [] { return Made("convert -size 640x480 xc:black -quality 90", "black.jpg"); },
                 Verdict::Intact},
        FindCase{
            "flat_black_progressive", "jpg",
            [] { return Made("convert -size 640x480 xc:black -interlace JPEG", "black_p.jpg"); },
            Verdict::Intact},
        FindCase{"imagemagick_encoder", "jpg",
                 [] {
                   return Made("convert -size 400x300 -seed 9 plasma:fractal -quality 85",
                               "im.jpg");
                 },
                 Verdict::Intact}),
    [](const auto& info) { return std::string(info.param.name); });

// What a failing card or a fragmented one does to a photo.
INSTANTIATE_TEST_SUITE_P(
    HurtJpegs, FindVerdicts,
    ::testing::Values(
        FindCase{"zero_hole_4k", "jpg",
                 [] {
                   const Bytes p = Photo("-quality 90");
                   return WithHole(p, p.size() / 2, 4096);
                 },
                 Verdict::Damaged},
        FindCase{"zero_hole_4k_optimised", "jpg",
                 [] {
                   const Bytes p = Photo("-optimize");
                   return WithHole(p, p.size() / 3, 4096);
                 },
                 Verdict::Damaged},
        FindCase{"zero_hole_4k_greyscale", "jpg",
                 [] {
                   const Bytes p = Photo("-grayscale");
                   return WithHole(p, p.size() / 2, 4096);
                 },
                 Verdict::Damaged},
        FindCase{"zero_hole_4k_restarts", "jpg",
                 [] {
                   const Bytes p = Photo("-restart 1");
                   return WithHole(p, p.size() / 2, 4096);
                 },
                 Verdict::Damaged},
        FindCase{"progressive_zero_hole", "jpg",
                 [] {
                   const Bytes p = Photo("-progressive");
                   return WithHole(p, p.size() / 2, 4096);
                 },
                 Verdict::Damaged},
        FindCase{"progressive_zero_hole_early", "jpg",
                 [] {
                   const Bytes p = Photo("-progressive");
                   return WithHole(p, p.size() / 5, 4096);
                 },
                 Verdict::Damaged},
        FindCase{"foreign_bytes_3k", "jpg",
                 [] {
                   const Bytes p = Photo("-quality 90");
                   return WithForeignBytes(p, p.size() / 2, 3072);
                 },
                 Verdict::Damaged},
        FindCase{"progressive_foreign_bytes", "jpg",
                 [] {
                   const Bytes p = Photo("-progressive");
                   return WithForeignBytes(p, p.size() / 2, 3072);
                 },
                 Verdict::Damaged},
        FindCase{
            "split_by_another_photo", "jpg",
            [] { return SplitByAnother(Photo("-quality 90"), Photo("-quality 60", 320, 240)); },
            Verdict::Damaged},
        FindCase{
            "progressive_split_by_another", "jpg",
            [] { return SplitByAnother(Photo("-progressive"), Photo("-quality 60", 320, 240)); },
            Verdict::Damaged},
        FindCase{"restart_out_of_order", "jpg",
                 [] { return WithRestartOutOfOrder(Photo("-restart 1")); }, Verdict::Damaged},
        FindCase{"cut_at_60", "jpg", [] { return Cut(Photo("-quality 90"), 0.6); },
                 Verdict::Truncated},
        FindCase{"cut_after_data_ff_at_10", "jpg",
                 [] { return CutAfterDataFf(Photo("-quality 90"), 0.1); }, Verdict::Truncated},
        FindCase{"cut_after_data_ff_at_50", "jpg",
                 [] { return CutAfterDataFf(Photo("-quality 90"), 0.5); }, Verdict::Truncated},
        FindCase{"cut_after_data_ff_at_95", "jpg",
                 [] { return CutAfterDataFf(Photo("-quality 90"), 0.95); }, Verdict::Truncated},
        FindCase{"cut_after_data_ff_restarts", "jpg",
                 [] { return CutAfterDataFf(Photo("-restart 1"), 0.5); }, Verdict::Truncated},
        FindCase{"cut_after_data_ff_greyscale", "jpg",
                 [] { return CutAfterDataFf(Photo("-grayscale"), 0.5); }, Verdict::Truncated},
        FindCase{"cut_after_data_ff_progressive", "jpg",
                 [] { return CutAfterDataFf(Photo("-progressive"), 0.5); }, Verdict::Truncated},
        FindCase{"bad_marker_mid_data", "jpg",
                 [] { return WithBadMarkerBeforeDataFf(Photo("-quality 90"), 0.5, false); },
                 Verdict::Damaged},
        FindCase{"bad_marker_mid_data_then_cut_after_data_ff", "jpg",
                 [] {
                   const Bytes p = WithBadMarkerBeforeDataFf(Photo("-quality 90"), 0.3, false);
                   return CutAfterDataFf(p, 0.6);
                 },
                 Verdict::Damaged},
        FindCase{"bad_marker_just_before_cut_after_data_ff", "jpg",
                 [] { return WithBadMarkerBeforeDataFf(Photo("-quality 90"), 0.5, true); },
                 Verdict::Damaged},
        FindCase{"cut_restarts", "jpg", [] { return Cut(Photo("-restart 1"), 0.6); },
                 Verdict::Truncated},
        FindCase{"cut_before_eoi", "jpg",
                 [] {
                   const Bytes p = Photo("");
                   return Cut(p, 1.0 - 2.0 / double(p.size()));
                 },
                 Verdict::Truncated},
        FindCase{"progressive_cut_at_5", "jpg", [] { return Cut(Photo("-progressive"), 0.05); },
                 Verdict::Truncated},
        FindCase{"progressive_cut_at_50", "jpg", [] { return Cut(Photo("-progressive"), 0.5); },
                 Verdict::Truncated},
        FindCase{"progressive_cut_at_95", "jpg", [] { return Cut(Photo("-progressive"), 0.95); },
                 Verdict::Truncated},
        FindCase{"greyscale_cut", "jpg", [] { return Cut(Photo("-grayscale"), 0.7); },
                 Verdict::Truncated}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Pngs, FindVerdicts,
    ::testing::Values(
        FindCase{"rgb", "png", [] { return Png(""); }, Verdict::Intact},
        FindCase{"interlaced", "png", [] { return Png("-interlace PNG"); }, Verdict::Intact},
        FindCase{"grey_16_bit", "png", [] { return Png("-colorspace Gray -depth 16"); },
                 Verdict::Intact},
        FindCase{"palette", "png",
                 [] {
                   return Made("convert -size 200x150 -seed 5 plasma:fractal -colors 16", "p8.png",
                               "PNG8:");
                 },
                 Verdict::Intact},
        FindCase{"rgba_interlaced", "png",
                 [] { return Png("-alpha set -channel A -evaluate set 50% -interlace PNG"); },
                 Verdict::Intact},
        FindCase{"flipped_bytes", "png",
                 [] {
                   const Bytes p = Png("");
                   return Flipped(p, p.size() / 2, 16);
                 },
                 Verdict::Damaged},
        FindCase{"zero_hole", "png",
                 [] {
                   const Bytes p = Png("");
                   return WithHole(p, p.size() / 3, 4096);
                 },
                 Verdict::Damaged},
        FindCase{"cut", "png", [] { return Cut(Png(""), 0.6); }, Verdict::Truncated}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Movies, FindVerdicts,
    ::testing::Values(
        FindCase{"mov", "mov", [] { return Movie("mov"); }, Verdict::Intact},
        FindCase{"mp4", "mp4", [] { return Movie("mp4"); }, Verdict::Intact},
        FindCase{"mov_cut", "mov", [] { return Cut(Movie("mov"), 0.6); }, Verdict::Truncated},
        FindCase{"mp4_chunk_outside_data", "mp4",
                 [] { return WithChunkOutsideMovieData(Movie("mp4")); }, Verdict::Damaged},
        FindCase{"mov_foreign_bytes_in_moov", "mov",
                 [] {
                   const Bytes m = Movie("mov");
                   return WithForeignBytes(m, m.size() - 300, 200);
                 },
                 Verdict::Damaged}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindChecker, GivesTheSizeOfPicturesAndMovies) {
  const Bytes jpeg = Photo("-progressive", 1001, 333);
  const CheckResult photo = CheckFind(jpeg.data(), jpeg.size(), "JPG");
  EXPECT_EQ(photo.width, 1001);
  EXPECT_EQ(photo.height, 333);
  const Bytes png = Png("");
  const CheckResult picture = CheckFind(png.data(), png.size(), "png");
  EXPECT_EQ(picture.width, 200);
  EXPECT_EQ(picture.height, 150);
  const Bytes mov = Movie("mov");
  const CheckResult clip = CheckFind(mov.data(), mov.size(), "mov");
  EXPECT_EQ(clip.width, 64);
  EXPECT_EQ(clip.height, 48);
}

TEST(FindChecker, PlacesAZeroHoleAtItsStart) {
  const Bytes photo = Photo("-quality 90");
  const std::size_t at = photo.size() / 2;
  const Bytes hurt = WithHole(photo, at, 4096);
  const CheckResult result = CheckFind(hurt.data(), hurt.size(), "jpg");
  ASSERT_EQ(result.verdict, Verdict::Damaged);
  // The hole's first zero bytes may continue the data's own zeros.
  EXPECT_LE(result.badOffset, at + 16);
  EXPECT_GE(result.badOffset + 16, at);
}

TEST(FindChecker, OtherTypesAndNoBytesAreUnknown) {
  const Bytes photo = Photo("");
  EXPECT_EQ(CheckFind(photo.data(), photo.size(), "gif").verdict, Verdict::Unknown);
  EXPECT_EQ(CheckFind(nullptr, 0, "jpg").verdict, Verdict::Unknown);
  EXPECT_EQ(CheckFind(photo.data(), 0, "png").verdict, Verdict::Unknown);
}

TEST(FindChecker, UnsupportedJpegKindsAreUnknownNotDamaged) {
  // Arithmetic coding and 12-bit samples are valid JPEGs the decoder
  // leaves alone.
  const Bytes arithmetic = Photo("-arithmetic");
  if (!arithmetic.empty()) {
    EXPECT_EQ(CheckFind(arithmetic.data(), arithmetic.size(), "jpg").verdict, Verdict::Unknown);
  }
  const Bytes cmyk =
      Made("convert -size 100x80 -seed 5 plasma:fractal -colorspace CMYK", "cmyk.jpg");
  ASSERT_FALSE(cmyk.empty());
  EXPECT_EQ(CheckFind(cmyk.data(), cmyk.size(), "jpg").verdict, Verdict::Unknown);
}

TEST(Verdicts, HaveTheirTexts) {
  struct Row {
    Verdict verdict;
    const char* text;
  };
  for (const Row& row : {Row{Verdict::Intact, "intact"}, Row{Verdict::Damaged, "damaged"},
                         Row{Verdict::Truncated, "truncated"}, Row{Verdict::Unknown, "unknown"}}) {
    EXPECT_STREQ(VerdictText(row.verdict), row.text);
    Verdict parsed = Verdict::Unknown;
    EXPECT_TRUE(VerdictFromText(row.text, &parsed));
    EXPECT_EQ(parsed, row.verdict);
  }
  Verdict parsed = Verdict::Intact;
  EXPECT_FALSE(VerdictFromText("Intact", &parsed));
  EXPECT_EQ(parsed, Verdict::Intact);
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

// What a card puts after a photo's first piece when the photo was split.
enum class Tail { Text, Random, Zeros, OtherPhoto, SectorOfEoi, SectorOfSoi };

Bytes TailBytes(Tail kind, std::size_t size) {
  Bytes out;
  switch (kind) {
    case Tail::Text: {
      const std::string line = "Budget 2024: approved by the board, see minutes.\r\n";
      while (out.size() < size)
        out.push_back(static_cast<std::uint8_t>(line[out.size() % line.size()]));
      return out;
    }
    case Tail::Zeros: return Bytes(size, 0);
    case Tail::OtherPhoto: {
      // Another photo, from its SOI. (Another photo's entropy data alone,
      // under the same standard tables, decodes as this one's blocks: the
      // decoder cannot tell it, the seam's DC values can.)
      const Bytes other = test::ReadFile(KX_JPEG_TEST_DATA_DIR "/cjpeg_600x400.jpg");
      out.assign(other.begin(), other.begin() + static_cast<long>(std::min(other.size(), size)));
      return out;
    }
    default:
      out = WithForeignBytes(Bytes(size, 0), 0, size);
      if (kind == Tail::SectorOfEoi || kind == Tail::SectorOfSoi) {
        out[0] = 0xFF;
        out[1] = kind == Tail::SectorOfEoi ? 0xD9 : 0xD8;
      }
      return out;
  }
}

struct BreakCase {
  const char* name;
  const char* photo;
  Tail tail;
};

class BreakOfSplitPhoto : public testing::TestWithParam<BreakCase> {};

// A photo whose data goes on, from a sector boundary, with bytes that are
// not its own: the first bad byte lies in the sector where they start, so
// the first piece's end can be found at sector precision.
TEST_P(BreakOfSplitPhoto, LiesInTheSectorWhereForeignBytesStart) {
  const BreakCase& c = GetParam();
  const Bytes photo = test::ReadFile(std::string(KX_JPEG_TEST_DATA_DIR "/") + c.photo);
  ASSERT_GT(photo.size(), 16384u);
  for (const std::size_t cut : {std::size_t{12} * 512, std::size_t{24} * 512}) {
    Bytes split(photo.begin(), photo.begin() + static_cast<long>(cut));
    const Bytes tail = TailBytes(c.tail, 8192);
    split.insert(split.end(), tail.begin(), tail.end());
    const CheckResult result = CheckFind(split.data(), split.size(), "jpg");
    ASSERT_TRUE(result.verdict == Verdict::Damaged || result.verdict == Verdict::Truncated)
        << VerdictText(result.verdict) << " at cut " << cut;
    ASSERT_TRUE(result.hasBadOffset);
    EXPECT_GE(result.badOffset + 16, cut) << result.reason;
    EXPECT_LT(result.badOffset, cut + 512) << result.reason << " at cut " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, BreakOfSplitPhoto,
    testing::Values(BreakCase{"BaselineText", "cjpeg_640x480.jpg", Tail::Text},
                    BreakCase{"BaselineRandom", "cjpeg_640x480.jpg", Tail::Random},
                    BreakCase{"BaselineZeros", "cjpeg_640x480.jpg", Tail::Zeros},
                    BreakCase{"BaselineOtherPhoto", "cjpeg_640x480.jpg", Tail::OtherPhoto},
                    BreakCase{"BaselineSectorOfEoi", "cjpeg_640x480.jpg", Tail::SectorOfEoi},
                    BreakCase{"BaselineSectorOfSoi", "cjpeg_640x480.jpg", Tail::SectorOfSoi},
                    BreakCase{"OptimisedText", "cjpeg_640x480_optimize.jpg", Tail::Text},
                    BreakCase{"RestartText", "cjpeg_640x480_restart_1.jpg", Tail::Text},
                    BreakCase{"RestartRandom", "cjpeg_640x480_restart_1.jpg", Tail::Random},
                    BreakCase{"GreyscaleText", "cjpeg_640x480_grayscale.jpg", Tail::Text},
                    BreakCase{"GreyscaleOtherPhoto", "cjpeg_640x480_grayscale.jpg",
                              Tail::OtherPhoto},
                    BreakCase{"Sampling422Text", "cjpeg_640x480_sample_2x1.jpg", Tail::Text},
                    BreakCase{"Sampling444Random", "cjpeg_640x480_sample_1x1.jpg", Tail::Random},
                    BreakCase{"ProgressiveText", "cjpeg_640x480_progressive.jpg", Tail::Text}),
    [](const testing::TestParamInfo<BreakCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrix
