#include "jobs/check_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "host/plugin_host.h"

namespace kestrix {

namespace {
constexpr int kWorkerNice = 5;
}  // namespace

CheckPool::CheckPool(Target& target, const PluginHost* host, int generation)
    : target_(target), generation_(generation) {
  for (int i = 0; i < kThreads; ++i) {
    workers_.push_back(
        std::make_unique<Worker>(*this, host != nullptr ? host->createEngineSet() : EngineSet()));
  }
}

CheckPool::~CheckPool() { stop(); }

bool CheckPool::start() {
  bool started = false;
  for (auto& worker : workers_) started = worker->start() || started;
  return started;
}

void CheckPool::stop() {
  // Flags first, so both threads end their row together; the queue wakes a
  // thread waiting for rows; then the joins.
  for (auto& worker : workers_) worker->setRunning(false);
  rows_.cancel();
  for (auto& worker : workers_) worker->stop();
}

bool CheckPool::isActive() const {
  return std::any_of(workers_.begin(), workers_.end(),
                     [](const auto& worker) { return worker->isActive(); });
}

int32_t CheckPool::Worker::run() {
  // Both cores are busy decoding: a lower priority for these threads keeps
  // the user-interface thread first, so scrolling stays smooth. Linux nice
  // values are per thread; a failure only leaves the default priority.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
  CheckPool& pool = pool_;
  while (shouldContinue()) {
    const int32_t row = pool.rows_.take();  // waits while the scan is still finding
    if (row < 0) return 1;
    pool.target_.checkRow(row, engines_, pool.generation_);
    const PriorityRowQueue::Finish finish = pool.rows_.finishOne();
    // Rows at the head of the list matter most while the user watches, so
    // the first ones are shown one by one; later a signal per few rows.
    if (finish.finished <= kRowsPerProgressSignal ||
        finish.finished % kRowsPerProgressSignal == 0 || finish.finished == finish.total) {
      pool.target_.checkProgress(pool.generation_, finish.finished, finish.total);
    }
    // Only the thread that finished the last row of a closed queue says so:
    // a stopped pool posts nothing.
    if (finish.allDone) pool.target_.allChecked(pool.generation_);
  }
  return 0;
}

}  // namespace kestrix
