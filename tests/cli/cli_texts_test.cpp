// The command line's table of texts: one row per CliText, in its order,
// each a sentence of its own, none of them a sentence the shared table
// already holds (each text lives in one place).
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_texts.h"
#include "tests/texts/text_table_check.h"

namespace kestrix {
namespace {

TEST(CliTexts, EveryTextOnceInItsRow) {
  test::expectEveryTextOnceInItsRow(cliTexts(), kCliTextCount);
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
