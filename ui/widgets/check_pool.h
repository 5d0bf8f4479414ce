// The check pool: after a scan, every row of the results list is checked
// (core/candidate_check.h) on two threads, one per core, and its thumbnail
// is made from the same work, so a row's bytes are decoded once. Rows are
// handed out by one CheckRowQueue; each thread has its own EngineSet from
// the host (an extraction binds an engine).
//
// The worker threads call ResultList::checkRow and emit the list's queued
// signals (checkProgress, workerDone); the pool itself is started, stopped
// and destroyed on the user-interface thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/candidate_check.h"
#include "host/engine_set.h"
#include "jobs/job_thread.h"

namespace kestrix {

class PluginHost;
class ResultList;

class CheckPool {
 public:
  // Both cores of the machines the program is made for; the checks are
  // decoding with little waiting, so more threads would only share them.
  static constexpr int kThreads = 2;

  // `host` may be null (no plug-ins): rows that need an extraction then
  // get no check. `generation` tags what the threads emit.
  CheckPool(ResultList& list, const PluginHost* host, int32_t rows, int generation);
  ~CheckPool();  // stops and joins
  CheckPool(const CheckPool&) = delete;
  CheckPool& operator=(const CheckPool&) = delete;

  // Starts the threads; false when none could start.
  bool start();
  // Stops every thread and joins it; rows not reached stay unchecked.
  void stop();
  bool isActive() const;
  int32_t total() const { return rows_.total(); }
  int32_t finished() const { return rows_.finished(); }

 private:
  class Worker : public JobThread {
   public:
    Worker(CheckPool& pool, EngineSet engines) : pool_(pool), engines_(std::move(engines)) {
      setPeriod(0);
    }
    ~Worker() override { stop(); }

   protected:
    int32_t run() override;

   private:
    CheckPool& pool_;
    EngineSet engines_;  // this thread's alone
  };

  ResultList& list_;
  const int generation_;
  CheckRowQueue rows_;
  int32_t progressStep_;  // rows between two progress signals
  std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kestrix
