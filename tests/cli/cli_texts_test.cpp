// The command line's table of texts: one row per CliText, in its order,
// each a sentence of its own, none of them a sentence the shared table
// already holds (each text lives in one place).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/cli_texts.h"
#include "texts/job_texts.h"

namespace kestrix {
namespace {

TEST(CliTexts, EveryTextOnceInItsRow) {
  const auto table = cliTexts();
  ASSERT_EQ(table.size(), kCliTextCount);
  std::set<std::string> seen;
  for (size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(static_cast<size_t>(table[i].id), i) << "row " << i << " is out of order";
    EXPECT_STRNE(table[i].text, "") << "row " << i;
    EXPECT_TRUE(seen.insert(table[i].text).second) << "said twice: " << table[i].text;
  }
  for (const CopyNoticeCode code : kCopyNoticeCodes) {
    EXPECT_EQ(seen.count(copyNoticeText(code)), 0u) << copyNoticeText(code);
  }
}

TEST(CliTexts, FieldsAreFilledIn) {
  EXPECT_EQ(cliFormat(CliText::NoSuchCandidate, "00000001.jpg"),
            "その名前の復元候補はありません: 00000001.jpg");
  EXPECT_EQ(cliFormat(CliText::RowsNotAdded, 3ULL),
            "メモリ不足のため、3 個の候補を一覧に追加できませんでした。");
  EXPECT_STREQ(cliText(CliText::StoppedBeforeRestore),
               "中断しました。ファイルは復元していません。");
}

}  // namespace
}  // namespace kestrix
