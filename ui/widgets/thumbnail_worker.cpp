#include "ui/widgets/thumbnail_worker.h"

#include <chrono>
#include <thread>

#include "ui/widgets/result_list.h"

namespace kestrix {

namespace {
// A short pause before each row leaves the cores to the user-interface
// thread while the list is being scrolled.
constexpr std::chrono::milliseconds kPauseBeforeRow{1};
}  // namespace

ThumbnailWorker::ThumbnailWorker(ResultList& list, int generation)
    : list_(list), generation_(generation) {
  setPeriod(0);
}

ThumbnailWorker::~ThumbnailWorker() { stop(); }

int32_t ThumbnailWorker::run() {
  int nextImage = 1;
  // The row count is asked again for every row: it is only read here.
  for (int row = 0; row < list_.candidates().itemCount(); ++row) {
    if (!shouldContinue()) return 0;
    std::this_thread::sleep_for(kPauseBeforeRow);
    if (list_.makeThumbnail(row, nextImage)) ++nextImage;
  }
  // Queued to the user-interface thread, which joins this thread there.
  emit list_.workerDone(generation_);
  return 1;
}

}  // namespace kestrix
