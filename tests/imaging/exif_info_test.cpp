#include "imaging/exif_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/exif_bytes.h"

namespace kestrix {
namespace {

using test::asciiEntry;
using test::numberEntry;
using test::pointerEntry;
using test::TestDirectory;
using test::TestEntry;
using test::TiffWriter;

std::string text(const ExifInfo& exif, const IfdEntry* entry, std::string preset = "不明") {
  if (entry) exif.valueText(*entry, exif.isMotorola(), preset);
  return preset;
}

// A camera-like block: IFD0 with Make, Model, DateTime and the two pointers,
// an Exif directory with DateTimeOriginal, a GPS directory with one entry.
std::vector<uint8_t> cameraFile(bool motorola, const std::string& make) {
  std::vector<TestDirectory> dirs(3);
  dirs[0].entries = {asciiEntry(kTagMake, make), asciiEntry(kTagModel, "EOS 5D"),
                     asciiEntry(kTagDateTime, "2020:01:01 00:00:00"),
                     pointerEntry(kTagExifIfdPointer, 1), pointerEntry(kTagGpsIfdPointer, 2)};
  dirs[1].entries = {asciiEntry(kTagDateTimeOriginal, "2021:02:03 04:05:06")};
  dirs[2].entries = {numberEntry(0x0000, 1, {2, 2, 0, 0})};
  return TiffWriter::inJpeg(TiffWriter(motorola).build(dirs));
}

struct ByteOrderRow {
  const char* name;
  bool motorola;
  const char* make;  // "Can" is inline (count 4), "Canon" out of line
};

class ExifByteOrder : public ::testing::TestWithParam<ByteOrderRow> {};

TEST_P(ExifByteOrder, ReadsCameraFields) {
  const ByteOrderRow& row = GetParam();
  const std::vector<uint8_t> file = cameraFile(row.motorola, row.make);
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  EXPECT_TRUE(exif.hasExif());
  EXPECT_EQ(exif.isMotorola(), row.motorola);
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagMake)), row.make);
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagModel)), "EOS 5D");
  EXPECT_EQ(text(exif, exif.findInExifIfd(kTagDateTimeOriginal)), "2021:02:03 04:05:06");
  EXPECT_EQ(exif.findInExifIfd(kTagMake), nullptr);
  EXPECT_TRUE(exif.hasGps());
  std::string date;
  EXPECT_TRUE(exif.shotDateText(date));
  EXPECT_EQ(date, "2021:02:03 04:05:06");
  EXPECT_EQ(exif.byteOrder(), row.motorola ? kByteOrderMotorola : kByteOrderIntel);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExifByteOrder,
                         ::testing::Values(ByteOrderRow{"IntelInlineMake", false, "Can"},
                                           ByteOrderRow{"MotorolaInlineMake", true, "Can"},
                                           ByteOrderRow{"IntelOutOfLineMake", false, "Canon"},
                                           ByteOrderRow{"MotorolaOutOfLineMake", true, "Canon"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------- signature

std::vector<uint8_t> makeOnlyTiff() {
  std::vector<TestDirectory> dirs(1);
  dirs[0].entries = {asciiEntry(kTagMake, "Nikon")};
  return TiffWriter(false).build(dirs);
}

std::vector<uint8_t> withSignatureAt(size_t position, const std::vector<uint8_t>& tiff) {
  std::vector<uint8_t> out(position, 0xAA);
  const char sig[] = {'E', 'x', 'i', 'f', 0, 0};
  out.insert(out.end(), sig, sig + 6);
  out.insert(out.end(), tiff.begin(), tiff.end());
  return out;
}

struct SignatureRow {
  const char* name;
  std::vector<uint8_t> bytes;
  bool parsed;
  const char* make;
};

class ExifSignature : public ::testing::TestWithParam<SignatureRow> {};

TEST_P(ExifSignature, FindsFirstAcceptablePosition) {
  const SignatureRow& row = GetParam();
  ExifInfo exif;
  EXPECT_EQ(exif.parse(row.bytes.data(), row.bytes.size()), row.parsed);
  EXPECT_EQ(exif.hasExif(), row.parsed);
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagMake)), row.make);
}

