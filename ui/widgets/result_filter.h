// What the views show of the results list: the rows the filter bar's
// criteria accept, in the order of the column the user sorted by (scan
// order until a header is clicked). Both views use it, with the one
// selection model kept over it (ResultSelection).
//
//   ResultFilter filter(results);
//   ResultSelection selection(&filter);
//   view->setModel(&filter);
//   view->setSelectionModel(selection.model());
//   filter.setCriteria(bar->criteria());
//
// Sorting compares real values through ResultKeys (sizes as numbers, dates
// in time, verdicts by rank, texts case-insensitively), with values a row
// lacks after all others and ties in scan order, whichever way the column
// is sorted, so the order is total and a row's place never depends on how
// it got there.
//
// Rows keep arriving from the scan while the list is sorted, and verdicts
// arrive while damaged rows are hidden. Qt's proxy puts each new row in its
// place and takes each newly hidden row out, one insertion or removal per
// place, each moving the whole mapping and telling the views: 5,000 rows
// into 100,000 sorted ones cost 120 ms that way, 25,000 rows hidden 2.1 s,
// against some 25 ms for one sort of them all. From kRelayoutRows rows at once
// the proxy is told to leave the rows be (dynamicSortFilter off) and then
// sorts, or filters and sorts, every row in one layout change; below it,
// Qt's way is the cheaper.
//
// The keys of a row are made once and forgotten when its data changes: the
// proxy reacts to the same dataChanged (a rename, verdicts, sector counts),
// so the key cache is told first, by connections made before the proxy's
// own.
#pragma once

#include <QPointer>
#include <QSortFilterProxyModel>

#include "ui/widgets/filter_criteria.h"
#include "ui/widgets/result_keys.h"

namespace kestrix {

class ResultList;

class ResultFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  // From this many rows appended in one batch, or shown or hidden by one
  // change of their data, every row is placed again in one layout change
  // instead of one insertion or removal per place (see above). Measured
  // with 100,000 rows (bench/ui): Qt's way costs some 40 to 90 µs per row
  // put in or taken out, one sort about 21 ms, a filter and sort 40 ms.
  static constexpr int kRelayoutRows = 256;

  explicit ResultFilter(ResultList& list, QObject* parent = nullptr);

  const FilterCriteria& criteria() const { return criteria_; }
  // Filters again when the criteria differ from the current ones.
  void setCriteria(const FilterCriteria& criteria);
  // The criteria's answer for a row of the list (shown or not).
  bool acceptsSourceRow(int row) const;

  // The list's row behind a view index; −1 for an invalid one.
  int sourceRow(const QModelIndex& index) const;
  // The view's index of a list row; invalid while the row is hidden.
  QModelIndex indexOfSourceRow(int row, int column = 0) const;
  // Rows of the list, shown or not.
  int totalRows() const;

 signals:
  // The number of rows shown or found may have changed.
  void countsChanged(int total, int shown);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  // Before the proxy's own slot: forgets the changed keys, and hands a
  // change that shows or hides many rows to relayoutAfterChange.
  void sourceDataChanging(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                          const QList<int>& roles);
  void sourceRowsAboutToBeInserted(const QModelIndex& parent, int first, int last);
  // After the proxy's own slots: one layout change for what it was told to
  // leave be.
  void relayoutAfterChange();
  // True when at least kRelayoutRows of rows first..last would now be shown
  // or hidden.
  bool manyRowsFlip(int first, int last) const;
  void emitCounts();

  QPointer<ResultList> list_;
  FilterCriteria criteria_;
  mutable ResultKeys keys_;  // made on demand from const calls
  // What the proxy was told to leave be, to be done in one layout change.
  enum class Relayout { None, Sort, FilterAndSort };
  Relayout relayout_ = Relayout::None;
};

}  // namespace kestrix
