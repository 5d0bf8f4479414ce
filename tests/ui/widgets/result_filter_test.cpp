// The filter between the results list and its views: Qt's model tester on
// both models while rows stream in sorted and filtered, the sort keys'
// order, rows appended while sorted, and rows the filter hides leaving the
// selection (result_selection_test.cpp has the rest of the selection).
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>
#include <vector>

#include "filtered_results.h"
#include "synthetic_rows.h"
#include "ui/widgets/result_feed.h"

namespace kestrix {
namespace {

using test::SyntheticImage;
using test::SyntheticRow;
using Tester = QAbstractItemModelTester;
using Models = test::FilteredResults;

constexpr int kWaitMs = 30000;

std::vector<int> sorted(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

FilterCriteria showEverything() {
  FilterCriteria criteria;
  criteria.hideNested = false;
  return criteria;
}

TEST(ResultFilterTest, ModelTesterHoldsWhileRowsStreamInSortedAndFiltered) {
  SyntheticImage image;
  const uint64_t withExif = image.block("Kestrix", "KX-100", "2003:07:14 09:05:30");
  const uint64_t plain = image.block("", "", "");
  image.finish(64 * 1024);
  Models models;
  Tester sourceTester(&models.list, Tester::FailureReportingMode::Fatal);
  Tester filterTester(&models.filter, Tester::FailureReportingMode::Fatal);
  models.details.show();
  models.details.sortByColumn(int(RowTexts::Column::Size), Qt::DescendingOrder);
  FilterCriteria criteria;  // nested hidden
  criteria.hideDamaged = true;
  models.filter.setCriteria(criteria);

  // Every seventh row nested, every fifth damaged, sizes repeating so that
  // ties are common; in batches both above and below kRelayoutRows.
  constexpr int kRows = 3000;
  const auto rowAt = [&](int i) {
    SyntheticRow row;
    row.name = "r" + std::to_string(i) + ".jpg";
    row.start = i % 2 ? withExif : plain;
    row.size = 1024 * (i % 37) + 10;
    if (i % 7 == 0) row.parent = "r0.jpg";
    row.checked = i % 5 == 0;
    row.verdict = Verdict::Damaged;
    return row;
  };
  std::atomic<bool> done{false};
  std::thread scan([&] {
    for (int i = 0; i < kRows; ++i) {
      ASSERT_TRUE(test::addRow(models.list, image, rowAt(i)));
      // Pauses longer than a flush: batches of 250, then of 25.
      if (i < 2000 ? i % 250 == 0 : i < 2250 && i % 25 == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    done = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, kWaitMs));
  scan.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return models.list.rowCount() == kRows; }, kWaitMs));
  models.list.showVerdicts();  // a check of a published row arrives later

  int expected = 0;
  for (int i = 0; i < kRows; ++i) expected += i % 7 != 0 && i % 5 != 0;
  EXPECT_EQ(models.filter.rowCount(), expected);
  EXPECT_EQ(models.filter.totalRows(), kRows);
  const std::vector<int> shown = models.shownRows();
  for (size_t i = 1; i < shown.size(); ++i) {
    const uint64_t before = rowAt(shown[i - 1]).size;
    const uint64_t after = rowAt(shown[i]).size;
    ASSERT_TRUE(before > after || (before == after && shown[i - 1] < shown[i]))
        << "at " << i << ": " << shown[i - 1] << " then " << shown[i];
  }

  // Across a filter change, select-all, a clear and a second result set.
  models.filter.setCriteria(showEverything());
  EXPECT_EQ(models.filter.rowCount(), kRows);
  models.selection.selectAll(true);
  EXPECT_EQ(models.selection.selectedCount(), kRows);
  models.filter.setCriteria(criteria);
  EXPECT_EQ(models.selection.selectedCount(), expected);
  models.list.clear();
  EXPECT_EQ(models.filter.rowCount(), 0);
  EXPECT_EQ(models.selection.selectedCount(), 0);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(test::addRow(models.list, image, rowAt(i)));
  models.feed.flushPendingRows();
  models.list.showVerdicts();
  EXPECT_EQ(models.filter.rowCount(), 100 - 15 - 20 + 3);
}

// One row of the ordering table: the rows are fixed below.
struct Ordering {
  const char* name;
  int column;
  Qt::SortOrder order;
  std::vector<int> rows;  // the list's rows in the order shown
};

TEST(ResultFilterTest, SortsByRealValuesWithAbsentValuesLastAndTiesInScanOrder) {
  SyntheticImage image;
  const uint64_t canon = image.block("Canon", "EOS 10D", "2003:07:14 09:05:30");
  const uint64_t kestrix = image.block("kestrix", "KX-100", "2001:12:31 23:59:59");
  const uint64_t late = image.block("Nikon", "", "2010:01:02 03:04:05");
  const uint64_t none = image.block("", "", "");
  image.finish(64 * 1024);
  Models models;
  Tester tester(&models.filter, Tester::FailureReportingMode::Fatal);
  models.filter.setCriteria(showEverything());
  const auto checked = [](const char* name, uint64_t start, uint64_t size, Verdict verdict) {
    SyntheticRow row(name, start, size);
    row.checked = true;
    row.verdict = verdict;
    return row;
  };
  const std::vector<SyntheticRow> rows = {
      checked("b.jpg", canon, 2 * 1024, Verdict::Damaged),     // 0
      checked("A.jpg", kestrix, 10 * 1024, Verdict::Intact),   // 1
      SyntheticRow("c.jpg", none, 900),                        // 2: not checked
      checked("a2.jpg", late, 10 * 1024, Verdict::Truncated),  // 3
      checked("B1.jpg", none, 2 * 1024 + 1, Verdict::Intact),  // 4
  };
  for (const SyntheticRow& made : rows) ASSERT_TRUE(test::addRow(models.list, image, made));
  models.feed.flushPendingRows();

  const Ordering table[] = {
      // "10KB" sorts before "2KB" as text; as bytes it comes last.
      {"size ascending", int(RowTexts::Column::Size), Qt::AscendingOrder, {2, 0, 4, 1, 3}},
      {"size descending, equal sizes in scan order",
       int(RowTexts::Column::Size),
       Qt::DescendingOrder,
       {1, 3, 4, 0, 2}},
      {"names ignore case", int(RowTexts::Column::Name), Qt::AscendingOrder, {1, 3, 0, 4, 2}},
      {"dates in time, none last",
       int(RowTexts::Column::ShotDate),
       Qt::AscendingOrder,
       {1, 0, 3, 2, 4}},
      {"dates descending, none still last",
       int(RowTexts::Column::ShotDate),
       Qt::DescendingOrder,
       {3, 0, 1, 2, 4}},
      {"maker ignores case", int(RowTexts::Column::Maker), Qt::AscendingOrder, {0, 1, 3, 2, 4}},
      {"model, absent last", int(RowTexts::Column::Model), Qt::DescendingOrder, {1, 0, 2, 3, 4}},
      {"verdict by rank, unchecked last",
       ResultList::kColumnVerdict,
       Qt::AscendingOrder,
       {1, 4, 3, 0, 2}},
      {"one value everywhere keeps scan order",
       int(RowTexts::Column::Gps),
       Qt::DescendingOrder,
       {0, 1, 2, 3, 4}},
      {"no map: sectors keep scan order",
       ResultList::kUnreadableSectorsColumn,
       Qt::AscendingOrder,
       {0, 1, 2, 3, 4}},
      {"unsorted again: scan order", -1, Qt::AscendingOrder, {0, 1, 2, 3, 4}},
  };
  for (const Ordering& row : table) {
    models.filter.sort(row.column, row.order);
    EXPECT_EQ(models.shownRows(), row.rows) << row.name;
  }
}

// Every column of the row texts without a key of its own (shot date, size
// and GPS have one) sorts by the text its cells show, case-folded, with
// "不明" last: a column added to RowTexts sorts so without a line in
// ResultKeys.
TEST(ResultFilterTest, TextColumnsSortByTheirFoldedTextWithUnknownLast) {
  SyntheticImage image;
  const uint64_t canon = image.block("Canon", "eos 10D", "");
  const uint64_t kestrix = image.block("kestrix", "KX-100", "");
  const uint64_t nikon = image.block("NIKON", "", "");
  const uint64_t none = image.block("", "", "");
  image.finish(4096);
  Models models;
  models.filter.setCriteria(showEverything());
  for (const SyntheticRow& made :
       {SyntheticRow("b.jpg", kestrix, 100), SyntheticRow("A.jpg", none, 100),
        SyntheticRow("c.jpg", canon, 100), SyntheticRow("a2.jpg", nikon, 100)}) {
    ASSERT_TRUE(test::addRow(models.list, image, made));
  }
  models.feed.flushPendingRows();
  using Column = RowTexts::Column;
  const int numeric[] = {int(Column::ShotDate), int(Column::Size), int(Column::Gps)};
  int textColumns = 0;
  for (int column = 0; column < RowTexts::kColumnCount; ++column) {
    if (std::find(std::begin(numeric), std::end(numeric), column) != std::end(numeric)) continue;
    ++textColumns;
    std::vector<int> expected = {0, 1, 2, 3};
    const auto key = [&](int row) {
      const RowTexts& texts = *models.list.rowTexts(row);
      const bool known = texts.known(Column(column));
      return std::make_pair(
          !known, known ? QString::fromStdString(texts[Column(column)]).toCaseFolded() : QString());
    };
    std::stable_sort(expected.begin(), expected.end(),
                     [&](int a, int b) { return key(a) < key(b); });
    models.filter.sort(column, Qt::AscendingOrder);
    EXPECT_EQ(models.shownRows(), expected) << ResultList::columnHeader(column);
  }
  EXPECT_EQ(textColumns, RowTexts::kColumnCount - 3);
}

TEST(ResultFilterTest, RowsAppendedWhileSortedLandInOrder) {
  SyntheticImage image;
  const uint64_t plain = image.block("", "", "");
  image.finish(1 << 20);
  for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
    SCOPED_TRACE(order == Qt::AscendingOrder ? "ascending" : "descending");
    Models models;
    Tester tester(&models.filter, Tester::FailureReportingMode::Fatal);
    models.details.show();
    models.filter.sort(int(RowTexts::Column::Size), order);
    // A pseudo-random size per row, many equal.
    const auto sizeOf = [](int i) { return uint64_t{1000} + (uint64_t(i) * 7919) % 53 * 100; };
    int added = 0;
    // Smaller batches are put in place row by row, the large one by a new sort.
    for (const int batch :
         {1, 20, ResultFilter::kRelayoutRows - 1, ResultFilter::kRelayoutRows, 3}) {
      for (int i = 0; i < batch; ++i, ++added) {
        SyntheticRow made("r" + std::to_string(added) + ".jpg", plain, sizeOf(added));
        if (added % 4 == 0) made.parent = "r0.jpg";
        ASSERT_TRUE(test::addRow(models.list, image, made));
      }
      models.feed.flushPendingRows();
      std::vector<int> expected;
      for (int row = 0; row < added; ++row)
        if (row % 4 != 0) expected.push_back(row);
      std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
        return order == Qt::AscendingOrder ? sizeOf(a) < sizeOf(b) : sizeOf(a) > sizeOf(b);
      });
      ASSERT_EQ(models.shownRows(), expected) << "after a batch of " << batch;
    }
  }
}