std::vector<uint8_t> twice() {
  // The first signature sits in front of a garbage TIFF header; it wins.
  std::vector<uint8_t> first = withSignatureAt(2, {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0x7F});
  std::vector<uint8_t> second = withSignatureAt(0, makeOnlyTiff());
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

std::vector<uint8_t> atEnd() {
  // Signature at length − 8: byte order and magic present, IFD0 offset cut off.
  std::vector<uint8_t> out = withSignatureAt(4, {'M', 'M'});
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExifSignature,
    ::testing::Values(
        SignatureRow{"AtZero", withSignatureAt(0, makeOnlyTiff()), false, "不明"},
        SignatureRow{"AtOne", withSignatureAt(1, makeOnlyTiff()), false, "不明"},
        SignatureRow{"AtTwo", withSignatureAt(2, makeOnlyTiff()), true, "Nikon"},
        SignatureRow{"AtTwoBehindAnything", withSignatureAt(77, makeOnlyTiff()), true, "Nikon"},
        SignatureRow{"TwiceFirstWins", twice(), true, "不明"},
        SignatureRow{"HeaderCutShort", atEnd(), true, "不明"},
        SignatureRow{"None", std::vector<uint8_t>(64, 'E'), false, "不明"},
        SignatureRow{"NineBytes", {0, 0, 'E', 'x', 'i', 'f', 0, 0, 'I'}, false, "不明"},
        SignatureRow{"Empty", {}, false, "不明"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExifInfoParse, NullBytesFindNothing) {
  ExifInfo exif;
  EXPECT_FALSE(exif.parse(nullptr, 100));
  EXPECT_FALSE(exif.hasExif());
}

// ------------------------------------------------------------ directories

std::vector<uint8_t> manyEntries(size_t candidateLength) {
  std::vector<TestDirectory> dirs(1);
  for (int i = 0; i < 199; ++i) dirs[0].entries.push_back(numberEntry(0x1000 + i, 3, {1}));
  dirs[0].entries.push_back(asciiEntry(kTagModel, "X"));
  std::vector<uint8_t> file = withSignatureAt(2, TiffWriter(false).build(dirs));
  file.resize(candidateLength, 0);
  return file;
}

TEST(ExifInfoDirectories, EntryCountCheckedAgainstCandidateLength) {
  // 200 × 12 = 2,400 bytes: more than a 2,000-byte candidate can hold.
  const std::vector<uint8_t> small = manyEntries(2000);
  const std::vector<uint8_t> large = manyEntries(3000);
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(small.data(), small.size()));
  EXPECT_TRUE(exif.readDirectories().mainChain.empty());
  ASSERT_TRUE(exif.parse(large.data(), large.size()));
  const ExifDirectories dirs = exif.readDirectories();
  ASSERT_EQ(dirs.mainChain.size(), 1u);
  EXPECT_EQ(dirs.mainChain[0].entries.size(), 200u);
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagModel)), "X");
}

TEST(ExifInfoDirectories, BadTypeSkippedAndLaterDirectoryFound) {
  std::vector<TestDirectory> dirs(2);
  TestEntry bad = asciiEntry(kTagMake, "Bad");
  bad.type = 13;
  TestEntry zero = asciiEntry(kTagModel, "Zero");
  zero.type = 0;
  dirs[0].entries = {bad, zero, asciiEntry(kTagDateTime, "2001:01:01 01:01:01")};
  dirs[0].next = 1;
  dirs[1].entries = {asciiEntry(kTagMake, "Olympus")};  // Make only in IFD1
  const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(true).build(dirs));
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  const ExifDirectories read = exif.readDirectories();
  ASSERT_EQ(read.mainChain.size(), 2u);
  EXPECT_EQ(read.mainChain[0].entryCount, 3);
  EXPECT_EQ(read.mainChain[0].entries.size(), 1u);
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagMake)), "Olympus");
  EXPECT_EQ(exif.findInMainChain(kTagModel), nullptr);
  // No DateTimeOriginal: the shot date falls back to DateTime.
  std::string date;
  EXPECT_TRUE(exif.shotDateText(date));
  EXPECT_EQ(date, "2001:01:01 01:01:01");
}

TEST(ExifInfoDirectories, EmptyIfd0DroppedButChainFollowed) {
  std::vector<TestDirectory> dirs(2);
  TestEntry bad = asciiEntry(kTagModel, "Bad");
  bad.type = 99;
  dirs[0].entries = {bad};
  dirs[0].next = 1;
  dirs[1].entries = {asciiEntry(kTagMake, "Pentax")};
  const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(false).build(dirs));
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  EXPECT_EQ(exif.readDirectories().mainChain.size(), 1u);
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagMake)), "Pentax");
}

