#include "jpeg_test_support.h"

#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_errors.h"
#include "imaging/jpeg/memory_byte_source.h"

#include <memory>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

namespace kestrix::test {
namespace {

// ---- agreement with the reference decoder on encoder output

struct CorpusCase {
  const char* name;
  int width;
  int height;
  std::string options;
  int colourMode;
};

Bytes SixteenBitTables() {
  // Values above 255 force 16-bit DQT entries (precision 1).
  const std::string path = ScratchDirectory() + "/qtables.txt";
  std::ofstream out(path);
  for (int table = 0; table < 2; ++table) {
    for (int i = 0; i < 64; ++i) out << (i == 0 ? 4 : 300 + i) << (i % 8 == 7 ? "\n" : " ");
  }
  out.close();
  return EncodeWithCjpeg(61, 45, "-qtables " + path + " -qslots 0,1,1");
}

class JpegCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(JpegCorpus, AgreesWithReferenceWithin40Decibels) {
  const CorpusCase& row = GetParam();
  const Bytes jpeg = EncodeWithCjpeg(row.width, row.height, row.options);
  ASSERT_FALSE(jpeg.empty()) << "cjpeg failed";
  const DecodeResult result = Decode(jpeg);
  ASSERT_EQ(result.openError, 0);
  ASSERT_EQ(result.startResult, 0);
  EXPECT_EQ(result.lastReadRow, 1);
  EXPECT_EQ(result.colourMode, row.colourMode);
  const Picture reference = ReferenceDecode(jpeg);
  ASSERT_EQ(result.picture.height, reference.height);
  EXPECT_GE(Psnr(result.picture, reference), 40.0);
}

INSTANTIATE_TEST_SUITE_P(
    Photos, JpegCorpus,
    ::testing::Values(CorpusCase{"baseline_420_odd_size", 101, 77, "-sample 2x2", 4},
                      CorpusCase{"baseline_422", 64, 48, "-sample 2x1", 2},
                      CorpusCase{"baseline_440_luma_1x2", 63, 50, "-sample 1x2", 3},
                      CorpusCase{"baseline_444", 40, 33, "-sample 1x1", 1},
                      CorpusCase{"greyscale", 70, 41, "-grayscale", 0},
                      CorpusCase{"one_pixel", 1, 1, "", 4},
                      CorpusCase{"progressive_420", 99, 67, "-progressive", 4},
                      CorpusCase{"progressive_444", 50, 38, "-progressive -sample 1x1", 1},
                      CorpusCase{"progressive_440", 50, 38, "-progressive -sample 1x2", 3},
                      CorpusCase{"progressive_greyscale", 45, 37, "-progressive -grayscale", 0},
                      CorpusCase{"restart_every_mcu_row", 80, 64, "-restart 1", 4},
                      CorpusCase{"restart_every_3_mcus", 80, 64, "-restart 3B", 4},
                      CorpusCase{"progressive_restart", 80, 64, "-progressive -restart 2B", 4},
                      CorpusCase{"low_quality_large_values", 48, 48, "-quality 5", 4},
                      CorpusCase{"high_quality", 48, 48, "-quality 100 -sample 1x1", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Every sampling layout a baseline frame may have (each factor 1 to 4, an
// interleaved MCU of at most 10 blocks) that djpeg decodes, against djpeg
// sample for sample: it replicates chroma like us (-nosmooth) and runs the
// same fast IDCT, so only rounding separates the two (up to 4 levels, as in
// the layouts decoded all along). djpeg and cjpeg refuse fractional ratios;
// JpegFractionalSampling below covers those.
struct SamplingCase {
  const char* name;
  int width;
  int height;
  std::string options;
};

constexpr int kRoundingDifference = 4;

class JpegSampling : public ::testing::TestWithParam<SamplingCase> {};

Picture DcPicture(const Bytes& jpeg) {
  MemoryByteSource source(jpeg);
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  JpegDcImage dc;
  EXPECT_EQ(decoder->DecodeDc(&dc), 0) << "error " << decoder->ErrorCode();
  decoder->Close();
  return Picture{dc.width, dc.height, dc.channels, dc.pixels};
}

TEST_P(JpegSampling, DecodesLikeTheReference) {
  const SamplingCase& row = GetParam();
  const Bytes jpeg = EncodeWithCjpeg(row.width, row.height, row.options);
  ASSERT_FALSE(jpeg.empty()) << "cjpeg failed";
  const DecodeResult result = Decode(jpeg);
  ASSERT_EQ(result.openError, 0);
  ASSERT_EQ(result.startResult, 0) << "error " << result.errorCode;
  EXPECT_EQ(result.lastReadRow, 1);
  EXPECT_EQ(result.errorCode, 0);
  const Picture reference = ReferenceDecode(jpeg);
  ASSERT_EQ(reference.height, row.height) << "djpeg failed";
  EXPECT_LE(MaxDifference(result.picture, reference), kRoundingDifference);

  // The DC picture (thumbnails, the checker) puts every component's
  // blocks in the same places: close to the reference's 8 x 8 means.
  const Picture dc = DcPicture(jpeg);
  ASSERT_EQ(dc.width, (row.width + 7) / 8);
  ASSERT_EQ(dc.height, (row.height + 7) / 8);
  EXPECT_GE(Psnr(dc, BlockMeans(reference)), 18.0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, JpegSampling,
    ::testing::Values(SamplingCase{"luma_1x2_chroma_1x1", 61, 45, "-sample 1x2,1x1,1x1"},
                      SamplingCase{"every_component_1x2", 61, 45, "-sample 1x2,1x2,1x2"},
                      SamplingCase{"every_component_2x1", 61, 45, "-sample 2x1,2x1,2x1"},
                      SamplingCase{"luma_2x1", 61, 45, "-sample 2x1"},
                      SamplingCase{"luma_2x2", 61, 45, "-sample 2x2"},
                      SamplingCase{"luma_4x1", 61, 45, "-sample 4x1"},
                      SamplingCase{"luma_1x4", 61, 45, "-sample 1x4"},
                      SamplingCase{"luma_4x2_ten_blocks", 61, 45, "-sample 4x2"},
                      SamplingCase{"luma_2x4_ten_blocks", 61, 45, "-sample 2x4"},
                      SamplingCase{"luma_3x1", 61, 45, "-sample 3x1"},
                      SamplingCase{"luma_1x3", 61, 45, "-sample 1x3"},
                      SamplingCase{"luma_3x2", 61, 45, "-sample 3x2"},
                      SamplingCase{"luma_2x3", 61, 45, "-sample 2x3"},
                      SamplingCase{"luma_2x2_chroma_1x2", 61, 45, "-sample 2x2,1x2,1x2"},
                      SamplingCase{"luma_2x2_chroma_2x1", 61, 45, "-sample 2x2,2x1,2x1"},
                      SamplingCase{"luma_4x1_chroma_2x1", 61, 45, "-sample 4x1,2x1,2x1"},
                      SamplingCase{"chroma_finer_than_luma", 61, 45, "-sample 1x1,2x2,2x2"},
                      SamplingCase{"chroma_unlike_each_other", 61, 45, "-sample 2x2,1x1,2x2"},
                      SamplingCase{"luma_1x4_restart_every_mcu", 37, 70, "-sample 1x4 -restart 1B"},
                      SamplingCase{"progressive_luma_4x1", 61, 45, "-progressive -sample 4x1"},
                      SamplingCase{"progressive_chroma_finer", 61, 45,
                                   "-progressive -sample 1x1,2x2,2x2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegDecoder, SixteenBitQuantisationTablesAreAccepted) {
  const Bytes jpeg = SixteenBitTables();
  ASSERT_FALSE(jpeg.empty());
  ASSERT_NE(FindMarker(jpeg, 0xC1), -1) << "expected an extended sequential frame";
  const DecodeResult result = Decode(jpeg);
  ASSERT_EQ(result.openError, 0);
  ASSERT_EQ(result.lastReadRow, 1);
  EXPECT_GE(Psnr(result.picture, ReferenceDecode(jpeg)), 40.0);
}

// Pinned decodes (checked against djpeg above within 40 dB, then hashed), so
// a change in any stage shows up even when it stays within tolerance.
struct GoldenCase {
  const char* name;
  int width;
  int height;
  std::string options;
  std::uint64_t hash;
};

class JpegGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(JpegGolden, DecodeHashIsPinned) {
  const GoldenCase& row = GetParam();
  const DecodeResult result = Decode(EncodeWithCjpeg(row.width, row.height, row.options));
  ASSERT_EQ(result.lastReadRow, 1);
  EXPECT_EQ(Fnv1a(result.picture.samples), row.hash) << std::hex << Fnv1a(result.picture.samples);
}

INSTANTIATE_TEST_SUITE_P(
    Pinned, JpegGolden,
    ::testing::Values(
        GoldenCase{"baseline_420_sequential_path", 33, 21, "-sample 2x2", 4696393548025699246ull},
        GoldenCase{"baseline_422_row_pairs", 33, 21, "-sample 2x1", 7576804097513663712ull},
        GoldenCase{"baseline_444", 33, 21, "-sample 1x1", 10401385027729448224ull},
        GoldenCase{"greyscale_mode_0", 33, 21, "-grayscale", 11451900889171920906ull},
        GoldenCase{"progressive_refinement_scans", 33, 21, "-progressive", 4696393548025699246ull},
        GoldenCase{"restart_markers", 33, 21, "-restart 1B", 4696393548025699246ull}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- error codes and damaged streams

Bytes Baseline() { return EncodeWithCjpeg(48, 32, "-sample 2x2"); }

long FrameOffset(const Bytes& jpeg) {
  long offset = FindMarker(jpeg, 0xC0);
  return offset >= 0 ? offset : FindMarker(jpeg, 0xC1);
}

Bytes InsertAfterSoi(Bytes jpeg, const Bytes& segment) {
  jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
  return jpeg;
}

struct ErrorCase {
  const char* name;
  std::function<Bytes()> make;
  int openError;   // ErrorCode() after Open
  int finalError;  // ErrorCode() after Start and every ReadRow
};

class JpegErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(JpegErrors, ReportsItsCode) {
  const ErrorCase& row = GetParam();
  const Bytes jpeg = row.make();
  ASSERT_FALSE(jpeg.empty());
  const DecodeResult result = Decode(jpeg);
  EXPECT_EQ(result.openError, row.openError);
  EXPECT_EQ(result.errorCode, row.finalError);
  if (row.finalError != 0) {
    EXPECT_NE(result.lastReadRow, 1);
  }
}

Bytes Patched(long (*where)(const Bytes&), long delta, std::uint8_t value) {
  Bytes jpeg = Baseline();
  jpeg[static_cast<std::size_t>(where(jpeg) + delta)] = value;
  return jpeg;
}

long SosOffset(const Bytes& jpeg) { return FindMarker(jpeg, 0xDA); }

INSTANTIATE_TEST_SUITE_P(
    Streams, JpegErrors,
    ::testing::Values(
        ErrorCase{"arithmetic_sof9", [] { return EncodeWithCjpeg(32, 32, "-arithmetic"); },
                  kJpegArithmetic, kJpegArithmetic},
        ErrorCase{"dac_segment",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0xCC, 0x00, 0x04, 0x00, 0x00});
                  },
                  kJpegArithmetic, kJpegArithmetic},
        ErrorCase{"precision_12_sof1",
                  [] {
                    Bytes j = Patched(FrameOffset, 1, 0xC1);
                    j[FrameOffset(j) + 4] = 12;
                    return j;
                  },
                  kJpegBadPrecision, kJpegBadPrecision},
        ErrorCase{"lossless_sof3", [] { return Patched(FrameOffset, 1, 0xC3); },
                  kJpegUnsupportedFrame, kJpegUnsupportedFrame},
        ErrorCase{"cmyk_four_components",
                  [] {
                    return CommittedInput("convert_32x24_cmyk.jpg", [](const std::string& path) {
                      return Shell("convert " + SourcePicture(32, 24) + " -colorspace CMYK " +
                                   path);
                    });
                  },
                  0, kJpegBadComponentCount},
        ErrorCase{"width_24577",
                  [] {
                    Bytes j = Patched(FrameOffset, 7, 0x60);
                    j[FrameOffset(j) + 8] = 0x01;
                    return j;
                  },
                  kJpegBadWidth, kJpegBadWidth},
        ErrorCase{"height_0",
                  [] {
                    Bytes j = Patched(FrameOffset, 5, 0);
                    j[FrameOffset(j) + 6] = 0;
                    return j;
                  },
                  kJpegBadHeight, kJpegBadHeight},
        ErrorCase{"dht_with_256_codes",
                  [] {
                    Bytes segment = {0xFF, 0xC4, 0x01, 0x13, 0x00};
                    for (int i = 1; i <= 16; ++i) segment.push_back(i == 16 ? 16 : 16);
                    segment.resize(segment.size() + 256, 0);
                    return InsertAfterSoi(Baseline(), segment);
                  },
                  kJpegDhtTooManyCodes, kJpegDhtTooManyCodes},
        ErrorCase{"dht_slot_8",
                  [] {
                    Bytes segment = {0xFF, 0xC4, 0x00, 0x14, 0x14, 1, 0, 0, 0, 0, 0,
                                     0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0};
                    return InsertAfterSoi(Baseline(), segment);
                  },
                  kJpegDhtBadSlot, kJpegDhtBadSlot},
        ErrorCase{"dqt_index_4",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0xDB, 0x00, 0x43, 0x04});
                  },
                  kJpegDqtBadIndex, kJpegDqtBadIndex},
        ErrorCase{"dqt_shorter_than_table",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0xDB, 0x00, 0x10, 0x00});
                  },
                  kJpegDqtTruncated, kJpegDqtTruncated},
        ErrorCase{"dri_length_5",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0xDD, 0x00, 0x05, 0x00, 0x01, 0x00});
                  },
                  kJpegBadDriLength, kJpegBadDriLength},
        ErrorCase{"comment_length_1",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0xFE, 0x00, 0x01});
                  },
                  kJpegBadSegmentLength, kJpegBadSegmentLength},
        ErrorCase{"tem_marker",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0x01});
                  },
                  kJpegMarkerOutOfPlace, kJpegMarkerOutOfPlace},
        ErrorCase{"rst_outside_scan",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0xD3});
                  },
                  kJpegMarkerOutOfPlace, kJpegMarkerOutOfPlace},
        ErrorCase{"junk_300_before_soi",
                  [] {
                    Bytes j = Baseline();
                    j.insert(j.begin(), 300, 0x20);
                    return j;
                  },
                  0, 0},
        ErrorCase{"junk_511_before_soi",
                  [] {
                    Bytes j = Baseline();
                    j.insert(j.begin(), 511, 0x20);
                    return j;
                  },
                  0, 0},
        ErrorCase{"junk_512_before_soi",
                  [] {
                    Bytes j = Baseline();
                    j.insert(j.begin(), 512, 0x20);
                    return j;
                  },
                  kJpegNoSoi, kJpegNoSoi},
        ErrorCase{"junk_600_before_soi",
                  [] {
                    Bytes j = Baseline();
                    j.insert(j.begin(), 600, 0x20);
                    return j;
                  },
                  kJpegNoSoi, kJpegNoSoi},
        ErrorCase{"sampling_factor_0",
                  [] {
                    Bytes j = Baseline();
                    j[FrameOffset(j) + 10 + 1] = 0x20;
                    return j;
                  },
                  0, kJpegBadSampling},
        ErrorCase{"luma_factor_5",
                  [] {
                    Bytes j = Baseline();
                    j[FrameOffset(j) + 10 + 1] = 0x51;
                    return j;
                  },
                  0, kJpegBadSampling},
        ErrorCase{"chroma_factor_5_vertical",
                  [] {
                    Bytes j = Baseline();
                    j[FrameOffset(j) + 10 + 3 + 1] = 0x15;
                    return j;
                  },
                  0, kJpegBadSampling},
        ErrorCase{"interleaved_mcu_of_11_blocks",
                  [] {
                    Bytes j = Baseline();
                    j[FrameOffset(j) + 10 + 1] = 0x33;
                    return j;
                  },
                  0, kJpegBadBlockAddress},
        ErrorCase{"first_scan_not_interleaved",
                  [] {
                    const std::string scans = ScratchDirectory() + "/scans.txt";
                    std::ofstream(scans) << "0;\n1;\n2;\n";
                    return EncodeWithCjpeg(32, 32, "-scans " + scans);
                  },
                  0, kJpegBadSampling},
        ErrorCase{"scan_names_unknown_component", [] { return Patched(SosOffset, 5, 0x77); }, 0,
                  kJpegUnknownComponent},
        ErrorCase{"sos_length_wrong", [] { return Patched(SosOffset, 3, 0x0B); }, 0,
                  kJpegBadSosLength},
        ErrorCase{"no_sos_before_end",
                  [] {
                    Bytes j = Baseline();
                    j.resize(static_cast<std::size_t>(SosOffset(j)));
                    return j;
                  },
                  0, kJpegMarkerOutOfPlace},
        ErrorCase{"no_frame_at_all", [] { return Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x02}; },
                  kJpegUnsupportedFrame, kJpegUnsupportedFrame},
        ErrorCase{"trailing_bytes_after_eoi",
                  [] {
                    Bytes j = Baseline();
                    j.insert(j.end(), 700, 0x5A);
                    return j;
                  },
                  0, 0},
        ErrorCase{"app_and_comment_segments_skipped",
                  [] {
                    return InsertAfterSoi(Baseline(), {0xFF, 0xE5, 0x00, 0x04, 0xFF, 0xD9, 0xFF,
                                                       0xFE, 0x00, 0x03, 0x41});
                  },
                  0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegDecoder, WidthAtTheLimitPassesOpen) {
  Bytes jpeg = Baseline();
  jpeg[FrameOffset(jpeg) + 7] = 0x60;
  jpeg[FrameOffset(jpeg) + 8] = 0x00;
  const DecodeResult result = Decode(Bytes(jpeg.begin(), jpeg.begin() + SosOffset(jpeg)));
  EXPECT_EQ(result.openError, 0);
}

