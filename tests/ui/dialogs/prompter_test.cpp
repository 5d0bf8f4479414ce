// The question box of the program's prompter: which button Return presses,
// and that Qt's own button texts come out in Japanese.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTemporaryDir>
#include <QTreeView>

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
  const auto box =
      makeQuestionBox(nullptr, QStringLiteral("質問"), QStringLiteral("?"), GetParam().answer);
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
  if (!QFileInfo::exists(file))
    GTEST_SKIP() << "no " << file.toStdString() << " (qt6-translations-l10n)";
  ASSERT_TRUE(installJapaneseQtTranslation(*QApplication::instance()));
  const auto box =
      makeQuestionBox(nullptr, QStringLiteral("質問"), QStringLiteral("?"), DefaultAnswer::Yes);
  EXPECT_TRUE(box->button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")))
      << box->button(QMessageBox::Yes)->text().toStdString();
  EXPECT_TRUE(box->button(QMessageBox::No)->text().startsWith(QStringLiteral("いいえ")));
}

// Qt's own file dialog over a folder with one image: the modified column
// reads in the program's form, whatever the session's locale.
TEST(FileDialogDates, ModifiedTimesReadInTheProgramsForm) {
  QTemporaryDir folder;
  QFile image(folder.filePath(QStringLiteral("card.ksx")));
  ASSERT_TRUE(image.open(QIODevice::WriteOnly));
  image.close();
  QFileDialog dialog(nullptr, QStringLiteral("ディスクイメージを開く"), folder.path());
  dialog.setOption(QFileDialog::DontUseNativeDialog);  // the dialog a bare X server gets
  useJapaneseDates(dialog);
  auto* files = dialog.findChild<QFileSystemModel*>();
  ASSERT_NE(files, nullptr);
  dialog.show();
  auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  ASSERT_NE(list, nullptr);
  // The model lists the folder on a thread of its own.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 1; }, 10000));
  const QModelIndex root = list->rootIndex();
  const QString text = list->model()->index(0, 3, root).data().toString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}$"))
                  .match(text)
                  .hasMatch())
      << text.toStdString();
}

}  // namespace
}  // namespace kestrix