TEST(ResultFilterTest, RenamesAndVerdictsReachTheKeysAndTheFilter) {
  SyntheticImage image;
  const uint64_t plain = image.block("", "", "");
  image.finish(4096);
  Models models;
  Tester tester(&models.filter, Tester::FailureReportingMode::Fatal);
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
    ASSERT_TRUE(test::addRow(models.list, image, SyntheticRow(name, plain, 100)));
  models.feed.flushPendingRows();

  models.filter.sort(int(RowTexts::Column::Name), Qt::AscendingOrder);
  ASSERT_EQ(models.shownRows(), (std::vector<int>{0, 1, 2}));
  ASSERT_TRUE(models.list.candidates().setItemName(0, "z.jpg"));
  EXPECT_EQ(models.shownRows(), (std::vector<int>{1, 2, 0})) << "the old name's key was kept";

  models.filter.sort(ResultList::kColumnVerdict, Qt::AscendingOrder);
  CheckResult damaged;
  damaged.verdict = Verdict::Damaged;
  CheckResult intact;
  intact.verdict = Verdict::Intact;
  ASSERT_TRUE(models.list.candidates().setCheck(1, damaged));
  ASSERT_TRUE(models.list.candidates().setCheck(2, intact));
  models.list.showVerdicts();
  EXPECT_EQ(models.shownRows(), (std::vector<int>{2, 1, 0}));

  // A row selected, then damaged while damaged rows are hidden: it goes from
  // the view and from the selection.
  FilterCriteria criteria;
  criteria.hideDamaged = true;
  models.filter.setCriteria(criteria);
  EXPECT_EQ(models.shownRows(), (std::vector<int>{2, 0}));
  models.selection.selectAll(true);
  EXPECT_EQ(models.selectedRows(), (std::vector<int>{0, 2}));
  ASSERT_TRUE(models.list.candidates().setCheck(0, damaged));
  models.list.showVerdicts();
  EXPECT_EQ(models.shownRows(), (std::vector<int>{2}));
  EXPECT_EQ(models.selectedRows(), (std::vector<int>{2}));
  EXPECT_EQ(models.selection.selectedCount(), 1);
}

