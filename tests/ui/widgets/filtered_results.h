// A results list with its feed, the filter over it, the one selection over the filter
// and both views on them, as the window has them: the fixture of the
// filter's and the selection's tests.
#pragma once

#include <QListView>
#include <QTableView>
#include <cstdint>
#include <vector>

#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/result_selection.h"

namespace kestrix::test {

struct FilteredResults {
  ResultList list;
  ResultFeed feed{list};
  ResultFilter filter{list};
  ResultSelection selection{&filter};
  QTableView details;
  QListView icons;

  FilteredResults() {
    details.setModel(&filter);
    details.setSelectionModel(selection.model());
    icons.setModel(&filter);
    icons.setSelectionModel(selection.model());
    icons.setViewMode(QListView::IconMode);
  }

  // The list's rows in the order the views show them.
  std::vector<int> shownRows() const {
    std::vector<int> rows;
    for (int row = 0; row < filter.rowCount(); ++row)
      rows.push_back(filter.sourceRow(filter.index(row, 0)));
    return rows;
  }
  // The list's rows selected, ascending.
  std::vector<int32_t> selectedRows() const { return selection.chosenRows(); }
};

}  // namespace kestrix::test
