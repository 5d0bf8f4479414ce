// The report window's text handling and its layout rule.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/widgets/report_window.h"

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

}  // namespace
}  // namespace kestrix
