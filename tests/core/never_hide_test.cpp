// The structure-aware default never hides a file: on generated cards of real
// files with stray openings planted into gaps, entropy data and media data,
// every file comes back byte for byte, and never fewer than with the
// signature rules; and the cases that once hid most of a card, as examples.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/precise_corpus.h"
#include "tests/core/planted_card.h"

namespace kestrix::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<PlantFile> plantFiles() {
  std::vector<PlantFile> files = fixtureFiles(KESTRIX_TEST_DATA "/jpeg");
  std::string missing;
  if (const std::vector<CorpusFile>* corpus = preciseCorpus(missing)) {
    for (const CorpusFile& file : *corpus) {
      const PlantKind kind = file.kind == FileKind::Jpeg  ? PlantKind::Jpeg
                             : file.kind == FileKind::Png ? PlantKind::Png
                                                          : PlantKind::Movie;
      files.push_back({file.name, kind, file.bytes});
    }
  }
  return files;
}

std::string lost(const PlantedCard& card, const Recovered& got) {
  std::string text;
  for (size_t i = 0; i < card.files.size(); ++i) {
    if (!got.whole[i]) text += card.files[i].name + "@" + std::to_string(card.files[i].start) + " ";
  }
  text += "\nplants:";
  for (const std::string& plant : card.plants) text += "\n  " + plant;
  return text;
}

TEST(NeverHide, EveryPlantedFileComesBackWholeAndNeverFewerThanWithTheSignatureRules) {
  const std::vector<PlantFile> files = plantFiles();
  ASSERT_GE(files.size(), 4u);
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    Choices choices(seed);
    const PlantedCard card = plantCard(files, choices);
    const Recovered precise = recoverCard(card, ScanMode::Precise);
    const Recovered rules = recoverCard(card, ScanMode::SignatureRules);
    EXPECT_EQ(precise.wholeCount, card.files.size())
        << "seed " << seed << ": lost " << lost(card, precise);
    EXPECT_GE(precise.wholeCount, rules.wholeCount) << "seed " << seed;
    const Recovered split = recoverCard(card, ScanMode::PreciseSplit);
    EXPECT_EQ(split.wholeCount, card.files.size())
        << "seed " << seed << ": lost " << lost(card, split);
  }
}

// Cards built by hand around one stray opening each, as found on real cards.
struct HidingCase {
  const char* name;
  // The stray bytes, given the bytes from them to the next photo's start.
  Bytes (*stray)(uint64_t toNext);
  bool inEntropyData;  // planted into the first photo's entropy data, else before it
  int landsOn = 0;     // the photo whose start `toNext` measures to (before: the first)
};

Bytes strayWide(uint64_t) { return {0xCB, 0x2F, 0x11, 0x40, 'w', 'i', 'd', 'e'}; }  // 3.4 GB
Bytes strayMdatToTheEnd(uint64_t) { return {0, 0, 0, 0, 'm', 'd', 'a', 't'}; }
Bytes strayWideMdat(uint64_t) {
  return {0,   0,   0,   8,   'w', 'i', 'd', 'e',  0, 0, 0, 1,
          'm', 'd', 'a', 't', 0,   0,   0,   0x0F, 0, 0, 0, 0};
}
Bytes strayPreview(uint64_t) {
  return {0, 0, 0, 20, 'p', 'n', 'o', 't', 1, 2, 3, 4, 0, 0, 'P', 'I', 'C', 'T', 0, 1};
}
// An SOI and an APP1 whose length ends on the next photo's first marker: the
// walk goes on through that photo's segments to its EOI.
Bytes falseJpegIntoTheNext(uint64_t toNext) {
  const uint64_t length = toNext - 2;
  return {0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
          'E',  'x'};
}

class HidingTest : public testing::TestWithParam<HidingCase> {};