TEST(JpegDecoder, SkippedSegmentsDoNotChangeTheImage) {
  const Bytes plain = Baseline();
  const DecodeResult reference = Decode(plain);
  const DecodeResult withJunk = Decode(InsertAfterSoi(plain, {0xFF, 0xE1, 0x00, 0x06, 1, 2, 3, 4}));
  EXPECT_EQ(withJunk.picture.samples, reference.picture.samples);
  Bytes shifted = plain;
  shifted.insert(shifted.begin(), 300, 0x00);
  EXPECT_EQ(Decode(shifted).picture.samples, reference.picture.samples);
}

TEST(JpegDecoder, CutStreamDecodesItsTopRows) {
  const Bytes full = EncodeWithCjpeg(64, 96, "-sample 2x2");
  const DecodeResult whole = Decode(full);
  const Bytes cut(full.begin(), full.begin() + static_cast<long>(full.size() * 2 / 3));
  const DecodeResult result = Decode(cut);
  ASSERT_EQ(result.openError, 0);
  ASSERT_EQ(result.startResult, 0);
  ASSERT_GE(result.picture.height, 32);
  const std::size_t topRows = std::size_t(32) * 64 * 3;
  EXPECT_TRUE(std::equal(whole.picture.samples.begin(), whole.picture.samples.begin() + topRows,
                         result.picture.samples.begin()));
}

