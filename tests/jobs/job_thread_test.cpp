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

TEST(JobThread, SuspendedJobReallyPauses) {
  CountingJob job;
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(eventually([&] { return job.steps.load() > 100; }));
  EXPECT_EQ(job.suspend(), 0);
  EXPECT_EQ(job.suspend(), 1);
  // After the step in flight the count must stand still.
  std::this_thread::sleep_for(20ms);
  const int64_t paused = job.steps.load();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(job.steps.load(), paused);
  EXPECT_EQ(job.resume(), 2);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(job.steps.load(), paused);  // still suspended once
  EXPECT_EQ(job.resume(), 1);
  EXPECT_TRUE(eventually([&] { return job.steps.load() > paused; }));
  job.stop();
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
      setRunning(false);
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
