#include "jobs/job_thread.h"

#include <chrono>
#include <system_error>

namespace kestrix {

namespace {
// The JobThread whose body runs on this thread, so stop() called from a body
// can tell without reading thread_, which the owner writes.
thread_local const JobThread* currentJob = nullptr;
}  // namespace

JobThread::~JobThread() {
  // Last safety net only: a derived class has already stopped in its own
  // destructor, while the members its body uses were still alive.
  stop();
}

int32_t JobThread::run() { return 0; }

bool JobThread::start() {
  if (!enabled_.load()) return false;
  if (thread_.joinable()) return false;  // one job at a time; stop() joins a finished one
  running_.store(true);
  suspendCount_.store(0);
  threadHeld_.store(true);  // before the body runs, so it sees itself active
  try {
    thread_ = std::thread(&JobThread::threadMain, this);
  } catch (const std::system_error&) {
    threadHeld_.store(false);
    running_.store(false);
    return false;
  }
  return true;
}

void JobThread::threadMain() {
  currentJob = this;
  const int32_t result = period_.load() == 0 ? runOneShot() : runPeriodic();
  exitCode_.store(result);
}

int32_t JobThread::runOneShot() {
  const int32_t result = run();
  running_.store(false);
  return result;
}

// Calls run() whenever more than the period has passed since the last call,
// until the job is stopped. The wait between checks is a condition-variable
// wait so that stop() does not have to sit out a tick.
int32_t JobThread::runPeriodic() {
  using Clock = std::chrono::steady_clock;
  bool called = false;
  Clock::time_point last{};
  while (shouldContinue()) {
    const Clock::time_point now = Clock::now();
    if (!called || now - last > std::chrono::milliseconds(period_.load())) {
      called = true;
      last = now;
      run();
    }
    std::unique_lock lock(suspendMutex_);
    suspendWake_.wait_for(lock, std::chrono::milliseconds(kPeriodicTickMs),
                          [this] { return !running_.load(); });
  }
  return 0;
}

void JobThread::joinThread() {
  if (!thread_.joinable()) return;
  thread_.join();
  thread_ = std::thread();
  threadHeld_.store(false);
}

void JobThread::stop() {
  if (currentJob == this) {  // from the body itself: it cannot join itself
    setRunning(false);
    return;
  }
  if (!thread_.joinable()) return;
  setRunning(false);  // wakes a suspended body, which then sees the flag
  joinThread();
  if (!thread_.joinable()) suspendCount_.store(0);
}

void JobThread::stopAndWait() { stop(); }

int32_t JobThread::suspend() {
  if (!isActive()) return -1;
  std::lock_guard lock(suspendMutex_);
  return suspendCount_.fetch_add(1);
}

int32_t JobThread::resume() {
  if (!isActive()) return -1;
  int32_t previous;
  {
    std::lock_guard lock(suspendMutex_);
    previous = suspendCount_.load();
    if (previous > 0) suspendCount_.store(previous - 1);
  }
  suspendWake_.notify_all();
  return previous;
}

bool JobThread::isActive() const { return threadHeld_.load() && running_.load(); }

bool JobThread::hasThread() const { return threadHeld_.load(); }

bool JobThread::shouldContinue() {
  if (suspendCount_.load() > 0) {
    std::unique_lock lock(suspendMutex_);
    suspendWake_.wait(lock, [this] { return suspendCount_.load() == 0 || !running_.load(); });
  }
  return running_.load();
}

void JobThread::setRunning(bool running) {
  {
    // Taken so a body between its predicate check and its wait cannot miss
    // the wake-up.
    std::lock_guard lock(suspendMutex_);
    running_.store(running);
  }
  suspendWake_.notify_all();
}

void JobThread::setPeriod(uint32_t milliseconds) { period_.store(milliseconds); }

}  // namespace kestrix
