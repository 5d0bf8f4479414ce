// The questions asked of a destination before a restore writes anything:
// the decision over facts handed in, and the facts read from folders made
// at test time.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/candidate_list.h"
#include "jobs/restore_preflight.h"
#include "tests/jobs/made_destinations.h"
#include "texts/job_texts.h"

namespace kestrix {
namespace {

// A folder of its own, removed with what is left in it.
struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/kestrix-preflight-XXXXXX";
    path = ::mkdtemp(pattern);
  }
  ~Scratch() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

constexpr uint64_t kGiB = uint64_t{1} << 30;

DestinationFacts roomy() {
  DestinationFacts facts;
  facts.spaceKnown = true;
  facts.freeBytes = 100 * kGiB;
  facts.blockBytes = 4096;
  return facts;
}

struct DecisionCase {
  const char* name;
  DestinationFacts facts;
  std::vector<PlannedFile> files;
  RestoreRefusalKind expected;
  const char* messagePart;  // a piece the message must hold
};

class RestorePreflightDecision : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(RestorePreflightDecision, RefusesWhatWouldFailAndNothingElse) {
  const DecisionCase& c = GetParam();
  const RestoreRefusal refusal = checkRestoreDestination(c.facts, c.files);
  EXPECT_EQ(refusal.kind, c.expected);
  const std::string message = refusalText(refusal);
  EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
  EXPECT_EQ(message.empty(), c.expected == RestoreRefusalKind::None);
}

DecisionCase withFacts(const char* name, void (*edit)(DestinationFacts&),
                       std::vector<PlannedFile> files, RestoreRefusalKind expected,
                       const char* part) {
  DestinationFacts facts = roomy();
  edit(facts);
  return {name, facts, std::move(files), expected, part};
}

const std::vector<PlannedFile> kTwoPhotos = {{"00000000.jpg", 3'000'000}, {"00000001.jpg", 5'000}};
// 3,000,064 and 5,064 bytes in 4 KiB blocks: 733 + 2 blocks.
constexpr uint64_t kTwoPhotosNeed = (733 + 2) * 4096;

INSTANTIATE_TEST_SUITE_P(
    Cases, RestorePreflightDecision,
    ::testing::Values(
        withFacts(
            "RoomyFolderTakesThem", [](DestinationFacts&) {}, kTwoPhotos, RestoreRefusalKind::None,
            ""),
        withFacts(
            "ReadOnlyFileSystem", [](DestinationFacts& f) { f.unwritable = EROFS; }, kTwoPhotos,
            RestoreRefusalKind::Unwritable,
            "読み取り専用のため書き込みできません（Read-only file system）"),
        withFacts(
            "NoPermission", [](DestinationFacts& f) { f.unwritable = EACCES; }, kTwoPhotos,
            RestoreRefusalKind::Unwritable, "（Permission denied）"),
        withFacts(
            "ExactlyEnoughRoom", [](DestinationFacts& f) { f.freeBytes = kTwoPhotosNeed; },
            kTwoPhotos, RestoreRefusalKind::None, ""),
        withFacts(
            "OneBlockShort", [](DestinationFacts& f) { f.freeBytes = kTwoPhotosNeed - 1; },
            kTwoPhotos, RestoreRefusalKind::NotEnoughSpace, "（必要 2.9 MB、空き 2.9 MB）"),
        // A file of a few bytes still takes a whole block each.
        withFacts(
            "ManyTinyFilesTakeBlocks", [](DestinationFacts& f) { f.freeBytes = 3 * 4096 - 1; },
            {{"a.jpg", 10}, {"b.jpg", 10}, {"c.jpg", 10}}, RestoreRefusalKind::NotEnoughSpace,
            "必要 12 KB"),
        withFacts(
            "SpaceUnknownIsNoRefusal",
            [](DestinationFacts& f) {
              f.spaceKnown = false;
              f.freeBytes = 0;
            },
            kTwoPhotos, RestoreRefusalKind::None, ""),
        withFacts(
            "FatTakesTheLargestFileItCan", [](DestinationFacts& f) { f.fourGiBLimit = true; },
            {{"clip.mov", kFatLargestFile}}, RestoreRefusalKind::None, ""),
        withFacts(
            "FatRefusesFourGiB", [](DestinationFacts& f) { f.fourGiBLimit = true; },
            {{"00000000.jpg", 10}, {"clip.mov", 4 * kGiB}}, RestoreRefusalKind::FileTooLargeForFat,
            "clip.mov は 4 GB 以上あるため"),
        withFacts(
            "FatNamesTheFirstAndCountsTheRest", [](DestinationFacts& f) { f.fourGiBLimit = true; },
            {{"a.mov", 5 * kGiB}, {"b.mov", 6 * kGiB}, {"c.mov", 7 * kGiB}},
            RestoreRefusalKind::FileTooLargeForFat, "a.mov ほか 2 個のファイル は"),
        withFacts(
            "LargeFileElsewhereIsFine", [](DestinationFacts&) {}, {{"clip.mov", 5 * kGiB}},
            RestoreRefusalKind::None, ""),
        // The card comes first: no other answer helps when writing there
        // would overwrite what is being rescued.
        withFacts(
            "OnTheCardBeforeAllElse",
            [](DestinationFacts& f) {
              f.onSource = true;
              f.unwritable = EROFS;
              f.freeBytes = 0;
            },
            kTwoPhotos, RestoreRefusalKind::OnSource, "コピー元のドライブ上")),
    [](const ::testing::TestParamInfo<DecisionCase>& info) {
      return std::string(info.param.name);
    });

// The plan is of the rows the restore will be given, as given, never of
// the whole list; a row the list lacks is the restore's to report.
TEST(RestorePreflight, PlansTheRowsItIsGiven) {
  static const uint8_t bytes[4096] = {};
  CandidateList list;
  ASSERT_TRUE(list.addCandidate("a.jpg", bytes, {FileType::Jpeg, 0, 1000}));
  ASSERT_TRUE(list.addCandidate("b.jpg", bytes, {FileType::Jpeg, 1000, 3000}));
  ASSERT_TRUE(list.addCandidate("c.png", bytes, {FileType::Png, 3000, 3100}));
  const std::vector<PlannedFile> files = plannedFiles(list, {2, 0, 7});
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, "c.png");
  EXPECT_EQ(files[0].bytes, 100u);
  EXPECT_EQ(files[1].name, "a.jpg");
  EXPECT_EQ(files[1].bytes, 1000u);
  EXPECT_TRUE(plannedFiles(list, {}).empty());
}

TEST(RestorePreflight, SizesInTheListsUnits) {
  EXPECT_EQ(sizeText(1), "1 KB");
  EXPECT_EQ(sizeText(1024 * 1024 - 1), "1024 KB");
  EXPECT_EQ(sizeText(3 * 1024 * 1024 + 400 * 1024), "3.4 MB");
  EXPECT_EQ(sizeText(5 * kGiB / 2), "2.5 GB");
}

TEST(RestorePreflight, ExaminesMissingAndNonFolderDestinations) {
  Scratch folder;
  EXPECT_EQ(examineDestination(folder.file("missing"), "").unwritable, ENOENT);
  std::ofstream(folder.file("plain")) << "x";
  EXPECT_EQ(examineDestination(folder.file("plain"), "").unwritable, ENOTDIR);
  const DestinationFacts fine = examineDestination(folder.path, "");
  EXPECT_EQ(fine.unwritable, 0);
  EXPECT_TRUE(fine.spaceKnown);
  EXPECT_GT(fine.freeBytes, 0u);
  EXPECT_FALSE(fine.onSource) << "an image file names no card";
}

TEST(RestorePreflight, ExaminesAReadOnlyFolderMadeNow) {
  Scratch folder;
  test::MadeDestination readOnly(folder.path, test::MadeDestination::Kind::ReadOnly);
  if (!readOnly.ok()) GTEST_SKIP() << readOnly.why();
  const int error = examineDestination(readOnly.path(), "").unwritable;
  EXPECT_TRUE(error == EROFS || error == EACCES) << error;
}

TEST(RestorePreflight, ExaminesASmallFileSystemMadeNow) {
  Scratch folder;
  test::MadeDestination small(folder.path, test::MadeDestination::Kind::Small, 64 * 1024);
  if (!small.ok()) GTEST_SKIP() << small.why();
  const DestinationFacts facts = examineDestination(small.path(), "");
  ASSERT_TRUE(facts.spaceKnown);
  EXPECT_LE(facts.freeBytes, 64u * 1024);
  EXPECT_EQ(checkRestoreDestination(facts, {{"big.jpg", 200 * 1024}}).kind,
            RestoreRefusalKind::NotEnoughSpace);
  EXPECT_EQ(checkRestoreDestination(facts, {{"small.jpg", 1000}}).kind, RestoreRefusalKind::None);
}

}  // namespace
}  // namespace kestrix
