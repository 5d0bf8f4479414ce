// The texts of a row of finds: what every column shows for EXIF that is
// there, missing, cut short or of an unknown byte order, and the size's
// rounding, up past 4 GiB.
#include "texts/row_texts.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/exif_bytes.h"
#include "imaging/exif_info.h"

namespace kestrix {
namespace {

using test::asciiEntry;
using test::numberEntry;
using test::pointerEntry;
using test::TestDirectory;
using test::TiffWriter;

using Column = RowTexts::Column;

std::vector<std::string> cells(const RowTexts& texts) {
  return {texts.cells.begin(), texts.cells.end()};
}

std::vector<bool> knownColumns(const RowTexts& texts) {
  std::vector<bool> known;
  for (int32_t column = 0; column < RowTexts::kColumnCount; ++column)
    known.push_back(texts.known(static_cast<Column>(column)));
  return known;
}

// What a card's photo carries; an empty text leaves its tag out.
struct Camera {
  bool motorola = true;
  std::string make = "Canon";
  std::string model = "IXY";
  std::string original = "2004:01:02 03:04:05";  // DateTimeOriginal
  bool gps = false;
  bool garbageByteOrder = false;  // the TIFF header's two bytes read "XY"
};

std::vector<uint8_t> cameraJpeg(const Camera& camera) {
  std::vector<TestDirectory> dirs(3);
  if (!camera.make.empty()) dirs[0].entries.push_back(asciiEntry(kTagMake, camera.make));
  if (!camera.model.empty()) dirs[0].entries.push_back(asciiEntry(kTagModel, camera.model));
  dirs[0].entries.push_back(asciiEntry(kTagDateTime, "2005:06:07 08:09:10"));
  dirs[0].entries.push_back(pointerEntry(kTagExifIfdPointer, 1));
  if (camera.gps) dirs[0].entries.push_back(pointerEntry(kTagGpsIfdPointer, 2));
  dirs[1].entries = {camera.original.empty() ? asciiEntry(0x9004, "2004:01:02 03:04:05")
                                             : asciiEntry(kTagDateTimeOriginal, camera.original)};
  dirs[2].entries = {numberEntry(0x0000, 1, {2, 2, 0, 0})};
  std::vector<uint8_t> jpeg = TiffWriter::inJpeg(TiffWriter(camera.motorola).build(dirs));
  if (camera.garbageByteOrder) {
    jpeg[12] = 'X';  // SOI, APP1 and its length, "Exif\0\0": the TIFF header is at 12
    jpeg[13] = 'Y';
  }
  return jpeg;
}

struct RowCase {
  const char* name;
  std::optional<Camera> camera;  // none: a PNG of 2048 bytes without EXIF
  std::vector<std::string> cells;
  std::vector<bool> known;
};

void PrintTo(const RowCase& c, std::ostream* out) { *out << c.name; }

class RowTextsOfFind : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowTextsOfFind, ShowsEveryColumn) {
  const RowCase& c = GetParam();
  std::vector<uint8_t> image = c.camera ? cameraJpeg(*c.camera) : std::vector<uint8_t>(2048, 0x55);
  const uint64_t length = image.size();
  image.resize(image.size() + 4096, 0);
  CandidateList list;
  ASSERT_TRUE(
      list.addCandidate("x", image.data(), {c.camera ? FileType::Jpeg : FileType::Png, 0, length}));
  const RowTexts texts = rowTexts(*list.candidateAt(1), "00000000.jpg");
  EXPECT_EQ(cells(texts), c.cells);
  EXPECT_EQ(knownColumns(texts), c.known);
}

// Columns: name, model, shot date, size, GPS, maker, byte order.
const std::vector<bool> kAllKnown(7, true);
const std::vector<bool> kNoExif{true, false, false, true, true, false, false};

INSTANTIATE_TEST_SUITE_P(
    Rows, RowTextsOfFind,
    ::testing::Values(
        RowCase{"NoExifShowsUnknowns",
                std::nullopt,
                {"00000000.jpg", "不明", "不明", "2KB", "なし", "不明", "不明"},
                kNoExif},
        RowCase{"MotorolaCamera",
                Camera{},
                {"00000000.jpg", "IXY", "2004:01:02 03:04:05", "0KB", "なし", "Canon", "ﾓﾄﾛｰﾗ形式"},
                kAllKnown},
        RowCase{"IntelCameraWithGps",
                Camera{.motorola = false, .gps = true},
                {"00000000.jpg", "IXY", "2004:01:02 03:04:05", "0KB", "あり", "Canon", "ｲﾝﾃﾙ形式"},
                kAllKnown},
        // The column shows DateTimeOriginal alone; DateTime is the restore's fallback.
        RowCase{"DateTimeOnlyShowsNoShotDate",
                Camera{.original = ""},
                {"00000000.jpg", "IXY", "不明", "0KB", "なし", "Canon", "ﾓﾄﾛｰﾗ形式"},
                {true, true, false, true, true, true, true}},
        // Shown as stored: the cell does not judge the date (sorting does).
        RowCase{"TruncatedDateShownAsStored",
                Camera{.original = "2004:01:02 03:0"},
                {"00000000.jpg", "IXY", "2004:01:02 03:0", "0KB", "なし", "Canon", "ﾓﾄﾛｰﾗ形式"},
                kAllKnown},
        RowCase{"MissingMakeAndModel",
                Camera{.make = "", .model = ""},
                {"00000000.jpg", "不明", "2004:01:02 03:04:05", "0KB", "なし", "不明", "ﾓﾄﾛｰﾗ形式"},
                {true, false, true, true, true, false, true}},
        // Decoded as Intel (so written so), but named neither.
        RowCase{"GarbageByteOrderIsUnknown",
                Camera{.motorola = false, .garbageByteOrder = true},
                {"00000000.jpg", "IXY", "2004:01:02 03:04:05", "0KB", "なし", "Canon", "不明"},
                {true, true, true, true, true, true, false}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SizeCase {
  const char* name;
  uint64_t size;
  const char* text;
};

class RowTextsSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(RowTextsSize, RoundsDownToKilobytes) {
  std::vector<uint8_t> image(8192, 0);
  const uint64_t size = GetParam().size;
  CandidateList list;
  if (size <= 4096) {
    ASSERT_TRUE(list.addCandidate("a.jpg", image.data(), {FileType::Jpeg, 100, 100 + size}));
  } else {
    // Past the buffer: a joined find's size is its pieces', which nothing reads.
    ASSERT_TRUE(list.addCandidate("a.jpg", image.data(), {FileType::Jpeg, 100, 200}));
    ASSERT_TRUE(list.setCheck(0, CheckResult{}));
    const uint64_t far = uint64_t{1} << 40;
    ASSERT_TRUE(list.setReassembly(0, {{100, 200}, {far, far + size - 100}}, CheckResult{}));
  }
  ASSERT_EQ(list.candidateAt(1)->find().size(), size);
  EXPECT_EQ(rowTexts(*list.candidateAt(1), "a.jpg")[Column::Size], GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowTextsSize,
    ::testing::Values(
        SizeCase{"Empty", 0, "0KB"}, SizeCase{"JustUnderOneKilobyte", 1023, "0KB"},
        SizeCase{"OneKilobyte", 1024, "1KB"}, SizeCase{"OneKilobyteAndAByte", 1025, "1KB"},
        SizeCase{"JustUnderTwoKilobytes", 2047, "1KB"},
        SizeCase{"FiveKilobytesAndABit", 5 * 1024 + 1, "5KB"},
        // Whole past 32 bits: a "%u" of a cut size would read 0KB.
        SizeCase{"FourGibibytes", uint64_t{4} << 30, "4194304KB"},
        SizeCase{"FourGibibytesAndJustUnderAKilobyte", (uint64_t{4} << 30) + 1023, "4194304KB"},
        SizeCase{"FiveGibibytesAndAKilobyte", (uint64_t{5} << 30) + 1024, "5242881KB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RowTexts, ByteOrderWordsForTheTwoMarksOnly) {
  EXPECT_STREQ(byteOrderText(kByteOrderMotorola), "ﾓﾄﾛｰﾗ形式");
  EXPECT_STREQ(byteOrderText(kByteOrderIntel), "ｲﾝﾃﾙ形式");
  EXPECT_EQ(byteOrderText(0), nullptr);       // no EXIF
  EXPECT_EQ(byteOrderText(0x4D49), nullptr);  // "IM": one byte of each
}

}  // namespace
}  // namespace kestrix
