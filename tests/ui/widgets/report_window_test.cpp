// The report window's text handling and its layout rule.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "ui/dialogs/scripted_prompter.h"
#include "ui/widgets/report_window.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {
namespace {

TEST(ReportWindowTest, ShowsWindowsLineEndsAsLinesAndStartsAtTheTop) {
  ReportWindow window(QString::fromUtf8("メディア情報: 100 バイト\r\n\r\n復元リスト：\r\n"));
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("スキャン結果"));
  EXPECT_EQ(window.text(), QString::fromUtf8("メディア情報: 100 バイト\n\n復元リスト：\n"));
  EXPECT_TRUE(window.textField()->isReadOnly());
  EXPECT_EQ(window.textField()->textCursor().position(), 0);

  ReportWindow titled("x", QString::fromUtf8("イメージ作成の結果"));
  EXPECT_EQ(titled.windowTitle(), QString::fromUtf8("イメージ作成の結果"));
}

TEST(ReportWindowTest, KeepsTheTextFullWidthAndOkAtTheCornerOnResize) {
  ReportWindow window("text");
  window.show();
  for (const QSize size : {QSize(400, 300), QSize(900, 620)}) {
    window.resize(size);
    EXPECT_EQ(window.textField()->geometry(), QRect(0, 0, size.width(), size.height() - 40));
    EXPECT_EQ(window.okButton()->pos(), QPoint(size.width() - 120, size.height() - 30));
  }
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct SaveCase {
  const char* name;
  const char* text;  // UTF-8, as the window gets it
  TextEncoding encoding;
  bool saved;
  QByteArray bytes;  // the file's bytes when saved
};

const SaveCase kSaveCases[] = {
    {"Utf8LfBecomesCrLf", "復元リスト：\n00000000.jpg\n", TextEncoding::Utf8, true,
     QByteArray("\xE5\xBE\xA9\xE5\x85\x83\xE3\x83\xAA\xE3\x82\xB9\xE3\x83\x88\xEF\xBC\x9A"
                "\r\n00000000.jpg\r\n")},
    {"ShiftJisWithWindowsSigns", "復元リスト：～①\r\n", TextEncoding::ShiftJis, true,
     QByteArray("\x95\x9C\x8C\xB3\x83\x8A\x83\x58\x83\x67\x81\x46\x81\x60\x87\x40\r\n")},
    {"ShiftJisAscii", "a\tb\rc", TextEncoding::ShiftJis, true, QByteArray("a\tb\r\nc")},
    {"HangulHasNoShiftJis", "写真 한글\n", TextEncoding::ShiftJis, false, QByteArray()},
};

class ReportSave : public testing::TestWithParam<SaveCase> {};

TEST_P(ReportSave, WritesCrLfInTheChosenEncodingOrRefuses) {
  const SaveCase& c = GetParam();
  QTemporaryDir folder;
  const QString path = QDir(folder.path()).filePath("report.txt");
  ScriptedPrompter prompter;
  ReportWindow window(QString::fromUtf8(c.text), QString(), nullptr, prompter);
  window.encodingBox()->setCurrentIndex(c.encoding == TextEncoding::Utf8 ? 0 : 1);
  prompter.queuePath(path);
  EXPECT_EQ(window.saveText(), c.saved);
  if (c.saved) {
    EXPECT_EQ(readAll(path), c.bytes);
    EXPECT_TRUE(prompter.requests().size() == 1u &&
                prompter.requests()[0].kind == ScriptedPrompter::Kind::SaveFile);
  } else {
    EXPECT_FALSE(QFile::exists(path)) << "nothing half-written";
    ASSERT_EQ(prompter.requests().size(), 2u);
    EXPECT_EQ(prompter.requests()[1].kind, ScriptedPrompter::Kind::Warn);
    EXPECT_EQ(prompter.requests()[1].text,
              QString::fromUtf8(windowText(WindowText::ReportNotShiftJisMessage)));
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ReportSave, testing::ValuesIn(kSaveCases),
                         [](const testing::TestParamInfo<SaveCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ReportWindowTest, AsksBeforeReplacingAFileAndHonoursBothAnswers) {
  QTemporaryDir folder;
  const QString path = QDir(folder.path()).filePath("kept.txt");
  QFile existing(path);
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.write("mine");
  existing.close();
  ScriptedPrompter prompter;
  ReportWindow window("report", QString(), nullptr, prompter);

  prompter.queuePath(path);
  prompter.queueAnswer(false);
  EXPECT_FALSE(window.saveText());
  EXPECT_EQ(readAll(path), QByteArray("mine"));
  ASSERT_EQ(prompter.requests().size(), 2u);
  EXPECT_EQ(prompter.requests()[1].text,
            QString::fromUtf8(windowText(WindowText::ReportReplaceQuestion)));
  EXPECT_EQ(prompter.requests()[1].defaultAnswer, DefaultAnswer::No);

  prompter.queuePath(path);
  prompter.queueAnswer(true);
  EXPECT_TRUE(window.saveText());
  EXPECT_EQ(readAll(path), QByteArray("report"));

  // Cancelled file choice: nothing asked, nothing written.
  prompter.clearRequests();
  EXPECT_FALSE(window.saveText());
  EXPECT_EQ(prompter.requests().size(), 1u);
}

TEST(ReportWindowTest, SaveIntoAMissingFolderSaysSo) {
  QTemporaryDir folder;
  ScriptedPrompter prompter;
  ReportWindow window("report", QString(), nullptr, prompter);
  EXPECT_FALSE(
      window.saveTextTo(QDir(folder.path()).filePath("missing/report.txt"), TextEncoding::Utf8));
  ASSERT_EQ(prompter.requests().size(), 1u);
  EXPECT_EQ(prompter.requests()[0].kind, ScriptedPrompter::Kind::Warn);
  EXPECT_TRUE(prompter.requests()[0].text.startsWith(
      QString::fromUtf8(windowText(WindowText::ReportSaveFailedMessage))));
}

TEST(ReportWindowTest, CopyPutsTheShownTextOnTheClipboard) {
  ReportWindow window(QString::fromUtf8("一行目\r\n二行目\r\n"));
  QGuiApplication::clipboard()->clear();
  window.copyButton()->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("一行目\n二行目\n"));
}

}  // namespace
}  // namespace kestrix