TEST(JpegDecoder, CutStreamWithRestartsStopsAtTheFirstMissingMarker) {
  const Bytes full = EncodeWithCjpeg(64, 96, "-sample 2x2 -restart 1");
  const DecodeResult whole = Decode(full);
  // Cut where the third restart marker was: the filler past the end then
  // stands where RST2 is due.
  long marker = FindMarker(full, 0xD2);
  ASSERT_GT(marker, 0);
  const Bytes cut(full.begin(), full.begin() + marker);
  const DecodeResult result = Decode(cut);
  EXPECT_EQ(result.startResult, 0);
  EXPECT_EQ(result.picture.height, 48);
  EXPECT_EQ(result.lastReadRow, kJpegCorruptData);
  EXPECT_EQ(result.errorCode, kJpegBadRestart);
  ASSERT_GT(result.picture.height, 0);
  EXPECT_LT(result.picture.height, 96);
  EXPECT_TRUE(std::equal(result.picture.samples.begin(), result.picture.samples.end(),
                         whole.picture.samples.begin()));
}

TEST(JpegDecoder, RestartMarkerOutOfSequenceIsAnError) {
  Bytes jpeg = EncodeWithCjpeg(64, 96, "-sample 2x2 -restart 1");
  const long second = FindMarker(jpeg, 0xD1);  // RST1 is due second
  ASSERT_GT(second, 0);
  jpeg[second + 1] = 0xD2;
  const DecodeResult result = Decode(jpeg);
  EXPECT_EQ(result.lastReadRow, kJpegCorruptData);
  EXPECT_EQ(result.errorCode, kJpegBadRestart);
  EXPECT_EQ(result.picture.height, 32);  // the two MCU rows before the bad marker
}

