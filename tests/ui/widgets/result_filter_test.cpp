// The filter between the results list and its views: Qt's model tester on
// both models while rows stream in sorted and filtered, the sort keys'
// order, rows appended while sorted, and the selection rule (the candidate
// list's selected rows are always rows the views show).
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QListView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "synthetic_rows.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"

namespace kestrix {
namespace {

using test::SyntheticImage;
using test::SyntheticRow;
using Tester = QAbstractItemModelTester;

constexpr int kWaitMs = 30000;

// A list, the filter over it with the shared selection on the filter, and
// both views, as the window has them.
struct Models {
  ResultList list;
  ResultFeed feed{list};
  ResultFilter filter{list};
  QTableView details;
  QListView icons;

  Models() {
    list.setViewModel(&filter);
    details.setModel(&filter);
    details.setSelectionModel(list.selectionModel());
    icons.setModel(&filter);
    icons.setSelectionModel(list.selectionModel());
    icons.setViewMode(QListView::IconMode);
  }
  ~Models() { list.setViewModel(nullptr); }

  // The list's rows in the order the views show them.
  std::vector<int> shownRows() const {
    std::vector<int> rows;
    for (int row = 0; row < filter.rowCount(); ++row)
      rows.push_back(filter.sourceRow(filter.index(row, 0)));
    return rows;
  }
  std::vector<int> selectedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < list.candidates().itemCount(); ++row)
      if (list.candidates().isSelected(row)) rows.push_back(row);
    return rows;
  }
};

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
  models.list.selectAll(true);
  EXPECT_EQ(models.list.selectedCount(), kRows);
  models.filter.setCriteria(criteria);
  EXPECT_EQ(models.list.selectedCount(), expected);
  models.list.clear();
  EXPECT_EQ(models.filter.rowCount(), 0);
  EXPECT_EQ(models.list.selectedCount(), 0);
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
  models.list.selectAll(true);
  EXPECT_EQ(models.selectedRows(), (std::vector<int>{0, 2}));
  ASSERT_TRUE(models.list.candidates().setCheck(0, damaged));
  models.list.showVerdicts();
  EXPECT_EQ(models.shownRows(), (std::vector<int>{2}));
  EXPECT_EQ(models.selectedRows(), (std::vector<int>{2}));
  EXPECT_EQ(models.list.selectedCount(), 1);
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
  models.list.selectAll(true);
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

TEST(ResultFilterTest, OnlyShownRowsAreEverSelected) {
  SyntheticImage image;
  const uint64_t plain = image.block("", "", "");
  image.finish(4096);
  Models models;
  models.filter.setCriteria(showEverything());
  for (int i = 0; i < 10; ++i) {
    SyntheticRow made("r" + std::to_string(i) + ".jpg", plain, 100);
    if (i % 3 == 1) made.parent = "r0.jpg";
    ASSERT_TRUE(test::addRow(models.list, image, made));
  }
  models.feed.flushPendingRows();
  models.filter.sort(int(RowTexts::Column::Name), Qt::DescendingOrder);

  // Selected in the view while shown, then hidden by the filter.
  models.list.selectAll(true);
  ASSERT_EQ(models.list.selectedCount(), 10);
  models.filter.setCriteria(FilterCriteria{});
  const std::vector<int> shown = models.shownRows();
  EXPECT_EQ(shown.size(), 7u);
  EXPECT_EQ(models.selectedRows(), sorted(shown));
  // Shown again, they come back unselected.
  models.filter.setCriteria(showEverything());
  EXPECT_EQ(models.selectedRows(), sorted(shown));

  // Select-all takes the rows shown, its release every row.
  models.filter.setCriteria(FilterCriteria{});
  models.list.selectAll(false);
  EXPECT_EQ(models.list.selectedCount(), 0);
  models.list.selectAll(true);
  EXPECT_EQ(models.selectedRows(), sorted(shown));

  // A hidden row set selected in the list directly does not stay selected.
  ASSERT_TRUE(models.list.candidates().setSelected(1, true));
  EXPECT_FALSE(models.list.candidates().isSelected(1));
  EXPECT_EQ(models.list.selectedCount(), 7);
  // A shown one does, and the views follow.
  models.list.selectAll(false);
  ASSERT_TRUE(models.list.candidates().setSelected(2, true));
  EXPECT_TRUE(models.list.selectionModel()->isSelected(models.filter.indexOfSourceRow(2)));
}

// Qt's selection model keeps a wholly selected table of over 1,000 cells as
// "everything" across a layout change; a filter that changes the number of
// rows in that change must not leave it claiming rows the list never had
// selected, or dropping ones it has.
TEST(ResultFilterTest, TheViewsSelectionMatchesTheListAcrossFilterChanges) {
  SyntheticImage image;
  const uint64_t plain = image.block("", "", "");
  image.finish(4096);
  Models models;
  for (int i = 0; i < 300; ++i) {
    SyntheticRow made("r" + std::to_string(i) + ".jpg", plain, 100 + i % 7);
    if (i % 3 == 1) made.parent = "r0.jpg";
    ASSERT_TRUE(test::addRow(models.list, image, made));
  }
  models.feed.flushPendingRows();
  models.filter.sort(int(RowTexts::Column::Size), Qt::AscendingOrder);
  const auto viewMatchesList = [&] {
    for (int row = 0; row < models.filter.rowCount(); ++row) {
      const bool inView = models.list.selectionModel()->isSelected(models.filter.index(row, 0));
      const bool inList =
          models.list.candidates().isSelected(models.filter.sourceRow(models.filter.index(row, 0)));
      if (inView != inList) return false;
    }
    return true;
  };

  // Every shown row selected, then more rows shown: the new ones unselected.
  models.list.selectAll(true);
  ASSERT_EQ(models.list.selectedCount(), 200);
  models.filter.setCriteria(showEverything());
  EXPECT_EQ(models.list.selectedCount(), 200);
  EXPECT_TRUE(viewMatchesList());

  // Every row selected, then fewer shown: the shown ones stay selected.
  models.list.selectAll(true);
  ASSERT_EQ(models.list.selectedCount(), 300);
  models.filter.setCriteria(FilterCriteria{});
  EXPECT_EQ(models.list.selectedCount(), 200);
  EXPECT_TRUE(viewMatchesList());
  models.filter.sort(int(RowTexts::Column::Size), Qt::DescendingOrder);
  EXPECT_EQ(models.list.selectedCount(), 200);
  EXPECT_TRUE(viewMatchesList());
}

}  // namespace
}  // namespace kestrix
