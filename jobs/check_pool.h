// The check pool: every row of the results list is checked
// (core/candidate_check.h) on two threads, one per core, and its thumbnail
// is made from the same work, so a row's bytes are decoded once. It starts
// with the scan's first published rows and grows with the list; rows are
// handed out by one PriorityRowQueue, the rows on screen first. Each thread
// has its own EngineSet from the host (an extraction binds an engine).
//
// The worker threads call their owner through CheckPool::Target: the check
// of one row, and messages of progress and of the last row. The owner (the
// window's result list) turns those into its queued signals; the pool itself
// is started, fed, stopped and destroyed on the owner's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/priority_row_queue.h"
#include "host/engine_set.h"
#include "jobs/job_thread.h"

namespace kestrix {

class PluginHost;

class CheckPool {
 public:
  // What the threads call, on the threads. The owner makes the check (it
  // knows the image and where thumbnails go) and hears how far the pool is.
  class Target {
   public:
    virtual ~Target() = default;
    // Checks `row` with the calling thread's own engines.
    virtual void checkRow(int32_t row, EngineSet& engines, int generation) = 0;
    // `finished` of `total` rows checked (not after every row: see below).
    virtual void checkProgress(int generation, int32_t finished, int32_t total) = 0;
    // Every row of a closed pool was checked; sent once, by the last thread.
    virtual void allChecked(int generation) = 0;
  };

  // Both cores of the machines the program is made for; the checks are
  // decoding with little waiting, so more threads would only share them.
  static constexpr int kThreads = 2;
  // Rows between two progress signals: a card of 100,000 finds must not
  // flood the user-interface thread with events.
  static constexpr int32_t kRowsPerProgressSignal = 16;

  // `host` may be null (no plug-ins): rows that need an extraction then
  // get no check. `generation` tags what the threads emit.
  CheckPool(Target& target, const PluginHost* host, int generation);
  ~CheckPool();  // stops and joins
  CheckPool(const CheckPool&) = delete;
  CheckPool& operator=(const CheckPool&) = delete;

  // Starts the threads; false when none could start.
  bool start();
  // Stops every thread and joins it; rows not reached stay unchecked.
  void stop();
  bool isActive() const;

  // The list now has `rows` published rows (it only grows).
  void extend(int32_t rows) { rows_.extend(rows); }
  // Rows the user sees now: checked first.
  void prefer(const std::vector<int32_t>& rows) { rows_.prefer(rows); }
  // No more rows will come. True when every row was checked already: the
  // caller finishes the run itself, since no thread will say so.
  bool close() { return rows_.close(); }
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

  Target& target_;
  const int generation_;
  PriorityRowQueue rows_;
  std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kestrix
