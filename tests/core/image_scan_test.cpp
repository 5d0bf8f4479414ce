// The windowed scan: whatever the window size, the finds are exactly those of
// one pass per type over the whole image, and nested finds are dropped or
// named by their parent in the precise modes.
#include "core/image_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

#include "engine/precise_corpus.h"
#include "jobs/job_test_support.h"

namespace kestrix::test {
namespace {

struct Row {
  std::string name;
  uint64_t start;
  uint64_t end;
  std::string parent;
  bool operator==(const Row& other) const {
    return std::tie(name, start, end, parent) ==
           std::tie(other.name, other.start, other.end, other.parent);
  }
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << row.name << " " << row.start << ".." << row.end << " <" << row.parent << ">";
}

std::vector<Row> rowsOf(const CandidateList& list) {
  std::vector<Row> rows;
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    CandidateInfo info;
    list.candidateInfo(row, info);
    rows.push_back({info.name, info.find.start, info.find.end, info.find.parent});
  }
  return rows;
}

struct Scanned {
  std::vector<Row> rows;
  ScanSummary summary;
};

// `beside`: the later types on a second thread, on engines of their own.
Scanned scanWith(PluginHost& host, const ImageBlock& image, ScanMode mode, uint64_t window,
                 uint64_t margin, bool beside = false) {
  EngineSet engines = host.createEngineSet();
  EngineSet besideEngines = host.createEngineSet();
  CandidateList list;
  ScanSettings settings;
  settings.mode = mode;
  settings.windowBytes = window;
  settings.marginBytes = margin;
  Scanned scanned;
  scanned.summary = scanImage(image, engines, host.registry().keys(), list, settings, {},
                              beside ? &besideEngines : nullptr);
  scanned.rows = rowsOf(list);
  return scanned;
}

// Hits of both fake types at random places, some back to back, with noise.
std::string randomCard(std::mt19937& random, size_t hits) {
  std::string card;
  std::uniform_int_distribution<int> gap(0, 40), length(0, 200), kind(0, 3);
  for (size_t i = 0; i < hits; ++i) {
    card += std::string(static_cast<size_t>(gap(random)), '.');
    const bool curly = kind(random) == 0;
    card += curly ? "{{" : "[[";
    card += std::string(static_cast<size_t>(length(random)), 'x');
    card += curly ? "}}" : "]]";
  }
  return card + std::string(static_cast<size_t>(gap(random)), '.');
}

using ModeCase = std::tuple<const char*, ScanMode>;

class WindowedScan : public ::testing::TestWithParam<ModeCase> {};

TEST_P(WindowedScan, EveryWindowSizeGivesTheWholeImageScan) {
  const ScanMode mode = std::get<1>(GetParam());
  FakeHost fake;
  ScratchFolder scratch;
  std::mt19937 random(7);
  for (int round = 0; round < 6; ++round) {
    const std::string card = randomCard(random, 30);
    std::unique_ptr<ImageFile> image = openContent(scratch.file("card.img"), card);
    ASSERT_TRUE(image);
    const Scanned whole = scanWith(fake.host, *image, mode, card.size() + 1, kScanMarginBytes);
    ASSERT_FALSE(whole.rows.empty());
    // Windows of 1 to 97 bytes put a hit across every boundary; the least
    // margin (64 bytes) makes the longer hits run out of the bound and be
    // decided again on the whole image.
    for (uint64_t window : {1, 2, 3, 5, 8, 13, 31, 64, 97}) {
      for (uint64_t margin : {0, 100, 400}) {
        // A thread per window costs time: the second thread gets a few sizes.
        const bool besideToo = (window == 1 || window == 13 || window == 97) && margin != 100;
        for (bool beside : {false, true}) {
          if (beside && !besideToo) continue;
          const Scanned windowed = scanWith(fake.host, *image, mode, window, margin, beside);
          EXPECT_EQ(windowed.rows, whole.rows) << "window " << window << " margin " << margin
                                               << " round " << round << " beside " << beside;
        }
      }
    }
  }
}

TEST_P(WindowedScan, AHitEndingOnTheLastByteIsListed) {
  FakeHost fake;
  ScratchFolder scratch;
  std::unique_ptr<ImageFile> image = openContent(scratch.file("card.img"), "....[[flush]]");
  ASSERT_TRUE(image);
  for (uint64_t window : {3, 64}) {
    const Scanned scanned = scanWith(fake.host, *image, std::get<1>(GetParam()), window, 2);
    EXPECT_EQ(scanned.rows, (std::vector<Row>{{"00000000.aaa", 4, 13, ""}})) << window;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowedScan,
                         ::testing::Values(ModeCase{"SignatureRules", ScanMode::SignatureRules},
                                           ModeCase{"Precise", ScanMode::Precise}),
                         [](const auto& info) { return std::string(std::get<0>(info.param)); });

TEST(WindowedScan, NestedFindsAreDroppedInThePreciseModeAndNamedInItsSplitMode) {
  FakeHost fake;
  ScratchFolder scratch;
  // An .aaa find inside a .bbb find, as a frame lies inside its movie; the
  // later type is scanned second but holds the first.
  std::unique_ptr<ImageFile> image =
      openContent(scratch.file("card.img"), "..[[a]]..{{..[[inner]]..}}..[[b]]..");
  ASSERT_TRUE(image);
  for (uint64_t window : {4, 1000}) {
    const Scanned normal = scanWith(fake.host, *image, ScanMode::Precise, window, 8);
    EXPECT_EQ(normal.rows, (std::vector<Row>{{"00000000.aaa", 2, 7, ""},
                                             {"00000001.aaa", 28, 33, ""},
                                             {"00000000.bbb", 9, 26, ""}}))
        << window;
    const Scanned split = scanWith(fake.host, *image, ScanMode::PreciseSplit, window, 8);
    EXPECT_EQ(split.rows, (std::vector<Row>{{"00000000.aaa", 2, 7, ""},
                                            {"00000001.aaa", 13, 22, "00000000.bbb"},
                                            {"00000002.aaa", 28, 33, ""},
                                            {"00000000.bbb", 9, 26, ""}}))
        << window;
    // The signature rules know nothing of nesting.
    const Scanned rules = scanWith(fake.host, *image, ScanMode::SignatureRules, window, 8);
    EXPECT_EQ(rules.rows.size(), 4u) << window;
  }
}

// The scan turns each registry key into the find's type once: a type the
// program does not know is listed with its own extension text.
TEST(WindowedScan, AFindOfATypeTheProgramDoesNotKnowKeepsItsExtension) {
  FakeHost fake;
  ScratchFolder scratch;
  std::unique_ptr<ImageFile> image = openContent(scratch.file("card.img"), "..[[a]]..{{b}}..");
  ASSERT_TRUE(image);
  for (ScanMode mode : {ScanMode::SignatureRules, ScanMode::Precise}) {
    EngineSet engines = fake.host.createEngineSet();
    CandidateList list;
    ScanSettings settings;
    settings.mode = mode;
    scanImage(*image, engines, fake.host.registry().keys(), list, settings);
    ASSERT_EQ(list.itemCount(), 2);
    for (int32_t index : {1, 2}) {
      const Find& find = list.candidateAt(index)->find();
      EXPECT_EQ(find.type, FileType::Unknown);
      EXPECT_EQ(typeText(find), index == 1 ? "aaa" : "bbb");
    }
  }
}

TEST(WindowedScan, TheRealEnginesSignatureRulesDoNotDependOnTheWindow) {
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadPlugin(std::string(std::getenv("KESTRIX_BIN_DIR")) + "/kxengine.kxp"), 1);
  // JPEG, PNG and MOV signatures with thumbnails, stray ends and old data.
  const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(300, 'j') +
                           std::string("\xFF\xD8\xFF\xDB", 4) + std::string(40, 't') +
                           std::string("\xFF\xD9", 2) + std::string(500, 'j') +
                           std::string("\xFF\xD9", 2);
  const std::string png =
      std::string("\x89PNG\r\n\x1A\n", 8) + std::string(200, 'p') + "IEND" + std::string(4, '\x42');
  const std::string mov = std::string("\0\0\0\x10", 4) + "moov" + std::string(100, 'm') +
                          std::string("\0\0\0\x08", 4) + "mdat";
  std::string card;
  std::mt19937 random(11);
  for (int i = 0; i < 12; ++i) {
    card += std::string(random() % 700, '\0');
    card += i % 3 == 0 ? jpeg : i % 3 == 1 ? png : mov;
    if (i % 4 == 0) card += std::string("\xFF\xD9", 2);  // a stray end in old data
  }
  ScratchFolder scratch;
  std::unique_ptr<ImageFile> image = openContent(scratch.file("card.img"), card);
  ASSERT_TRUE(image);
  for (ScanMode mode : {ScanMode::SignatureRules, ScanMode::SignatureRulesSplit}) {
    const Scanned whole = scanWith(host, *image, mode, card.size(), 0);
    ASSERT_GE(whole.rows.size(), 6u);
    for (uint64_t window : {1, 100, 999, 4096}) {
      EXPECT_EQ(scanWith(host, *image, mode, window, 0).rows, whole.rows) << window;
    }
  }
}

// Two threads, each with its own engine, give exactly the rows of one: the
// same finds, names, parents and order, in every mode, on cards of real
// photos and movies with stray signatures in old data, whatever the window.
TEST(WindowedScan, TheSecondThreadChangesNoRow) {
  std::string missing;
  const std::vector<CorpusFile>* corpus = preciseCorpus(missing);
  if (corpus == nullptr) GTEST_SKIP() << missing;
  ExtensionRegistry registry;
  PluginHost host(registry);
  ASSERT_EQ(host.LoadPlugin(std::string(std::getenv("KESTRIX_BIN_DIR")) + "/kxengine.kxp"), 1);
  ScratchFolder scratch;
  for (uint64_t seed : {3, 4}) {
    const CardImage card = layOut(*corpus, {.seed = seed, .oldData = true});
    std::unique_ptr<ImageFile> image =
        openContent(scratch.file("card.img"), std::string(card.bytes.begin(), card.bytes.end()));
    ASSERT_TRUE(image);
    for (ScanMode mode : {ScanMode::Precise, ScanMode::PreciseSplit, ScanMode::SignatureRules,
                          ScanMode::SignatureRulesSplit}) {
      const Scanned one = scanWith(host, *image, mode, card.bytes.size() + 1, kScanMarginBytes);
      ASSERT_GE(one.rows.size(), corpus->size()) << "seed " << seed;
      for (uint64_t window : {uint64_t{4096}, uint64_t{100000}, card.bytes.size() + 1}) {
        const Scanned two = scanWith(host, *image, mode, window, 65536, true);
        EXPECT_EQ(two.rows, one.rows) << "seed " << seed << " window " << window;
      }
    }
  }
}

TEST(WindowedScan, ProgressNeverGoesBackAndEndsAtZero) {
  FakeHost fake;
  ScratchFolder scratch;
  std::mt19937 random(3);
  const std::string card = randomCard(random, 50);
  std::unique_ptr<ImageFile> image = openContent(scratch.file("card.img"), card);
  ASSERT_TRUE(image);
  EngineSet engines = fake.host.createEngineSet();
  EngineSet besideEngines = fake.host.createEngineSet();
  CandidateList list;
  std::vector<int> progress;
  ScanCallbacks callbacks;
  callbacks.progress = [&](int percent) { progress.push_back(percent); };
  // Small windows, then one window over the whole card: a card smaller
  // than a window must still move the bar as its finds come, not jump from
  // 0 to 100 at the end; with a second thread too, which reports nothing.
  for (uint64_t window : {uint64_t{100}, uint64_t{card.size()}}) {
    for (ScanMode mode : {ScanMode::Precise, ScanMode::SignatureRules}) {
      for (EngineSet* beside : {static_cast<EngineSet*>(nullptr), &besideEngines}) {
        progress.clear();
        list.clear();
        scanImage(*image, engines, fake.host.registry().keys(), list,
                  ScanSettings{mode, window, 10}, callbacks, beside);
        ASSERT_GE(progress.size(), 3u);
        for (size_t i = 1; i + 1 < progress.size(); ++i) EXPECT_LE(progress[i - 1], progress[i]);
        EXPECT_EQ(progress[progress.size() - 2], 100);
        EXPECT_EQ(progress.back(), 0);
        const auto between = std::count_if(progress.begin(), progress.end(), [](int percent) {
          return percent > 0 && percent < 100;
        });
        EXPECT_GE(between, 5) << "window " << window;
      }
    }
  }
}

TEST(WindowedScan, AStopBetweenWindowsListsNothingMore) {
  FakeHost fake;
  ScratchFolder scratch;
  std::unique_ptr<ImageFile> image =
      openContent(scratch.file("card.img"), "[[a]]....[[b]]....[[c]]....{{d}}");
  ASSERT_TRUE(image);
  EngineSet engines = fake.host.createEngineSet();
  CandidateList list;
  int asked = 0;
  ScanCallbacks callbacks;
  callbacks.shouldContinue = [&] { return ++asked < 2; };
  const ScanSummary summary = scanImage(*image, engines, fake.host.registry().keys(), list,
                                        ScanSettings{ScanMode::Precise, 8, 0}, callbacks);
  EXPECT_TRUE(summary.stopped);
  EXPECT_LE(list.itemCount(), 1);
}

}  // namespace
}  // namespace kestrix::test

