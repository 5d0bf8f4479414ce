// Split photos back whole: cards built here from real JPEG fixtures (and
// photos made with convert and cjpeg for the challenge-like card), one
// photo split around a filler at sector or cluster boundaries, between whole
// photos. Every split photo must come back byte for byte from its pieces,
// every whole photo as one unchanged range, and nothing else be listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "core/candidate_check.h"
#include "core/fragment_joiner.h"
#include "engine/carving_engine.h"
#include "host/engine_set.h"
#include "tests/core/planted_card.h"

namespace kestrix::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes fixture(const std::string& name) {
  std::ifstream in(std::string(KESTRIX_TEST_DATA "/jpeg/") + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class Filler { Text, Random, Zeros, Photo, SectorEoi, SectorSoi, Office };

// A card being laid out in units (sectors or clusters) from `origin`.
class CardBuilder {
 public:
  CardBuilder(uint64_t unit, uint64_t origin, uint64_t seed) : unit_(unit), random_(seed) {
    if (origin != 0) bytes_ = bootSector(unit, origin);
    bytes_.resize(origin, 0);
  }

  // Old data up to the next unit boundary, as a cluster's slack holds.
  void pad() {
    while (bytes_.size() % unit_ != 0) bytes_.push_back(static_cast<uint8_t>(random_()));
  }
  uint64_t size() const { return bytes_.size(); }
  void add(const Bytes& part, size_t from = 0, size_t to = SIZE_MAX) {
    to = std::min(to, part.size());
    bytes_.insert(bytes_.end(), part.begin() + static_cast<long>(from),
                  part.begin() + static_cast<long>(to));
  }
  // A whole photo, padded: an expected file of the card.
  void photo(const std::string& name, const Bytes& bytes) {
    files_.push_back({name, size(), bytes});
    add(bytes);
    pad();
  }
  void filler(Filler kind, uint64_t units, const Bytes& other) {
    const uint64_t begin = size();
    switch (kind) {
      case Filler::Text: {
        static const char kText[] =
            "Minutes of the meeting, 3 April. Present: all. Budget approved.\r\n";
        while (size() < begin + units * unit_)
          bytes_.push_back(static_cast<uint8_t>(kText[size() % (sizeof kText - 1)]));
        break;
      }
      case Filler::Zeros: bytes_.resize(begin + units * unit_, 0); break;
      case Filler::Office: office(begin + units * unit_); break;
      case Filler::Photo: photo("filler.jpg", other); break;
      case Filler::Random:
      case Filler::SectorEoi:
      case Filler::SectorSoi:
        if (kind != Filler::Random)
          bytes_.insert(bytes_.end(),
                        {0xFF, kind == Filler::SectorEoi ? uint8_t{0xD9} : uint8_t{0xD8}});
        while (size() < begin + units * unit_) bytes_.push_back(static_cast<uint8_t>(random_()));
        break;
    }
  }
  PlantedCard card() {
    // Old data after the last file, so no find runs to the card's end.
    for (int i = 0; i < 4096; ++i) bytes_.push_back(static_cast<uint8_t>(random_()));
    PlantedCard card;
    card.bytes = bytes_;
    card.files = files_;
    return card;
  }
  void expect(const std::string& name, uint64_t start, const Bytes& bytes) {
    files_.push_back({name, start, bytes});
  }
  // Old data up to `size` bytes, then `part[from, to)` written at `at`.
  void put(uint64_t at, const Bytes& part, size_t from, size_t to) {
    while (bytes_.size() < at + (to - from)) bytes_.push_back(static_cast<uint8_t>(random_()));
    std::copy(part.begin() + static_cast<long>(from), part.begin() + static_cast<long>(to),
              bytes_.begin() + static_cast<long>(at));
  }

 private:
  // A FAT16 boot sector whose data area starts at `origin` with clusters
  // of `unit` bytes.
  static Bytes bootSector(uint64_t unit, uint64_t origin) {
    Bytes boot(512, 0);
    boot[0] = 0xEB, boot[1] = 0x3C, boot[2] = 0x90;
    std::memcpy(boot.data() + 3, "KESTRIX ", 8);
    boot[11] = 0x00, boot[12] = 0x02;             // 512 bytes a sector
    boot[13] = static_cast<uint8_t>(unit / 512);  // sectors a cluster
    boot[14] = 1;                                 // reserved sectors
    boot[16] = 2;                                 // FATs
    boot[17] = 0x00, boot[18] = 0x02;             // 512 root entries: 32 sectors
    const uint64_t fatSectors = (origin / 512 - 1 - 32) / 2;
    boot[22] = static_cast<uint8_t>(fatSectors), boot[23] = static_cast<uint8_t>(fatSectors >> 8);
    boot[510] = 0x55, boot[511] = 0xAA;
    return boot;
  }

  // An old Office document up to `end`: an OLE2 compound file's header
  // (signature, byte order FE FF, 512-byte sectors, the unused DIFAT
  // entries FF FF FF FF), a FAT sector, then binary records: small
  // little-endian numbers, runs of zeros and packed bytes.
  void office(uint64_t end) {
    const uint64_t begin = size();
    Bytes header(512, 0);
    const uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(signature), std::end(signature), header.begin());
    header[0x18] = 0x3E, header[0x1A] = 0x03, header[0x1C] = 0xFE, header[0x1D] = 0xFF,
    header[0x1E] = 0x09;
    header[0x20] = 0x06, header[0x2C] = 1, header[0x30] = 1, header[0x39] = 0x10;
    std::fill(header.begin() + 0x3C, header.end(), 0xFF);
    header[0x4C] = 0, header[0x4D] = 0, header[0x4E] = 0, header[0x4F] = 0;
    add(header);
    Bytes fat(512, 0xFF);
    const uint8_t chain[] = {0xFD, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 3,    0,
                             0,    0,    4,    0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF};
    std::copy(std::begin(chain), std::end(chain), fat.begin());
    add(fat);
    while (size() < end) {
      switch (random_() % 3) {
        case 0:
          for (int i = 0; i < 16; ++i)
            bytes_.push_back(static_cast<uint8_t>(random_() % 40)), bytes_.push_back(0);
          break;
        case 1: bytes_.insert(bytes_.end(), 24 + random_() % 64, 0); break;
        default:
          for (int i = 0; i < 48; ++i) bytes_.push_back(static_cast<uint8_t>(random_()));
          break;
      }
    }
    bytes_.resize(std::max(end, begin + 1024));
  }

  uint64_t unit_;
  std::mt19937_64 random_;
  Bytes bytes_;
  std::vector<PlantedCard::File> files_;
};

struct SplitCase {
  const char* name;
  const char* photo;
  Filler filler;
  uint64_t cutUnits;     // the first piece, in units
  uint64_t fillerUnits;  // units between the pieces
  uint64_t unit;         // 512: bare sectors; else clusters of a FAT16 volume
  bool joined;           // false: the photo must stay as it was listed
};

class SplitPhoto : public testing::TestWithParam<SplitCase> {};

// Whole photo, the split one around the filler, whole photo.
TEST_P(SplitPhoto, ComesBackWholeAndNothingElseChanges) {
  const SplitCase& c = GetParam();
  const Bytes split = fixture(c.photo);
  const Bytes before = fixture("cjpeg_600x400.jpg");
  const Bytes after = fixture("cjpeg_320x240_quality_60.jpg");
  const Bytes other = fixture("cjpeg_640x480_sample_2x1.jpg");
  ASSERT_FALSE(split.empty() || before.empty() || after.empty() || other.empty());
  const uint64_t cut = c.cutUnits * c.unit;
  ASSERT_LT(cut, split.size());
  CardBuilder builder(c.unit, c.unit == 512 ? 0 : 48 * 1024, 11);
  builder.photo("before.jpg", before);
  const uint64_t start = builder.size();
  builder.add(split, 0, cut);
  builder.filler(c.filler, c.fillerUnits, other);
  builder.add(split, cut);
  builder.pad();
  builder.photo("after.jpg", after);
  builder.expect("split.jpg", start, split);
  const PlantedCard card = builder.card();

  const Recovered got = recoverCheckedCard(card);
  for (size_t i = 0; i < card.files.size(); ++i) {
    const bool isSplit = card.files[i].name == "split.jpg";
    if (isSplit && !c.joined) {
      EXPECT_FALSE(got.whole[i]) << "joined blindly";
      continue;
    }
    EXPECT_TRUE(got.whole[i]) << card.files[i].name << " not back byte for byte";
    EXPECT_EQ(got.pieces[i], isSplit ? 2u : 0u) << card.files[i].name;
  }
  EXPECT_EQ(got.reassembledRows, c.joined ? 1u : 0u);
  // The split photo is one row, whether joined or not; the fillers list
  // nothing of their own.
  EXPECT_EQ(got.rows, card.files.size());
}

constexpr uint64_t kCluster = 4096;

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SplitPhoto,
    testing::Values(
        SplitCase{"BaselineText", "cjpeg_640x480.jpg", Filler::Text, 20, 16, 512, true},
        SplitCase{"BaselineRandom", "cjpeg_640x480.jpg", Filler::Random, 20, 5, 512, true},
        SplitCase{"BaselineZeros", "cjpeg_640x480.jpg", Filler::Zeros, 31, 3, 512, true},
        SplitCase{"BaselineAnotherPhoto", "cjpeg_640x480.jpg", Filler::Photo, 20, 0, 512, true},
        SplitCase{"BaselineSectorOfEoi", "cjpeg_640x480.jpg", Filler::SectorEoi, 40, 1, 512, true},
        SplitCase{"BaselineSectorOfSoi", "cjpeg_640x480.jpg", Filler::SectorSoi, 40, 1, 512, true},
        SplitCase{"OptimisedRandom", "cjpeg_640x480_optimize.jpg", Filler::Random, 33, 7, 512,
                  true},
        SplitCase{"RestartText", "cjpeg_640x480_restart_1.jpg", Filler::Text, 50, 2, 512, true},
        SplitCase{"RestartAnotherPhoto", "cjpeg_640x480_restart_1.jpg", Filler::Photo, 12, 0, 512,
                  true},
        SplitCase{"GreyscaleRandom", "cjpeg_640x480_grayscale.jpg", Filler::Random, 25, 4, 512,
                  true},
        SplitCase{"Sampling422Zeros", "cjpeg_640x480_sample_2x1.jpg", Filler::Zeros, 44, 2, 512,
                  true},
        SplitCase{"Sampling444Text", "cjpeg_640x480_sample_1x1.jpg", Filler::Text, 70, 3, 512,
                  true},
        SplitCase{"ClusterRandom", "cjpeg_640x480.jpg", Filler::Random, 4, 2, kCluster, true},
        SplitCase{"ClusterAnotherPhoto", "cjpeg_640x480_sample_1x1.jpg", Filler::Photo, 6, 0,
                  kCluster, true},
        SplitCase{"ClusterSectorOfEoi", "cjpeg_640x480_optimize.jpg", Filler::SectorEoi, 3, 1,
                  kCluster, true},
        // In a progressive photo's first scan the seam shows in the DC
        // picture, which every later scan then decodes over.
        SplitCase{"ProgressiveFirstScan", "cjpeg_640x480_progressive.jpg", Filler::Random, 6, 3,
                  512, true},
        // Past the first scan a progressive photo's seam changes no DC
        // value: nothing shows it is right, so it stays as it was.
        SplitCase{"ProgressiveLaterScanStays", "cjpeg_640x480_progressive.jpg", Filler::Random, 40,
                  3, 512, false}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

struct PiecesCase {
  const char* name;
  const char* photo;
  std::vector<uint64_t> cuts;   // where each piece after the first begins, in units of the photo
  std::vector<Filler> fillers;  // what lies before each of those pieces
  uint64_t unit;
};

class SeveralPieces : public testing::TestWithParam<PiecesCase> {};

// Whole photo, then the split one in pieces with a filler between each,
// then another whole photo.
TEST_P(SeveralPieces, ComeBackWhole) {
  const PiecesCase& c = GetParam();
  ASSERT_EQ(c.cuts.size(), c.fillers.size());
  const Bytes split = fixture(c.photo);
  const Bytes before = fixture("cjpeg_600x400.jpg");
  const Bytes other = fixture("cjpeg_320x240_quality_60.jpg");
  ASSERT_FALSE(split.empty() || before.empty() || other.empty());
  ASSERT_LT(c.cuts.back() * c.unit, split.size());
  CardBuilder builder(c.unit, c.unit == 512 ? 0 : 48 * 1024, 21);
  builder.photo("before.jpg", before);
  const uint64_t start = builder.size();
  uint64_t from = 0;
  for (size_t i = 0; i < c.cuts.size(); ++i) {
    builder.add(split, from * c.unit, c.cuts[i] * c.unit);
    builder.filler(c.fillers[i], 3 - i % 2, other);
    from = c.cuts[i];
  }
  builder.add(split, from * c.unit);
  builder.pad();
  builder.expect("split.jpg", start, split);
  const PlantedCard card = builder.card();
  const Recovered got = recoverCheckedCard(card);
  for (size_t i = 0; i < card.files.size(); ++i) {
    const bool isSplit = card.files[i].name == "split.jpg";
    EXPECT_TRUE(got.whole[i]) << card.files[i].name << " not back byte for byte";
    EXPECT_EQ(got.pieces[i], isSplit ? c.cuts.size() + 1 : 0u) << card.files[i].name;
  }
  EXPECT_EQ(got.rows, card.files.size());
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SeveralPieces,
    testing::Values(PiecesCase{"BaselineRandomText",
                               "cjpeg_640x480.jpg",
                               {16, 40},
                               {Filler::Random, Filler::Text},
                               512},
                    PiecesCase{"RestartPhotoZeros",
                               "cjpeg_640x480_restart_1.jpg",
                               {20, 60},
                               {Filler::Photo, Filler::Zeros},
                               512},
                    PiecesCase{"GreyscaleTextRandom",
                               "cjpeg_640x480_grayscale.jpg",
                               {10, 30},
                               {Filler::Text, Filler::Random},
                               512},
                    PiecesCase{"ClusterEoiPhoto",
                               "cjpeg_640x480_sample_1x1.jpg",
                               {3, 8},
                               {Filler::SectorEoi, Filler::Photo},
                               kCluster},
                    // Four pieces and more: each middle piece found from the one before.
                    PiecesCase{"FourAroundPhotos",
                               "cjpeg_640x480_sample_1x1.jpg",
                               {20, 50, 90},
                               {Filler::Photo, Filler::Photo, Filler::Photo},
                               512},
                    PiecesCase{"FourClustersMixed",
                               "cjpeg_640x480_sample_1x1.jpg",
                               {3, 7, 11},
                               {Filler::Random, Filler::Photo, Filler::Text},
                               kCluster},
                    PiecesCase{"FiveMixed",
                               "cjpeg_640x480_restart_1.jpg",
                               {12, 30, 50, 66},
                               {Filler::Random, Filler::Text, Filler::Photo, Filler::SectorEoi},
                               512}),
    [](const testing::TestParamInfo<PiecesCase>& info) { return std::string(info.param.name); });

// A camera's card in 4 KiB clusters: ten photos written in turn, three of
// them deleted (their bytes stay), then two new photos written first-fit
// into the freed clusters, each running on in the next gap past photos that
// stayed. Every photo on the card comes back whole; only the new ones are
// joined, and the listing has the rows it had without joining.
TEST(SplitPhotoCamera, FirstFitReuseOfDeletedClusters) {
  const char* const first[] = {"cjpeg_600x400.jpg",
                               "cjpeg_640x480.jpg",
                               "cjpeg_640x480_grayscale.jpg",
                               "cjpeg_640x480_optimize.jpg",
                               "cjpeg_1001x333.jpg",
                               "cjpeg_640x480_sample_1x2.jpg",
                               "cjpeg_640x480_restart_1.jpg",
                               "cjpeg_640x480_grayscale__restart_1.jpg",
                               "cjpeg_1001x333_progressive.jpg",
                               "cjpeg_320x240_quality_60.jpg"};
  const std::vector<size_t> deleted = {2, 5, 7};
  const char* const later[] = {"cjpeg_640x480_sample_1x1.jpg", "cjpeg_640x480_sample_2x1.jpg"};
  constexpr uint64_t kOrigin = 48 * 1024;
  CardBuilder builder(kCluster, kOrigin, 31);
  std::vector<int> owner;  // per cluster: the photo of `first` holding it, -1 free
  std::vector<Bytes> photos;
  for (size_t i = 0; i < std::size(first); ++i) {
    photos.push_back(fixture(first[i]));
    ASSERT_FALSE(photos.back().empty()) << first[i];
    const uint64_t clusters = (photos.back().size() + kCluster - 1) / kCluster;
    builder.put(kOrigin + owner.size() * kCluster, photos.back(), 0, photos.back().size());
    if (std::find(deleted.begin(), deleted.end(), i) == deleted.end()) {
      builder.expect(first[i], kOrigin + owner.size() * kCluster, photos.back());
    }
    owner.insert(owner.end(), clusters,
                 std::find(deleted.begin(), deleted.end(), i) == deleted.end() ? int(i) : -1);
  }
  size_t next = 0;  // first-fit: the lowest free cluster on
  for (const char* name : later) {
    const Bytes photo = fixture(name);
    ASSERT_FALSE(photo.empty()) << name;
    uint64_t start = UINT64_MAX;
    for (size_t done = 0; done < photo.size(); done += kCluster) {
      while (next < owner.size() && owner[next] != -1) ++next;
      ASSERT_LT(next, owner.size()) << "the freed clusters do not hold " << name;
      owner[next] = 100;
      const uint64_t at = kOrigin + next * kCluster;
      if (start == UINT64_MAX) start = at;
      builder.put(at, photo, done, std::min(photo.size(), done + kCluster));
    }
    builder.expect(name, start, photo);
  }
  builder.pad();
  const PlantedCard card = builder.card();
  const Recovered plain = recoverCard(card, ScanMode::Precise);
  const Recovered got = recoverCheckedCard(card);
  for (size_t i = 0; i < card.files.size(); ++i) {
    EXPECT_TRUE(got.whole[i]) << card.files[i].name << " not back byte for byte";
    const bool isLater = card.files[i].name == later[0] || card.files[i].name == later[1];
    EXPECT_EQ(got.pieces[i] > 1, isLater)
        << card.files[i].name << ": " << got.pieces[i] << " pieces";
  }
  EXPECT_EQ(got.reassembledRows, 2u);
  EXPECT_EQ(got.rows, plain.rows);
}

// The continuation lies before the first piece (a file system that handed
// out a lower free cluster next).
TEST(SplitPhotoBackward, ContinuationBeforeTheFirstPiece) {
  const Bytes split = fixture("cjpeg_640x480.jpg");
  const Bytes whole = fixture("cjpeg_600x400.jpg");
  const uint64_t cut = 30 * 512;
  CardBuilder builder(512, 0, 5);
  builder.photo("whole.jpg", whole);
  builder.add(split, cut);  // the second piece
  builder.pad();
  builder.filler(Filler::Random, 3, {});
  const uint64_t start = builder.size();
  builder.add(split, 0, cut);
  builder.filler(Filler::Random, 2, {});
  builder.expect("split.jpg", start, split);
  const PlantedCard card = builder.card();
  const Recovered got = recoverCheckedCard(card);
  EXPECT_TRUE(got.whole[0]);
  EXPECT_TRUE(got.whole[1]);
  EXPECT_EQ(got.pieces[1], 2u);
  EXPECT_EQ(got.rows, 2u);
}

// Two photos whose pieces alternate: A1 B1 A2 B2.
TEST(SplitPhotoInterleaved, BothComeBack) {
  const Bytes a = fixture("cjpeg_640x480.jpg");
  const Bytes b = fixture("cjpeg_640x480_sample_1x1.jpg");
  const uint64_t cutA = 24 * 512;
  const uint64_t cutB = 40 * 512;
  CardBuilder builder(512, 0, 9);
  const uint64_t startA = builder.size();
  builder.add(a, 0, cutA);
  const uint64_t startB = builder.size();
  builder.add(b, 0, cutB);
  builder.add(a, cutA);
  builder.pad();
  builder.add(b, cutB);
  builder.pad();
  builder.expect("a.jpg", startA, a);
  builder.expect("b.jpg", startB, b);
  const PlantedCard card = builder.card();
  const Recovered got = recoverCheckedCard(card);
  EXPECT_TRUE(got.whole[0]);
  EXPECT_TRUE(got.whole[1]);
  EXPECT_EQ(got.rows, 2u);
}

// A photo cut by the card's end has nowhere to go on: listed as before.
TEST(SplitPhotoNoContinuation, StaysAsListed) {
  const Bytes whole = fixture("cjpeg_600x400.jpg");
  const Bytes cutShort = fixture("cjpeg_640x480.jpg");
  CardBuilder builder(512, 0, 3);
  builder.photo("whole.jpg", whole);
  builder.add(cutShort, 0, 20 * 512);
  PlantedCard card = builder.card();
  const Recovered plain = recoverCard(card, ScanMode::Precise);
  const Recovered checked = recoverCheckedCard(card);
  EXPECT_TRUE(checked.whole[0]);
  EXPECT_EQ(checked.rows, plain.rows);
  EXPECT_EQ(checked.reassembledRows, 0u);
}

// A search stopped by a named limit says so, and joins nothing it has not
// checked.
TEST(SplitPhotoLimits, AreReportedWhenHit) {
  const Bytes split = fixture("cjpeg_640x480.jpg");
  const Bytes other = fixture("cjpeg_600x400.jpg");
  CardBuilder builder(512, 0, 8);
  const uint64_t start = builder.size();
  builder.add(split, 0, 20 * 512);
  // The second half of another photo, its header long gone: every sector
  // of it leads to an EOI, so each is a seam to try.
  builder.add(other, other.size() / 2);
  builder.pad();
  builder.add(split, 20 * 512);
  builder.pad();
  builder.expect("split.jpg", start, split);
  const PlantedCard card = builder.card();
  struct LimitCase {
    const char* name;
    JoinLimits limits;
    bool seamLimit;
    bool cardLimit;
  };
  JoinLimits fewSeams;
  fewSeams.seamsPerPhoto = 3;
  JoinLimits littleWork;
  littleWork.decodedBytesPerCard = 100000;
  for (const LimitCase& c : {LimitCase{"seams per photo", fewSeams, true, false},
                             LimitCase{"work per card", littleWork, false, true}}) {
    JoinOutcome outcome;
    const Recovered got = recoverCheckedCard(card, ScanMode::Precise, c.limits, &outcome);
    EXPECT_FALSE(got.whole[0]) << c.name;
    EXPECT_EQ(outcome.joined, 0u) << c.name;
    EXPECT_EQ(outcome.photosAtSeamLimit, c.seamLimit ? 1u : 0u) << c.name;
    EXPECT_EQ(outcome.budget.cardLimitHit, c.cardLimit) << c.name;
    EXPECT_LE(outcome.budget.decodedBytes, c.limits.decodedBytesPerCard) << c.name;
    EXPECT_LE(outcome.budget.seamsTried, c.limits.seamsPerPhoto) << c.name;
  }
  JoinOutcome outcome;
  EXPECT_TRUE(recoverCheckedCard(card, ScanMode::Precise, {}, &outcome).whole[0]);
  EXPECT_EQ(outcome.photosAtSeamLimit, 0u);
  EXPECT_FALSE(outcome.budget.cardLimitHit);
}

// Another photo's entropy data right after the first piece decodes as this
// photo's blocks (same tables) well past its start, and a continuation
// taken from the middle of the true second piece then makes up the length:
// the joined file meets its EOI, but a row of blocks stands out, so only the
// true pieces are taken.
TEST(SplitPhotoSelfSynchronising, ForeignEntropyDataIsNotTakenForThePhotos) {
  const Bytes split = fixture("cjpeg_640x480.jpg");
  const Bytes other = fixture("cjpeg_600x400.jpg");
  CardBuilder builder(512, 0, 8);
  builder.add(split, 0, 20 * 512);
  builder.add(other, other.size() / 2);
  builder.pad();
  const uint64_t rest = builder.size();
  builder.add(split, 20 * 512);
  builder.pad();
  builder.expect("split.jpg", 0, split);
  const PlantedCard card = builder.card();
  const Recovered got = recoverCheckedCard(card);
  EXPECT_TRUE(got.whole[0]) << "second piece expected at " << rest;
  EXPECT_EQ(got.reassembledRows, 1u);
}

// Photos made at test time, as different cameras' would be: fractal
// pictures with noise, of several sizes and qualities (so not all share
// tables). Empty when convert or cjpeg is missing.
class MadePhotos {
 public:
  static const Bytes& photo(int seed, int width, int height, int quality) {
    static std::map<std::string, Bytes> made;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    Bytes& bytes = made[std::to_string(seed) + "_" + size + "_q" + std::to_string(quality)];
    if (!bytes.empty()) return bytes;
    char pattern[] = "/tmp/kestrix-joiner-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return bytes;
    const std::string path = std::string(pattern) + "/photo.jpg";
    const std::string command =
        "convert -seed " + std::to_string(seed) + " -size " + size +
        " plasma:fractal -attenuate 0.2 +noise Gaussian ppm:- 2>/dev/null | cjpeg -quality " +
        std::to_string(quality) + " -outfile '" + path + "'";
    if (std::system(command.c_str()) == 0) {
      std::ifstream in(path, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove_all(pattern);
    return bytes;
  }
};

bool photoToolsPresent() {
  return std::system("command -v convert >/dev/null && command -v cjpeg >/dev/null") == 0;
}

// A card laid out like the DFRWS 2006 carving challenge: no file system,
// 512-byte sectors, photos split with text, an Office document, random
// data, another photo or a single sector opening with FF D9 between their
// pieces, two photos interleaved, one in three pieces, whole photos around.
// Every split photo comes back byte for byte, every whole one unchanged,
// and nothing else is listed.
TEST(SplitPhotoChallengeCard, EveryPhotoBackWhole) {
  if (!photoToolsPresent()) GTEST_SKIP() << "needs convert and cjpeg";
  struct Made {
    const char* name;
    int seed, width, height, quality;
  };
  const Made made[] = {
      {"whole1", 1, 640, 480, 85}, {"whole2", 2, 800, 600, 85}, {"whole3", 3, 480, 360, 75},
      {"whole4", 4, 640, 480, 92}, {"text", 5, 640, 480, 85},   {"office", 6, 800, 600, 85},
      {"random", 7, 640, 480, 80}, {"photo", 8, 640, 480, 85},  {"eoi", 9, 720, 540, 85},
      {"a", 10, 640, 480, 85},     {"b", 11, 640, 480, 85},     {"three", 12, 800, 600, 85}};
  std::map<std::string, Bytes> photos;
  for (const Made& m : made) {
    photos[m.name] = MadePhotos::photo(m.seed, m.width, m.height, m.quality);
    ASSERT_GT(photos[m.name].size(), 20000u) << m.name;
  }
  CardBuilder builder(512, 0, 2006);
  auto split = [&](const char* name, std::initializer_list<std::pair<uint64_t, Filler>> cuts) {
    const Bytes& photo = photos[name];
    builder.expect(name, builder.size(), photo);
    uint64_t from = 0;
    for (const auto& [cut, filler] : cuts) {
      builder.add(photo, from, cut * 512);
      builder.filler(filler, filler == Filler::SectorEoi ? 1 : 6, photos["whole3"]);
      from = cut * 512;
    }
    builder.add(photo, from);
    builder.pad();
  };
  builder.photo("whole1", photos["whole1"]);
  split("text", {{40, Filler::Text}});
  builder.photo("whole2", photos["whole2"]);
  split("office", {{30, Filler::Office}});
  split("random", {{25, Filler::Random}});
  split("photo", {{35, Filler::Photo}});
  split("eoi", {{45, Filler::SectorEoi}});
  // a1 b1 a2 b2
  const Bytes& a = photos["a"];
  const Bytes& b = photos["b"];
  builder.expect("a", builder.size(), a);
  builder.add(a, 0, 50 * 512);
  builder.expect("b", builder.size(), b);
  builder.add(b, 0, 33 * 512);
  builder.add(a, 50 * 512);
  builder.pad();
  builder.add(b, 33 * 512);
  builder.pad();
  split("three", {{28, Filler::Random}, {70, Filler::Text}});
  builder.photo("whole4", photos["whole4"]);
  const PlantedCard card = builder.card();

  JoinOutcome outcome;
  const Recovered got = recoverCheckedCard(card, ScanMode::Precise, {}, &outcome);
  for (size_t i = 0; i < card.files.size(); ++i) {
    EXPECT_TRUE(got.whole[i]) << card.files[i].name << " not back byte for byte";
    const bool isWhole =
        card.files[i].name.rfind("whole", 0) == 0 || card.files[i].name == "filler.jpg";
    EXPECT_EQ(got.pieces[i] == 0, isWhole)
        << card.files[i].name << ": " << got.pieces[i] << " pieces";
  }
  EXPECT_EQ(got.reassembledRows, 8u);
  EXPECT_EQ(got.rows, card.files.size());
  EXPECT_FALSE(outcome.budget.cardLimitHit);
  EXPECT_EQ(outcome.photosAtSeamLimit, 0u);
}

class CardBlock : public ImageBlock {
 public:
  explicit CardBlock(const Bytes& bytes) : bytes_(bytes) {}
  const uint8_t* data() const override { return bytes_.data(); }
  uint64_t size() const override { return bytes_.size(); }

 private:
  const Bytes& bytes_;
};

// A photo with sectors the copy could not read lost those bytes (they read
// as zeros): a join around them would be another picture, so it stays as
// it was listed, damaged.
TEST(SplitPhotoUnreadable, IsNotJoined) {
  const Bytes split = fixture("cjpeg_640x480.jpg");
  CardBuilder builder(512, 0, 6);
  builder.add(split, 0, 20 * 512);
  builder.filler(Filler::Random, 4, {});
  builder.add(split, 20 * 512);
  builder.pad();
  const PlantedCard card = builder.card();
  for (const uint64_t unread : {uint64_t{0}, uint64_t{1}}) {
    const CardBlock image(card.bytes);
    EngineSet engines;
    engines.add(new CarvingEngine, [](ScanEngine* engine) { delete engine; });
    CandidateList list;
    scanImage(image, engines, {".jpg"}, list, ScanSettings{});
    ASSERT_GE(list.itemCount(), 1);
    list.setUnreadableSectors(0, unread);
    CheckRowQueue rows(list.itemCount());
    checkCandidates(image, &engines, list, rows);
    const JoinOutcome outcome = joinFragments(image, list);
    EXPECT_EQ(outcome.joined, unread == 0 ? 1u : 0u) << unread << " unread sectors";
    EXPECT_EQ(list.candidateAt(1)->find().fragments.empty(), unread != 0);
  }
}

// The signature rules list what they always listed: no reassembly.
TEST(SplitPhotoSignatureRules, NotReassembled) {
  const Bytes split = fixture("cjpeg_640x480.jpg");
  CardBuilder builder(512, 0, 4);
  builder.add(split, 0, 20 * 512);
  builder.filler(Filler::Random, 4, {});
  builder.add(split, 20 * 512);
  builder.pad();
  const PlantedCard card = builder.card();
  EXPECT_EQ(recoverCheckedCard(card, ScanMode::SignatureRules).reassembledRows, 0u);
}

}  // namespace
}  // namespace kestrix::test
