// What sorting and filtering the results list costs with 100,000 rows, the
// way the window has it: the ResultFilter between the list and both views,
// the views shown (offscreen), the shared selection model over the filter.
//
//   build/bench/bench/result_filter_bench [ROWS]
//
// Prints milliseconds per step: the first sort by a column (its keys made
// from the candidates), the same column the other way (keys kept), filter
// changes with every shown row selected, a refresh of every verdict while
// sorted by verdict, single batches appended while sorted, and a whole
// scan's rows streaming in from another thread while sorted, with the
// longest stall of the event loop. A measurement to run by hand, not a test.
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/ui/widgets/synthetic_rows.h"
#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_filter.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/result_selection.h"

namespace {

using kestrix::FilterCriteria;
using kestrix::ResultFilter;
using kestrix::ResultList;
using kestrix::ResultSelection;
using kestrix::RowTexts;
using kestrix::test::SyntheticImage;
using kestrix::test::SyntheticRow;

// Makers, models and dates enough that texts and dates repeat and differ.
struct Blocks {
  SyntheticImage image;
  std::vector<uint64_t> starts;
  Blocks() {
    const char* makers[] = {"Canon", "NIKON CORPORATION", "KestrixCam", "OLYMPUS", ""};
    for (int i = 0; i < 60; ++i) {
      char model[16], date[24];
      std::snprintf(model, sizeof model, "Model-%02d", i % 17);
      std::snprintf(date, sizeof date, "20%02d:%02d:%02d 12:%02d:00", i % 24, 1 + i % 12,
                    1 + i % 28, i);
      starts.push_back(image.block(makers[i % 5], i % 7 ? model : "", i % 11 ? date : ""));
    }
    image.finish(8 << 20);
  }
};

// Row i: a size spread over 0..8 MiB, one row in three nested (the
// thumbnails inside photos), verdicts of every kind.
SyntheticRow syntheticRow(const Blocks& blocks, int i) {
  SyntheticRow row;
  char name[24];
  std::snprintf(name, sizeof name, "%08d.jpg", i);
  row.name = name;
  row.start = blocks.starts[static_cast<size_t>(i) % blocks.starts.size()];
  row.size = (uint64_t(i) * 2654435761u) % (8 << 20);
  if (i % 3 == 2) row.parent = "parent.jpg";
  return row;
}

double elapsedMs(const QElapsedTimer& clock) { return clock.nsecsElapsed() / 1e6; }

template <typename F>
void timed(const char* what, F&& step) {
  QElapsedTimer clock;
  clock.start();
  step();
  QApplication::processEvents();
  std::printf("%-58s %9.1f ms\n", what, elapsedMs(clock));
}

struct Window {
  ResultList list;
  kestrix::ResultFeed feed{list};
  ResultFilter filter{list};
  ResultSelection selection{&filter};
  QTableView details;
  QListView icons;
  Window() {
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(&details), static_cast<QAbstractItemView*>(&icons)}) {
      view->setModel(&filter);
      view->setSelectionModel(selection.model());
      view->resize(900, 500);
      view->show();
    }
    icons.setViewMode(QListView::IconMode);
    icons.setUniformItemSizes(true);
    icons.setLayoutMode(QListView::Batched);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int rows = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 100000;
  const Blocks blocks;
  std::printf("%d rows\n", rows);

