#include "core/priority_row_queue.h"

namespace kestrix {

void PriorityRowQueue::extend(int32_t total) {
  {
    std::lock_guard lock(mutex_);
    if (closed_ || total <= static_cast<int32_t>(taken_.size())) return;
    taken_.resize(static_cast<size_t>(total), 0);
  }
  ready_.notify_all();
}

void PriorityRowQueue::prefer(const std::vector<int32_t>& rows) {
  {
    std::lock_guard lock(mutex_);
    preferred_.clear();
    for (const int32_t row : rows) {
      if (row >= 0 && (row >= static_cast<int32_t>(taken_.size()) || !takenLocked(row)))
        preferred_.push_back(row);
    }
  }
  ready_.notify_all();
}

bool PriorityRowQueue::close() {
  bool done;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    done = completeLocked();
  }
  ready_.notify_all();  // takers waiting for more rows learn there are none
  return done;
}

void PriorityRowQueue::cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  ready_.notify_all();
}

int32_t PriorityRowQueue::take() {
  std::unique_lock lock(mutex_);
  const auto total = [this] { return static_cast<int32_t>(taken_.size()); };
  while (true) {
    if (cancelled_) return -1;
    while (!preferred_.empty()) {
      const int32_t row = preferred_.front();
      // A preferred row that is not published yet cannot be checked now;
      // it comes in list order once it is.
      preferred_.pop_front();
      if (row < total() && !takenLocked(row)) {
        taken_[static_cast<size_t>(row)] = 1;
        return row;
      }
    }
    while (next_ < total() && takenLocked(next_)) ++next_;
    if (next_ < total()) {
      taken_[static_cast<size_t>(next_)] = 1;
      return next_++;
    }
    if (closed_) return -1;
    ready_.wait(lock);
  }
}

PriorityRowQueue::Finish PriorityRowQueue::finishOne() {
  std::lock_guard lock(mutex_);
  ++finished_;
  Finish finish;
  finish.finished = finished_;
  finish.total = static_cast<int32_t>(taken_.size());
  finish.allDone = completeLocked();
  return finish;
}

bool PriorityRowQueue::completeLocked() {
  if (doneReported_ || !closed_ || finished_ < static_cast<int32_t>(taken_.size())) return false;
  doneReported_ = true;
  return true;
}

int32_t PriorityRowQueue::total() const {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(taken_.size());
}

int32_t PriorityRowQueue::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

}  // namespace kestrix
