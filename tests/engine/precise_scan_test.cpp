// The precise scan modes (261, 262): every file of a corpus made with the
// real tools found exactly and nothing else, the structure rules one by one,
// shift invariance, the ran-out-of-data contract at many cut lengths, and
// the engine against the plain model of tests/engine/precise_reference.h.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/carving_engine.h"
#include "engine/precise_corpus.h"
#include "engine/precise_reference.h"
#include "engine/scan_engine.h"

namespace kestrix {
namespace {

using test::ByteRange;
using test::FileKind;
using Bytes = std::vector<uint8_t>;

}  // namespace
}  // namespace kestrix

namespace kestrix::test {
void PrintTo(const ByteRange& r, std::ostream* os) {
  *os << "[" << r.start << "," << r.end() << ")";
}
}  // namespace kestrix::test

namespace kestrix {
namespace {

constexpr FileKind AllKinds[] = {FileKind::Jpeg, FileKind::Png, FileKind::Mov, FileKind::Mp4};

// Whether the scan layer searches again from inside a find (its start + 1):
// for JPEGs in both modes, for everything in the split mode.
bool fromInside(FileKind kind, int32_t mode) {
  return mode == ScanModePreciseSplit || kind == FileKind::Jpeg;
}

// Scans the block for one kind the way the scan layer does: from 0, then
// from inside each find (fromInside) or from its end, until no find is
// left; `noFind` receives the result of that last call (the block size, or
// where to search again with more bytes).
std::vector<ByteRange> scan(const Bytes& block, FileKind kind, int32_t mode,
                            uint64_t* noFind = nullptr) {
  CarvingEngine engine;
  const char* extension = test::extensionOf(kind);
  engine.Attach(block.data(), lowHalf(block.size()), highHalf(block.size()), extension, mode);
  std::vector<ByteRange> finds;
  uint64_t position = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    uint64_t size = 0;
    const uint64_t result =
        engine.FindNext(lowHalf(position), highHalf(position), &size, extension);
    if (size == 0) {
      EXPECT_LE(result, block.size());
      EXPECT_GE(result, position);
      if (noFind != nullptr) *noFind = result;
      break;
    }
    EXPECT_LE(result, block.size());
    EXPECT_GE(result, size);
    const ByteRange find{result - size, size};
    if (!finds.empty()) {
      EXPECT_GT(find.start, finds.back().start) << "finds out of order";
    }
    EXPECT_GE(find.start, position);
    finds.push_back(find);
    position = fromInside(kind, mode) ? find.start + 1 : result;
  }
  return finds;
}

bool inside(const ByteRange& inner, const ByteRange& outer) {
  return inner.start >= outer.start && inner.end() <= outer.end() && !(inner == outer);
}

// What the scan layer lists in mode 261: a JPEG inside a PNG or movie find is dropped.
std::vector<ByteRange> listed(const Bytes& block, FileKind kind) {
  std::vector<ByteRange> finds = scan(block, kind, ScanModePrecise);
  if (kind != FileKind::Jpeg) return finds;
  std::vector<ByteRange> holders;
  for (FileKind other : {FileKind::Png, FileKind::Mov, FileKind::Mp4}) {
    for (const ByteRange& r : scan(block, other, ScanModePrecise)) holders.push_back(r);
  }
  std::erase_if(finds, [&](const ByteRange& f) {
    return std::any_of(holders.begin(), holders.end(),
                       [&](const ByteRange& h) { return inside(f, h); });
  });
  return finds;
}

std::vector<ByteRange> placed(const test::CardImage& card, FileKind kind) {
  std::vector<ByteRange> out;
  for (const test::PlacedFile& f : card.files) {
    if (f.file->kind == kind) out.push_back(f.range);
  }
  return out;
}

std::string describe(const std::vector<ByteRange>& ranges) {
  std::string s;
  for (const ByteRange& r : ranges)
    s += "[" + std::to_string(r.start) + "," + std::to_string(r.end()) + ") ";
  return s;
}

#define NEED_CORPUS(corpus)                                                   \
  std::string missing;                                                        \
  const std::vector<test::CorpusFile>* corpus = test::preciseCorpus(missing); \
  if (corpus == nullptr) GTEST_SKIP() << missing

// ---------------------------------------------------------------------------
// The corpus on a card: each file found exactly, and nothing else.

struct LayoutCase {
  const char* name;
  test::LayoutOptions options;
};

class CorpusLayoutTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(CorpusLayoutTest, EveryFileFoundExactlyAndNothingElse) {
  NEED_CORPUS(corpus);
  const test::CardImage card = test::layOut(*corpus, GetParam().options);
  for (FileKind kind : AllKinds) {
    const std::vector<ByteRange> want = placed(card, kind);
    EXPECT_EQ(listed(card.bytes, kind), want)
        << test::extensionOf(kind) << ": got " << describe(listed(card.bytes, kind)) << " want "
        << describe(want);
  }
}

TEST_P(CorpusLayoutTest, SplitModeListsEmbeddedJpegsWholeAsWell) {
  NEED_CORPUS(corpus);
  const test::CardImage card = test::layOut(*corpus, GetParam().options);
  for (FileKind kind : {FileKind::Png, FileKind::Mov, FileKind::Mp4}) {
    EXPECT_EQ(scan(card.bytes, kind, ScanModePreciseSplit), placed(card, kind))
        << test::extensionOf(kind);
  }
  const std::vector<ByteRange> finds = scan(card.bytes, FileKind::Jpeg, ScanModePreciseSplit);
  auto found = [&](const ByteRange& r) {
    return std::find(finds.begin(), finds.end(), r) != finds.end();
  };
  for (const test::PlacedFile& f : card.files) {
    if (f.file->kind == FileKind::Jpeg) {
      EXPECT_TRUE(found(f.range)) << f.file->name;
    }
    for (const ByteRange& e : f.file->embeddedJpegs) {
      EXPECT_TRUE(found({f.range.start + e.start, e.size})) << "embedded JPEG of " << f.file->name;
    }
  }
  // Every other find is a whole JPEG inside a file of the card (thumbnails,
  // Motion-JPEG frames), from its SOI to its EOI.
  for (const ByteRange& r : finds) {
    const bool ofCard =
        std::any_of(card.files.begin(), card.files.end(),
                    [&](const test::PlacedFile& f) { return r == f.range || inside(r, f.range); });
    EXPECT_TRUE(ofCard) << "find " << describe({r}) << " is no file of the card";
    EXPECT_EQ(card.bytes[r.start + 1], 0xD8);
    EXPECT_EQ(card.bytes[r.end() - 2], 0xFF);
    EXPECT_EQ(card.bytes[r.end() - 1], 0xD9);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CorpusLayoutTest,
    testing::Values(LayoutCase{"OldDataBetweenFiles", {.seed = 1, .oldData = true}},
                    LayoutCase{"OldDataOtherOrder", {.seed = 2, .oldData = true}},
                    LayoutCase{"BackToBackWithoutGaps", {.seed = 3, .oldData = false}},
                    LayoutCase{"BackToBackFlushWithTheEnd",
                               {.seed = 4, .oldData = false, .endFlush = true}},
                    LayoutCase{"OddLeadingFiller", {.seed = 5, .oldData = true, .leading = 4095}}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// Each corpus file alone, flush with the end of the block after old data.
TEST(CorpusFileTest, EachFileFlushWithTheEndIsFoundWhole) {
  NEED_CORPUS(corpus);
  for (const test::CorpusFile& file : *corpus) {
    Bytes block = test::oldData(777, 9);
    block.insert(block.end(), file.bytes.begin(), file.bytes.end());
    const std::vector<ByteRange> want = {{777, file.bytes.size()}};
    EXPECT_EQ(listed(block, file.kind), want) << file.name;
    for (FileKind other : AllKinds) {
      if (other != file.kind && !(other == FileKind::Jpeg && file.name == "mov_motion_jpeg")) {
        EXPECT_TRUE(listed(block, other).empty())
            << file.name << " as " << test::extensionOf(other);
      }
    }
  }
}

// Shift invariance: every find moves by exactly the shift.
TEST(CorpusShiftTest, OddShiftsMoveEveryFindByTheShift) {
  NEED_CORPUS(corpus);
  const test::CardImage card = test::layOut(*corpus, {.seed = 11, .oldData = true});
  for (uint64_t shift : {1u, 3u, 7u, 513u}) {
    Bytes shifted(shift, 0x11);
    shifted.insert(shifted.end(), card.bytes.begin(), card.bytes.end());
    for (FileKind kind : AllKinds) {
      for (int32_t mode : {ScanModePrecise, ScanModePreciseSplit}) {
        std::vector<ByteRange> want = scan(card.bytes, kind, mode);
        for (ByteRange& r : want) r.start += shift;
        EXPECT_EQ(scan(shifted, kind, mode), want)
            << "shift " << shift << " " << test::extensionOf(kind);
      }
    }
  }
}

// The same card cut at many lengths: each find of the cut block is the
// whole block's find, or (the last one) ends exactly at the cut.
TEST(CorpusCutTest, FindsOfACutBlockAreWholeOrEndAtTheCut) {
  NEED_CORPUS(corpus);
  const test::CardImage card = test::layOut(*corpus, {.seed = 21, .oldData = true});
  std::vector<uint64_t> cuts;
  for (const test::PlacedFile& f : card.files) {
    for (int64_t d : {-17, -9, -8, -7, -2, -1, 0, 1, 2, 3, 4, 5, 8, 9, 12, 16, 17, 100}) {
      const int64_t at = static_cast<int64_t>(f.range.start) + d;
      if (at > 0 && at < static_cast<int64_t>(card.bytes.size())) cuts.push_back(at);
      const int64_t end = static_cast<int64_t>(f.range.end()) + d;
      if (end > 0 && end < static_cast<int64_t>(card.bytes.size())) cuts.push_back(end);
    }
  }
  std::mt19937_64 random(5);
  for (int i = 0; i < 100; ++i) cuts.push_back(1 + random() % (card.bytes.size() - 1));
  for (FileKind kind : AllKinds) {
    const std::vector<ByteRange> whole = scan(card.bytes, kind, ScanModePrecise);
    for (uint64_t cut : cuts) {
      const Bytes block(card.bytes.begin(), card.bytes.begin() + static_cast<long>(cut));
      std::vector<ByteRange> part = scan(block, kind, ScanModePrecise);
      // A find that ran out of data is asked again with more bytes: what the
      // cut block gives after it (a thumbnail inside a cut photo) is moot.
      const auto ranOut = std::find_if(part.begin(), part.end(),
                                       [cut](const ByteRange& r) { return r.end() == cut; });
      if (ranOut != part.end()) part.erase(ranOut + 1, part.end());
      SCOPED_TRACE(std::string(test::extensionOf(kind)) + " cut at " + std::to_string(cut));
      size_t i = 0;
      for (; i < part.size(); ++i) {
        const bool last = i + 1 == part.size();
        if (last && part[i].end() == cut) break;  // ran out of data
        ASSERT_LT(i, whole.size());
        EXPECT_EQ(part[i], whole[i]);
      }
      if (i == part.size()) {
        // No ran-out find: what is missing starts within the signature reach of the cut.
        for (size_t j = part.size(); j < whole.size(); ++j) {
          if (whole[j].end() <= cut) {
            EXPECT_GT(whole[j].start + PreciseSignatureReach, cut)
                << "lost " << describe({whole[j]});
          }
        }
        if (part.size() < whole.size()) {
          EXPECT_GT(whole[part.size()].start + PreciseSignatureReach, cut);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The rules one by one, on hand-made bytes.

Bytes segment(uint8_t marker, Bytes payload) {
  Bytes out = {0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
               static_cast<uint8_t>(payload.size() + 2)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A tiny structurally complete JPEG: SOI, `first` segment (APPn with a
// name, DQT with one table, or COM), SOF0, SOS, data, EOI.
Bytes tinyJpeg(Bytes entropy, uint8_t first = 0xE0) {
  Bytes opening = {'K', 'x', 0, 0};
  if (first == 0xDB) opening = Bytes(65, 1), opening[0] = 0;
  if (first == 0xFE) opening = {1, 2, 3, 4};
  return cat({{0xFF, 0xD8},
              segment(first, opening),
              segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0}),
              segment(0xDA, {1, 1, 0, 0, 63, 0}),
              entropy,
              {0xFF, 0xD9}});
}

Bytes atom(const char* type, Bytes body) {
  Bytes out;
  const uint64_t size = body.size() + 8;
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A moov with its movie header (a version-0 mvhd: 108 bytes), then `tail`.
Bytes moov(Bytes tail) {
  Bytes header(100, 0);
  header[19] = 1;  // time scale
  return atom("moov", cat({atom("mvhd", header), tail}));
}
const uint64_t MoovSize = moov({3}).size();  // 8 + 108 + 1

Bytes fileType(const char* brand) {
  Bytes body(brand, brand + 4);
  body.insert(body.end(), {0, 0, 2, 0});
  body.insert(body.end(), brand, brand + 4);
  return atom("ftyp", body);
}

Bytes chunk(const char* type, Bytes data) {
  Bytes out;
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(data.size() >> (8 * i)));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uint32_t crc =
      static_cast<uint32_t>(crc32(0, out.data() + 4, static_cast<uInt>(4 + data.size())));
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  return out;
}

const Bytes PngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
Bytes tinyPng(Bytes extra = {}) {
  return cat({PngSignature, chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0}), extra,
              chunk("IDAT", {0x78, 0x9C, 0x63, 0, 0, 0, 1, 0, 1}), chunk("IEND", {})});
}

// A little-endian Multi-Picture file: SOI, APP2 "MPF" index listing the
// primary image (offset 0) and `appended` after the primary's EOI.
Bytes multiPicture(const Bytes& appended) {
  const uint64_t header = 10;  // SOI, FF E2, length, "MPF\0"
  const Bytes rest = cat({segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0}),
                          segment(0xDA, {1, 1, 0, 0, 63, 0}),
                          {7, 7, 0xFF, 0xD9}});
  const uint64_t primarySize = 2 + 4 + 62 + rest.size();
  auto le = [](Bytes& out, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  Bytes index = {'M', 'P', 'F', 0, 'I', 'I', 42, 0};
  le(index, 8, 4);                                                            // IFD offset
  le(index, 1, 2);                                                            // one tag
  le(index, 0xB002, 2), le(index, 7, 2), le(index, 32, 4), le(index, 26, 4);  // MPEntry
  le(index, 0, 4);                                                            // no next IFD
  le(index, 0x20030000, 4), le(index, primarySize, 4), le(index, 0, 4), le(index, 0, 4);
  le(index, 0x00020002, 4), le(index, appended.size(), 4), le(index, primarySize - header, 4),
      le(index, 0, 4);
  return cat({{0xFF, 0xD8}, segment(0xE2, index), rest, appended});
}

struct RuleCase {
  const char* name;
  std::function<Bytes()> block;
  FileKind kind;
  int32_t mode;
  std::vector<ByteRange> finds;
};

class RuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, FindsExactly) {
  const RuleCase& c = GetParam();
  EXPECT_EQ(scan(c.block(), c.kind, c.mode), c.finds) << describe(scan(c.block(), c.kind, c.mode));
}

const Bytes Filler(10, 0x11);
const uint64_t TinyJpegSize = tinyJpeg({}).size();  // 2 + 8 + 13 + 10 + 2 = 35

INSTANTIATE_TEST_SUITE_P(
    Rules, RuleTest,
    testing::Values(
        RuleCase{"JpegStartingWithDqt",
                 [] {
                   return cat({Filler, tinyJpeg({5}, 0xDB), Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{10, tinyJpeg({5}, 0xDB).size()}}},
        RuleCase{"StrayDqtWithoutATableIsNoFile",
                 [] {
                   return cat({Filler, {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x7F}, Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {}},
        RuleCase{"StrayApplicationSegmentWithoutANameIsNoFile",
                 [] {
                   return cat({Filler, {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 0x00}, Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {}},
        RuleCase{"JpegStartingWithComment",
                 [] {
                   return cat({Filler, tinyJpeg({5}, 0xFE)});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{10, TinyJpegSize + 1}}},
        RuleCase{"StraySoiBeforeNoSegmentIsNoFile",
                 [] {
                   return cat({Filler, {0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0x00}, Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {}},
        RuleCase{"JpegWithoutFrameHeaderIsNoFile",
                 [] {
                   return cat({{0xFF, 0xD8},
                               segment(0xE0, {1}),
                               segment(0xDA, {1, 1, 0, 0, 63, 0}),
                               {5, 5, 0xFF, 0xD9},
                               Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {}},
        RuleCase{"EndMarkerInsideApplicationSegmentIsData",
                 [] {
                   return cat({tinyJpeg({7}, 0xE0), Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{0, TinyJpegSize + 1}}},
        RuleCase{"StuffingRestartsAndZeroRunsStayInTheFile",
                 [] {
                   return cat(
                       {tinyJpeg(cat({{1, 0xFF, 0x00, 2, 0xFF, 0xD0, 3}, Bytes(600, 0), {4}})),
                        Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{0, TinyJpegSize + 7 + 600 + 1}}},
        RuleCase{"NewSoiInEntropyDataEndsTheFileBeforeIt",
                 [] {
                   Bytes first = tinyJpeg({1, 2, 3});
                   first.resize(first.size() - 2);  // EOI lost
                   return cat({first, tinyJpeg({9}), Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{0, TinyJpegSize + 1}, {TinyJpegSize + 1, TinyJpegSize + 1}}},
        RuleCase{"UndefinedMarkerInEntropyDataEndsTheFile",
                 [] {
                   return cat({Bytes{0x22}, tinyJpeg({1, 0xFF, 0x3A, 2}), Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{1, TinyJpegSize - 2 + 1}}},
        RuleCase{"JpegRunningOutOfDataEndsAtTheBlockEnd",
                 [] {
                   Bytes b = cat({Filler, tinyJpeg(Bytes(50, 3))});
                   b.resize(b.size() - 20);  // cut inside the entropy-coded data
                   return b;
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{10, TinyJpegSize + 50 - 20}}},
        RuleCase{"SplitModeFindsJpegInsideApplicationSegment",
                 [] {
                   return cat({{0xFF, 0xD8},
                               segment(0xE9, cat({{'K', 0}, tinyJpeg({4})})),
                               segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0}),
                               segment(0xDA, {1, 1, 0, 0, 63, 0}),
                               {6, 0xFF, 0xD9}});
                 },
                 FileKind::Jpeg,
                 ScanModePreciseSplit,
                 {{0, 2 + 4 + 2 + TinyJpegSize + 1 + 13 + 10 + 3}, {8, TinyJpegSize + 1}}},
        RuleCase{"MultiPictureIndexExtendsOverTheAppendedImage",
                 [] {
                   return cat({multiPicture(tinyJpeg({3})), Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{0, multiPicture(tinyJpeg({3})).size()}}},
        RuleCase{"MultiPictureEntryWithoutSoiExtendsNothing",
                 [] {
                   return cat({multiPicture(Bytes(40, 0x22)), Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePrecise,
                 {{0, multiPicture({}).size()}}},
        RuleCase{"SplitModeListsTheAppendedImageToo",
                 [] {
                   return cat({multiPicture(tinyJpeg({3})), Filler});
                 },
                 FileKind::Jpeg,
                 ScanModePreciseSplit,
                 {{0, multiPicture(tinyJpeg({3})).size()},
                  {multiPicture({}).size(), tinyJpeg({3}).size()}}},
        RuleCase{"PngWhole",
                 [] {
                   return cat({Filler, tinyPng(), Filler});
                 },
                 FileKind::Png,
                 ScanModePrecise,
                 {{10, tinyPng().size()}}},
        RuleCase{"PngIendInsideAnotherChunkIsData",
                 [] {
                   return cat({tinyPng(chunk("tEXt", {'a', 0, 'I', 'E', 'N', 'D'})), Filler});
                 },
                 FileKind::Png,
                 ScanModePrecise,
                 {{0, tinyPng(chunk("tEXt", {'a', 0, 'I', 'E', 'N', 'D'})).size()}}},
        RuleCase{"PngBadHeaderCrcIsNoFile",
                 [] {
                   Bytes b = cat({tinyPng(), Filler});
                   b[8 + 8 + 13] ^= 1;
                   return b;
                 },
                 FileKind::Png,
                 ScanModePrecise,
                 {}},
        RuleCase{"PngBadChunkCrcEndsTheFileBeforeIt",
                 [] {
                   Bytes b = cat({tinyPng(), Filler});
                   b[33 + 8] ^= 1;
                   return b;
                 },
                 FileKind::Png,
                 ScanModePrecise,
                 {{0, 33}}},
        RuleCase{"MovWithFileTypeQt",
                 [] {
                   return cat({Filler, fileType("qt  "), atom("wide", {}), atom("mdat", {1, 2}),
                               moov({3}), Filler});
                 },
                 FileKind::Mov,
                 ScanModePrecise,
                 {{10, 20 + 8 + 10 + MoovSize}}},
        RuleCase{"Mp4IsNoMov",
                 [] {
                   return cat({Filler, fileType("isom"), moov({3}), atom("mdat", {1, 2}), Filler});
                 },
                 FileKind::Mov,
                 ScanModePrecise,
                 {}},
        RuleCase{"Mp4WithMoovFirst",
                 [] {
                   return cat({Filler, fileType("isom"), moov({3}), atom("free", {}),
                               atom("mdat", {1, 2}), Filler});
                 },
                 FileKind::Mp4,
                 ScanModePrecise,
                 {{10, 20 + MoovSize + 8 + 10}}},
        RuleCase{"MovWithoutFileType",
                 [] {
                   return cat({Filler, atom("mdat", {1, 2}), moov({3}), Filler});
                 },
                 FileKind::Mov,
                 ScanModePrecise,
                 {{10, 10 + MoovSize}}},
        RuleCase{"MovieWithoutMoovIsNoFile",
                 [] {
                   return cat({Filler, fileType("qt  "), atom("mdat", {1, 2}), Filler});
                 },
                 FileKind::Mov,
                 ScanModePrecise,
                 {}},
        RuleCase{"SixtyFourBitAtomSize",
                 [] {
                   Bytes big = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0,
                                0, 0, 0, 0, 0,   20,  1,   2,   3, 4};
                   return cat({fileType("isom"), big, moov({3}), Filler});
                 },
                 FileKind::Mp4,
                 ScanModePrecise,
                 {{0, 20 + 20 + MoovSize}}},
        RuleCase{"SixtyFourBitAtomSizeOfZeroIsNoFile",
                 [] {
                   Bytes zero = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
                   return cat({Filler, zero, Filler});
                 },
                 FileKind::Mov,
                 ScanModePreciseSplit,
                 {}},
        RuleCase{
            "AtomSizeZeroRunsToTheBlockEnd",
            [] {
              return cat({fileType("isom"), moov({3}), {0, 0, 0, 0, 'm', 'd', 'a', 't', 1, 2}});
            },
            FileKind::Mp4,
            ScanModePrecise,
            {{0, 20 + MoovSize + 10}}},
        RuleCase{"RepeatedMdatBeforeMoovBeginsTheNextFile",
                 [] {
                   return cat({atom("mdat", {1}), atom("mdat", {2}), moov({3}), Filler});
                 },
                 FileKind::Mov,
                 ScanModePrecise,
                 {{9, 9 + MoovSize}}},
        RuleCase{"TwoMoviesBackToBack",
                 [] {
                   return cat({fileType("qt  "), atom("mdat", {1}), moov({2}), atom("mdat", {3}),
                               moov({4})});
                 },
                 FileKind::Mov,
                 ScanModePrecise,
                 {{0, 29 + MoovSize}, {29 + MoovSize, 9 + MoovSize}}},
        RuleCase{"SplitModeNeverFindsAMovieInsideAMovie",
                 [] {
                   return cat(
                       {fileType("qt  "), moov({2}), atom("wide", {}), atom("mdat", {3}), Filler});
                 },
                 FileKind::Mov,
                 ScanModePreciseSplit,
                 {{0, 20 + MoovSize + 8 + 9}}}),
    [](const testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

// A movie of the other brand cut by the block end: the block cannot tell
// where it ends, and its inner atoms (here a whole movie of the wanted brand
// stored in its mdat) must never be searched from, so the answer is "no find,
// search again from the movie's start", and with the whole block the search
// passes the movie and finds the one after it.
struct CutMovieCase {
  const char* name;
  FileKind kind;       // the pass
  const char* other;   // the brand of the movie that is cut
  const char* wanted;  // a brand the pass finds
};

class CutMovieTest : public testing::TestWithParam<CutMovieCase> {};

TEST_P(CutMovieTest, NoFindPointsBackToTheCutMovie) {
  const CutMovieCase& c = GetParam();
  const Bytes inner = cat({fileType(c.wanted), moov({2}), atom("mdat", {1})});
  const Bytes hider = cat({fileType(c.other), moov({3}), atom("mdat", inner)});
  const Bytes after = cat({fileType(c.wanted), moov({4}), atom("mdat", {5})});
  const Bytes whole = cat({Filler, hider, Filler, after});
  const uint64_t hiderEnd = Filler.size() + hider.size();
  for (int32_t mode : {ScanModePrecise, ScanModePreciseSplit}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(scan(whole, c.kind, mode),
              (std::vector<ByteRange>{{hiderEnd + Filler.size(), after.size()}}));
    // Cuts inside the hiding movie's atoms, its inner movie and its last byte.
    for (uint64_t cut : {uint64_t{Filler.size() + 25}, hiderEnd - inner.size() + 5, hiderEnd - 1}) {
      const Bytes block(whole.begin(), whole.begin() + static_cast<long>(cut));
      uint64_t noFind = 0;
      EXPECT_EQ(scan(block, c.kind, mode, &noFind), std::vector<ByteRange>{}) << "cut " << cut;
      EXPECT_EQ(noFind, Filler.size()) << "cut " << cut;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    OtherBrand, CutMovieTest,
    testing::Values(CutMovieCase{"MovPassOverACutMp4", FileKind::Mov, "isom", "qt  "},
                    CutMovieCase{"Mp4PassOverACutMov", FileKind::Mp4, "qt  ", "mp42"}),
    [](const testing::TestParamInfo<CutMovieCase>& info) { return std::string(info.param.name); });

// The PNG signature search compares 32 or 16 positions at a time and the
// last ones one by one: a file at every offset across those strides, behind
// 0x89 filler and a near miss with the right first and last bytes, and
// blocks ending right after it, are found exactly.
TEST(PreciseModeTest, PngFoundAtEveryOffsetAcrossTheVectorStrides) {
  const Bytes nearMiss = {0x89, 'P', 'N', 'X', 0x0D, 0x0A, 0x1A, 0x0A};
  for (uint64_t offset = 0; offset < 80; ++offset) {
    for (uint64_t tail : {0, 1, 7, 8, 40}) {
      const Bytes block = cat({Bytes(offset, 0x89), nearMiss, tinyPng(), Bytes(tail, 0x0A)});
      EXPECT_EQ(scan(block, FileKind::Png, ScanModePrecise),
                (std::vector<ByteRange>{{offset + nearMiss.size(), tinyPng().size()}}))
          << "offset " << offset << " tail " << tail;
      // The signature alone runs out of data before the IHDR header is
      // whole; with eight bytes after it, that header is no IHDR.
      const Bytes cut = cat({Bytes(offset, 0x89), PngSignature, Bytes(tail, 0x0A)});
      const std::vector<ByteRange> ranOut = {{offset, PngSignature.size() + tail}};
      EXPECT_EQ(scan(cut, FileKind::Png, ScanModePrecise),
                tail < 8 ? ranOut : std::vector<ByteRange>{})
          << "offset " << offset << " tail " << tail;
    }
  }
}

// The movie search picks atom types by the low nibbles of their first and
// last letters: filler whose bytes share those nibbles (or set the high bit)
// is passed over, and a movie opening with each type is found at every
// offset across the 32- and 16-wide strides.
TEST(PreciseModeTest, MovieFoundAtEveryOffsetBehindLookAlikeBytes) {
  const Bytes lookAlike = {0x16, 0xE6, 0x7D,        0x5D,        0x60,
                           0x00, 0xF0, 0x65 ^ 0x10, 0x74 ^ 0x80, 0x07};
  const std::vector<Bytes> movies = {
      cat({fileType("qt  "), atom("mdat", {1}), moov({2})}), cat({moov({2}), atom("mdat", {1})}),
      cat({atom("mdat", {1}), moov({2})}), cat({atom("wide", {}), atom("mdat", {1}), moov({2})}),
      cat({atom("pnot", Bytes(12, 0)), moov({2}), atom("mdat", {1})})};
  for (size_t m = 0; m < movies.size(); ++m) {
    for (uint64_t offset = 0; offset < 72; ++offset) {
      Bytes block;
      while (block.size() < offset) block.push_back(lookAlike[block.size() % lookAlike.size()]);
      const Bytes whole = cat({block, movies[m], lookAlike});
      EXPECT_EQ(scan(whole, FileKind::Mov, ScanModePrecise),
                (std::vector<ByteRange>{{offset, movies[m].size()}}))
          << "movie " << m << " offset " << offset;
    }
  }
}

TEST(PreciseModeTest, ExtractCopiesTheFindAsItIs) {
  const Bytes block = cat({Filler, tinyJpeg({5}, 0xDB), Filler});
  CarvingEngine engine;
  engine.Attach(block.data(), static_cast<uint32_t>(block.size()), 0, ".jpg", ScanModePrecise);
  uint64_t start = 10;
  const uint64_t length = tinyJpeg({5}, 0xDB).size();
  uint64_t size = length;
  const uint8_t* copy = engine.Extract(&start, &size, ".jpg");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(size, length);
  EXPECT_EQ(Bytes(copy, copy + size),
            Bytes(block.begin() + 10, block.begin() + 10 + static_cast<long>(size)));
}

TEST(PreciseModeTest, SignatureModesFindNoMp4) {
  const Bytes block = cat({Filler, {'p', 'n', 'o', 't'}, Filler, {'u', 'd', 't', 'a'}, Filler});
  for (int32_t mode : {ScanModeNormal, ScanModeSplit, ScanModeMov}) {
    CarvingEngine engine;
    engine.Attach(block.data(), static_cast<uint32_t>(block.size()), 0, "mp4", mode);
    uint64_t size = 7;
    EXPECT_GT(engine.FindNext(0, 0, &size, "mp4"), block.size());
    EXPECT_EQ(size, 0u);
  }
}

// Hostile blocks are scanned to the end (the time is measured in bench/engine).
TEST(PreciseModeTest, HostileRepeatsEndTheScan) {
  const std::vector<Bytes> units = {{0xFF, 0xD8, 0xFF},
                                    {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0xFF, 0xD8},
                                    {0, 0, 0, 8, 'w', 'i', 'd', 'e'},
                                    {0, 0, 0, 16, 'f', 't', 'y', 'p'},
                                    PngSignature};
  for (const Bytes& unit : units) {
    Bytes block;
    while (block.size() < 200000) block.insert(block.end(), unit.begin(), unit.end());
    for (FileKind kind : AllKinds) {
      for (int32_t mode : {ScanModePrecise, ScanModePreciseSplit}) scan(block, kind, mode);
    }
  }
}

// ---------------------------------------------------------------------------
// The engine against the plain model, on blocks built from corpus pieces and
// hand-made files, mutated and cut.

Bytes mutatedBlock(std::mt19937_64& random, const std::vector<test::CorpusFile>* corpus) {
  std::vector<Bytes> pieces = {tinyJpeg({1, 2}),
                               tinyJpeg({0xFF, 0, 3}, 0xDB),
                               tinyPng(),
                               cat({fileType("qt  "), atom("mdat", {1}), moov({2})}),
                               cat({fileType("mp42"), moov({2}), atom("mdat", {1})}),
                               cat({atom("wide", {}), atom("mdat", {1}), moov({2})}),
                               // a 64-bit size of 0: damage, not "to the end"
                               {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0, 5, 6}};
  if (corpus != nullptr) {
    for (const test::CorpusFile& f : *corpus) {
      if (f.bytes.size() < 8000) pieces.push_back(f.bytes);
    }
  }
  Bytes block;
  const int count = 1 + static_cast<int>(random() % 5);
  for (int i = 0; i < count; ++i) {
    if (random() % 2) {
      const Bytes gap = test::oldData(random() % 300, random());
      block.insert(block.end(), gap.begin(), gap.end());
    }
    Bytes piece = pieces[random() % pieces.size()];
    const int flips = static_cast<int>(random() % 4);
    for (int k = 0; k < flips && !piece.empty(); ++k)
      piece[random() % piece.size()] = static_cast<uint8_t>(random());
    if (random() % 4 == 0 && !piece.empty()) piece.resize(random() % piece.size());
    block.insert(block.end(), piece.begin(), piece.end());
  }
  return block;
}

TEST(PreciseDifferentialTest, EngineAgreesWithPlainModel) {
  std::string missing;
  const std::vector<test::CorpusFile>* corpus = test::preciseCorpus(missing);  // optional here
  std::mt19937_64 random(77);
  const reference::PreciseReference::Kind kinds[] = {
      reference::PreciseReference::Jpeg, reference::PreciseReference::Png,
      reference::PreciseReference::Mov, reference::PreciseReference::Mp4};
  for (int round = 0; round < 400; ++round) {
    const Bytes block = mutatedBlock(random, corpus);
    for (int k = 0; k < 4; ++k) {
      for (int32_t mode : {ScanModePrecise, ScanModePreciseSplit}) {
        reference::PreciseReference model(block.data(), block.size());
        std::vector<ByteRange> want;
        uint64_t wantNoFind = 0;
        uint64_t p = 0;
        for (int guard = 0; guard < 100000; ++guard) {
          const reference::PreciseAnswer a =
              model.findNext(kinds[k], p, mode == ScanModePreciseSplit);
          if (a.size == 0) {
            wantNoFind = a.result;
            break;
          }
          want.push_back({a.result - a.size, a.size});
          p = fromInside(AllKinds[k], mode) ? a.result - a.size + 1 : a.result;
        }
        uint64_t noFind = 0;
        ASSERT_EQ(scan(block, AllKinds[k], mode, &noFind), want)
            << "round " << round << " " << test::extensionOf(AllKinds[k]) << " mode " << mode;
        ASSERT_EQ(noFind, wantNoFind)
            << "round " << round << " " << test::extensionOf(AllKinds[k]) << " mode " << mode;
      }
    }
  }
}

}  // namespace
}  // namespace kestrix
