// Base class of every long-running job: owns at most one std::thread.
//
// Lifecycle: Idle → start() → Running (thread exists, running flag set) →
// the body returns (flag cleared, thread still held until joined) or stop()
// → Idle. A second start() while a thread is held fails, even when that
// thread has already returned: the owner must stop() it first, which joins.
//
// Stopping is cooperative: Linux has no safe forced termination, so stop()
// clears the atomic running flag and joins. Bodies check shouldContinue()
// between steps and return at once when it is false, so a stopped job never
// touches its data again after stop() returns. A body that has posted its
// final message and returned is simply joined by stop().
//
// Suspension: suspend() raises a count; the body pauses inside its next
// shouldContinue() until resume() brings the count back to 0 or the job is
// stopped.
//
// Threads: start, stop, stopAndWait, suspend, resume, setPeriod and the
// destructor are called by the owner (one thread). shouldContinue and
// setRunning are also called from the job's own thread; stop() from the job's
// own thread only clears the flag (a thread cannot join itself).
//
// Derived classes MUST call stop() first in their own destructor: by the time
// ~JobThread runs the derived members are gone, so the body must have ended
// before then. ~JobThread stops too, as a last safety net.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kestrix {

class JobThread {
 public:
  // Period given at construction (milliseconds); every job here sets 0
  // (one-shot) before starting.
  static constexpr uint32_t kDefaultPeriodMs = 6000;
  // Granularity of the periodic wrapper's wait between calls.
  static constexpr uint32_t kPeriodicTickMs = 10;

  JobThread() = default;
  virtual ~JobThread();
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;

  // Creates the thread and sets the running flag. False when disabled, when a
  // thread is already held (running or finished but not yet joined), or when
  // the thread cannot be created.
  bool start();
  // Clears the running flag, wakes a suspended body and joins the thread.
  // Nothing happens without a thread.
  void stop();
  // The same as stop(): both wait for the body to return. Kept as its own
  // name for callers that want to say they wait.
  void stopAndWait();

  // Previous suspend count, or −1 when not isActive().
  int32_t suspend();
  int32_t resume();

  // A thread is held and the running flag is set.
  bool isActive() const;
  // A thread is held (running, or returned but not joined yet).
  bool hasThread() const;
  // The running flag; blocks while the job is suspended. Bodies call it
  // between steps and return when it is false.
  bool shouldContinue();
  void setRunning(bool running);
  void setPeriod(uint32_t milliseconds);
  uint32_t period() const { return period_.load(); }
  // A disabled object refuses start(); enabled at construction.
  void setEnabled(bool enabled) { enabled_.store(enabled); }
  bool isEnabled() const { return enabled_.load(); }
  // Value the last one-shot body returned (0 before any run).
  int32_t exitCode() const { return exitCode_.load(); }

 protected:
  // The job body. The base body does nothing and returns 0.
  virtual int32_t run();

 private:
  void threadMain();
  int32_t runOneShot();
  int32_t runPeriodic();
  void joinThread();

  std::thread thread_;                   // joinable while a thread is held
  std::atomic<bool> threadHeld_{false};  // mirrors thread_.joinable() for readers
  std::atomic<bool> enabled_{true};
  std::atomic<bool> running_{false};  // set by start, cleared by stop or the body's end
  std::atomic<uint32_t> period_{kDefaultPeriodMs};  // 0: one-shot
  std::atomic<int32_t> exitCode_{0};

  std::mutex suspendMutex_;
  std::condition_variable suspendWake_;   // signalled by resume, stop and setRunning
  std::atomic<int32_t> suspendCount_{0};  // > 0: shouldContinue blocks
};

}  // namespace kestrix