struct GpsRow {
  const char* name;
  uint16_t type;
  bool hasGps;
};

class ExifGps : public ::testing::TestWithParam<GpsRow> {};

TEST_P(ExifGps, PresenceNeedsAValidEntry) {
  std::vector<TestDirectory> dirs(2);
  dirs[0].entries = {pointerEntry(kTagGpsIfdPointer, 1)};
  TestEntry version = numberEntry(0x0000, 1, {2, 2, 0, 0});
  version.type = GetParam().type;
  TestEntry other = numberEntry(0x0001, 1, {'N'});
  other.type = GetParam().type;
  dirs[1].entries = {version, other};
  const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(false).build(dirs));
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  EXPECT_EQ(exif.hasGps(), GetParam().hasGps);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExifGps,
                         ::testing::Values(GpsRow{"ValidByteEntries", 1, true},
                                           GpsRow{"TypeZeroOnly", 0, false},
                                           GpsRow{"TypeThirteenOnly", 13, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ hostile chains

struct HostileRow {
  const char* name;
  std::vector<uint8_t> bytes;
  size_t mainChainSize;
  const char* make;
  bool hasExifIfd;
};

class ExifHostile : public ::testing::TestWithParam<HostileRow> {};

TEST_P(ExifHostile, StaysInsideAndEnds) {
  const HostileRow& row = GetParam();
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(row.bytes.data(), row.bytes.size()));
  const ExifDirectories dirs = exif.readDirectories();
  EXPECT_EQ(dirs.mainChain.size(), row.mainChainSize);
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagMake)), row.make);
  EXPECT_EQ(dirs.exifIfd.size(), row.hasExifIfd ? 1u : 0u);
}

std::vector<uint8_t> loop(int length) {
  std::vector<TestDirectory> dirs(length);
  for (int i = 0; i < length; ++i) {
    dirs[i].entries = {asciiEntry(kTagMake, "Loop")};
    dirs[i].next = (i + 1) % length;
  }
  return TiffWriter::inJpeg(TiffWriter(false).build(dirs));
}

std::vector<uint8_t> exifPointerOutside() {
  std::vector<TestDirectory> dirs(1);
  TestEntry pointer = pointerEntry(kTagExifIfdPointer, -1);
  pointer.value = 0xFFFFFFF0u;  // tiffBase + value lies far past the candidate
  dirs[0].entries = {asciiEntry(kTagMake, "Sony"), pointer};
  dirs[0].nextOffset = 0x7FFFFFFFu;  // beyond the candidate: the walk never starts there
  return TiffWriter::inJpeg(TiffWriter(true).build(dirs));
}

std::vector<uint8_t> makeOutOfLineOutside() {
  std::vector<TestDirectory> dirs(1);
  TestEntry make = asciiEntry(kTagMake, "Fujifilm");
  make.value = 0xFFFFFFF8u;  // 32-bit offsets near the top must not wrap
  dirs[0].entries = {make};
  return TiffWriter::inJpeg(TiffWriter(false).build(dirs));
}

std::vector<uint8_t> directoryRunsOffEnd() {
  // Ten entries (120 bytes) fit the candidate's length, but only five of
  // them are inside: the directory lies near the end.
  std::vector<TestDirectory> dirs(1);
  for (int i = 0; i < 10; ++i) dirs[0].entries.push_back(asciiEntry(kTagMake, "Cut"));
  std::vector<uint8_t> tiff = TiffWriter(false).build(dirs);
  tiff.resize(8 + 2 + 12 * 5);
  return withSignatureAt(200, tiff);
}