namespace kestrix::test {
namespace {

// The shipped engine's precise modes on real files (photos with thumbnails
// and MPF images, PNGs, QuickTime and MP4 movies, a Motion-JPEG movie) laid
// out with old data between them, as on a card.
class PreciseCard : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string missing;
    corpus_ = preciseCorpus(missing);
    if (corpus_ == nullptr) GTEST_SKIP() << missing;
    ASSERT_EQ(host_.LoadPlugin(std::string(std::getenv("KESTRIX_BIN_DIR")) + "/kxengine.kxp"), 1);
  }
  std::unique_ptr<ImageFile> write(const CardImage& card) {
    return openContent(scratch_.file("card.img"),
                       std::string(card.bytes.begin(), card.bytes.end()));
  }
  const std::vector<CorpusFile>* corpus_ = nullptr;
  ExtensionRegistry registry_;
  PluginHost host_{registry_};
  ScratchFolder scratch_;
};

TEST_F(PreciseCard, EveryFileIsFoundExactlyAndNothingElse) {
  for (uint64_t seed : {1, 2, 3}) {
    const CardImage card = layOut(*corpus_, {.seed = seed, .oldData = seed != 2});
    std::unique_ptr<ImageFile> image = write(card);
    ASSERT_TRUE(image);
    const Scanned scanned =
        scanWith(host_, *image, ScanMode::Precise, kScanWindowBytes, kScanMarginBytes);
    // Registry order, then position; nested JPEGs (thumbnails, MPF images,
    // movie frames) are parts of their files.
    std::vector<Row> expected;
    for (const char* type : {"jpg", "png", "mov", "mp4"}) {
      uint32_t counter = 0;
      for (const PlacedFile& placed : card.files) {
        if (std::string(extensionOf(placed.file->kind)) != type) continue;
        char name[16];
        std::snprintf(name, sizeof name, "%08u.%s", counter++, type);
        expected.push_back({name, placed.range.start, placed.range.end(), ""});
      }
    }
    EXPECT_EQ(scanned.rows, expected) << "seed " << seed;
  }
}

