// The rows chosen in the views, kept by the selection model alone: a row
// counts by its first cell and once; only shown rows are ever selected,
// across removals, filter changes and sorts (the layout changes the
// selection is parked around); the count follows every change.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "filtered_results.h"
#include "synthetic_rows.h"
#include "ui/widgets/result_selection.h"

namespace kestrix {
namespace {

using test::SyntheticImage;
using test::SyntheticRow;
using Models = test::FilteredResults;
using Rows = std::vector<int32_t>;

FilterCriteria showEverything() {
  FilterCriteria criteria;
  criteria.hideNested = false;
  return criteria;
}

Rows sorted(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  return Rows(rows.begin(), rows.end());
}

// Rows of one plain block and the window's models over them, the filter
// showing every row to begin with.
class ResultSelectionTest : public testing::Test {
 protected:
  ResultSelectionTest() {
    plain_ = image_.block("", "", "");
    image_.finish(4096);
    models.filter.setCriteria(showEverything());
  }

  // Appends `count` rows to `list`, those `nested` says so nested in the
  // first, sizes repeating every seven rows so that sorts move rows about.
  void addRows(ResultList& list, int count, const std::function<bool(int)>& nested) {
    for (int i = 0; i < count; ++i) {
      SyntheticRow made("r" + std::to_string(i) + ".jpg", plain_, 100 + (i * 5) % 7);
      if (nested(i)) made.parent = "r0.jpg";
      ASSERT_TRUE(test::addRow(list, image_, made));
    }
    list.publishRows(list.candidates().itemCount());
  }
  static bool everyThird(int i) { return i % 3 == 1; }  // 1, 4, 7, …
  static bool none(int) { return false; }

