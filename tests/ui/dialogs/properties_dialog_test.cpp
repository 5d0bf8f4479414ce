// What the properties dialog shows for a row: offsets cut to their low 32
// bits, EXIF texts with "不明" where a tag is missing.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/imaging/exif_bytes.h"
#include "core/candidate_list.h"
#include "ui/dialogs/properties_dialog.h"

namespace kestrix {
namespace {

using test::asciiEntry;
using test::pointerEntry;
using test::TestDirectory;
using test::TiffWriter;

using Field = PropertiesDialog::Control;

TEST(PropertiesDialog, OffsetAboveFourGiBShowsWholeAndUnknownTexts) {
  // The dialog reads offsets and EXIF data only, never the image bytes, so
  // a small buffer stands in for an image larger than 4 GiB: the base is
  // placed so that base + start lands on it (plain integer arithmetic, the
  // pointer is never dereferenced below the buffer).
  constexpr uint64_t kStart = 0x100000200ull;  // 4 GiB + 512
  static const uint8_t bytes[64] = {0xFF, 0xD8};
  const auto* base = reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(bytes) - kStart);
  CandidateList list;
  ASSERT_TRUE(
      list.addCandidate("00000000.jpg", base, {FileType::Jpeg, kStart, kStart + sizeof bytes}));

