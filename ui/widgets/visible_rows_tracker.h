// Tells the results feed which of the list's rows the user is looking at, so the
// check pool draws those thumbnails first: the rows in the shown view's
// viewport, then the next screenful (what a scroll reveals first).
//
// It follows the views' scrolling and resizing, the view switch, and the
// model's inserts, sorting and filtering, and recomputes at most once per
// event-loop turn. A view whose model is a proxy (sorting, filtering) has
// its rows mapped back to the list's own.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <cstdint>
#include <vector>

class QAbstractItemView;

namespace kestrix {

class ResultFeed;

class VisibleRowsTracker : public QObject {
  Q_OBJECT

 public:
  // At most this many rows are preferred at a time: a screen of small
  // icons on a large monitor, twice.
  static constexpr int kMostRows = 600;

  // `views` holds the views; the shown one is tracked. None is owned.
  VisibleRowsTracker(ResultFeed& feed, QStackedWidget& views, QObject* parent = nullptr);

  // The list's rows in or just below the shown view's viewport, in order
  // of their place on screen.
  std::vector<int32_t> visibleRows() const;

 public slots:
  // Recomputes on the next turn of the event loop.
  void schedule();

 private:
  void watch(QAbstractItemView* view);
  void update();

  ResultFeed& feed_;
  QStackedWidget& views_;
  QTimer timer_;  // single shot, 0 ms: many triggers, one computation
};

}  // namespace kestrix
