#include "ui/widgets/visible_rows_tracker.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QScrollBar>

#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_list.h"

namespace kestrix {

VisibleRowsTracker::VisibleRowsTracker(ResultFeed& feed, QStackedWidget& views, QObject* parent)
    : QObject(parent), feed_(feed), views_(views) {
  timer_.setSingleShot(true);
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &VisibleRowsTracker::update);
  for (int i = 0; i < views_.count(); ++i)
    watch(qobject_cast<QAbstractItemView*>(views_.widget(i)));
  connect(&views_, &QStackedWidget::currentChanged, this, &VisibleRowsTracker::schedule);
  connect(&feed_.list(), &ResultList::rowsPublished, this, &VisibleRowsTracker::schedule);
}

void VisibleRowsTracker::watch(QAbstractItemView* view) {
  if (view == nullptr) return;
  connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this,
          &VisibleRowsTracker::schedule);
  connect(view->verticalScrollBar(), &QScrollBar::rangeChanged, this,
          &VisibleRowsTracker::schedule);
  // A proxy may be set or replaced after the view was built; the model's
  // own reordering and filtering are followed through the layout signals.
  QAbstractItemModel* model = view->model();
  if (model != nullptr) {
    connect(model, &QAbstractItemModel::layoutChanged, this, &VisibleRowsTracker::schedule);
    connect(model, &QAbstractItemModel::rowsInserted, this, &VisibleRowsTracker::schedule);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &VisibleRowsTracker::schedule);
    connect(model, &QAbstractItemModel::modelReset, this, &VisibleRowsTracker::schedule);
  }
}

void VisibleRowsTracker::schedule() {
  if (!timer_.isActive()) timer_.start();
}

std::vector<int32_t> VisibleRowsTracker::visibleRows() const {
  std::vector<int32_t> rows;
  auto* view = qobject_cast<QAbstractItemView*>(views_.currentWidget());
  if (view == nullptr || view->model() == nullptr) return rows;
  QAbstractItemModel* model = view->model();
  const int count = model->rowCount();
  if (count == 0) return rows;
  const int height = view->viewport()->height();
  // Both views lay rows out in order, top to bottom (the icon view row by
  // row of icons): the first row whose cell reaches into the viewport is
  // found by halving, then rows follow until two screens are covered.
  int low = 0;
  int high = count;
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (view->visualRect(model->index(middle, 0)).bottom() < 0)
      low = middle + 1;
    else
      high = middle;
  }
  auto* proxy = qobject_cast<QAbstractProxyModel*>(model);
  for (int row = low; row < count && static_cast<int>(rows.size()) < kMostRows; ++row) {
    const QModelIndex index = model->index(row, 0);
    if (view->visualRect(index).top() >= 2 * height) break;
    const int listRow = proxy != nullptr ? proxy->mapToSource(index).row() : row;
    if (listRow >= 0) rows.push_back(listRow);
  }
  return rows;
}

void VisibleRowsTracker::update() { feed_.preferRows(visibleRows()); }

}  // namespace kestrix