std::vector<uint8_t> directoryAtVeryEnd() {
  // The directory's entries end the candidate: its next offset is cut off.
  std::vector<TestDirectory> dirs(1);
  dirs[0].entries = {numberEntry(kTagMake, 3, {7})};
  std::vector<uint8_t> file = withSignatureAt(2, TiffWriter(false).build(dirs));
  file.resize(file.size() - 4);
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExifHostile,
    ::testing::Values(HostileRow{"SelfLoop", loop(1), 1, "Loop", false},
                      HostileRow{"ThreeDirectoryLoop", loop(3), 3, "Loop", false},
                      HostileRow{"ExifPointerOutside", exifPointerOutside(), 1, "Sony", false},
                      HostileRow{"OutOfLineValueOutside", makeOutOfLineOutside(), 1, "不明", false},
                      HostileRow{"EntriesRunOffEnd", directoryRunsOffEnd(), 0, "不明", false},
                      HostileRow{"NextOffsetCutOff", directoryAtVeryEnd(), 1, "7", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExifHostileChain, Ifd0OffsetBeyondLengthReadsNothing) {
  std::vector<TestDirectory> dirs(1);
  dirs[0].entries = {asciiEntry(kTagMake, "Leica")};
  const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(false).build(dirs, 0x10000));
  ExifInfo exif;
  EXPECT_TRUE(exif.parse(file.data(), file.size()));
  EXPECT_TRUE(exif.readDirectories().mainChain.empty());
}

TEST(ExifHostileChain, GarbageByteOrderDecodedAsIntelButKeptAsRead) {
  std::vector<uint8_t> file = TiffWriter::inJpeg(makeOnlyTiff());
  file[12] = 'X';
  file[13] = 'Y';
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  EXPECT_FALSE(exif.isMotorola());
  EXPECT_EQ(text(exif, exif.findInMainChain(kTagMake)), "Nikon");
  // Kept as read, so the programs can say it is neither (texts/row_texts.h).
  EXPECT_EQ(exif.byteOrder(), 0x5958);  // "XY"
}

// ------------------------------------------------------------ value texts

struct ValueRow {
  const char* name;
  TestEntry entry;
  const char* expected;
};

class ExifValueText : public ::testing::TestWithParam<std::tuple<ValueRow, bool>> {};

TEST_P(ExifValueText, FormatsFirstValue) {
  const auto& [row, motorola] = GetParam();
  std::vector<TestDirectory> dirs(1);
  TestEntry entry = row.entry;
  entry.tag = 0x9999;
  dirs[0].entries = {entry};
  const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(motorola).build(dirs));
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  // Tags the program never asks for are not kept; the full walk finds them.
  EXPECT_EQ(exif.findInMainChain(0x9999), nullptr);
  const ExifDirectories read = exif.readDirectories();
  ASSERT_EQ(read.mainChain.size(), 1u);
  ASSERT_EQ(read.mainChain[0].entries.size(), 1u);
  const IfdEntry* found = &read.mainChain[0].entries[0];
  std::string out = "preset";
  EXPECT_TRUE(exif.valueText(*found, exif.isMotorola(), out));
  EXPECT_EQ(out, row.expected);
}

TestEntry raw(uint16_t type, uint32_t count, std::vector<uint8_t> bytes) {
  return TestEntry{0, type, count, std::move(bytes), {}, -1, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExifValueText,
    ::testing::Combine(
        ::testing::Values(
            ValueRow{"RationalSeventyTwo", numberEntry(0, 5, {72, 1}), "72.00"},
            ValueRow{"RationalZeroDenominator", numberEntry(0, 5, {5, 0}), "0.00"},
            ValueRow{"SignedRationalNegative", numberEntry(0, 10, {0xFFFFFFFFu, 2}), "-0.50"},
            ValueRow{"SignedRationalZeroDenominator", numberEntry(0, 10, {0, 0}), "0.00"},
            ValueRow{"SignedShortMinusOne", numberEntry(0, 8, {0xFFFF}), "-1"},
            ValueRow{"ShortMax", numberEntry(0, 3, {65535}), "65535"},
            ValueRow{"ShortFirstOfThree", numberEntry(0, 3, {1, 2, 3}), "1"},
            ValueRow{"LongMax", numberEntry(0, 4, {0xFFFFFFFFu}), "4294967295"},
            ValueRow{"SignedLongMinusOne", numberEntry(0, 9, {0xFFFFFFFFu}), "-1"},
            ValueRow{"FloatOneAndHalf", numberEntry(0, 11, {0x3FC00000u}), "1.500000"},
            ValueRow{"ByteInline", numberEntry(0, 1, {'a', 'b'}), "ab"},
            ValueRow{"SignedByteInline", numberEntry(0, 6, {'h', 'i'}), "hi"},
            ValueRow{"SignedByteOutOfLine", numberEntry(0, 6, {200, 1, 2, 3, 4, 5}), "200"},
            ValueRow{"UndefinedVersion", numberEntry(0, 7, {'0', '2', '3', '0'}), "0230"},
            ValueRow{"AsciiWithoutTerminator", raw(2, 6, {'A', 'B', 'C', 'D', 'E', 'F'}), "ABCDEF"},
            ValueRow{"AsciiEndsAtFirstNul", raw(2, 6, {'A', 'B', 0, 'D', 'E', 0}), "AB"},
            ValueRow{"AsciiThreePlusNul", raw(2, 4, {'A', 'B', 'C', 0}), "ABC"},
            ValueRow{"AsciiTrailingNuls", raw(2, 8, {'A', 'B', 0, 0, 0, 0, 0, 0}), "AB"},
            ValueRow{"AsciiLeadingNul", raw(2, 6, {0, 'B', 'C', 'D', 'E', 0}), ""},
            ValueRow{"AsciiBackslashesKept", raw(2, 8, {'C', ':', '\\', 'D', '\\', '\\', 'x', 0}),
                     "C:\\D\\\\x"},
            ValueRow{"AsciiBackslashBeforeNul", raw(2, 6, {'A', '\\', 0, '\\', 'x', 0}), "A\\"},
            ValueRow{"AsciiBackslashInline", raw(2, 3, {'\\', 'n', 0}), "\\n"},
            ValueRow{"CountZero", raw(3, 0, {}), ""}),
        ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "Motorola" : "Intel");
    });

