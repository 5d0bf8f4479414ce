// The errno table: every text a user meets is Japanese, keeps the system's
// own English words, and does not follow the process's locale.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <string>

#include "platform/system_error_text.h"

namespace kestrix {
namespace {

struct Case {
  const char* name;
  int error;
  const char* expected;
};

class SystemErrorTextTest : public ::testing::TestWithParam<Case> {};

TEST_P(SystemErrorTextTest, JapaneseWithTheSystemWordsInParentheses) {
  EXPECT_EQ(systemErrorText(GetParam().error), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SystemErrorTextTest,
    ::testing::Values(
        Case{"ReadOnlyFileSystem", EROFS,
             "読み取り専用のため書き込みできません（Read-only file system）"},
        Case{"DiskFull", ENOSPC, "ディスクの空き容量が足りません（No space left on device）"},
        Case{"FileTooLarge", EFBIG, "ファイルが大きすぎて保存できません（File too large）"},
        Case{"PermissionDenied", EACCES, "アクセスが許可されていません（Permission denied）"},
        Case{"Missing", ENOENT, "ファイルまたはフォルダがありません（No such file or directory）"},
        Case{"CardPulledOut", ENODEV, "装置が見つかりません（No such device）"},
        // A value outside the table still says what the system said.
        Case{"UnknownToTheTable", EDOM, "システムエラー 33（Numerical argument out of domain）"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(SystemErrorText, OurSentenceComesFirst) {
  EXPECT_EQ(withSystemError("出力ファイルを作成できませんでした", EROFS),
            "出力ファイルを作成できませんでした：読み取り専用のため書き込みできません"
            "（Read-only file system）");
}

TEST(SystemErrorText, TheSystemWordsStayEnglishUnderAnotherLocale) {
  // A desktop in another language sets LC_MESSAGES (Qt calls setlocale at
  // start-up); the words in parentheses must still be the ones users search.
  const std::string before = std::setlocale(LC_ALL, nullptr);
  const bool switched = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr ||
                        std::setlocale(LC_ALL, "ja_JP.UTF-8") != nullptr;
  const std::string text = englishErrorText(ENOSPC);
  std::setlocale(LC_ALL, before.c_str());
  if (!switched) GTEST_SKIP() << "no other locale installed to switch to";
  EXPECT_EQ(text, "No space left on device");
}

}  // namespace
}  // namespace kestrix
