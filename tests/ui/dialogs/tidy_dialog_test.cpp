// The tidy dialog fed through its boxes as a user types, and the renaming
// that the window runs with what it accepted.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "core/candidate_list.h"
#include "ui/dialogs/scripted_prompter.h"
#include "ui/dialogs/tidy_dialog.h"

namespace kestrix {
namespace {

struct BoxCase {
  const char* name;
  const char* prefix;
  const char* digits;
  bool valid;
  const char* example;
};

const BoxCase kBoxCases[] = {
    // name                     prefix                  digits  valid  example
    {"TwoDigitsTooFew", "", "2", false, "例: 未設定"},
    {"ThirtyOneTooMany", "", "31", false, "例: 未設定"},
    {"ThreeIsTheLeast", "", "3", true, "例: 001.jpg"},
    {"ThirtyIsTheMost", "", "30", true, "例: 000000000000000000000000000001.jpg"},
    {"LeadingZeroReadsEight", "", "08", true, "例: 00000001.jpg"},
    {"EmptyPrefixEightDigits", "", "8", true, "例: 00000001.jpg"},
    {"PrefixBeforeSerial", "IMG", "4", true, "例: IMG0001.jpg"},
    {"LetterAfterDigit", "", "3x", false, "例: 未設定"},
    {"SpaceBeforeDigit", "", " 5", false, "例: 未設定"},
    {"FullWidthDigits", "", "１０", false, "例: 未設定"},
    {"EmptyDigits", "", "", false, "例: 未設定"},
    {"NineteenCharacterPrefix", "ABCDEFGHIJKLMNOPQRS", "3", true, "例: ABCDEFGHIJKLMNOPQRS001.jpg"},
    {"JapanesePrefix", "旅行ｼｬｼﾝ　", "3", true, "例: 旅行ｼｬｼﾝ　001.jpg"},
    {"SlashInPrefix", "a/b", "3", false, "例: 未設定"},
    {"BackslashInPrefix", "a\\b", "3", false, "例: 未設定"},
    {"ColonInPrefix", "a:b", "3", false, "例: 未設定"},
    {"DotDotPrefix", "..", "3", false, "例: 未設定"},
};

class TidyBoxes : public testing::TestWithParam<BoxCase> {};

TEST_P(TidyBoxes, ValidationAndExampleFollowTheBoxes) {
  const BoxCase& c = GetParam();
  ScriptedPrompter prompter;
  TidyDialog dialog(nullptr, prompter);
  dialog.show();
  dialog.prefixEdit()->setText(QString::fromUtf8(c.prefix));
  dialog.digitsEdit()->setText(QString::fromUtf8(c.digits));

  EXPECT_EQ(dialog.exampleLabel()->text().toStdString(), c.example);

  QSignalSpy accepted(&dialog, &QDialog::accepted);
  dialog.findChild<QPushButton*>("button1")->click();
  if (c.valid) {
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_TRUE(prompter.requests().empty());
    EXPECT_EQ(dialog.settings().prefix, c.prefix);
    EXPECT_EQ(dialog.settings().digitsText, c.digits);
  } else {
    EXPECT_EQ(accepted.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(prompter.requests().size(), 1u);
    EXPECT_EQ(prompter.requests()[0].caption, QStringLiteral("情報"));
    EXPECT_TRUE(dialog.settings().digitsText.empty());
    EXPECT_TRUE(dialog.settings().prefix.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Dialog, TidyBoxes, testing::ValuesIn(kBoxCases),
                         [](const testing::TestParamInfo<BoxCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(TidyDialog, OpensWithEightDigitsAndItsExample) {
  TidyDialog dialog;
  EXPECT_EQ(dialog.digitsEdit()->text(), QStringLiteral("8"));
  EXPECT_TRUE(dialog.prefixEdit()->text().isEmpty());
  EXPECT_EQ(dialog.exampleLabel()->text(), QStringLiteral("例: 00000001.jpg"));
}

TEST(TidyDialog, BadDigitsGiveTheDigitsMessage) {
  ScriptedPrompter prompter;
  TidyDialog dialog(nullptr, prompter);
  dialog.show();
  dialog.digitsEdit()->setText(QStringLiteral("31"));
  dialog.findChild<QPushButton*>("button1")->click();
  ASSERT_EQ(prompter.requests().size(), 1u);
  EXPECT_EQ(prompter.requests()[0].kind, ScriptedPrompter::Kind::Inform);
  EXPECT_EQ(prompter.requests()[0].text,
            QStringLiteral("[連番字数] には半角数字2文字で3-30までの長さを指定して下さい。"));
}

TEST(TidyDialog, TypingStopsAtTheBoxLimits) {
  TidyDialog dialog;
  dialog.show();
  dialog.prefixEdit()->clear();
  QTest::keyClicks(dialog.prefixEdit(), QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
  EXPECT_EQ(dialog.prefixEdit()->text(), QStringLiteral("ABCDEFGHIJKLMNOPQRS"));
  dialog.digitsEdit()->clear();
  QTest::keyClicks(dialog.digitsEdit(), QStringLiteral("123"));
  EXPECT_EQ(dialog.digitsEdit()->text(), QStringLiteral("12"));
}

TEST(TidyDialog, CancelKeepsNothing) {
  ScriptedPrompter prompter;
  TidyDialog dialog(nullptr, prompter);
  dialog.show();
  dialog.digitsEdit()->setText(QStringLiteral("2"));
  QSignalSpy rejected(&dialog, &QDialog::rejected);
  dialog.findChild<QPushButton*>("button2")->click();
  EXPECT_EQ(rejected.count(), 1);
  EXPECT_TRUE(prompter.requests().empty());
  EXPECT_TRUE(dialog.settings().digitsText.empty());
}

TEST(TidyDialog, AcceptedSettingsRenameRowsByExtensionRuns) {
  static const uint8_t bytes[16] = {};
  CandidateList list;
  for (const char* name : {"00000000.jpg", "00000001.JPG", "00000002.png"}) {
    ASSERT_TRUE(list.addCandidate(name, bytes, {FileType::Unknown, 0, sizeof bytes}));
  }
  const int32_t rows = list.itemCount();

  TidyDialog dialog;
  dialog.show();
  dialog.prefixEdit()->setText(QStringLiteral("P"));
  dialog.digitsEdit()->setText(QStringLiteral("3"));
  QSignalSpy accepted(&dialog, &QDialog::accepted);
  dialog.findChild<QPushButton*>("button1")->click();
  ASSERT_EQ(accepted.count(), 1);

  EXPECT_EQ(tidyNames(list, dialog.settings(), rows), 3);
  std::vector<std::string> names;
  for (int32_t row = 0; row < rows; ++row) {
    std::string name;
    ASSERT_TRUE(list.itemName(row, name));
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"P000.jpg", "P001.jpg", "P000.png"}));
}

}  // namespace
}  // namespace kestrix
