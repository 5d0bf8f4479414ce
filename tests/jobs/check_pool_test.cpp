// The check pool's contract with its owner, without a window: every row is
// checked once however the rows arrive, progress only grows, and the end is
// announced once, only by a pool that was closed and not stopped.
#include "jobs/check_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrix {
namespace {

class CountingTarget : public CheckPool::Target {
 public:
  explicit CountingTarget(int32_t rows) : checks_(static_cast<size_t>(rows)) {}

  void checkRow(int32_t row, EngineSet&, int generation) override {
    EXPECT_EQ(generation, 7);
    if (slow_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ++checks_[static_cast<size_t>(row)];
  }
  void checkProgress(int, int32_t finished, int32_t total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_LE(finished, total);
    progress_.push_back(finished);
  }
  void allChecked(int) override { ++ends_; }

  bool waitForEnd() {
    for (int i = 0; i < 2000 && ends_ == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ends_ > 0;
  }

  std::vector<std::atomic<int>> checks_;
  std::mutex mutex_;
  std::vector<int32_t> progress_;
  std::atomic<int> ends_{0};
  bool slow_ = false;
};

TEST(CheckPoolTest, RowsPublishedInBatchesAreEachCheckedOnceAndTheEndIsSaidOnce) {
  CountingTarget target(100);
  CheckPool pool(target, nullptr, 7);
  ASSERT_TRUE(pool.start());
  pool.extend(10);
  pool.prefer({90, 95});  // not published yet: taken when they come, in their turn
  pool.extend(60);
  pool.extend(100);
  // close() says so itself when every row is done already; else the last
  // thread does, once.
  const bool doneAtClose = pool.close();
  if (!doneAtClose) {
    ASSERT_TRUE(target.waitForEnd());
  }
  pool.stop();
  EXPECT_EQ(target.ends_, doneAtClose ? 0 : 1);
  for (size_t row = 0; row < target.checks_.size(); ++row)
    EXPECT_EQ(target.checks_[row], 1) << "row " << row;
  std::lock_guard<std::mutex> lock(target.mutex_);
  ASSERT_FALSE(target.progress_.empty());
  EXPECT_EQ(*std::max_element(target.progress_.begin(), target.progress_.end()), 100);
}

TEST(CheckPoolTest, AStoppedPoolSaysNothingMoreAndChecksNoRowTwice) {
  CountingTarget target(400);
  target.slow_ = true;
  CheckPool pool(target, nullptr, 7);
  ASSERT_TRUE(pool.start());
  pool.extend(400);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  pool.stop();  // rows not reached stay unchecked
  EXPECT_FALSE(pool.isActive());
  EXPECT_EQ(target.ends_, 0) << "a pool that was never closed has no end to announce";
  int checked = 0;
  for (const std::atomic<int>& count : target.checks_) {
    EXPECT_LE(count, 1);
    checked += count;
  }
  EXPECT_LT(checked, 400);
}

}  // namespace
}  // namespace kestrix
