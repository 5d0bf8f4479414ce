// Which rows the thumbnails start with: those on screen in the shown view,
// then the next screenful, mapped through a sorting proxy to the list's own
// rows.
#include <gtest/gtest.h>

#include <QListView>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "ui/widgets/result_feed.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/visible_rows_tracker.h"

namespace kestrix {
namespace {

const std::vector<uint8_t>& imageBytes() {
  static const std::vector<uint8_t> bytes(4096, 0x20);
  return bytes;
}

class VisibleRowsTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int row = 0; row < 500; ++row) {
      char name[16];
      std::snprintf(name, sizeof name, "%05d.jpg", row);
      list_.candidates().addCandidate(name, imageBytes().data(), {FileType::Unknown, 0, 2048});
    }
    feed_.flushPendingRows();
    proxy_.setSourceModel(&list_);
    table_ = new QTableView(&views_);
    table_->setModel(&proxy_);
    icons_ = new QListView(&views_);
    icons_->setModel(&proxy_);
    icons_->setViewMode(QListView::IconMode);
    icons_->setIconSize(QSize(100, 75));
    icons_->setGridSize(QSize(124, 100));
    icons_->setUniformItemSizes(true);
    icons_->setMovement(QListView::Static);
    icons_->setResizeMode(QListView::Adjust);
    views_.addWidget(table_);
    views_.addWidget(icons_);
    views_.resize(400, 300);
    views_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&views_));
  }

  ResultList list_;
  ResultFeed feed_{list_};
  QSortFilterProxyModel proxy_;
  QStackedWidget views_;
  QTableView* table_ = nullptr;
  QListView* icons_ = nullptr;
};

TEST_F(VisibleRowsTrackerTest, RowsOnScreenFirstThenTheNextScreen) {
  VisibleRowsTracker tracker(feed_, views_);
  std::vector<int32_t> rows = tracker.visibleRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front(), 0);
  const int perScreen = table_->viewport()->height() / table_->rowHeight(0);
  EXPECT_GE(static_cast<int>(rows.size()), perScreen);
  EXPECT_LE(static_cast<int>(rows.size()), 2 * perScreen + 2) << "two screens, not the list";

  table_->verticalScrollBar()->setValue(table_->verticalScrollBar()->maximum());
  rows = tracker.visibleRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_GT(rows.front(), 400);
  EXPECT_EQ(rows.back(), 499);
}

TEST_F(VisibleRowsTrackerTest, ASortedViewIsMappedToTheListsRows) {
  VisibleRowsTracker tracker(feed_, views_);
  proxy_.sort(0, Qt::DescendingOrder);
  std::vector<int32_t> rows = tracker.visibleRows();
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(rows[0], 499);
  EXPECT_EQ(rows[1], 498);
}

TEST_F(VisibleRowsTrackerTest, TheIconViewCountsItsGridAndFollowsScrolling) {
  views_.setCurrentWidget(icons_);
  QTest::qWait(50);  // the icon view lays out its batches
  VisibleRowsTracker tracker(feed_, views_);
  std::vector<int32_t> rows = tracker.visibleRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front(), 0);
  // Three icons a row, three rows on screen: two screens are about 18.
  EXPECT_GE(rows.size(), 6u);
  EXPECT_LE(rows.size(), 30u);
  icons_->verticalScrollBar()->setValue(icons_->verticalScrollBar()->maximum() / 2);
  rows = tracker.visibleRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_GT(rows.front(), 100);
  EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
}

}  // namespace
}  // namespace kestrix
