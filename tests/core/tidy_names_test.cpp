#include "core/tidy_names.h"

#include <gtest/gtest.h>

#include "core/candidate_list.h"

namespace kestrix {
namespace {

struct ValidationCase {
  const char* name;
  const char* prefix;
  const char* digits;
  bool valid;
};

class TidyValidation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(TidyValidation, AcceptsOnlyUsableSettings) {
  const ValidationCase& c = GetParam();
  TidySettings settings;
  TidyProblem problem = TidyProblem::None;
  EXPECT_EQ(validateTidySettings(c.prefix, c.digits, settings, &problem), c.valid);
  if (c.valid) {
    EXPECT_EQ(settings.digitsText, c.digits);
    EXPECT_EQ(settings.prefix, c.prefix);
  } else {
    EXPECT_TRUE(settings.digitsText.empty());
    EXPECT_TRUE(settings.prefix.empty());
    EXPECT_NE(problem, TidyProblem::None);
    EXPECT_EQ(tidyExampleName(settings), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, TidyValidation,
    ::testing::Values(ValidationCase{"DigitsTwoTooFew", "P", "2", false},
                      ValidationCase{"DigitsThree", "P", "3", true},
                      ValidationCase{"DigitsThirty", "P", "30", true},
                      ValidationCase{"DigitsThirtyOne", "P", "31", false},
                      ValidationCase{"DigitsWithLeadingZero", "P", "08", true},
                      ValidationCase{"DigitsWithLetter", "P", "3x", false},
                      ValidationCase{"DigitsWithSpace", "P", " 5", false},
                      ValidationCase{"DigitsFullWidth", "P", "１０", false},
                      ValidationCase{"DigitsEmpty", "P", "", false},
                      ValidationCase{"DigitsThreeCharacters", "P", "010", false},
                      ValidationCase{"PrefixEmpty", "", "8", true},
                      ValidationCase{"PrefixNineteen", "ABCDEFGHIJKLMNOPQRS", "8", true},
                      ValidationCase{"PrefixTwenty", "ABCDEFGHIJKLMNOPQRST", "8", false},
                      ValidationCase{"PrefixNineteenJapanese",
                                     "写真写真写真写真写真写真写真写真写真写", "8", true},
                      ValidationCase{"PrefixSlash", "a/b", "8", false},
                      ValidationCase{"PrefixBackslash", "a\\b", "8", false},
                      ValidationCase{"PrefixDotDot", "..", "8", false},
                      ValidationCase{"PrefixDot", ".", "8", false},
                      ValidationCase{"PrefixColon", "a:b", "8", false},
                      ValidationCase{"PrefixControl", "a\tb", "8", false},
                      ValidationCase{"PrefixInvalidUtf8", "\xff", "8", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TidyValidation, NulInPrefixIsRefused) {
  TidySettings settings;
  EXPECT_FALSE(validateTidySettings(std::string_view("a\0b", 3), "8", settings));
}

TEST(TidyValidation, ExampleShowsSerialOne) {
  TidySettings settings;
  ASSERT_TRUE(validateTidySettings("IMG", "4", settings));
  EXPECT_EQ(tidyExampleName(settings), "IMG0001.jpg");
  ASSERT_TRUE(validateTidySettings("", "8", settings));
  EXPECT_EQ(tidyExampleName(settings), "00000001.jpg");
}

struct RenameCase {
  const char* name;
  std::vector<std::string> before;
  const char* prefix;
  const char* digits;
  std::vector<std::string> after;
};

class TidyRenaming : public ::testing::TestWithParam<RenameCase> {};

TEST_P(TidyRenaming, RenamesRowsInOrder) {
  const RenameCase& c = GetParam();
  static const uint8_t bytes[16] = {};
  CandidateList list;
  for (const std::string& name : c.before) {
    ASSERT_TRUE(list.addCandidate(name, bytes, {FileType::Unknown, 0, 16}));
  }
  TidySettings settings;
  ASSERT_TRUE(validateTidySettings(c.prefix, c.digits, settings));
  tidyNames(list, settings, list.itemCount());
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    std::string name;
    ASSERT_TRUE(list.itemName(row, name));
    EXPECT_EQ(name, c.after[static_cast<size_t>(row)]) << "row " << row;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TidyRenaming,
    ::testing::Values(
        RenameCase{"CaseOnlyChangeContinuesTheRun",
                   {"00000000.jpg", "00000001.JPG", "00000002.png"},
                   "P",
                   "3",
                   {"P000.jpg", "P001.jpg", "P000.png"}},
        RenameCase{"EveryExtensionChangeRestartsAtZero",
                   {"a.jpg", "b.png", "c.jpg"},
                   "X",
                   "3",
                   {"X000.jpg", "X000.png", "X000.jpg"}},
        RenameCase{"NameWithoutDotKeepsNameAndSerial",
                   {"a.jpg", "noext", "b.jpg"},
                   "",
                   "4",
                   {"0000.jpg", "noext", "0001.jpg"}},
        RenameCase{
            "LeadingZeroDigitsPadToTheirValue", {"a.jpg"}, "IMG_", "08", {"IMG_00000000.jpg"}},
        RenameCase{"ExtensionLongerThanFifteenIsLeftAlone",
                   {"a.jpg", "b.abcdefghijklmnop", "c.jpg"},
                   "P",
                   "3",
                   {"P000.jpg", "b.abcdefghijklmnop", "P001.jpg"}},
        RenameCase{"ThirtyDigits", {"a.mov"}, "", "30", {"000000000000000000000000000000.mov"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TidyRenaming, OnlyTheRowsCountedBeforeTheDialogAreRenamed) {
  static const uint8_t bytes[16] = {};
  CandidateList list;
  list.addCandidate("a.jpg", bytes, {FileType::Jpeg, 0, 16});
  list.addCandidate("b.jpg", bytes, {FileType::Jpeg, 0, 16});
  TidySettings settings;
  ASSERT_TRUE(validateTidySettings("P", "3", settings));
  EXPECT_EQ(tidyNames(list, settings, 1), 1);
  std::string second;
  list.itemName(1, second);
  EXPECT_EQ(second, "b.jpg");
}

}  // namespace
}  // namespace kestrix
