#include "ui/widgets/check_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "host/plugin_host.h"
#include "ui/widgets/result_list.h"

namespace kestrix {

namespace {
// At most this many progress signals per run: a card of 100,000 finds must
// not flood the user-interface thread with events.
constexpr int32_t kProgressSignals = 200;
constexpr int kWorkerNice = 5;
}  // namespace

CheckPool::CheckPool(ResultList& list, const PluginHost* host, int32_t rows, int generation)
    : list_(list),
      generation_(generation),
      rows_(rows),
      progressStep_(std::max<int32_t>(1, rows / kProgressSignals)) {
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
  // Flags first, so both threads end their row together, then the joins.
  for (auto& worker : workers_) worker->setRunning(false);
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
    const int32_t row = pool.rows_.take();
    if (row < 0) return 1;
    pool.list_.checkRow(row, engines_, pool.generation_);
    const int32_t finished = pool.rows_.finishOne();
    const int32_t total = pool.rows_.total();
    if (finished % pool.progressStep_ == 0 || finished == total) {
      emit pool.list_.checkProgress(pool.generation_, finished, total);
    }
    // Only the thread that finished the last row says so, and only when
    // every row was done: a stopped pool posts nothing.
    if (finished == total) emit pool.list_.workerDone(pool.generation_);
  }
  return 0;
}

}  // namespace kestrix
