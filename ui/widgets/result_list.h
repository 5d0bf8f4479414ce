// The results list: a Qt table model over the candidate list, shared by the
// details view (seven columns) and the thumbnail view (100 × 75 icons). In
// the window both views look through a ResultFilter (sorted, filtered), and
// the rows chosen live in the selection model over it (ResultSelection).
//
// Rows arrive from the scan thread. The candidate list tells its listener
// on that thread; the model only notes that rows are pending and lets a
// 50 ms timer on the user-interface thread publish them in one
// beginInsertRows/endInsertRows per batch, so that 100,000 appends cost the
// views a few dozen layouts instead of 100,000.
//
// Checks and thumbnails: one run of the CheckPool (two threads) per result
// set checks every row and makes its thumbnail from the same decoding work.
// While a scan is finding (setRowsComing) the run starts with the first
// published rows and grows with every batch; the rows on screen
// (preferRows) go first. Image 0 is a placeholder drawn at start-up; a row
// whose picture decoded gets image row + 1. Each QImage comes over by a
// queued signal; the model owns the images and the rows' image indices,
// both touched on the user-interface thread only. A row's verdict is shown
// in the column "状態" and, for damaged or truncated finds, as a mark on its
// thumbnail.
#pragma once

#include <QAbstractTableModel>
#include <QImage>
#include <QTimer>
#include <QVector>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "core/candidate_list.h"
#include "core/fragment_joiner.h"
#include "jobs/check_pool.h"
#include "media/rescue_map.h"

namespace kestrix {

class RecoveryJob;
class EngineSet;
class MovieFrameReader;
class ImageFile;
class CandidateBytes;

class ResultList : public QAbstractTableModel, private CandidateListListener {
  Q_OBJECT

 public:
  // Size of a thumbnail cell and of the placeholder.
  static constexpr int kThumbnailWidth = 100;
  static constexpr int kThumbnailHeight = 75;
  // How long appended rows may wait before the views hear of them.
  static constexpr int kRowBatchMs = 50;
  // The model's own column after the candidate list's: the check's verdict.
  static constexpr int kColumnVerdict = CandidateList::ColumnCount;
  // The last column: the find's 512-byte sectors the card's rescue map does
  // not mark finished; empty while the rows have no map behind them.
  static constexpr int kUnreadableSectorsColumn = CandidateList::ColumnCount + 1;
  static constexpr const char* kUnreadableSectorsHeader = "読めないセクタ";
  static constexpr int kColumnCount = CandidateList::ColumnCount + 2;
  // Texts of the verdict column; rows not checked yet show "未確認" too.
  static constexpr const char* kVerdictIntactText = "正常";
  static constexpr const char* kVerdictDamagedText = "破損";
  static constexpr const char* kVerdictTruncatedText = "途中まで";
  static constexpr const char* kVerdictUnknownText = "未確認";
  // After the verdict of a row joined from pieces of the image.
  static constexpr const char* kReassembledSuffix = "（再構成）";

  explicit ResultList(QObject* parent = nullptr);
  ~ResultList() override;

  CandidateList& candidates() { return candidates_; }
  const CandidateList& candidates() const { return candidates_; }
  // The job that writes candidates into the temporary folder; not owned.
  void setRecoveryJob(RecoveryJob* job) { recoveryJob_ = job; }
  // Where the movie thumbnailer (kestrix-movie-frame) is: the program's
  // folder unless set. Set before any thumbnail is made.
  void setHelperFolder(const std::string& folder);
  RecoveryJob* recoveryJob() const { return recoveryJob_; }

  static const char* columnHeader(int column);
  static int columnWidth(int column);
  // The picture every row shows until its thumbnail is made.
  static QImage placeholderImage();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Gives every row its unreadable sectors from `map` and shows them: the
  // rows published so far at once, later ones as they are published,
  // before the pool may check them (user-interface thread). The number of
  // rows with any so far. clear() forgets the map and hides the column's
  // texts again.
  int32_t showUnreadableSectors(const RescueMap& map);
  bool unreadableSectorsShown() const { return unreadableSectorsShown_; }
  // True while a scan is still adding rows: the pool then starts with the
  // first published rows and waits for more. False (the scan ended)
  // publishes the last rows and lets the pool finish once they are checked.
  void setRowsComing(bool coming);
  // Rows (of this model) the user sees now, checked before the others;
  // remembered for a pool that starts later.
  void preferRows(const std::vector<int32_t>& rows);

