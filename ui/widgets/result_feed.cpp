#include "ui/widgets/result_feed.h"

#include <utility>

#include "core/candidate_bytes.h"
#include "core/unreadable_sectors.h"
#include "imaging/movie/movie_frame_reader.h"
#include "jobs/recovery_job.h"
#include "ui/widgets/result_list.h"
#include "ui/widgets/thumbnail_decoder.h"

namespace kestrix {

ResultFeed::ResultFeed(ResultList& list, QObject* parent) : QObject(parent), list_(list) {
  batchTimer_.setSingleShot(true);
  batchTimer_.setInterval(kRowBatchMs);
  connect(&batchTimer_, &QTimer::timeout, this, &ResultFeed::flushPendingRows);
  list_.setRowsAppendedHandler([this] { scheduleFlush(); });
}

ResultFeed::~ResultFeed() {
  stopThumbnails();
  list_.setRowsAppendedHandler(nullptr);
}

void ResultFeed::setHelperFolder(const std::string& folder) {
  movieHelperPath_ = folder + "/" + kMovieFrameProgramName;
}

int32_t ResultFeed::showUnreadableSectors(const RescueMap& map) {
  map_ = map;
  // Rows checked before their counts were known would keep a verdict that
  // ignores the map, so the published rows get theirs now and the later
  // ones before the pool hears of them.
  const int32_t damaged = markUnreadableSectors(list_.candidates(), *map_, 0, list_.rowCount());
  list_.showUnreadableSectors();
  return damaged;
}

void ResultFeed::scheduleFlush() {
  if (flushRequested_.exchange(true)) return;  // a flush is already on its way
  QMetaObject::invokeMethod(
      this, [this] { batchTimer_.start(); }, Qt::QueuedConnection);
}

void ResultFeed::flushPendingRows() {
  batchTimer_.stop();
  // Cleared before the count is read: an append after this point asks for
  // another flush, so no row is ever left unpublished.
  flushRequested_.store(false);
  const int32_t total = list_.candidates().itemCount();
  const int32_t shown = list_.rowCount();
  if (total <= shown) return;
  if (map_) markUnreadableSectors(list_.candidates(), *map_, shown, total - shown);
  list_.publishRows(total);
  if (pool_) pool_->extend(total);
  if (rowsComing_ && list_.imageCount() == 0) startThumbnails();
}

void ResultFeed::setRowsComing(bool coming) {
  rowsComing_ = coming;
  if (coming) return;
  flushPendingRows();
  // The last rows may all be checked already: then no thread will report
  // the end, and the run is finished here.
  if (pool_ && pool_->close()) finishThumbnails(generation_);
}

void ResultFeed::preferRows(const std::vector<int32_t>& rows) {
  preferredRows_ = rows;
  if (pool_) pool_->prefer(rows);
}

void ResultFeed::clear() {
  stopThumbnails();
  batchTimer_.stop();
  map_.reset();
  preferredRows_.clear();
  ++generation_;
  list_.clear();
}

bool ResultFeed::startThumbnails() {
  flushPendingRows();
  // The list's image slots say whether this result set's run has started.
  if (list_.rowCount() == 0 || list_.imageCount() > 0) return false;
  list_.startImages();
  CheckPoolInput input;
  input.image = recoveryJob_ != nullptr ? recoveryJob_->image() : nullptr;
  input.list = &list_.candidates();
  input.host = recoveryJob_ != nullptr ? &recoveryJob_->host() : nullptr;
  input.drawing = windowThumbnailDrawing();
  input.movieHelperPath = movieHelperPath_;
  pool_ = std::make_unique<CheckPool>(*this, std::move(input), ++generation_);
  pool_->extend(list_.rowCount());
  pool_->prefer(preferredRows_);
  if (!rowsComing_) pool_->close();  // rows exist and none is checked: not done yet
  if (!pool_->start()) {
    pool_.reset();
    return false;
  }
  return true;
}

void ResultFeed::stopThumbnails() {
  // The pool's engines come from the job's host: they go now, while the
  // host is surely there (the window stops everything before the job goes).
  pool_.reset();
}

bool ResultFeed::thumbnailsActive() const { return pool_ && pool_->isActive(); }

void ResultFeed::post(CheckReport report) {
  // Queued to this object: a feed destroyed first takes its pending calls
  // with it, and the list is only touched on its own thread.
  QMetaObject::invokeMethod(
      this, [this, report = std::move(report)] { receive(report); }, Qt::QueuedConnection);
}

void ResultFeed::receive(const CheckReport& report) {
  if (const auto* checked = std::get_if<check_report::RowChecked>(&report)) {
    if (checked->generation != generation_) return;  // made for a result set that is gone
    if (checked->thumbnail) list_.storeThumbnail(checked->row, thumbnailImage(*checked->thumbnail));
    list_.showRowChecked(checked->row);
  } else if (const auto* progress = std::get_if<check_report::Progress>(&report)) {
    if (progress->generation != generation_ || list_.rowCount() == 0) return;
    // The rows' own refreshes came with each check (RowChecked).
    emit checksProgressed(progress->finished, progress->total);
  } else if (const auto* end = std::get_if<check_report::AllChecked>(&report)) {
    finishThumbnails(end->generation);
  }
}

void ResultFeed::finishThumbnails(int generation) {
  if (generation != generation_ || !pool_) return;
  pool_.reset();  // the bodies have returned or are returning: this joins them
  emit thumbnailsFinished();
}

uint64_t ResultFeed::joinSplitPhotos(const JoinLimits& limits) {
  // The pool's threads read the rows until it is joined.
  if (pool_ || recoveryJob_ == nullptr || recoveryJob_->image() == nullptr || list_.rowCount() == 0)
    return 0;
  const JoinOutcome outcome = joinFragments(*recoveryJob_->image(), list_.candidates(), limits);
  if (outcome.joined == 0) return 0;
  // A joined row's thumbnail was made from its first piece alone (or its
  // bytes up to the next file's): the whole picture now.
  for (int row = 0; row < list_.rowCount(); ++row) {
    const Candidate* candidate = list_.candidates().candidateAt(row + 1);
    if (candidate == nullptr || candidate->find().fragments.empty()) continue;
    if (row + 1 < list_.imageCount()) remakeThumbnail(row);
  }
  // Size, end, verdict and the damage mark changed: every column, so that
  // a sorting or filtering proxy takes the rows' keys again.
  list_.showRowsChanged();
  return outcome.joined;
}

bool ResultFeed::remakeThumbnail(int row) {
  if (recoveryJob_ == nullptr || row < 0) return false;
  const ImageFile* image = recoveryJob_->image();
  CandidateInfo info;
  if (image == nullptr || !list_.candidates().candidateInfo(row, info)) return false;
  // From memory: a view of the mapped image, or the job's thumbnail
  // engines' extraction; nothing is written anywhere.
  const CandidateBytes bytes(*image, &recoveryJob_->thumbnailEngines(), info);
  if (!bytes.ok()) return false;
  const QImage thumbnail = decodeThumbnail(bytes.data(), bytes.size(), bytes.extension());
  if (thumbnail.isNull()) return false;
  list_.storeThumbnail(row, thumbnail);
  return true;
}

}  // namespace kestrix
