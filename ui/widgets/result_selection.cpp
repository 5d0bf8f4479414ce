#include "ui/widgets/result_selection.h"

#include <algorithm>
#include <utility>

namespace kestrix {

namespace {

// First and last view row of each selected range over the first column;
// the ranges a view makes do not overlap, but nothing promises it.
std::vector<std::pair<int, int>> firstColumnSpans(const QItemSelection& selection) {
  std::vector<std::pair<int, int>> spans;
  for (const QItemSelectionRange& range : selection) {
    if (range.left() != 0 || range.parent().isValid()) continue;
    spans.emplace_back(range.top(), range.bottom());
  }
  return spans;
}

}  // namespace

ResultSelection::ResultSelection(QAbstractItemModel* view, QObject* parent)
    : QObject(parent), view_(view), proxy_(qobject_cast<QAbstractProxyModel*>(view)) {
  // Before the selection model's own connections (made by setModel), so it
  // finds nothing to keep across the change.
  connect(view, &QAbstractItemModel::layoutAboutToBeChanged, this, &ResultSelection::park);
  selection_.setModel(view);
  // After them: the selection model has let go of removed rows, or of all
  // of them on a reset, when the count is taken.
  connect(view, &QAbstractItemModel::layoutChanged, this, &ResultSelection::unpark);
  connect(view, &QAbstractItemModel::rowsRemoved, this, &ResultSelection::recount);
  connect(view, &QAbstractItemModel::modelReset, this, &ResultSelection::recount);
  connect(&selection_, &QItemSelectionModel::selectionChanged, this, &ResultSelection::recount);
}

void ResultSelection::selectAll(bool select) {
  const int rows = view_ != nullptr ? view_->rowCount() : 0;
  if (!select || rows == 0) {
    selection_.clearSelection();
    return;
  }
  selection_.select(
      QItemSelection(view_->index(0, 0), view_->index(rows - 1, view_->columnCount() - 1)),
      QItemSelectionModel::ClearAndSelect);
}

void ResultSelection::selectRows(const std::vector<int32_t>& sourceRows) {
  if (view_ == nullptr) return;
  std::vector<int> shown;
  shown.reserve(sourceRows.size());
  for (const int32_t row : sourceRows) {
    const int at = viewRow(row);
    if (at >= 0) shown.push_back(at);
  }
  std::sort(shown.begin(), shown.end());
  shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
  // One range per stretch of adjacent view rows, whole rows wide.
  const int lastColumn = view_->columnCount() - 1;
  QItemSelection selection;
  for (size_t i = 0; i < shown.size();) {
    size_t end = i + 1;
    while (end < shown.size() && shown[end] == shown[end - 1] + 1) ++end;
    selection.select(view_->index(shown[i], 0), view_->index(shown[end - 1], lastColumn));
    i = end;
  }
  // Cleared first: Qt compares the old and the new selection range by
  // range, which costs their product; from nothing it costs nothing.
  replacing_ = true;
  selection_.clearSelection();
  selection_.select(selection, QItemSelectionModel::Select);
  replacing_ = false;
  recount();
}

std::vector<int32_t> ResultSelection::chosenRows() const {
  if (parked_) return *parked_;
  std::vector<int32_t> rows;
  for (const auto& [top, bottom] : firstColumnSpans(selection_.selection())) {
    for (int row = top; row <= bottom; ++row) rows.push_back(sourceRow(row));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void ResultSelection::park() {
  if (parked_) return;  // already parked for this change
  parked_ = chosenRows();
  if (!parked_->empty()) selection_.clearSelection();
}

void ResultSelection::unpark() {
  if (!parked_) return;
  const std::vector<int32_t> rows = std::move(*parked_);
  parked_.reset();
  // Rows the change hid are left out here: they come back unselected.
  if (rows.empty()) {
    recount();
  } else {
    selectRows(rows);
  }
}

void ResultSelection::recount() {
  if (replacing_ || parked_) return;  // the count follows once the change is done
  std::vector<std::pair<int, int>> spans = firstColumnSpans(selection_.selection());
  std::sort(spans.begin(), spans.end());
  int count = 0;
  int covered = -1;  // last row counted
  for (const auto& [top, bottom] : spans) {
    const int from = std::max(top, covered + 1);
    if (bottom >= from) count += bottom - from + 1;
    covered = std::max(covered, bottom);
  }
  if (count == count_) return;
  count_ = count;
  emit countChanged(count_);
}

int ResultSelection::viewRow(int32_t sourceRow) const {
  if (proxy_ == nullptr) {
    return view_ != nullptr && sourceRow >= 0 && sourceRow < view_->rowCount() ? sourceRow : -1;
  }
  QAbstractItemModel* source = proxy_->sourceModel();
  if (source == nullptr) return -1;
  return proxy_->mapFromSource(source->index(sourceRow, 0)).row();
}

int32_t ResultSelection::sourceRow(int viewRow) const {
  if (proxy_ == nullptr) return viewRow;
  return proxy_->mapToSource(proxy_->index(viewRow, 0)).row();
}

}  // namespace kestrix