  // Publishes rows the scan appended and the views have not heard of yet.
  void flushPendingRows();
  // Stops the check pool, then removes every row, candidate and image.
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
  // copies them on its own thread); user-interface thread. Runs on this
  // thread, so the caller bounds the work with `limits`. Rows joined.
  uint64_t joinSplitPhotos(const JoinLimits& limits);
  // The verdict column's text for a row (see the k…Text above).
  QString verdictText(int row) const;
  // Tells the views (and a filter over this model) that verdicts and their
  // marks may have changed: dataChanged over the column "状態" and the
  // pictures. The pool refreshes each row it checks on its own.
  void showVerdicts();
  // Check pool thread: checks `row` with the thread's `engines`, stores the
  // check and sends the thumbnail (image row + 1) made on the way.
  void checkRow(int row, EngineSet& engines, int generation);
  // Makes the thumbnail of `row` as image `imageIndex`: writes the row to
  // the temporary folder, decodes, deletes the file, fits it to 100 × 75 and
  // hands it to the user-interface thread. False (row keeps image 0) when
  // any step fails. Worker thread, or the window's 0x600 forward.
  bool makeThumbnail(int row, int imageIndex);

  // Image index of a row (0: placeholder); −1 for a row that does not exist.
  int imageIndex(int row) const;
  // Slots in the image list: rows + 1 once thumbnails started, else 0.
  int imageCount() const { return images_.size(); }
  QImage image(int index) const;

 signals:
  // Rows were published to the views (count = rows now shown).
  void rowsPublished(int count);
  // The pool checked every row and has been joined.
  void thumbnailsFinished();
  // Rows checked so far of all (user-interface thread, after the verdict
  // column was refreshed).
  void checksProgressed(int finished, int total);
  // Pool threads → user-interface thread; connected queued.
  void checkProgress(int generation, int finished, int total);
  // Worker → user-interface thread; connected queued.
  void thumbnailMade(int generation, int row, int imageIndex, const QImage& image);
  void workerDone(int generation);
  // Pool thread → user-interface thread: `row`'s check was stored.
  void rowChecked(int generation, int row);

 private slots:
  void storeThumbnail(int generation, int row, int imageIndex, const QImage& image);
  void finishThumbnails(int generation);
  void showCheckProgress(int generation, int finished, int total);
  void showRowChecked(int generation, int row);

 private:
  // CandidateListListener: called on the thread that changed the list.
  void rowsAppended(int32_t first, int32_t count) override;
  void rowRenamed(int32_t row) override;
  void cleared() override;

  void scheduleFlush();
  // A movie's thumbnail from the thumbnailer process; null when none decodes.
  QImage movieFrameOf(const ImageFile& image, const CandidateBytes& bytes) const;

  CandidateList candidates_;
  QTimer batchTimer_;  // single shot, user-interface thread
  std::atomic<bool> flushRequested_{false};
  int shownRows_ = 0;                    // rows the views know of
  bool unreadableSectorsShown_ = false;  // the rows carry a map's counts
  RecoveryJob* recoveryJob_ = nullptr;   // not owned
  // The pool's threads reach the list through this: the check of a row, and
  // the queued signals that carry progress to the user-interface thread.
  class PoolTarget : public CheckPool::Target {
   public:
    explicit PoolTarget(ResultList& list) : list_(list) {}
    void checkRow(int32_t row, EngineSet& engines, int generation) override;
    void checkProgress(int generation, int32_t finished, int32_t total) override;
    void allChecked(int generation) override;

   private:
    ResultList& list_;
  };
  PoolTarget poolTarget_{*this};
  std::unique_ptr<CheckPool> worker_;  // joined before poolTarget_ goes
  // Runs the movie thumbnailer; read() is safe on the pool's threads.
  std::unique_ptr<MovieFrameReader> movieReader_;
  // Bumped by every clear and start, so a thumbnail queued before a clear
  // can never land in the next result set.
  std::atomic<int> generation_{0};
  QVector<QImage> images_;              // 0: placeholder; empty until thumbnails start
  QVector<int> rowImage_;               // image index per row
  std::optional<RescueMap> map_;        // the rows' rescue map, while one is shown
  bool rowsComing_ = false;             // a scan is still adding rows
  std::vector<int32_t> preferredRows_;  // on screen: checked first
};

}  // namespace kestrix