  PropertiesDialog dialog(list, 0);
  EXPECT_EQ(dialog.fieldText(Field::FileName), QStringLiteral("00000000.jpg"));
  EXPECT_EQ(dialog.fieldText(Field::ExpectedSize), QStringLiteral("0KB"));
  // Cut to 32 bits these would point 4 GiB early on the card.
  EXPECT_EQ(dialog.fieldText(Field::StartByte), QStringLiteral("0x100000200"));
  EXPECT_EQ(dialog.fieldText(Field::EndByte), QStringLiteral("0x100000240"));
  EXPECT_EQ(dialog.fieldText(Field::Maker), QStringLiteral("不明"));
  EXPECT_EQ(dialog.fieldText(Field::Model), QStringLiteral("不明"));
  EXPECT_EQ(dialog.fieldText(Field::ShotDate), QStringLiteral("不明"));
  EXPECT_EQ(dialog.fieldText(Field::Endian), QStringLiteral("不明"));
  EXPECT_EQ(dialog.fieldText(Field::Gps), QStringLiteral("なし"));
}

struct ExifCase {
  const char* name;
  bool motorola;
  bool withOriginal;  // DateTimeOriginal in the Exif directory
  bool withDateTime;  // DateTime in the main chain
  const char* date;
  const char* endian;
};

const ExifCase kExifCases[] = {
    // name               motorola original dateTime date                   endian
    {"OriginalWins", true, true, true, "2011:03:04 05:06:07", "ﾓﾄﾛｰﾗ形式"},
    {"DateTimeFallback", false, false, true, "2010:01:02 03:04:05", "ｲﾝﾃﾙ形式"},
    {"NoDateAtAll", false, false, false, "不明", "ｲﾝﾃﾙ形式"},
};

class PropertiesExif : public testing::TestWithParam<ExifCase> {};

TEST_P(PropertiesExif, ShowsMakerModelDateOrderAndGps) {
  const ExifCase& c = GetParam();
  TestDirectory ifd0;
  ifd0.entries.push_back(asciiEntry(kTagMake, "KESTREL OPTICS"));
  ifd0.entries.push_back(asciiEntry(kTagModel, "KX-100"));
  if (c.withDateTime) ifd0.entries.push_back(asciiEntry(kTagDateTime, "2010:01:02 03:04:05"));
  ifd0.entries.push_back(pointerEntry(kTagExifIfdPointer, 1));
  ifd0.entries.push_back(pointerEntry(kTagGpsIfdPointer, 2));
  TestDirectory exif;
  exif.entries.push_back(c.withOriginal
                             ? asciiEntry(kTagDateTimeOriginal, "2011:03:04 05:06:07")
                             : asciiEntry(0x9291, "00"));  // SubSecTime keeps it non-empty
  TestDirectory gps;
  gps.entries.push_back(asciiEntry(0x0001, "N"));
  const std::vector<uint8_t> bytes =
      TiffWriter::inJpeg(TiffWriter(c.motorola).build({ifd0, exif, gps}));

  CandidateList list;
  ASSERT_TRUE(list.addCandidate("00000000.jpg", bytes.data(), {FileType::Jpeg, 0, bytes.size()}));
  ASSERT_TRUE(list.addCandidate("00000001.jpg", bytes.data(), {FileType::Jpeg, 0, bytes.size()}));

  PropertiesDialog dialog(list, 1);
  EXPECT_EQ(dialog.fieldText(Field::FileName), QStringLiteral("00000001.jpg"));
  EXPECT_EQ(dialog.fieldText(Field::Maker), QStringLiteral("KESTREL OPTICS"));
  EXPECT_EQ(dialog.fieldText(Field::Model), QStringLiteral("KX-100"));
  EXPECT_EQ(dialog.fieldText(Field::ShotDate).toStdString(), c.date);
  EXPECT_EQ(dialog.fieldText(Field::Endian).toStdString(), c.endian);
  EXPECT_EQ(dialog.fieldText(Field::Gps), QStringLiteral("あり"));
}

INSTANTIATE_TEST_SUITE_P(Dialog, PropertiesExif, testing::ValuesIn(kExifCases),
                         [](const testing::TestParamInfo<ExifCase>& info) {
                           return std::string(info.param.name);
                         });

// A file joined from three pieces, past 4 GiB: a line a piece in file
// order (the last lies before the first), offsets whole; a plain file
// shows no pieces.
TEST(PropertiesDialog, AJoinedFileListsItsPiecesInFileOrder) {
  constexpr uint64_t kStart = 0x100000200ull;
  static const uint8_t bytes[64] = {0xFF, 0xD8};
  const auto* base = reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(bytes) - kStart);
  CandidateList list;
  ASSERT_TRUE(
      list.addCandidate("00000000.jpg", base, {FileType::Jpeg, kStart, kStart + sizeof bytes}));
  ASSERT_TRUE(
      list.addCandidate("00000001.jpg", base, {FileType::Jpeg, kStart, kStart + sizeof bytes}));
  CheckResult intact;
  intact.verdict = Verdict::Intact;
  ASSERT_TRUE(list.setCheck(0, intact));
  ASSERT_TRUE(list.setReassembly(
      0, {{kStart, kStart + 0x400}, {kStart + 0x1000, kStart + 0x1200}, {0x200, 0x3FF}}, intact));

  const PropertiesDialog joined(list, 0);
  EXPECT_EQ(joined.piecesText(), QStringLiteral("0x100000200 - 0x100000600\n"
                                                "0x100001200 - 0x100001400\n"
                                                "0x00000200 - 0x000003FF"));
  const PropertiesDialog plain(list, 1);
  EXPECT_TRUE(plain.piecesText().isEmpty());
}

TEST(PropertiesDialog, NoRowOrAMissingOneLeavesEveryBoxEmpty) {
  static const uint8_t bytes[8] = {};
  CandidateList list;
  ASSERT_TRUE(list.addCandidate("00000000.jpg", bytes, {FileType::Jpeg, 0, sizeof bytes}));
  // −1: nothing chosen and no menu row; 1: a row the list does not have.
  for (const int32_t row : {-1, 1}) {
    PropertiesDialog dialog(list, row);
    for (Field field : {Field::FileName, Field::ExpectedSize, Field::StartByte, Field::EndByte,
                        Field::Maker, Field::Model, Field::ShotDate, Field::Endian, Field::Gps}) {
      EXPECT_TRUE(dialog.fieldText(field).isEmpty()) << row << ": " << static_cast<int>(field);
    }
  }
}

}  // namespace
}  // namespace kestrix
