// The question box of the program's prompter: which button Return presses,
// and that Qt's own button texts come out in Japanese.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>

#include "ui/dialogs/prompter.h"
#include "ui/dialogs/qt_translation.h"

namespace kestrix {
namespace {

struct DefaultCase {
  const char* name;
  DefaultAnswer answer;
  QMessageBox::StandardButton expected;
};

class QuestionBoxDefault : public testing::TestWithParam<DefaultCase> {};

TEST_P(QuestionBoxDefault, ReturnPressesTheAskedButtonAndEscapeSaysNo) {
  const auto box = makeQuestionBox(nullptr, QStringLiteral("質問"), QStringLiteral("?"),
                                   GetParam().answer);
  ASSERT_NE(box->defaultButton(), nullptr);
  EXPECT_EQ(box->standardButton(box->defaultButton()), GetParam().expected);
  EXPECT_EQ(box->standardButton(box->escapeButton()), QMessageBox::No);
  EXPECT_EQ(box->icon(), QMessageBox::Question);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, QuestionBoxDefault,
    testing::Values(DefaultCase{"StartingWorkDefaultsToYes", DefaultAnswer::Yes, QMessageBox::Yes},
                    DefaultCase{"EverythingElseDefaultsToNo", DefaultAnswer::No, QMessageBox::No}),
    [](const testing::TestParamInfo<DefaultCase>& info) { return info.param.name; });

TEST(QtTranslation, StandardButtonsSpeakJapanese) {
  const QString file =
      QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm");
  if (!QFileInfo::exists(file)) GTEST_SKIP() << "no " << file.toStdString() << " (qt6-translations-l10n)";
  ASSERT_TRUE(installJapaneseQtTranslation(*QApplication::instance()));
  const auto box = makeQuestionBox(nullptr, QStringLiteral("質問"), QStringLiteral("?"),
                                   DefaultAnswer::Yes);
  EXPECT_TRUE(box->button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")))
      << box->button(QMessageBox::Yes)->text().toStdString();
  EXPECT_TRUE(box->button(QMessageBox::No)->text().startsWith(QStringLiteral("いいえ")));
}

}  // namespace
}  // namespace kestrix
