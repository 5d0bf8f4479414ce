#include "jobs/job_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kestrix {
namespace {

using namespace std::chrono_literals;

// Waits for a condition set by another thread, with a generous deadline so a
// loaded machine does not fail the test; never used to measure speed.
template <typename Predicate>
bool eventually(Predicate predicate) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A job counting steps until it is stopped (or `limit` steps are done).
class CountingJob : public JobThread {
 public:
  explicit CountingJob(int64_t limit = -1) : limit_(limit) { setPeriod(0); }
  ~CountingJob() override { stop(); }  // before the members below die

  std::atomic<int64_t> steps{0};
  std::atomic<bool> returned{false};

 protected:
  int32_t run() override {
    while (shouldContinue()) {
      if (limit_ >= 0 && steps.load() >= limit_) break;
      steps.fetch_add(1);
      std::this_thread::yield();
    }
    returned.store(true);
    return 7;
  }

 private:
  int64_t limit_;
};

TEST(JobThread, SecondStartWithoutStopFails) {
  CountingJob job;
  ASSERT_TRUE(job.start());
  EXPECT_FALSE(job.start());
  job.stop();
  EXPECT_TRUE(job.returned.load());
  EXPECT_TRUE(job.start());  // stopped: free to run again
  job.stop();
}

TEST(JobThread, FinishedButNotJoinedStillRefusesStart) {
  CountingJob job(10);
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(eventually([&] { return job.returned.load(); }));
  ASSERT_TRUE(eventually([&] { return !job.isActive(); }));
  EXPECT_TRUE(job.hasThread());
  EXPECT_FALSE(job.start());
  job.stop();  // joins the thread that ended by itself
  EXPECT_FALSE(job.hasThread());
  EXPECT_EQ(job.exitCode(), 7);
  EXPECT_EQ(job.steps.load(), 10);
}

TEST(JobThread, DisabledRefusesStart) {
  CountingJob job;
  job.setEnabled(false);
  EXPECT_FALSE(job.start());
  EXPECT_FALSE(job.hasThread());
}

TEST(JobThread, StopWithoutThreadDoesNothing) {
  CountingJob job;
  job.stop();
  job.stopAndWait();
  EXPECT_FALSE(job.hasThread());
  EXPECT_FALSE(job.isActive());
}

TEST(JobThread, SuspendAndResumeNeedAnActiveThread) {
  CountingJob job(5);
  EXPECT_EQ(job.suspend(), -1);
  EXPECT_EQ(job.resume(), -1);
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(eventually([&] { return !job.isActive(); }));
  EXPECT_EQ(job.suspend(), -1);  // body returned: not active any more
  job.stop();
}

// Asks the flag once per permit the test grants, telling the test when it
// begins to ask and when it has stepped past the ask. A step taken before
// `released` is set is a step taken while suspended.
class PermittedJob : public JobThread {
 public:
  PermittedJob() { setPeriod(0); }
  ~PermittedJob() override { finish(); }

  // Wakes a body waiting for a permit so that it ends, then stops the job.
  void finish() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
    stop();
  }

  void permit() {
    {
      std::lock_guard lock(mutex_);
      ++permits_;
    }
    changed_.notify_all();
  }
  bool waitForAsks(int64_t count) {
    return waitFor([&] { return asks_ >= count; });
  }
  bool waitForSteps(int64_t count) {
    return waitFor([&] { return steps_ >= count; });
  }

  std::atomic<bool> released{false};
  std::atomic<bool> steppedWhileSuspended{false};

 protected:
  int32_t run() override {
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return finished_ || permits_ > asks_; });
        if (finished_) break;
        ++asks_;
      }
      changed_.notify_all();
      if (!shouldContinue()) break;
      if (!released.load()) steppedWhileSuspended.store(true);
      {
        std::lock_guard lock(mutex_);
        ++steps_;
      }
      changed_.notify_all();
    }
    return 0;
  }

 private:
  template <typename Predicate>
  bool waitFor(Predicate predicate) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, predicate);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool finished_ = false;  // guarded by mutex_, as are the counts
  int64_t permits_ = 0;
  int64_t asks_ = 0;
  int64_t steps_ = 0;
};

TEST(JobThread, SuspendedJobReallyPauses) {
  PermittedJob job;
  ASSERT_TRUE(job.start());
  EXPECT_EQ(job.suspend(), 0);
  EXPECT_EQ(job.suspend(), 1);
  job.permit();
  ASSERT_TRUE(job.waitForAsks(1));  // the body is asking, or blocked in the ask
  EXPECT_EQ(job.resume(), 2);       // still suspended once
  job.released.store(true);
  EXPECT_EQ(job.resume(), 1);
  ASSERT_TRUE(job.waitForSteps(1));
  EXPECT_FALSE(job.steppedWhileSuspended.load());
  job.permit();
  EXPECT_TRUE(job.waitForSteps(2));  // resumed for good
  job.finish();
}

TEST(JobThread, StopEndsASuspendedJob) {
  CountingJob job;
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(eventually([&] { return job.steps.load() > 0; }));
  job.suspend();
  job.stop();
  EXPECT_TRUE(job.returned.load());
  EXPECT_FALSE(job.hasThread());
}

TEST(JobThread, StopAndWaitEndsALongJobWhichThenNeverTouchesItsData) {
  CountingJob job;  // would run forever
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(eventually([&] { return job.steps.load() > 1000; }));
  job.stopAndWait();
  EXPECT_TRUE(job.returned.load());
  const int64_t final = job.steps.load();
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(job.steps.load(), final);
  EXPECT_FALSE(job.shouldContinue());
}

TEST(JobThread, BodyClearingItsOwnFlagEnds) {
  class SelfStopping : public JobThread {
   public:
    SelfStopping() { setPeriod(0); }
    ~SelfStopping() override { stop(); }

   protected:
    int32_t run() override {
      stop();  // from its own thread: clears the flag, cannot join itself
      return shouldContinue() ? 1 : 2;
    }
  } job;
  ASSERT_TRUE(job.start());
  job.stop();
  EXPECT_EQ(job.exitCode(), 2);
}

TEST(JobThread, PeriodicModeCallsRunRepeatedlyUntilStopped) {
  class Ticking : public JobThread {
   public:
    Ticking() { setPeriod(1); }
    ~Ticking() override { stop(); }
    std::atomic<int> calls{0};

   protected:
    int32_t run() override {
      calls.fetch_add(1);
      return 0;
    }
  } job;
  ASSERT_TRUE(job.start());
  EXPECT_TRUE(eventually([&] { return job.calls.load() >= 3; }));
  job.stop();
  const int calls = job.calls.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(job.calls.load(), calls);
}

TEST(JobThread, DestructorStopsARunningJob) {
  std::atomic<int64_t>* steps = nullptr;
  {
    CountingJob job;
    steps = &job.steps;
    ASSERT_TRUE(job.start());
    ASSERT_TRUE(eventually([&] { return steps->load() > 0; }));
  }  // must not hang or touch freed memory (checked under ASan)
  SUCCEED();
}

}  // namespace
}  // namespace kestrix
