// The rows the user has chosen: the one QItemSelectionModel both views
// share, over the model they show (the window's ResultFilter), and nothing
// besides. The candidate list keeps no copy; whoever needs the chosen rows
// (the restore, the preview, the properties) asks chosenRows() once and
// works on that snapshot.
//
//   ResultSelection selection(&filter);
//   details->setSelectionModel(selection.model());
//   icons->setSelectionModel(selection.model());
//   connect(&selection, &ResultSelection::countChanged, …);
//   job.setChosenRows(selection.chosenRows());
//
// A row counts as selected while its first cell is: the details view
// selects whole rows, the icon view shows only the first column.
//
// Only rows the view shows are ever selected: select-all takes the rows
// shown, and a row the filter stops showing loses its selection, whether it
// goes by a removal (Qt's selection model drops it) or in a layout change.
// Around a layout change (a sort, a new filter) the selection is parked:
// taken as rows of the source just before, the selection model emptied,
// and the rows that are still shown selected again just after. Qt would
// otherwise keep one persistent index per selected cell across the change
// (600,000 for 66,000 rows, seconds to carry), and it keeps a wholly
// selected table of over 1,000 cells as "all of it" whatever rows the
// filter left. The parked rows live only while the change does.
//
// User-interface thread only.
#pragma once

#include <QAbstractProxyModel>
#include <QItemSelectionModel>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrix {

class ResultSelection : public QObject {
  Q_OBJECT

 public:
  // `view` is the model the views show; when it is a proxy its rows are
  // mapped to the source's (the candidate list's rows). It must outlive
  // this object or be destroyed with its parent first.
  explicit ResultSelection(QAbstractItemModel* view, QObject* parent = nullptr);

  // The selection model both views use; it works on the view model's rows.
  QItemSelectionModel* model() { return &selection_; }
  // Rows selected now.
  int selectedCount() const { return count_; }
  // Selects every row shown, or releases every row (the select-all button).
  void selectAll(bool select);
  // Selects exactly the shown ones of `sourceRows` (rows of the source);
  // hidden or missing rows are left out.
  void selectRows(const std::vector<int32_t>& sourceRows);
  // The selected rows as rows of the source, ascending, each once.
  std::vector<int32_t> chosenRows() const;

 signals:
  // The number of selected rows changed.
  void countChanged(int selected);

 private:
  // Before a layout change of the view: notes the chosen rows and empties
  // the selection model, so Qt has nothing to carry across.
  void park();
  // After it: selects the noted rows the view still shows.
  void unpark();
  // Counts the selected rows again; emits countChanged when it differs.
  void recount();
  int viewRow(int32_t sourceRow) const;
  int32_t sourceRow(int viewRow) const;

  QPointer<QAbstractItemModel> view_;
  QPointer<QAbstractProxyModel> proxy_;  // view_ when it is a proxy, else null
  QItemSelectionModel selection_;
  // Source rows selected when the layout change began; set only between
  // layoutAboutToBeChanged and layoutChanged.
  std::optional<std::vector<int32_t>> parked_;
  bool replacing_ = false;  // selectRows is clearing and selecting: count once at its end
  int count_ = 0;
};

}  // namespace kestrix
