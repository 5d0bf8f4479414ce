// Rows of a results list handed out to checking threads while the list is
// still growing: each row exactly once, the rows a person is looking at
// first, the rest in list order.
//
// The window starts checking (and drawing thumbnails) with the scan's first
// finds instead of after its end, so the queue grows as rows are published
// and a taker waits while every published row is taken and more may come.
//
//   PriorityRowQueue rows;
//   rows.extend(published);          // user-interface thread, per batch
//   rows.prefer(visibleRows);        // whenever the view scrolls
//   rows.close();                    // the scan ended: no more rows
//   // each checking thread:
//   for (int32_t row; (row = rows.take()) >= 0;) { check(row); rows.finishOne(); }
//
// Exactly one call, of finishOne or close, reports that everything is done
// (closed, and every row finished), so the end is announced once whichever
// comes last.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace kestrix {

class PriorityRowQueue {
 public:
  struct Finish {
    int32_t finished = 0;
    int32_t total = 0;
    bool allDone = false;  // true for the one call that completes the queue
  };

  // Rows 0 .. total − 1 exist now; a smaller total than before is ignored.
  void extend(int32_t total);
  // These rows go first, in this order, replacing an earlier preference.
  // Rows already taken or not yet published are skipped when their turn
  // comes (a row published later is still taken in list order).
  void prefer(const std::vector<int32_t>& rows);
  // No rows will be added. True when that completes the queue (every row
  // was finished already, or there were none).
  bool close();
  // Wakes every waiting taker; from now on take() returns −1 at once.
  void cancel();

  // The next row, waiting while none is ready and the queue is open; −1
  // once it is closed and drained, or cancelled.
  int32_t take();
  // Counts one taken row as finished.
  Finish finishOne();

  int32_t total() const;
  int32_t finished() const;

 private:
  bool takenLocked(int32_t row) const { return taken_[static_cast<size_t>(row)] != 0; }
  bool completeLocked();

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<uint8_t> taken_;  // one flag per published row
  std::deque<int32_t> preferred_;
  int32_t next_ = 0;  // rows before this are all taken
  int32_t finished_ = 0;
  bool closed_ = false;
  bool cancelled_ = false;
  bool doneReported_ = false;
};

}  // namespace kestrix
