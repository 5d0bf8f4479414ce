#include "jobs/check_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "core/candidate_bytes.h"
#include "core/candidate_check.h"
#include "core/file_types.h"
#include "core/image_file.h"
#include "host/plugin_host.h"
#include "imaging/check/find_checker.h"

namespace kestrix {

namespace {
constexpr int kWorkerNice = 5;

MovieFrameReader readerAt(const std::string& helperPath) {
  return helperPath.empty() ? MovieFrameReader() : MovieFrameReader(helperPath);
}
}  // namespace

CheckPool::CheckPool(CheckPoolListener& listener, CheckPoolInput input, int generation)
    : listener_(listener),
      input_(std::move(input)),
      movieReader_(readerAt(input_.movieHelperPath)),
      generation_(generation) {
  for (int i = 0; i < kThreads; ++i) {
    workers_.push_back(std::make_unique<Worker>(
        *this, input_.host != nullptr ? input_.host->createEngineSet() : EngineSet()));
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

std::optional<ThumbnailPixels> CheckPool::movieThumbnail(const CandidateBytes& bytes) const {
  // A plain range of the image is read by the thumbnailer from the image's
  // own descriptor, however long the movie; an extraction is handed over
  // from memory.
  const ImageFile& image = *input_.image;
  const auto start = reinterpret_cast<uintptr_t>(image.data());
  const auto first = reinterpret_cast<uintptr_t>(bytes.data());
  std::string why;
  std::optional<MovieFrame> frame;
  if (image.descriptor() >= 0 && first >= start && first - start <= image.size() &&
      bytes.size() <= image.size() - (first - start)) {
    frame = movieReader_.read(image.descriptor(), first - start, bytes.size(), &why);
  } else {
    frame = movieReader_.read(bytes.data(), bytes.size(), &why);
  }
  // A movie without a frame keeps the movie icon: one thumbnail lost.
  if (!frame || !input_.drawing.movieFrame) return std::nullopt;
  return input_.drawing.movieFrame(*frame);
}

std::optional<ThumbnailPixels> CheckPool::checkRow(int32_t row, EngineSet& engines) const {
  if (input_.image == nullptr || input_.list == nullptr) return std::nullopt;
  std::array<uint8_t, kCheckCellStride * kCheckCellHeight> cell{};
  bool cellMade = false;
  std::optional<ThumbnailPixels> thumbnail;
  checkCandidateRow(*input_.image, &engines, *input_.list, row, cell.data(), &cellMade,
                    [&](const CandidateBytes& bytes) {
                      // A JPEG's picture came with its check; others (PNG
                      // through the owner's drawing, movies through the
                      // thumbnailer) are drawn from the same bytes.
                      if (cellMade) return;
                      if (IsMovieCheckType(extensionWithoutDot(bytes.extension()))) {
                        thumbnail = movieThumbnail(bytes);
                      } else if (input_.drawing.picture) {
                        thumbnail =
                            input_.drawing.picture(bytes.data(), bytes.size(), bytes.extension());
                      }
                    });
  if (cellMade) {
    thumbnail = ThumbnailPixels{kCheckCellWidth, kCheckCellHeight, kCheckCellStride,
                                std::vector<uint8_t>(cell.begin(), cell.end())};
  }
  return thumbnail;
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
    pool.listener_.post(
        check_report::RowChecked{pool.generation_, row, pool.checkRow(row, engines_)});
    const PriorityRowQueue::Finish finish = pool.rows_.finishOne();
    // Rows at the head of the list matter most while the user watches, so
    // the first ones are shown one by one; later a report per few rows.
    if (finish.finished <= kRowsPerProgressSignal ||
        finish.finished % kRowsPerProgressSignal == 0 || finish.finished == finish.total) {
      pool.listener_.post(check_report::Progress{pool.generation_, finish.finished, finish.total});
    }
    // Only the thread that finished the last row of a closed queue says so:
    // a stopped pool posts nothing.
    if (finish.allDone) pool.listener_.post(check_report::AllChecked{pool.generation_});
  }
  return 0;
}

}  // namespace kestrix
