// The results' row texts, made once per row: kept while nothing the row
// shows changed, made again after a rename, a join and a clear; and the
// sort keys, which read the same texts, order the rows as the cells read.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <string>
#include <vector>

#include "synthetic_rows.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"

namespace kestrix {
namespace {

using test::SyntheticImage;
using test::SyntheticRow;
using Column = RowTexts::Column;

QString cell(const QAbstractItemModel& model, int row, Column column) {
  return model.data(model.index(row, static_cast<int>(column))).toString();
}

TEST(RowTextCacheTest, KeptUntilARenameAJoinOrAClearChangesTheRow) {
  SyntheticImage image;
  const uint64_t canon = image.block("Canon", "EOS", "2003:07:14 09:05:30");
  const uint64_t plain = image.block("", "", "");
  image.finish(64 * 1024);
  ResultList list;
  QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
  ASSERT_TRUE(test::addRow(list, image, SyntheticRow("a.jpg", canon, 2048)));
  ASSERT_TRUE(test::addRow(list, image, SyntheticRow("b.jpg", plain, 3072)));
  list.publishRows(list.candidates().itemCount());
  EXPECT_EQ(cell(list, 0, Column::Maker), "Canon");
  EXPECT_EQ(cell(list, 0, Column::Size), "2KB");
  EXPECT_EQ(cell(list, 1, Column::Size), "3KB");

  // The find grows without a word to the model: the cells keep what they
  // were made from, through a refresh of the verdicts too.
  CheckResult intact;
  intact.verdict = Verdict::Intact;
  CandidateList& candidates = list.candidates();
  ASSERT_TRUE(candidates.setCheck(0, intact));
  ASSERT_TRUE(candidates.setReassembly(0, {{canon, canon + 2048}, {60000, 63000}}, intact));
  list.showVerdicts();
  EXPECT_EQ(cell(list, 0, Column::Size), "2KB") << "made again on every read";

  // A join refreshes every column of the rows (joinSplitPhotos, run whole
  // in split_photo_test.cpp): now the joined size shows.
  emit list.dataChanged(list.index(0, 0), list.index(1, ResultList::kColumnCount - 1),
                        {Qt::DisplayRole, Qt::ToolTipRole, Qt::DecorationRole});
  EXPECT_EQ(cell(list, 0, Column::Size), "4KB");

  ASSERT_TRUE(candidates.setItemName(1, "renamed.jpg"));
  EXPECT_EQ(cell(list, 1, Column::Name), "renamed.jpg");
  EXPECT_EQ(cell(list, 0, Column::Name), "a.jpg");

  list.clear();
  ASSERT_TRUE(test::addRow(list, image, SyntheticRow("c.jpg", plain, 1024)));
  list.publishRows(list.candidates().itemCount());
  EXPECT_EQ(cell(list, 0, Column::Name), "c.jpg");
  EXPECT_EQ(cell(list, 0, Column::Maker), "不明");
  EXPECT_EQ(cell(list, 0, Column::Size), "1KB");
  EXPECT_EQ(list.rowTexts(1), nullptr);
}

// A sorted column reads, top to bottom, as its keys say: the texts in
// order without regard to case, every row without a value after them.
TEST(RowTextCacheTest, SortKeysAgreeWithTheShownTexts) {
  SyntheticImage image;
  const std::vector<uint64_t> blocks = {
      image.block("canon", "EOS 5D", "2003:07:14 09:05:30"),
      image.block("Canon", "eos 10D", "2001:01:01 00:00:00"),
      image.block("Nikon", "", "2003:07:14 09:05:3"),  // a date cut short sorts as none
      image.block("", "Coolpix", ""),
      image.block("", "", ""),
      image.block("ÄGFA", "ePhoto", "1999:12:31 23:59:59"),
  };
  image.finish(16 * 1024);
  ResultList list;
  ResultFilter filter(list);
  FilterCriteria everything;
  everything.hideNested = false;
  filter.setCriteria(everything);
  const char* names[] = {"B.jpg", "a.jpg", "c.JPG", "A2.jpg", "b1.jpg", "Z.jpg"};
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (int copy = 0; copy < 2; ++copy) {
      const std::string name = std::to_string(copy) + names[i];
      ASSERT_TRUE(test::addRow(list, image, SyntheticRow(name, blocks[i], 100 * (i + 1))));
    }
  }
  list.publishRows(list.candidates().itemCount());

  const QString unknown = QString::fromUtf8("不明");
  for (const Column column :
       {Column::Name, Column::Model, Column::ShotDate, Column::Maker, Column::Endian}) {
    for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
      filter.sort(static_cast<int>(column), order);
      ASSERT_EQ(filter.rowCount(), list.rowCount());
      bool noneYet = false;
      QString previous;
      for (int row = 0; row < filter.rowCount(); ++row) {
        const QString text = cell(filter, row, column);
        const bool none = text == unknown || (column == Column::ShotDate && text.size() != 19);
        const QString folded = text.toCaseFolded();
        SCOPED_TRACE(testing::Message() << "column " << static_cast<int>(column) << " order "
                                        << order << " row " << row << ": " << text.toStdString());
        if (none) {
          noneYet = true;
          continue;
        }
        EXPECT_FALSE(noneYet) << "a value after a row without one";
        if (row > 0 && !previous.isNull()) {
          EXPECT_TRUE(order == Qt::AscendingOrder ? previous <= folded : previous >= folded);
        }
        previous = folded;
      }
    }
  }
}

}  // namespace
}  // namespace kestrix
