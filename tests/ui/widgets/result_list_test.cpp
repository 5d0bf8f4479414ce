// The results list model and its feed: batched appends from another thread,
// the column table, clearing while thumbnails are pending, and a stale
// report of the check pool dropped (the selection over the list is
// result_selection_test.cpp's).
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QColor>
#include <QElapsedTimer>
#include <QListView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <iterator>
#include <thread>
#include <vector>

#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {
namespace {

constexpr int kWaitMs = 30000;

// Bytes without EXIF: each candidate parses quickly and shows "不明".
const std::vector<uint8_t>& imageBytes() {
  static const std::vector<uint8_t> bytes(4096, 0x20);
  return bytes;
}

void appendRows(ResultList& list, int count) {
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%08d.jpg", i);
    list.candidates().addCandidate(name, imageBytes().data(), {FileType::Unknown, 0, 2048});
  }
}

TEST(ResultListTest, ColumnsCarryTheirHeadersAndWidths) {
  ResultList list;
  // Header row: index, header, width.
  const struct {
    int column;
    const char* header;
    int width;
  } expected[] = {
      {0, "復元ファイル", 120}, {1, "マシン名", 100}, {2, "撮影(更新)日時", 100},
      {3, "予定サイズ", 72},    {4, "GPS情報", 64},   {5, "メーカー名", 72},
      {6, "バイト順", 64},      {7, "状態", 64},      {8, "読めないセクタ", 90},
  };
  ASSERT_EQ(list.columnCount(), 9);
  for (const auto& row : expected) {
    EXPECT_EQ(list.headerData(row.column, Qt::Horizontal).toString(),
              QString::fromUtf8(row.header));
    EXPECT_EQ(ResultList::columnWidth(row.column), row.width) << row.header;
  }
  // Whatever columns come: one table row each, none without its header or width.
  ASSERT_EQ(std::size(kResultColumns), size_t(list.columnCount()));
  for (int column = 0; column < list.columnCount(); ++column) {
    EXPECT_STRNE(ResultList::columnHeader(column), "") << column;
    EXPECT_GT(ResultList::columnWidth(column), 0) << column;
  }
  EXPECT_EQ(ResultList::placeholderImage().size(), QSize(100, 75));
}

TEST(ResultListTest, AppendsFromAnotherThreadArriveInFewBatches) {
  ResultList list;
  ResultFeed feed(list);
  QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
  QTableView details;
  QListView icons;
  details.setModel(&list);
  icons.setModel(&list);
  icons.setViewMode(QListView::IconMode);
  details.show();
  QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);

  // The user-interface thread must keep its timers running while 100,000
  // rows arrive: the longest gap between two ticks is the freeze a user
  // would feel.
  QElapsedTimer clock;
  clock.start();
  qint64 lastTick = 0, longestGap = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longestGap = std::max(longestGap, clock.elapsed() - lastTick);
    lastTick = clock.elapsed();
  });
  ticker.start(10);

  constexpr int kRows = 100000;
  std::atomic<bool> done{false};
  std::thread scan([&] {
    appendRows(list, kRows);
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, kWaitMs * 4));
  scan.join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return list.rowCount() == kRows; }, kWaitMs));
  EXPECT_LT(inserted.count(), 2000) << "rows must be published in batches";
  EXPECT_LT(longestGap, 2000) << "the event loop stalled";
  EXPECT_EQ(list.data(list.index(kRows - 1, 0)).toString(), "00099999.jpg");
  EXPECT_EQ(list.data(list.index(kRows - 1, 1)).toString(), QString::fromUtf8("不明"));
}

TEST(ResultListTest, ClearEmptiesRowsAndImages) {
  ResultList list;
  ResultFeed feed(list);
  appendRows(list, 3);
  feed.flushPendingRows();
  // No job to write candidates: every thumbnail fails, rows keep image 0.
  QSignalSpy finished(&feed, &ResultFeed::thumbnailsFinished);
  ASSERT_TRUE(feed.startThumbnails());
  EXPECT_FALSE(feed.startThumbnails()) << "made once per result set";
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(list.imageCount(), 4);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(list.imageIndex(row), 0);

  feed.clear();
  EXPECT_EQ(list.rowCount(), 0);
  EXPECT_EQ(list.imageCount(), 0);
  EXPECT_FALSE(feed.startThumbnails()) << "no rows";
  // A new result set makes its thumbnails again.
  appendRows(list, 2);
  EXPECT_TRUE(feed.startThumbnails());
  feed.stopThumbnails();
  EXPECT_FALSE(feed.thumbnailsActive());
}

TEST(ResultFeedTest, AReportOfAClearedResultSetIsDropped) {
  ResultList list;
  ResultFeed feed(list);
  QSignalSpy finished(&feed, &ResultFeed::thumbnailsFinished);
  QSignalSpy progressed(&feed, &ResultFeed::checksProgressed);
  // Each start and each clear bumps the generation: the first run is 1, the
  // clear makes 2, the run of the next result set 3. Without a job the
  // rows end unchecked at once.
  appendRows(list, 2);
  ASSERT_TRUE(feed.startThumbnails());
  ASSERT_TRUE(finished.wait(kWaitMs));
  feed.clear();
  appendRows(list, 2);
  ASSERT_TRUE(feed.startThumbnails());
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 2; }, kWaitMs));
  const int progressSeen = progressed.count();

  // Late reports of the first run, and one of the present run, posted from
  // another thread as the pool's threads do.
  const ThumbnailPixels red{1, 1, 3, {255, 0, 0}};
  std::thread pool([&] {
    CheckPoolListener& listener = feed;
    listener.post(check_report::RowChecked{1, 0, red});
    listener.post(check_report::Progress{1, 2, 2});
    listener.post(check_report::AllChecked{1});
    listener.post(check_report::RowChecked{3, 1, red});
  });
  pool.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return list.imageIndex(1) > 0; }, kWaitMs))
      << "the present run's picture lands";
  EXPECT_EQ(QColor(list.image(list.imageIndex(1)).pixel(0, 0)), QColor(255, 0, 0));
  EXPECT_EQ(list.imageIndex(0), 0) << "a picture of a result set that is gone";
  EXPECT_EQ(progressed.count(), progressSeen);
  EXPECT_EQ(finished.count(), 2);
}

}  // namespace
}  // namespace kestrix
