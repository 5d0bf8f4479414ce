// The check both programs' tables of texts pass (cli/cli_texts.h,
// ui/widgets/window_texts.h): one row per id, in the enum's order, none
// empty, none said twice, and none a sentence of the shared table
// (texts/), so each text lives in one place.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>

#include "texts/job_texts.h"

namespace kestrix::test {

template <class Entry>
void expectEveryTextOnceInItsRow(std::span<const Entry> table, size_t count) {
  ASSERT_EQ(table.size(), count);
  std::set<std::string> seen;
  for (size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(static_cast<size_t>(table[i].id), i) << "row " << i << " is out of order";
    EXPECT_STRNE(table[i].text, "") << "row " << i;
    EXPECT_TRUE(seen.insert(table[i].text).second) << "said twice: " << table[i].text;
  }
  for (const CopyNoticeCode code : kCopyNoticeCodes) {
    EXPECT_EQ(seen.count(copyNoticeText(code)), 0u) << copyNoticeText(code);
  }
  EXPECT_EQ(seen.count(kNoPluginMessage), 0u);
}

}  // namespace kestrix::test