TEST_F(PreciseCard, EveryFindIsOfTheTypeItsNameSays) {
  const CardImage card = layOut(*corpus_, {.seed = 1, .oldData = true});
  std::unique_ptr<ImageFile> image = write(card);
  ASSERT_TRUE(image);
  for (ScanMode mode : {ScanMode::Precise, ScanMode::SignatureRules}) {
    EngineSet engines = host_.createEngineSet();
    CandidateList list;
    ScanSettings settings;
    settings.mode = mode;
    scanImage(*image, engines, host_.registry().keys(), list, settings);
    std::set<FileType> seen;
    for (int32_t row = 0; row < list.itemCount(); ++row) {
      CandidateInfo info;
      ASSERT_TRUE(list.candidateInfo(row, info));
      const std::string extension = info.name.substr(info.name.rfind('.'));
      EXPECT_EQ(info.find.type, fileTypeOf(extension)) << info.name;
      EXPECT_NE(info.find.type, FileType::Unknown) << info.name;
      seen.insert(info.find.type);
    }
    // The precise scan finds every type of the card (MP4 is told from MOV
    // by its brand); the signature rules find fewer.
    if (mode == ScanMode::Precise) {
      EXPECT_EQ(seen.size(), 4u);
    }
  }
}

TEST_F(PreciseCard, WindowsOfEverySizeGiveTheWholeImageScan) {
  const CardImage card = layOut(*corpus_, {.seed = 5, .oldData = true, .endFlush = true});
  std::unique_ptr<ImageFile> image = write(card);
  ASSERT_TRUE(image);
  for (ScanMode mode : {ScanMode::Precise, ScanMode::PreciseSplit}) {
    const Scanned whole = scanWith(host_, *image, mode, image->size() + 1, kScanMarginBytes);
    ASSERT_FALSE(whole.rows.empty());
    for (uint64_t window : {uint64_t{4096}, uint64_t{65536 + 17}, uint64_t{1} << 20}) {
      for (uint64_t margin : {uint64_t{64}, uint64_t{20000}}) {
        EXPECT_EQ(scanWith(host_, *image, mode, window, margin).rows, whole.rows)
            << "mode " << static_cast<int>(mode) << " window " << window << " margin " << margin;
      }
    }
  }
}