TEST_P(HidingTest, NoPhotoIsLost) {
  const std::vector<PlantFile> all = fixtureFiles(KESTRIX_TEST_DATA "/jpeg");
  std::vector<const PlantFile*> photos;
  for (const PlantFile& f : all) {
    if (f.kind == PlantKind::Jpeg && f.bytes.size() > 2000 && f.bytes.size() < 12000)
      photos.push_back(&f);
  }
  ASSERT_GE(photos.size(), 2u);
  uint64_t toLanding = 50;
  for (int i = 0; i < GetParam().landsOn; ++i)
    toLanding += 100 + photos[i % photos.size()]->bytes.size();
  PlantedCard card;
  for (int i = 0; i < 12; ++i) {
    const PlantFile& photo = *photos[i % photos.size()];
    card.bytes.insert(card.bytes.end(), 100, 0x00);  // the rest of a cluster
    if (i == 0 && !GetParam().inEntropyData) {
      const Bytes stray = GetParam().stray(toLanding);
      card.bytes.insert(card.bytes.end(), stray.begin(), stray.end());  // 50 bytes before the photo
      card.bytes.insert(card.bytes.end(), 50 - stray.size(), 0x00);
    }
    PlantedCard::File file{photo.name, card.bytes.size(), photo.bytes};
    if (i == 0 && GetParam().inEntropyData) {
      // Into the middle of the entropy data, over bytes without FF.
      const Bytes stray = GetParam().stray(0);
      uint64_t at = file.bytes.size() / 2;
      auto clear = [&](uint64_t a) {
        for (uint64_t k = a - 1; k < a + stray.size(); ++k) {
          if (file.bytes[k] == 0xFF) return false;
        }
        return true;
      };
      while (!clear(at)) ++at;
      std::copy(stray.begin(), stray.end(), file.bytes.begin() + static_cast<long>(at));
    }
    card.bytes.insert(card.bytes.end(), file.bytes.begin(), file.bytes.end());
    card.files.push_back(std::move(file));
  }
  for (ScanMode mode : {ScanMode::Precise, ScanMode::PreciseSplit}) {
    const Recovered got = recoverCard(card, mode);
    EXPECT_EQ(got.wholeCount, card.files.size())
        << "mode " << static_cast<int>(mode) << ": lost " << lost(card, got);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Strays, HidingTest,
    testing::Values(HidingCase{"WideWithAHugeSizeInPhotoData", strayWide, true},
                    HidingCase{"MdatRunningToTheEndInPhotoData", strayMdatToTheEnd, true},
                    HidingCase{"WideThenA64BitMdatInPhotoData", strayWideMdat, true},
                    HidingCase{"PreviewAtomBeforeAPhoto", strayPreview, false},
                    HidingCase{"MdatRunningToTheEndBeforeAPhoto", strayMdatToTheEnd, false},
                    HidingCase{"FalseJpegWhoseLengthRunsIntoThePhoto", falseJpegIntoTheNext, false},
                    // Its APP1 then seems to hold the photos before that one.
                    HidingCase{"FalseJpegWhoseLengthRunsOverPhotosIntoALaterOne",
                               falseJpegIntoTheNext, false, 3}),
    [](const testing::TestParamInfo<HidingCase>& info) { return std::string(info.param.name); });

// Old QuickTime files open with their preview (pnot, then PICT), then ftyp:
// one file from the preview on.
TEST(NeverHide, AMovieOpeningWithItsPreviewComesBackWhole) {
  std::vector<PlantFile> movies;
  for (PlantFile& f : fixtureFiles(KESTRIX_TEST_DATA "/jpeg")) {
    if (f.kind == PlantKind::Movie) movies.push_back(std::move(f));
  }
  const auto preview = std::find_if(movies.begin(), movies.end(), [](const PlantFile& f) {
    return f.bytes.size() > 8 && std::memcmp(f.bytes.data() + 4, "pnot", 4) == 0;
  });
  ASSERT_NE(preview, movies.end());
  PlantedCard card;
  card.bytes.assign(333, 0x5A);
  card.files.push_back({preview->name, card.bytes.size(), preview->bytes});
  card.bytes.insert(card.bytes.end(), preview->bytes.begin(), preview->bytes.end());
  card.bytes.insert(card.bytes.end(), 77, 0x5A);
  for (ScanMode mode : {ScanMode::Precise, ScanMode::PreciseSplit}) {
    EXPECT_EQ(recoverCard(card, mode).wholeCount, 1u) << "mode " << static_cast<int>(mode);
  }
}

// A whole movie at the end of the card, followed by less than an atom header,
// or by an atom of its own (free, mdat) whose size runs past the card's end.
TEST(NeverHide, AMovieBeforeACutAtomAtTheCardsEndComesBackWhole) {
  std::vector<PlantFile> movies;
  for (PlantFile& f : fixtureFiles(KESTRIX_TEST_DATA "/jpeg")) {
    if (f.kind == PlantKind::Movie) movies.push_back(std::move(f));
  }
  ASSERT_FALSE(movies.empty());
  const Bytes tails[] = {{0xFF, 0xD8, 0xFF},
                         {0, 0, 0x40, 0, 'f', 'r', 'e', 'e', 1, 2},
                         {0, 0, 0, 0, 'f', 'r', 'e', 'e'}};
  for (const PlantFile& movie : movies) {
    for (const Bytes& tail : tails) {
      PlantedCard card;
      card.bytes.assign(64, 0x5A);
      card.files.push_back({movie.name, card.bytes.size(), movie.bytes});
      card.bytes.insert(card.bytes.end(), movie.bytes.begin(), movie.bytes.end());
      card.bytes.insert(card.bytes.end(), tail.begin(), tail.end());
      EXPECT_EQ(recoverCard(card, ScanMode::Precise).wholeCount, 1u)
          << movie.name << " tail " << tail.size();
    }
  }
}

// The head of a deleted movie (ftyp, moov, and an mdat header claiming 2 GB)
// whose clusters were given to new files: the movies after it are found.
TEST(NeverHide, MoviesAfterADeletedMoviesHeadComeBackWhole) {
  std::vector<PlantFile> movies;
  for (PlantFile& f : fixtureFiles(KESTRIX_TEST_DATA "/jpeg")) {
    if (f.kind == PlantKind::Movie) movies.push_back(std::move(f));
  }
  ASSERT_FALSE(movies.empty());
  // The moov-first movie's head, its mdat's size made huge.
  const PlantFile& first = *std::find_if(movies.begin(), movies.end(), [](const PlantFile& f) {
    return f.name.find("moov_first") != std::string::npos;
  });
  Bytes head(first.bytes.begin(), first.bytes.end());
  for (size_t at = 8; at + 8 <= head.size(); ++at) {
    if (std::memcmp(head.data() + at + 4, "mdat", 4) == 0) {
      head[at] = 0x7F, head[at + 1] = 0, head[at + 2] = 0, head[at + 3] = 0;
      head.resize(at + 8 + 300);
      break;
    }
  }
  PlantedCard card;
  card.bytes.assign(100, 0x5A);
  card.bytes.insert(card.bytes.end(), head.begin(), head.end());
  for (const PlantFile& movie : movies) {
    card.bytes.insert(card.bytes.end(), 64, 0x5A);
    card.files.push_back({movie.name, card.bytes.size(), movie.bytes});
    card.bytes.insert(card.bytes.end(), movie.bytes.begin(), movie.bytes.end());
  }
  for (ScanMode mode : {ScanMode::Precise, ScanMode::PreciseSplit}) {
    const Recovered got = recoverCard(card, mode);
    EXPECT_EQ(got.wholeCount, card.files.size())
        << "mode " << static_cast<int>(mode) << ": lost " << lost(card, got);
  }
}

}  // namespace
}  // namespace kestrix::test