TEST(JpegDecoder, ProgressiveCutAfterFirstDcScanGivesFlatBlocks) {
  const Bytes full = EncodeWithCjpeg(40, 24, "-progressive -grayscale");
  const long firstScan = FindMarker(full, 0xDA);
  long secondScan = -1;
  for (std::size_t i = static_cast<std::size_t>(firstScan) + 2; i + 1 < full.size(); ++i) {
    if (full[i] == 0xFF && full[i + 1] != 0 && !(full[i + 1] >= 0xD0 && full[i + 1] <= 0xD7)) {
      secondScan = static_cast<long>(i);
      break;
    }
  }
  ASSERT_GT(secondScan, firstScan);
  const DecodeResult result = Decode(Bytes(full.begin(), full.begin() + secondScan));
  ASSERT_EQ(result.lastReadRow, 1);
  const Picture& picture = result.picture;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x)
      ASSERT_EQ(picture.samples[y * picture.width + x],
                picture.samples[(y / 8 * 8) * picture.width + x / 8 * 8]);
  }
}

struct GeometryCase {
  const char* name;
  int width;
  int height;
  std::string options;
  int rowBytes;
};

class JpegGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(JpegGeometry, DeliversEveryRowAtItsWidth) {
  const GeometryCase& row = GetParam();
  const DecodeResult result = Decode(EncodeWithCjpeg(row.width, row.height, row.options));
  EXPECT_EQ(result.lastReadRow, 1);
  EXPECT_EQ(result.picture.height, row.height);
  EXPECT_EQ(result.rowBytes, row.rowBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, JpegGeometry,
    ::testing::Values(GeometryCase{"420_17_rows_spans_two_mcu_rows", 16, 17, "-sample 2x2", 64},
                      GeometryCase{"422_9_pixels_wide", 9, 8, "-sample 2x1", 36},
                      GeometryCase{"greyscale_one_byte_per_pixel", 13, 5, "-grayscale", 13},
                      GeometryCase{"440_odd_height", 7, 9, "-sample 1x2", 28}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- hand-built streams for paths no encoder takes

// DC table: 00 -> category 0, 01 -> 3, 10 -> 8.
// AC table: 00 -> EOB, 01 -> ZRL, 10 -> run 0 size 1.
HandStream Hand() {
  HandStream stream;
  stream.dcCounts = {0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.dcSymbols = {0x00, 0x03, 0x08};
  stream.acCounts = {0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.acSymbols = {0x00, 0xF0, 0x01};
  return stream;
}

std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

struct HandCase {
  const char* name;
  std::function<HandStream()> make;
  int finalError;
  std::vector<std::uint8_t> firstPixel;  // empty: not checked
  bool flat;                             // every sample of the row equals the first pixel's
};

class JpegHandStreams : public ::testing::TestWithParam<HandCase> {};

TEST_P(JpegHandStreams, DecodeAsExpected) {
  const HandCase& row = GetParam();
  const DecodeResult result = Decode(row.make().Build());
  ASSERT_EQ(result.openError, 0);
  EXPECT_EQ(result.errorCode, row.finalError);
  if (!row.firstPixel.empty()) {
    ASSERT_FALSE(result.picture.samples.empty());
    const std::size_t channels = row.firstPixel.size();
    for (std::size_t i = 0; i < (row.flat ? result.picture.samples.size() : channels); ++i)
      ASSERT_EQ(result.picture.samples[i], row.firstPixel[i % channels]) << "sample " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, JpegHandStreams,
    ::testing::Values(
        HandCase{"zrl_at_48_accepted",
                 [] {
                   HandStream s = Hand();
                   s.bits = "00" + Repeat("101", 47) + "01";
                   return s;
                 },
                 0,
                 {},
                 false},
        HandCase{"zrl_at_49_overruns",
                 [] {
                   HandStream s = Hand();
                   s.bits = "00" + Repeat("101", 48) + "01";
                   return s;
                 },
                 kJpegCorruptData,
                 {},
                 false},
        HandCase{"run_past_63_overruns",
                 [] {
                   HandStream s = Hand();
                   s.acSymbols = {0x00, 0xF0, 0xF1};
                   s.bits = "00" + Repeat("01", 3) + "101";
                   return s;
                 },
                 kJpegCorruptData,
                 {},
                 false},
        // q[0] = 16, so q'[0] = 64: (5 * 64) >> 5 = 10, + 128.
        HandCase{"dc_only_block_is_flat",
                 [] {
                   HandStream s = Hand();
                   s.quant = 16;
                   s.bits =
                       "01101"
                       "00";
                   return s;
                 },
                 0,
                 {138},
                 true},
        // An AC pattern no code reaches (11) reads as symbol 0, here EOB.
        HandCase{"undecodable_code_reads_as_symbol_0",
                 [] {
                   HandStream s = Hand();
                   s.quant = 16;
                   s.bits =
                       "01101"
                       "11";
                   return s;
                 },
                 0,
                 {138},
                 true},
        HandCase{"colour_centre_is_127_5",
                 [] {
                   HandStream s = Hand();
                   s.sampling = {0x11, 0x11, 0x11};
                   s.bits = Repeat("0000", 3);
                   return s;
                 },
                 0,
                 {129, 127, 129},
                 true},
        // q = 8: q'[0] = 32, and -128 * 32 >> 5 = -128 brings luma to 0.
        HandCase{"black_luma_with_centre_chroma",
                 [] {
                   HandStream s = Hand();
                   s.quant = 8;
                   s.sampling = {0x11, 0x11, 0x11};
                   s.bits =
                       "10"
                       "01111111"
                       "00" +
                       Repeat("0000", 2);
                   return s;
                 },
                 0,
                 {1, 0, 1},
                 true},
        // 255 * q'[0] = 255 * 1020 wraps to -2044 in 16 bits: (-2044 >> 5) + 128 = 64.
        HandCase{"dequantised_dc_wraps_to_16_bits",
                 [] {
                   HandStream s = Hand();
                   s.quant = 255;
                   s.bits =
                       "10"
                       "11111111"
                       "00";
                   return s;
                 },
                 0,
                 {64},
                 true},
        HandCase{"restart_after_cut_is_missing",
                 [] {
                   HandStream s = Hand();
                   s.width = 16;
                   s.restartInterval = 1;
                   s.bits = "0000";
                   return s;
                 },
                 kJpegBadRestart,
                 {},
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

// Fractional ratios, which no encoder at hand writes: one MCU of flat blocks
// (DC terms only), all at level 0 up to the second block of Cb, which is
// bright, as are the Cb blocks after it (each DC term is a difference to the
// one before). Each Cb block covers 8 x Hmax / H pixels (or rows), not a
// whole number: the pixels before `edge` are grey, the rest are not.
struct FractionalCase {
  const char* name;
  int width;
  int height;
  std::vector<std::uint8_t> sampling;
  bool acrossColumns;  // the edge runs between columns, else between rows
  int edge;
};

class JpegFractionalSampling : public ::testing::TestWithParam<FractionalCase> {};

TEST_P(JpegFractionalSampling, ReplicatesEachSampleOverThePixelsItCovers) {
  const FractionalCase& row = GetParam();
  HandStream stream = Hand();
  stream.quant = 16;
  stream.width = row.width;
  stream.height = row.height;
  stream.sampling = row.sampling;
  const int lumaBlocks = (row.sampling[0] >> 4) * (row.sampling[0] & 15);
  const int chromaBlocks = (row.sampling[1] >> 4) * (row.sampling[1] & 15);
  const std::string flatBlock =
      "00"
      "00";  // DC difference 0, end of block
  const std::string brightBlock =
      "10"
      "11111111"
      "00";  // DC difference +255
  stream.bits = Repeat(flatBlock, lumaBlocks) + flatBlock + brightBlock +
                Repeat(flatBlock, chromaBlocks - 2) + Repeat(flatBlock, chromaBlocks);
  const DecodeResult result = Decode(stream.Build());
  ASSERT_EQ(result.startResult, 0) << "error " << result.errorCode;
  ASSERT_EQ(result.lastReadRow, 1);
  ASSERT_EQ(result.errorCode, 0);
  const Picture& picture = result.picture;
  const Bytes grey = {129, 127, 129};  // Y, Cb and Cr at 128
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const bool second = (row.acrossColumns ? x : y) >= row.edge;
      const std::uint8_t* pixel = &picture.samples[(std::size_t(y) * picture.width + x) * 3];
      const bool isGrey = std::equal(grey.begin(), grey.end(), pixel);
      ASSERT_EQ(isGrey, !second) << "pixel " << x << ", " << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, JpegFractionalSampling,
    ::testing::Values(FractionalCase{"luma_3x1_chroma_2x1", 24, 8, {0x31, 0x21, 0x21}, true, 12},
                      FractionalCase{"luma_1x3_chroma_1x2", 8, 24, {0x13, 0x12, 0x12}, false, 12},
                      FractionalCase{"luma_4x1_chroma_3x1", 32, 8, {0x41, 0x31, 0x31}, true, 11},
                      FractionalCase{"luma_3x2_chroma_2x1", 24, 16, {0x32, 0x21, 0x21}, true, 12}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegDecoder, SequentialScanIgnoresItsSpectralSelection) {
  HandStream stream = Hand();
  stream.quant = 16;
  stream.bits =
      "01101"
      "00";
  const Bytes normal = stream.Build();
  Bytes odd = normal;
  const long sos = FindMarker(odd, 0xDA);
  odd[sos + 7] = 5;   // Ss
  odd[sos + 8] = 10;  // Se
  EXPECT_EQ(Decode(odd).picture.samples, Decode(normal).picture.samples);
}

TEST(JpegDecoder, CallsOutOfOrderFailCleanly) {
  auto decoder = std::make_unique<JpegDecoder>();
  const std::uint8_t* row = nullptr;
  int count = 0;
  EXPECT_EQ(decoder->ReadRow(&row, &count), -1);
  EXPECT_EQ(decoder->Start(), -1);
  decoder->Open(nullptr);
  EXPECT_EQ(decoder->ErrorCode(), kJpegReadError);
  EXPECT_EQ(decoder->Start(), -1);
  decoder->Close();
  decoder->Close();
}

}  // namespace
}  // namespace kestrix::test