TEST_F(PreciseCard, SplitModeListsEmbeddedJpegsWithTheirParent) {
  const CardImage card = layOut(*corpus_, {.seed = 9, .oldData = true});
  std::unique_ptr<ImageFile> image = write(card);
  ASSERT_TRUE(image);
  const Scanned split =
      scanWith(host_, *image, ScanMode::PreciseSplit, kScanWindowBytes, kScanMarginBytes);
  const Scanned normal =
      scanWith(host_, *image, ScanMode::Precise, kScanWindowBytes, kScanMarginBytes);
  size_t embedded = 0;
  for (const PlacedFile& placed : card.files) embedded += placed.file->embeddedJpegs.size();
  ASSERT_GT(embedded, 0u);
  size_t withParent = 0;
  for (const Row& row : split.rows) {
    if (row.parent.empty()) continue;
    ++withParent;
    // The parent is a find of the normal scan that holds the row.
    bool held = false;
    for (const Row& outer : split.rows) {
      held = held || (outer.name == row.parent && outer.start <= row.start && row.end <= outer.end);
    }
    EXPECT_TRUE(held) << row;
  }
  EXPECT_GE(withParent, embedded);
  EXPECT_EQ(split.rows.size() - withParent, normal.rows.size());
}

}  // namespace
}  // namespace kestrix::test
