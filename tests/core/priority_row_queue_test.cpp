#include "core/priority_row_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace kestrix {
namespace {

std::vector<int32_t> drain(PriorityRowQueue& rows, int count) {
  std::vector<int32_t> taken;
  for (int i = 0; i < count; ++i) taken.push_back(rows.take());
  return taken;
}

TEST(PriorityRowQueue, PreferredRowsFirstThenListOrderEachOnce) {
  PriorityRowQueue rows;
  rows.extend(6);
  rows.prefer({4, 2, 9, -1});  // 9 is not published yet, −1 is no row
  EXPECT_EQ(drain(rows, 4), (std::vector<int32_t>{4, 2, 0, 1}));
  // A new preference replaces the old one and skips rows already handed out.
  rows.prefer({1, 5});
  EXPECT_EQ(drain(rows, 2), (std::vector<int32_t>{5, 3}));
  EXPECT_FALSE(rows.close());  // six taken, none finished
  EXPECT_EQ(rows.take(), -1);
}

TEST(PriorityRowQueue, EndIsReportedOnceWhicheverComesLast) {
  {
    // Rows finished before the close: the close completes the queue.
    PriorityRowQueue rows;
    rows.extend(2);
    rows.take();
    rows.take();
    EXPECT_FALSE(rows.finishOne().allDone);
    EXPECT_FALSE(rows.finishOne().allDone);
    EXPECT_TRUE(rows.close());
    EXPECT_FALSE(rows.close());
  }
  {
    // Closed first: the last finish completes it.
    PriorityRowQueue rows;
    rows.extend(2);
    rows.take();
    rows.take();
    EXPECT_FALSE(rows.close());
    EXPECT_FALSE(rows.finishOne().allDone);
    const PriorityRowQueue::Finish last = rows.finishOne();
    EXPECT_TRUE(last.allDone);
    EXPECT_EQ(last.finished, 2);
    EXPECT_EQ(last.total, 2);
  }
  {
    // A scan that found nothing.
    PriorityRowQueue rows;
    EXPECT_TRUE(rows.close());
    EXPECT_EQ(rows.take(), -1);
  }
}

TEST(PriorityRowQueue, TakerWaitsForRowsAndWakesOnCloseOrCancel) {
  PriorityRowQueue rows;
  std::atomic<int32_t> got{-2};
  std::thread taker([&] { got = rows.take(); });
  rows.extend(1);  // the waiting taker gets the row that arrives
  taker.join();
  EXPECT_EQ(got.load(), 0);

  std::thread closedTaker([&] { got = rows.take(); });
  rows.close();
  closedTaker.join();
  EXPECT_EQ(got.load(), -1);

  PriorityRowQueue open;
  std::thread cancelledTaker([&] { got = open.take(); });
  open.cancel();
  cancelledTaker.join();
  EXPECT_EQ(got.load(), -1);
}

TEST(PriorityRowQueue, ThreadsTakeEveryRowOnceWhileTheListGrows) {
  PriorityRowQueue rows;
  constexpr int32_t kRows = 20000;
  std::vector<std::atomic<int>> seen(kRows);
  std::atomic<int> doneReports{0};
  std::vector<std::thread> takers;
  for (int t = 0; t < 3; ++t) {
    takers.emplace_back([&] {
      for (int32_t row; (row = rows.take()) >= 0;) {
        seen[static_cast<size_t>(row)]++;
        if (rows.finishOne().allDone) doneReports++;
      }
    });
  }
  for (int32_t published = 0; published < kRows;) {
    published = std::min(kRows, published + 97);
    rows.extend(published);
    rows.prefer({published - 1, published / 2});
  }
  if (rows.close()) doneReports++;
  for (std::thread& taker : takers) taker.join();
  EXPECT_EQ(doneReports.load(), 1);
  EXPECT_EQ(rows.finished(), kRows);
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& n) { return n.load() == 1; }));
}

}  // namespace
}  // namespace kestrix
