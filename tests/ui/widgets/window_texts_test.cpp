// The window's table of texts, one row per WindowText, each said once; and
// its words for its jobs' codes: a box for every copy notice, none for a
// value that names no notice, and a restore's failures listed up to the
// limit, the rest counted.
#include <gtest/gtest.h>

#include <QStringList>

#include <set>

#include "tests/texts/text_table_check.h"
#include "texts/job_texts.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {
namespace {

TEST(WindowTexts, EveryTextOnceInItsRow) {
  test::expectEveryTextOnceInItsRow(windowTexts(), kWindowTextCount);
}

TEST(WindowTexts, EveryCopyNoticeHasItsOwnBox) {
  std::set<QString> seen;
  for (const CopyNoticeCode code : kCopyNoticeCodes) {
    const QString text = copyNoticeBoxText(code);
    EXPECT_TRUE(text.startsWith(QString::fromUtf8(copyNoticeText(code)))) << code;
    EXPECT_TRUE(seen.insert(text).second) << "said twice: " << text.toStdString();
  }
  EXPECT_TRUE(copyNoticeBoxText(0).isEmpty());
  EXPECT_TRUE(copyNoticeBoxText(CopyNoticeDriveLost)
                  .endsWith(QString::fromUtf8(windowText(WindowText::ResumePossibleMessage))));
}

TEST(WindowTexts, FailuresAreListedUpToTheLimitAndTheRestCounted) {
  struct Case {
    const char* name;
    int failures;
    int listed;
    int namesShown;
    const char* rest;  // the line that counts the others; empty when none
  };
  const Case cases[] = {
      {"one", 1, 10, 1, ""},
      {"exactly the limit", 10, 10, 10, ""},
      {"one past the limit", 11, 10, 10, "…ほか 1 個"},
      {"many past it", 25, 10, 10, "…ほか 15 個"},
  };
  for (const Case& c : cases) {
    RestoreOutcome outcome;
    outcome.written = 2;
    for (int i = 0; i < c.failures; ++i) {
      outcome.failures.push_back(
          {i, "F" + std::to_string(i) + ".jpg", {FileProblemCode::NotExtracted}});
    }
    const QString text = restoreFailuresText(outcome, c.listed);
    const QStringList lines = text.split("\r\n");
    EXPECT_EQ(lines.first(),
              QString::fromUtf8("%1 個のファイルを復元できませんでした（2 個は復元しました）。")
                  .arg(c.failures))
        << c.name;
    EXPECT_EQ(lines.size(), 1 + c.namesShown + (*c.rest != '\0' ? 1 : 0)) << c.name;
    EXPECT_EQ(lines[1], QString::fromUtf8("F0.jpg: データを取り出せませんでした")) << c.name;
    if (*c.rest != '\0') {
      EXPECT_EQ(lines.last(), QString::fromUtf8(c.rest)) << c.name;
    }
  }
}

}  // namespace
}  // namespace kestrix