  SyntheticImage image_;
  uint64_t plain_ = 0;
  Models models;
};

// True when the selection model selects exactly the view rows of `rows`,
// first cells and whole rows alike.
bool viewSelects(Models& models, const Rows& rows) {
  QItemSelectionModel* model = models.selection.model();
  for (int row = 0; row < models.filter.rowCount(); ++row) {
    const bool wanted = std::binary_search(rows.begin(), rows.end(),
                                           models.filter.sourceRow(models.filter.index(row, 0)));
    if (model->isSelected(models.filter.index(row, 0)) != wanted) return false;
    if (model->isRowSelected(row, QModelIndex()) != wanted) return false;
  }
  return true;
}

TEST_F(ResultSelectionTest, ARowCountsOnceByItsFirstCell) {
  // Straight over the list, without a filter: rows are their own.
  ResultList list;
  ResultSelection selection(&list);
  SyntheticImage image;
  const uint64_t plain = image.block("", "", "");
  image.finish(4096);
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(
        test::addRow(list, image, SyntheticRow("r" + std::to_string(i) + ".jpg", plain, 1)));
  list.publishRows(list.candidates().itemCount());
  QItemSelectionModel* model = selection.model();
  QSignalSpy counts(&selection, &ResultSelection::countChanged);
  EXPECT_TRUE(selection.chosenRows().empty());

  // A whole row as the details view selects it, the first cell alone as
  // the icon view does, and the same row twice.
  model->select(list.index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  model->select(list.index(1, 0), QItemSelectionModel::Select);
  model->select(list.index(3, 0), QItemSelectionModel::Select);
  EXPECT_EQ(selection.chosenRows(), (Rows{1, 3})) << "in row order, each once";
  EXPECT_EQ(selection.selectedCount(), 2);
  ASSERT_FALSE(counts.isEmpty());
  EXPECT_EQ(counts.last().at(0).toInt(), 2);

  // A cell other than the first says nothing about its row.
  model->select(list.index(3, 4), QItemSelectionModel::Deselect);
  model->select(list.index(0, 4), QItemSelectionModel::Select);
  EXPECT_EQ(selection.chosenRows(), (Rows{1, 3}));

  // Rows given by number: exactly those, a row the list lacks left out.
  selection.selectRows({4, 9, 0});
  EXPECT_EQ(selection.chosenRows(), (Rows{0, 4}));
  EXPECT_TRUE(model->isRowSelected(4, QModelIndex()));
  EXPECT_EQ(counts.last().at(0).toInt(), 2);

  selection.selectAll(false);
  EXPECT_EQ(selection.selectedCount(), 0);
  selection.selectAll(true);
  EXPECT_EQ(selection.selectedCount(), 5);
  EXPECT_TRUE(model->isRowSelected(2, QModelIndex()));

  // A clear empties the selection with the rows, and says so.
  list.clear();
  EXPECT_EQ(selection.selectedCount(), 0);
  EXPECT_EQ(counts.last().at(0).toInt(), 0);
  EXPECT_TRUE(selection.chosenRows().empty());
}

TEST_F(ResultSelectionTest, OnlyShownRowsAreEverSelected) {
  addRows(models.list, 10, everyThird);
  models.filter.sort(int(RowTexts::Column::Name), Qt::DescendingOrder);

  // Selected in the view while shown, then hidden by the filter.
  models.selection.selectAll(true);
  ASSERT_EQ(models.selection.selectedCount(), 10);
  models.filter.setCriteria(FilterCriteria{});
  const std::vector<int> shown = models.shownRows();
  EXPECT_EQ(shown.size(), 7u);
  EXPECT_EQ(models.selectedRows(), sorted(shown));
  // Shown again, they come back unselected.
  models.filter.setCriteria(showEverything());
  EXPECT_EQ(models.selectedRows(), sorted(shown));

  // Select-all takes the rows shown, its release every row.
  models.filter.setCriteria(FilterCriteria{});
  models.selection.selectAll(false);
  EXPECT_EQ(models.selection.selectedCount(), 0);
  models.selection.selectAll(true);
  EXPECT_EQ(models.selectedRows(), sorted(shown));

  // A hidden row asked for by number is not selected; a shown one is, and
  // the views follow.
  models.selection.selectRows({1, 2});
  EXPECT_EQ(models.selectedRows(), (Rows{2}));
  EXPECT_EQ(models.selection.selectedCount(), 1);
  EXPECT_TRUE(models.selection.model()->isSelected(models.filter.indexOfSourceRow(2)));
}

TEST_F(ResultSelectionTest, AFilterChangeDropsHiddenRowsAndTheCountFollowsOnce) {
  addRows(models.list, 12, everyThird);
  models.selection.selectRows({0, 1, 2, 4, 5, 10});
  ASSERT_EQ(models.selection.selectedCount(), 6);
  QSignalSpy counts(&models.selection, &ResultSelection::countChanged);

  // Nested rows (1, 4, 7, 10) hidden: they leave the selection in the
  // layout change, and the count moves once, never through 0 on the way.
  models.filter.setCriteria(FilterCriteria{});
  EXPECT_EQ(models.selectedRows(), (Rows{0, 2, 5}));
  EXPECT_EQ(models.selection.selectedCount(), 3);
  ASSERT_EQ(counts.count(), 1);
  EXPECT_EQ(counts.at(0).at(0).toInt(), 3);
  EXPECT_TRUE(viewSelects(models, {0, 2, 5}));

  // A change that hides no selected row says nothing.
  counts.clear();
  models.filter.setCriteria(showEverything());
  EXPECT_EQ(models.selectedRows(), (Rows{0, 2, 5}));
  EXPECT_EQ(counts.count(), 0);
}

// Qt's selection model keeps a wholly selected table of over 1,000 cells as
// "everything" across a layout change; a filter that changes the number of
// rows in that change must not leave it claiming rows that were never
// selected, or dropping ones that were.
TEST_F(ResultSelectionTest, SelectAllThenAFilterThatKeepsHalfLeavesExactlyTheKeptRows) {
  constexpr int kRows = 600;  // 5,400 cells
  addRows(models.list, kRows, [](int i) { return i % 2 == 1; });
  models.filter.sort(int(RowTexts::Column::Size), Qt::AscendingOrder);
  Rows even;
  for (int row = 0; row < kRows; row += 2) even.push_back(row);

  // Every row selected, then half of them shown: those stay selected.
  models.selection.selectAll(true);
  ASSERT_EQ(models.selection.selectedCount(), kRows);
  models.filter.setCriteria(FilterCriteria{});
  EXPECT_EQ(models.selectedRows(), even);
  EXPECT_EQ(models.selection.selectedCount(), kRows / 2);
  EXPECT_TRUE(viewSelects(models, even));

  // Every shown row selected, then every row shown: the others come back
  // unselected.
  models.selection.selectAll(true);
  models.filter.setCriteria(showEverything());
  EXPECT_EQ(models.selectedRows(), even);
  EXPECT_EQ(models.selection.selectedCount(), kRows / 2);
  EXPECT_TRUE(viewSelects(models, even));
  // And the other way round, the selection now in pieces.
  models.filter.sort(int(RowTexts::Column::Size), Qt::DescendingOrder);
  EXPECT_EQ(models.selectedRows(), even);
  EXPECT_TRUE(viewSelects(models, even));
}

TEST_F(ResultSelectionTest, SortingKeepsTheSameRowsSelected) {
  addRows(models.list, 40, none);
  const Rows chosen = {1, 4, 5, 9, 22, 39};
  models.selection.selectRows(chosen);
  QSignalSpy counts(&models.selection, &ResultSelection::countChanged);

  // Row: column, order.
  const struct {
    int column;
    Qt::SortOrder order;
  } sorts[] = {
      {int(RowTexts::Column::Size), Qt::AscendingOrder},
      {int(RowTexts::Column::Size), Qt::DescendingOrder},
      {int(RowTexts::Column::Name), Qt::DescendingOrder},
      {-1, Qt::AscendingOrder},  // scan order again
  };
  for (const auto& sort : sorts) {
    SCOPED_TRACE(sort.column);
    models.filter.sort(sort.column, sort.order);
    EXPECT_EQ(models.selectedRows(), chosen);
    EXPECT_TRUE(viewSelects(models, chosen));
  }
  EXPECT_EQ(counts.count(), 0) << "a sort changes no count";
  EXPECT_EQ(models.selection.selectedCount(), static_cast<int>(chosen.size()));
}

}  // namespace
}  // namespace kestrix