  {
    Window window;
    timed("append and publish every row (nested hidden)", [&] {
      for (int i = 0; i < rows; ++i)
        kestrix::test::addRow(window.list, blocks.image, syntheticRow(blocks, i));
      window.feed.flushPendingRows();
    });
    std::printf("  shown: %d\n", window.filter.rowCount());
    const struct {
      const char* name;
      int column;
    } columns[] = {{"size", int(RowTexts::Column::Size)},
                   {"name", int(RowTexts::Column::Name)},
                   {"shot date", int(RowTexts::Column::ShotDate)},
                   {"maker", int(RowTexts::Column::Maker)},
                   {"verdict", ResultList::kColumnVerdict}};
    for (const auto& column : columns) {
      const std::string first = std::string("sort by ") + column.name + ", first time";
      const std::string again = std::string("sort by ") + column.name + ", descending";
      timed(first.c_str(), [&] { window.filter.sort(column.column, Qt::AscendingOrder); });
      timed(again.c_str(), [&] { window.filter.sort(column.column, Qt::DescendingOrder); });
    }
    window.filter.sort(int(RowTexts::Column::Size), Qt::AscendingOrder);
    timed("select every shown row (sorted by size)", [&] { window.selection.selectAll(true); });
    timed("sort by name with every shown row selected",
          [&] { window.filter.sort(int(RowTexts::Column::Name), Qt::AscendingOrder); });
    timed("sort by size again, the selection now in pieces",
          [&] { window.filter.sort(int(RowTexts::Column::Size), Qt::AscendingOrder); });

    FilterCriteria criteria;
    criteria.hideNested = false;
    timed("show the nested rows (sorted, selection kept)",
          [&] { window.filter.setCriteria(criteria); });
    criteria.hideNested = true;
    timed("hide them again (their selection dropped)",
          [&] { window.filter.setCriteria(criteria); });
    criteria.makerOrModel = "kestrix";
    timed("maker/model \"kestrix\" (texts read first time)",
          [&] { window.filter.setCriteria(criteria); });
    criteria.makerOrModel = "model-1";
    timed("maker/model \"model-1\"", [&] { window.filter.setCriteria(criteria); });
    criteria.makerOrModel.clear();
    criteria.minimumSizeKB = 4096;
    timed("at least 4096 KB", [&] { window.filter.setCriteria(criteria); });
    criteria.minimumSizeKB = 0;
    criteria.dateRangeSet = true;
    criteria.firstDay = QDate(2005, 1, 1);
    criteria.lastDay = QDate(2015, 12, 31);
    timed("shot between 2005 and 2015 (dates read first time)",
          [&] { window.filter.setCriteria(criteria); });
    criteria = FilterCriteria{};
    criteria.hideDamaged = true;
    window.filter.setCriteria(criteria);
    window.selection.selectAll(false);

    // Rows checked as the pool does (without the decoding), one in four
    // damaged: first one progress step's worth (the pool refreshes 200
    // times a run), then all the rest at once.
    const auto check = [&](int first, int last) {
      for (int i = first; i < last; ++i) {
        kestrix::CheckResult result;
        result.verdict = i % 4 == 2 ? kestrix::Verdict::Damaged : kestrix::Verdict::Intact;
        window.list.candidates().setCheck(i, result);
      }
    };
    window.filter.sort(ResultList::kColumnVerdict, Qt::AscendingOrder);
    const int step = rows / 200;
    check(0, step);
    timed("one progress step of verdicts, damaged hidden, by verdict",
          [&] { window.list.showVerdicts(); });
    check(step, rows);
    timed("every other verdict at once, damaged hidden, by verdict",
          [&] { window.list.showVerdicts(); });
    timed("verdicts refreshed again, nothing changed", [&] { window.list.showVerdicts(); });

    window.filter.sort(int(RowTexts::Column::Size), Qt::AscendingOrder);
    int next = rows;
    for (const int batch : {1, 64, 255, 256, 1000, 5000}) {
      char what[80];
      std::snprintf(what, sizeof what, "a batch of %d rows appended, sorted by size", batch);
      timed(what, [&] {
        for (int i = 0; i < batch; ++i, ++next)
          kestrix::test::addRow(window.list, blocks.image, syntheticRow(blocks, next));
        window.feed.flushPendingRows();
      });
    }
  }

  {
    // A scan's rows from another thread, the 50 ms batches as they come.
    Window window;
    window.filter.sort(int(RowTexts::Column::Size), Qt::DescendingOrder);
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longestGap = std::max(longestGap, clock.elapsed() - lastTick);
      lastTick = clock.elapsed();
    });
    ticker.start(10);
    std::atomic<bool> done{false};
    std::thread scan([&] {
      for (int i = 0; i < rows; ++i)
        kestrix::test::addRow(window.list, blocks.image, syntheticRow(blocks, i));
      done = true;
    });
    while (!done.load() || window.list.rowCount() < rows)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    scan.join();
    std::printf("%-58s %9.1f ms\n", "stream every row in while sorted by size", elapsedMs(clock));
    std::printf("%-58s %9lld ms\n", "  longest stall of the event loop",
                static_cast<long long>(longestGap));
  }
  return 0;
}
