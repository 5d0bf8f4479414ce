// What fills the window's results list: the rows a scan appends and, from
// the check pool, their verdicts and thumbnails. The ResultList model only
// stores and shows; this class decides when rows are published, runs one
// CheckPool (jobs/check_pool.h) per result set, and after the checks joins
// split photos.
//
//   ResultFeed feed(list);            // the list's appends now come here
//   feed.setRecoveryJob(&job);
//   feed.setRowsComing(true);         // a scan starts: the first rows start the pool
//   feed.setRowsComing(false);        // it ended: the last rows, then the pool's end
//   connect(&feed, &ResultFeed::thumbnailsFinished, ...);
//
// Rows arrive from the scan thread. The list hands each append on to the
// feed on that thread; the feed only notes that rows are pending and lets a
// 50 ms timer on the user-interface thread publish them in one insertion per
// batch, so that 100,000 appends cost the views a few dozen layouts instead
// of 100,000.
//
// Checks: the pool's threads post a CheckReport per checked row, progress
// and the end; post() turns each into a queued call on the user-interface
// thread, where a report of an older generation (made before a clear or a
// new start) is dropped and the others are stored in the list. Every other
// public call is made on the user-interface thread.
#pragma once

#include <QImage>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/fragment_joiner.h"
#include "jobs/check_pool.h"
#include "media/rescue_map.h"

namespace kestrix {

class RecoveryJob;
class ResultList;

class ResultFeed : public QObject, public CheckPoolListener {
  Q_OBJECT

 public:
  // How long appended rows may wait before the views hear of them.
  static constexpr int kRowBatchMs = 50;

  // `list` outlives the feed.
  explicit ResultFeed(ResultList& list, QObject* parent = nullptr);
  ~ResultFeed() override;  // stops the pool

  ResultList& list() { return list_; }
  // The job whose image and host the checks use; not owned.
  void setRecoveryJob(RecoveryJob* job) { recoveryJob_ = job; }
  // Where the movie thumbnailer (kestrix-movie-frame) is: the program's
  // folder unless set. Set before a pool starts.
  void setHelperFolder(const std::string& folder);

  // Gives every row its unreadable sectors from `map` and shows them: the
  // rows published so far at once, later ones as they are published,
  // before the pool may check them. The number of rows with any so far.
  // clear() forgets the map and hides the column's texts again.
  int32_t showUnreadableSectors(const RescueMap& map);
  // True while a scan is still adding rows: the pool then starts with the
  // first published rows and waits for more. False (the scan ended)
  // publishes the last rows and lets the pool finish once they are checked.
  void setRowsComing(bool coming);
  // Rows (of the list) the user sees now, checked before the others;
  // remembered for a pool that starts later.
  void preferRows(const std::vector<int32_t>& rows);
  // Publishes rows the scan appended and the views have not heard of yet.
  void flushPendingRows();
  // Stops the pool, then removes every row, candidate and image.
  void clear();

  // Starts the check pool (checks and thumbnails of every row published,
  // and of later ones while rows are coming) unless there are no rows or
  // this result set's run is done or running; true when it started.
  bool startThumbnails();
  // Stops the pool, joins its threads and frees their engines.
  void stopThumbnails();
  bool thumbnailsActive() const;

  // Joins the split photos of the checked rows (joinFragments) and shows
  // the joined rows again: verdict, size, end and a new thumbnail. Only
  // once the pool is joined and no other thread reads the rows (a restore
  // copies them on its own thread). Runs on this thread, so the caller
  // bounds the work with `limits`. Rows joined.
  uint64_t joinSplitPhotos(const JoinLimits& limits);
  // Makes `row`'s thumbnail again from its bytes in memory (nothing is
  // written anywhere) and stores it. False (the row keeps what it shows)
  // when the row, its bytes or its picture cannot be had.
  bool remakeThumbnail(int row);

  // CheckPoolListener: called on the pool's threads; queues the report to
  // this feed's thread.
  void post(CheckReport report) override;

 signals:
  // The pool checked every row and has been joined.
  void thumbnailsFinished();
  // Rows checked so far of all (after the rows' verdicts were shown).
  void checksProgressed(int finished, int total);

 private:
  // The same report on the user-interface thread.
  void receive(const CheckReport& report);
  void finishThumbnails(int generation);
  // The scan's thread: asks for one flush, however many rows come.
  void scheduleFlush();

  ResultList& list_;
  RecoveryJob* recoveryJob_ = nullptr;  // not owned
  std::string movieHelperPath_;         // empty: beside the program
  QTimer batchTimer_;                   // single shot
  std::atomic<bool> flushRequested_{false};
  std::unique_ptr<CheckPool> pool_;
  // Bumped by every clear and start, so a report queued before a clear can
  // never land in the next result set.
  int generation_ = 0;
  std::optional<RescueMap> map_;        // the rows' rescue map, while one is shown
  bool rowsComing_ = false;             // a scan is still adding rows
  std::vector<int32_t> preferredRows_;  // on screen: checked first
};

}  // namespace kestrix