TEST(ResultFilterTest, VerdictsThatHideManyRowsAreOneLayoutChange) {
  SyntheticImage image;
  const uint64_t plain = image.block("", "", "");
  image.finish(1 << 20);
  Models models;
  Tester tester(&models.filter, Tester::FailureReportingMode::Fatal);
  constexpr int kRows = 2 * ResultFilter::kRelayoutRows + 40;
  const auto sizeOf = [](int i) { return uint64_t{100} + (uint64_t(i) * 7919) % 997; };
  for (int i = 0; i < kRows; ++i)
    ASSERT_TRUE(test::addRow(models.list, image,
                             SyntheticRow("r" + std::to_string(i) + ".jpg", plain, sizeOf(i))));
  models.feed.flushPendingRows();
  FilterCriteria criteria;
  criteria.hideDamaged = true;
  models.filter.setCriteria(criteria);
  models.filter.sort(int(RowTexts::Column::Size), Qt::DescendingOrder);
  models.selection.selectAll(true);
  CheckResult damaged;
  damaged.verdict = Verdict::Damaged;
  const auto shownInOrder = [&](int hiddenBelow) {
    std::vector<int> expected;
    for (int row = 0; row < kRows; ++row)
      if (row % 2 == 1 || row >= hiddenBelow) expected.push_back(row);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](int a, int b) { return sizeOf(a) > sizeOf(b); });
    return expected;
  };

  // Twenty rows damaged: Qt takes them out one place at a time.
  QSignalSpy removed(&models.filter, &QAbstractItemModel::rowsRemoved);
  QSignalSpy layouts(&models.filter, &QAbstractItemModel::layoutChanged);
  for (int row = 0; row < 40; row += 2)
    ASSERT_TRUE(models.list.candidates().setCheck(row, damaged));
  models.list.showVerdicts();
  EXPECT_GT(removed.count(), 0);
  EXPECT_EQ(models.shownRows(), shownInOrder(40));

  // Every other row of the rest: one layout change for them all.
  removed.clear();
  layouts.clear();
  for (int row = 40; row < kRows; row += 2)
    ASSERT_TRUE(models.list.candidates().setCheck(row, damaged));
  models.list.showVerdicts();
  EXPECT_EQ(removed.count(), 0);
  EXPECT_GE(layouts.count(), 1);
  EXPECT_EQ(models.shownRows(), shownInOrder(kRows));
  EXPECT_EQ(models.selectedRows(), sorted(shownInOrder(kRows)))
      << "hidden rows lose their selection";
  EXPECT_TRUE(models.filter.dynamicSortFilter());
}

}  // namespace
}  // namespace kestrix
