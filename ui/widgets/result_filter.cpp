#include "ui/widgets/result_filter.h"

#include "ui/widgets/result_list.h"

namespace kestrix {

ResultFilter::ResultFilter(ResultList& list, QObject* parent)
    : QSortFilterProxyModel(parent), list_(&list), keys_(list) {
  // Before setSourceModel: Qt calls slots in the order they were connected,
  // and the proxy re-sorts and re-filters in its own slots of these
  // signals, which must find the changed rows' keys gone.
  connect(&list, &QAbstractItemModel::dataChanged, this, &ResultFilter::sourceDataChanging);
  connect(&list, &QAbstractItemModel::modelAboutToBeReset, this, [this] { keys_.clear(); });
  connect(&list, &QAbstractItemModel::rowsAboutToBeInserted, this,
          &ResultFilter::sourceRowsAboutToBeInserted);
  setSourceModel(&list);
  // After: the proxy has placed the new rows, or passed the change on, by then.
  connect(&list, &QAbstractItemModel::rowsInserted, this, &ResultFilter::relayoutAfterChange);
  connect(&list, &QAbstractItemModel::dataChanged, this, &ResultFilter::relayoutAfterChange);

  // The counts: rows found (the list's inserts, even of hidden rows) and
  // rows shown (every way the proxy changes its rows).
  connect(&list, &QAbstractItemModel::rowsInserted, this, &ResultFilter::emitCounts);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
    connect(this, signal, this, &ResultFilter::emitCounts);
  }
  connect(this, &QAbstractItemModel::layoutChanged, this, &ResultFilter::emitCounts);
  connect(this, &QAbstractItemModel::modelReset, this, &ResultFilter::emitCounts);
}

void ResultFilter::setCriteria(const FilterCriteria& criteria) {
  if (criteria == criteria_) return;
  criteria_ = criteria;
  // One layout change that maps every row again (a filter pass and, when
  // sorted, one sort) rather than invalidateFilter()'s removal and insertion
  // per stretch of rows: showing the nested finds of a card again can mean
  // tens of thousands of stretches.
  invalidate();
}

bool ResultFilter::acceptsSourceRow(int row) const {
  if (list_ == nullptr || row < 0 || row >= list_->rowCount()) return false;
  return criteria_.accepts(keys_.facts(row, criteria_.needsTexts(), criteria_.needsDate()));
}

int ResultFilter::sourceRow(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return -1;
  return mapToSource(index).row();
}

QModelIndex ResultFilter::indexOfSourceRow(int row, int column) const {
  if (list_ == nullptr) return {};
  return mapFromSource(list_->index(row, column));
}

int ResultFilter::totalRows() const { return list_ != nullptr ? list_->rowCount() : 0; }

bool ResultFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  return !sourceParent.isValid() && acceptsSourceRow(sourceRow);
}

bool ResultFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const int column = left.column();
  const int a = left.row();
  const int b = right.row();
  const bool ascending = sortOrder() == Qt::AscendingOrder;
  // The proxy sorts descending by asking lessThan(b, a): rows without a
  // value go last in both directions, and ties keep the scan order.
  const bool aHas = keys_.hasValue(column, a);
  const bool bHas = keys_.hasValue(column, b);
  if (aHas != bHas) return ascending ? aHas : bHas;
  if (aHas) {
    const int order = keys_.compare(column, a, b);
    if (order != 0) return order < 0;
  }
  return ascending ? a < b : a > b;
}

void ResultFilter::sourceDataChanging(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                      const QList<int>& roles) {
  // A new picture changes no key: the thumbnails' updates name only it.
  if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)) return;
  keys_.forget(topLeft.row(), bottomRight.row(), topLeft.column(), bottomRight.column());
  // Only the verdict column's data ever changes what the criteria say
  // (names, sector counts: no criterion reads them).
  const bool verdictsChanged = topLeft.column() <= ResultList::kColumnVerdict &&
                               ResultList::kColumnVerdict <= bottomRight.column();
  const bool criteriaReadVerdicts = criteria_.hideDamaged || criteria_.hideTruncated ||
                                    criteria_.minimumWidth > 0 || criteria_.minimumHeight > 0;
  if (!verdictsChanged || !criteriaReadVerdicts || !dynamicSortFilter() ||
      !manyRowsFlip(topLeft.row(), bottomRight.row()))
    return;
  setDynamicSortFilter(false);  // the proxy now only passes the change on
  relayout_ = Relayout::FilterAndSort;
}

bool ResultFilter::manyRowsFlip(int first, int last) const {
  int flips = 0;
  for (int row = first; row <= last; ++row) {
    const bool shown = indexOfSourceRow(row).isValid();
    if (shown != acceptsSourceRow(row) && ++flips >= kRelayoutRows) return true;
  }
  return false;
}

void ResultFilter::sourceRowsAboutToBeInserted(const QModelIndex&, int first, int last) {
  if (sortColumn() < 0 || last - first + 1 < kRelayoutRows || !dynamicSortFilter()) return;
  // Without the dynamic sort the proxy appends the batch (sorted among
  // itself) in one stretch after the rows it has.
  setDynamicSortFilter(false);
  relayout_ = Relayout::Sort;
}

void ResultFilter::relayoutAfterChange() {
  const Relayout relayout = relayout_;
  relayout_ = Relayout::None;
  // Filters and sorts every row in one layout change (turning the dynamic
  // sort back on then sorts once more, over rows already in order; Qt has
  // no way to turn it on without).
  if (relayout == Relayout::FilterAndSort) invalidate();
  if (relayout != Relayout::None) setDynamicSortFilter(true);  // sorts every row once
}

void ResultFilter::emitCounts() { emit countsChanged(totalRows(), rowCount()); }

}  // namespace kestrix