TEST(ExifValueTextDouble, ReadsBothByteOrders) {
  // 2.25 as an IEEE double, written out of line in each byte order.
  const uint8_t big[] = {0x40, 0x02, 0, 0, 0, 0, 0, 0};
  for (bool motorola : {false, true}) {
    std::vector<uint8_t> bytes(big, big + 8);
    if (!motorola) std::reverse(bytes.begin(), bytes.end());
    std::vector<TestDirectory> dirs(1);
    dirs[0].entries = {raw(12, 1, bytes)};
    const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(motorola).build(dirs));
    ExifInfo exif;
    ASSERT_TRUE(exif.parse(file.data(), file.size()));
    std::string out;
    const ExifDirectories read = exif.readDirectories();
    ASSERT_EQ(read.mainChain.size(), 1u);
    ASSERT_TRUE(exif.valueText(read.mainChain[0].entries[0], motorola, out));
    EXPECT_EQ(out, "2.250000") << (motorola ? "Motorola" : "Intel");
  }
}

TEST(ExifValueTextLimits, CutToCallersCapacity) {
  const std::string longMake(300, 'M');
  std::vector<TestDirectory> dirs(1);
  dirs[0].entries = {asciiEntry(kTagMake, longMake),
                     asciiEntry(kTagDateTime, std::string(60, '9'))};
  const std::vector<uint8_t> file = TiffWriter::inJpeg(TiffWriter(false).build(dirs));
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  std::string out;
  ASSERT_TRUE(exif.mainChainText(kTagMake, out));
  EXPECT_EQ(out, std::string(kExifTextCapacity, 'M'));
  ASSERT_TRUE(exif.shotDateText(out, 49));
  EXPECT_EQ(out.size(), 49u);
}

TEST(ExifValueTextLimits, RefusesBadTypeAndAbsentData) {
  const std::vector<uint8_t> file = TiffWriter::inJpeg(makeOnlyTiff());
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  IfdEntry entry = *exif.findInMainChain(kTagMake);
  std::string out = "不明";
  entry.type = 13;
  EXPECT_FALSE(exif.valueText(entry, false, out));
  entry = *exif.findInMainChain(kTagMake);
  entry.dataOffset = file.size() - 2;  // an entry from elsewhere must not read past the end
  EXPECT_FALSE(exif.valueText(entry, false, out));
  EXPECT_EQ(out, "不明");
}

TEST(ExifInfoClear, ForgetsEverything) {
  const std::vector<uint8_t> file = cameraFile(true, "Canon");
  ExifInfo exif;
  ASSERT_TRUE(exif.parse(file.data(), file.size()));
  exif.clear();
  EXPECT_FALSE(exif.hasExif());
  EXPECT_FALSE(exif.isMotorola());
  EXPECT_FALSE(exif.hasGps());
  EXPECT_EQ(exif.findInMainChain(kTagMake), nullptr);
  EXPECT_EQ(exif.findInExifIfd(kTagDateTimeOriginal), nullptr);
  EXPECT_EQ(exif.bytes(), nullptr);
}

}  // namespace
}  // namespace kestrix
