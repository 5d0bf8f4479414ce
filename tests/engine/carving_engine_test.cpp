#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/carving_engine.h"
#include "engine/plugin_info.h"
#include "engine/scan_engine.h"
#include "engine/test_blocks.h"

namespace kestrix {
namespace {

using test::Block;

struct Hit {
  uint64_t result;
  uint64_t size;
};

Hit findNext(ScanEngine& engine, uint64_t position, const char* extension) {
  uint64_t size = 0;
  const uint64_t result = engine.FindNext(lowHalf(position), highHalf(position), &size, extension);
  return {result, size};
}

void attach(ScanEngine& engine, const Block& block, const char* extension, int32_t mode) {
  engine.Attach(block.data(), lowHalf(block.size()), highHalf(block.size()), extension, mode);
}

// ---------------------------------------------------------------------------
// FindNext from a position: the carving rules, each row one situation.

struct FindNextCase {
  const char* name;
  std::function<Block()> block;
  const char* extension;
  int32_t mode;
  uint64_t position;
  uint64_t result;
  uint64_t size;
};

std::vector<FindNextCase> findNextCases() {
  return {
      {"Mode256ThumbnailAbsorbedIntoPicture",
       [] {
         Block b(250000);
         b.put(100, test::SoiApp1).put(200, test::SoiDqt).put(5000, test::Eoi);
         b.put(90000, test::Eoi).put(200000, test::SoiApp0).put(210000, test::Eoi);
         return b;
       },
       "jpg", ScanModeNormal, 0, 90002, 89902},
      {"Mode256AtMostTwoEmbeddedEndsAbsorbed",
       [] {
         Block b(20000);
         b.put(100, test::SoiApp1).put(1000, test::Eoi).put(2000, test::Eoi);
         b.put(3000, test::Eoi).put(4000, test::Eoi);
         return b;
       },
       "jpg", ScanModeNormal, 0, 3002, 2902},
      {"Mode256BrokenStartDropped",
       [] {
         Block b(20000);
         b.put(1000, test::SoiApp0).put(5000, test::SoiApp0).put(9000, test::Eoi);
         return b;
       },
       "jpg", ScanModeNormal, 0, 9002, 4002},
      {"Mode256SoiFollowedByDqtIsNoHeader",
       [] { return Block(100).put(10, test::SoiDqt).put(50, test::Eoi); }, "jpg", ScanModeNormal, 0,
       100 + 2 + 2, 3},
      {"Mode256SoiFollowedByComMarkerIsHeader",
       [] {
         return Block(100).put(10, {0xFF, 0xD8, 0xFF, 0xFE}).put(50, test::Eoi);
       },
       "jpg", ScanModeNormal, 0, 52, 42},
      {"Mode256LastFooterAtBlockEndNotOverAbsorbed",
       [] { return Block(100).put(10, test::SoiApp0).put(98, test::Eoi); }, "jpg", ScanModeNormal,
       0, 100, 90},
      {"Mode257ThumbnailTableOpensFirstHit",
       [] {
         Block b(100000);
         b.put(100, test::SoiApp1).put(200, test::SoiDqt).put(5000, test::Eoi);
         b.put(6000, test::Dqt).put(90000, test::Eoi);
         return b;
       },
       "jpg", ScanModeSplit, 0, 5002, 4800},
      {"Mode257PictureFoundFromItsTableInNextCall",
       [] {
         Block b(100000);
         b.put(100, test::SoiApp1).put(200, test::SoiDqt).put(5000, test::Eoi);
         b.put(6000, test::Dqt).put(90000, test::Eoi);
         return b;
       },
       "jpg", ScanModeSplit, 5002, 90002, 84002},
      {"Mode257TwoTableSegmentsFoundFromSecond",
       [] { return Block(2000).put(100, test::Dqt).put(170, test::Dqt).put(1000, test::Eoi); },
       "jpg", ScanModeSplit, 0, 1002, 832},
      {"Mode257NoAbsorption",
       [] { return Block(2000).put(100, test::Dqt).put(500, test::Eoi).put(700, test::Eoi); },
       "jpg", ScanModeSplit, 0, 502, 402},
      {"PngHit", [] { return Block(300).put(20, test::PngHeader).put(200, test::Iend); }, "png",
       259, 0, 204, 184},
      {"PngSecondHeaderOpensHit",
       [] {
         return Block(300).put(20, test::PngHeader).put(60, test::PngHeader).put(200, test::Iend);
       },
       ".png", 259, 0, 204, 144},
      {"MovSpansBothHeaders",
       [] { return Block(300).put(20, test::Pnot).put(60, test::Pnot).put(200, test::Udta); },
       "mov", 260, 0, 204, 184},
      {"NoHeaderAnywhere", [] { return Block(100).put(50, test::Eoi); }, "jpg", ScanModeNormal, 0,
       100 + 2 + 2, 3},
      {"HeaderInLastBytesWithoutFooter", [] { return Block(100).put(95, test::SoiApp0); }, "jpg",
       ScanModeNormal, 0, 100 + 2, 7},
      {"FurtherHeadersWithoutFooter",
       [] { return Block(100).put(10, test::PngHeader).put(40, test::PngHeader); }, "png", 259, 0,
       100 + 1 + 4, 100 + 1 + 4 - 40},
      {"UnknownTypeHitOfOneByteAtPosition", [] { return Block(100); }, "xyz", ScanModeNormal, 37,
       38, 1},
      {"EmptyTextChoosesJpeg", [] { return Block(100).put(10, test::SoiApp0).put(50, test::Eoi); },
       "", ScanModeNormal, 0, 52, 42},
      // A header longer than the block counts as found at the start (no room
      // left to search), so the hit ends past the block and is never listed.
      {"EmptyBlock", [] { return Block(0); }, "jpg", ScanModeNormal, 0, 3, 3},
  };
}

// Rows print as their names in test listings.
void PrintTo(const FindNextCase& c, std::ostream* os) { *os << c.name; }

class FindNextTest : public testing::TestWithParam<FindNextCase> {};

TEST_P(FindNextTest, GivesHitEnd) {
  const FindNextCase& c = GetParam();
  const Block block = c.block();
  CarvingEngine engine;
  attach(engine, block, c.extension, c.mode);
  const Hit hit = findNext(engine, c.position, c.extension);
  EXPECT_EQ(hit.result, c.result);
  EXPECT_EQ(hit.size, c.size);
}

INSTANTIATE_TEST_SUITE_P(Carving, FindNextTest, testing::ValuesIn(findNextCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// FindPattern's contract at its limits.

struct FindPatternCase {
  const char* name;
  uint64_t position;
  std::vector<uint8_t> pattern;  // empty with nullPattern: null pointer
  bool nullPattern;
  int32_t length;
  uint64_t result;
};

void PrintTo(const FindPatternCase& c, std::ostream* os) { *os << c.name; }

class FindPatternTest : public testing::TestWithParam<FindPatternCase> {};

TEST_P(FindPatternTest, KeepsContract) {
  const FindPatternCase& c = GetParam();
  const Block block = Block(100).put(40, {0xAB, 0xCD, 0xEF}).put(97, {0xAB, 0xCD, 0xEF});
  CarvingEngine engine;
  attach(engine, block, "jpg", ScanModeNormal);
  const uint8_t* pattern = c.nullPattern ? nullptr : c.pattern.data();
  EXPECT_EQ(engine.FindPattern(lowHalf(c.position), highHalf(c.position), pattern, c.length),
            c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, FindPatternTest,
    testing::Values(
        FindPatternCase{"FirstMatch", 0, {0xAB, 0xCD, 0xEF}, false, 3, 40},
        FindPatternCase{"MatchInLastPossiblePlace", 41, {0xAB, 0xCD, 0xEF}, false, 3, 97},
        FindPatternCase{"StartAtLimitReturnsStart", 98, {0xAB, 0xCD, 0xEF}, false, 3, 98},
        FindPatternCase{"StartPastEndReturnsStart", 5000, {0xAB}, false, 1, 5000},
        FindPatternCase{"NoMatchGivesSizePlusOne", 0, {0xAB, 0xCD, 0x00}, false, 3, 101},
        FindPatternCase{"NullPatternReturnsStart", 7, {}, true, 3, 7},
        FindPatternCase{"ZeroLengthReturnsStart", 7, {0xAB}, false, 0, 7},
        FindPatternCase{"NegativeLengthReturnsStart", 7, {0xAB}, false, -5, 7},
        FindPatternCase{"PatternLongerThanBlockReturnsStart", 0, std::vector<uint8_t>(200, 0x11),
                        false, 200, 0},
        FindPatternCase{
            "PositionAboveFourGigabytes", uint64_t{1} << 32, {0xAB}, false, 1, uint64_t{1} << 32}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindPatternTest, IsExactEvenInMode256) {
  const Block block = Block(100).put(10, {0xFF, 0xD8, 0xFF, 0xE1});
  CarvingEngine engine;
  attach(engine, block, "jpg", ScanModeNormal);
  const uint8_t header[] = {0xFF, 0xD8, 0xFF, 0xE0};
  EXPECT_EQ(engine.FindPattern(0, 0, header, 4), 101u);
}

// ---------------------------------------------------------------------------
// Extraction completions, including the cuts at both ends of the block.

struct ExtractCase {
  const char* name;
  std::function<Block()> block;
  const char* attachExtension;
  int32_t mode;
  const char* extension;
  uint64_t start;
  uint64_t size;
  bool isNull;
  uint64_t sizeAfter;
  uint64_t copiedFrom;  // offset of the block's first copied byte
  bool startOfImagePrefix;
};

std::vector<ExtractCase> extractCases() {
  const auto png = [] { return Block(300).put(20, test::PngHeader).put(200, test::Iend); };
  const auto mov = [] {
    return Block(300).put(20, test::Pnot).put(196, {0, 0, 0, 16}).put(200, test::Udta);
  };
  return {
      {"JpegFromSoiPlainCopy", [] { return Block(100).put(10, test::SoiApp0); }, "jpg",
       ScanModeNormal, ".jpg", 10, 50, false, 50, 10, false},
      {"JpegFromTableGetsSoi", [] { return Block(100).put(10, test::Dqt); }, "jpg", ScanModeSplit,
       ".jpg", 10, 50, false, 52, 10, true},
      {"PngGetsCrc", png, "png", 259, ".png", 20, 184, false, 188, 20, false},
      {"PngWithoutIendPlain", png, "png", 259, ".png", 20, 150, false, 150, 20, false},
      {"PngCrcCutAtBlockEnd", [] { return Block(100).put(0, test::PngHeader).put(94, test::Iend); },
       "png", 259, ".png", 0, 98, false, 100, 0, false},
      {"PngIendAtVeryEnd", [] { return Block(100).put(0, test::PngHeader).put(96, test::Iend); },
       "png", 259, ".png", 0, 100, false, 100, 0, false},
      {"MovSizeFieldAndUdtaBody", mov, "mov", 260, ".mov", 20, 184, false, 196, 16, false},
      {"MovMoveBackCutAtBlockStart",
       [] { return Block(100).put(2, test::Pnot).put(60, test::Udta); }, "mov", 260, ".mov", 2, 10,
       false, 12, 0, false},
      {"MovUdtaBodyCutAtBlockEnd",
       [] {
         return Block(100).put(20, test::Pnot).put(88, {0, 0, 1, 0}).put(92, test::Udta);
       },
       "mov", 260, ".mov", 20, 76, false, 84, 16, false},
      {"MovUdtaSizeBelowAtomHeaderIgnored",
       [] {
         return Block(100).put(20, test::Pnot).put(88, {0, 0, 0, 3}).put(92, test::Udta);
       },
       "mov", 260, ".mov", 20, 76, false, 80, 16, false},
      {"MovUdtaAloneAtBlockStart", [] { return Block(100).put(0, test::Udta); }, "mov", 260, ".mov",
       0, 4, false, 4, 0, false},
      {"RangePastEndIsCut", [] { return Block(100); }, "jpg", ScanModeNormal, "", 90, 50, false, 10,
       90, false},
      {"StartPastEndRefused", [] { return Block(100); }, "jpg", ScanModeNormal, ".jpg", 100, 5,
       true, 5, 0, false},
      {"ZeroSizeRefused", [] { return Block(100); }, "jpg", ScanModeNormal, ".png", 10, 0, true, 0,
       0, false},
      {"OtherTextPlainCopy", [] { return Block(100).put(10, test::Dqt); }, "jpg", ScanModeSplit,
       ".bmp", 10, 20, false, 20, 10, false},
  };
}

void PrintTo(const ExtractCase& c, std::ostream* os) { *os << c.name; }

class ExtractTest : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractTest, CopiesAndCompletes) {
  const ExtractCase& c = GetParam();
  const Block block = c.block();
  CarvingEngine engine;
  attach(engine, block, c.attachExtension, c.mode);
  uint64_t start = c.start;
  uint64_t size = c.size;
  const uint8_t* copy = engine.Extract(&start, &size, c.extension);
  EXPECT_EQ(start, c.start);  // never moved for the caller
  EXPECT_EQ(size, c.sizeAfter);
  if (c.isNull) {
    EXPECT_EQ(copy, nullptr);
    return;
  }
  ASSERT_NE(copy, nullptr);
  const uint64_t prefix = c.startOfImagePrefix ? 2 : 0;
  if (c.startOfImagePrefix) {
    EXPECT_EQ(copy[0], 0xFF);
    EXPECT_EQ(copy[1], 0xD8);
  }
  EXPECT_EQ(std::memcmp(copy + prefix, block.data() + c.copiedFrom, size - prefix), 0);
  engine.FreeExtraction();
}

INSTANTIATE_TEST_SUITE_P(Completions, ExtractTest, testing::ValuesIn(extractCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExtractTest, Mode257HitsExtractWithStartOfImage) {
  Block block(100000);
  block.put(100, test::SoiApp1).put(200, test::SoiDqt).put(5000, test::Eoi);
  block.put(6000, test::Dqt).put(90000, test::Eoi);
  CarvingEngine engine;
  attach(engine, block, "jpg", ScanModeSplit);
  uint64_t size = 0;
  uint64_t result = engine.FindNext(0, 0, &size, "jpg");
  int hits = 0;
  while (result < block.size()) {
    uint64_t start = result - size;
    uint64_t length = size;
    const uint8_t* copy = engine.Extract(&start, &length, ".jpg");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(length, size + 2);
    EXPECT_EQ(copy[0], 0xFF);
    EXPECT_EQ(copy[1], 0xD8);
    EXPECT_EQ(copy[2], 0xFF);
    EXPECT_EQ(copy[3], 0xDB);
    engine.FreeExtraction();
    ++hits;
    result = engine.FindNext(lowHalf(result), highHalf(result), &size, "jpg");
  }
  EXPECT_EQ(hits, 2);
}

// Run under LeakSanitizer: each case leaks an extraction block if the engine
// loses track of one.
TEST(ExtractionLifetimeTest, EveryBlockReleased) {
  const Block block = Block(100).put(10, test::Dqt);
  CarvingEngine engine;
  attach(engine, block, "jpg", ScanModeSplit);
  engine.FreeExtraction();  // none yet: nothing happens
  uint64_t start = 10;
  uint64_t size = 20;
  ASSERT_NE(engine.Extract(&start, &size, ".jpg"), nullptr);
  size = 20;
  ASSERT_NE(engine.Extract(&start, &size, ".jpg"), nullptr);  // releases the first
  attach(engine, block, ".jpg", ScanModeNormal);              // keeps owning the second
  engine.FreeExtraction();
  engine.FreeExtraction();
  size = 20;
  ASSERT_NE(engine.Extract(&start, &size, ".jpg"), nullptr);
  attach(engine, block, ".jpg", ScanModeNormal);  // destruction releases it
}

TEST(ExtractTest, NoBlockBoundGivesNull) {
  CarvingEngine engine;
  uint64_t start = 0;
  uint64_t size = 8;
  EXPECT_EQ(engine.Extract(&start, &size, ".mov"), nullptr);
  EXPECT_EQ(engine.Extract(&start, &size, ".jpg"), nullptr);
  engine.Attach(nullptr, 100, 0, ".jpg", ScanModeNormal);
  EXPECT_EQ(engine.Extract(&start, &size, ".jpg"), nullptr);
  EXPECT_EQ(findNext(engine, 0, nullptr).result, 3u);  // a null block is an empty one
}

// ---------------------------------------------------------------------------
// Interface operations.

// Exposes the signature buffers, which have no accessor in the interface.
class InspectedEngine : public CarvingEngine {
 public:
  std::vector<uint8_t> header() const { return {header_, header_ + headerLength_}; }
  std::vector<uint8_t> footer() const { return {footer_, footer_ + footerLength_}; }
  bool buffersZeroBeyondLengths() const {
    for (int i = headerLength_; i < SignatureCapacity; ++i) {
      if (header_[i] != 0) return false;
    }
    for (int i = footerLength_; i < SignatureCapacity; ++i) {
      if (footer_[i] != 0) return false;
    }
    return true;
  }
  std::string extension() const { return extension_; }
};

struct SelectTypeCase {
  const char* name;
  const char* extension;
  int32_t mode;
  std::vector<uint8_t> header;
  std::vector<uint8_t> footer;
  int32_t result;
};

void PrintTo(const SelectTypeCase& c, std::ostream* os) { *os << c.name; }

class SelectTypeTest : public testing::TestWithParam<SelectTypeCase> {};

TEST_P(SelectTypeTest, SetsSignatures) {
  const SelectTypeCase& c = GetParam();
  const Block block(10);
  InspectedEngine engine;
  attach(engine, block, ".mov", ScanModeNormal);  // leaves long signatures behind
  engine.SetMode(c.mode);
  EXPECT_EQ(engine.SelectType(c.extension), c.result);
  EXPECT_EQ(engine.header(), c.header);
  EXPECT_EQ(engine.footer(), c.footer);
  EXPECT_TRUE(engine.buffersZeroBeyondLengths());
}

INSTANTIATE_TEST_SUITE_P(
    Types, SelectTypeTest,
    testing::Values(
        SelectTypeCase{"JpegMode256", "jpg", 256, {0xFF, 0xD8, 0xFF, 0xE0}, {0xFF, 0xD9}, 0},
        SelectTypeCase{"JpegMode257", ".jpg", 257, {0xFF, 0xDB}, {0xFF, 0xD9}, 0},
        SelectTypeCase{"JpegOtherModeLikeSplit", "jpg", 1, {0xFF, 0xDB}, {0xFF, 0xD9}, 0},
        SelectTypeCase{"Png", "png", 259, {0x89, 'P', 'N', 'G'}, {'I', 'E', 'N', 'D'}, 0},
        SelectTypeCase{"Mov", ".mov", 260, {'p', 'n', 'o', 't'}, {'u', 'd', 't', 'a'}, 0},
        SelectTypeCase{"Unknown", "xyz", 256, {}, {}, -1},
        SelectTypeCase{"Null", nullptr, 256, {}, {}, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SelectTypeTest, AttachOrdersModeBeforeType) {
  const Block block(10);
  InspectedEngine engine;
  attach(engine, block, "jpg", ScanModeSplit);
  EXPECT_EQ(engine.GetMode(), ScanModeSplit);
  EXPECT_EQ(engine.header(), (std::vector<uint8_t>{0xFF, 0xDB}));
  attach(engine, block, "jpg", ScanModeNormal);
  EXPECT_EQ(engine.header(), (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0}));
}

TEST(SelectTypeTest, LongTextCutToElevenCharacters) {
  InspectedEngine engine;
  engine.SelectType("abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(engine.extension(), "abcdefghijk");
}

TEST(InterfaceTest, IsCompatibleOnlyWithZeroAndOwnVersion) {
  CarvingEngine engine;
  EXPECT_EQ(engine.IsCompatible(0), 1);
  EXPECT_EQ(engine.IsCompatible(65539), 1);
  EXPECT_EQ(engine.IsCompatible(65538), 0);
  EXPECT_EQ(engine.IsCompatible(-1), 0);
}

TEST(InterfaceTest, SupportsBySubstring) {
  CarvingEngine engine;
  EXPECT_EQ(engine.Supports("jpg"), 1);
  EXPECT_EQ(engine.Supports(".jpg"), 1);
  EXPECT_EQ(engine.Supports(".mov"), 1);
  EXPECT_EQ(engine.Supports(""), 1);
  EXPECT_EQ(engine.Supports("bmp"), 0);
  EXPECT_EQ(engine.Supports(nullptr), 0);
  EXPECT_EQ(engine.ListContains(nullptr, "jpg"), 0);
}

TEST(InterfaceTest, EnginesShareOneRecord) {
  CarvingEngine first;
  CarvingEngine second;
  EXPECT_EQ(first.GetInfo(), second.GetInfo());
  EXPECT_STREQ(first.GetInfo()->extensions, ".jpg;.png;.mov;.mp4");
}

// ---------------------------------------------------------------------------
// The generic scanner, with signatures that the shipped types never use.

class OverlappingScanner : public SignatureScanner {
 public:
  int32_t SelectType(const char* extension) override {
    SignatureScanner::SelectType(extension);
    // Header "AB" and footer "A" match at one and the same place.
    header_[0] = 'A';
    header_[1] = 'B';
    headerLength_ = 2;
    footer_[0] = 'A';
    footerLength_ = 1;
    return 0;
  }
};

TEST(SignatureScannerTest, HeaderAndFooterAtOnePlaceEndTheHit) {
  const Block block = Block(100).put(10, {'A', 'B'}).put(40, {'A', 'B'});
  OverlappingScanner scanner;
  attach(scanner, block, "x", ScanModeNormal);
  const Hit hit = findNext(scanner, 0, "x");
  EXPECT_EQ(hit.result, 41u);  // F = H2 = 40: the hit ends with the footer there
  EXPECT_EQ(hit.size, 31u);
}

TEST(SignatureScannerTest, SetsNoSignatureAndCopiesPlain) {
  const Block block = Block(100).put(10, test::Dqt);
  SignatureScanner scanner;
  attach(scanner, block, "jpg", ScanModeNormal);
  EXPECT_EQ(findNext(scanner, 5, nullptr).result, 6u);
  uint64_t start = 10;
  uint64_t size = 4;
  const uint8_t* copy = scanner.Extract(&start, &size, ".jpg");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(copy[0], 0xFF);
  EXPECT_EQ(copy[1], 0xDB);
}

}  // namespace
}  // namespace kestrix
