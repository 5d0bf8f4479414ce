// The results list: a Qt table model over the candidate list, shared by the
// details view (the row texts' columns and its own two) and the thumbnail view (100 × 75 icons). In
// the window both views look through a ResultFilter (sorted, filtered), and
// the rows chosen live in the selection model over it (ResultSelection).
//
// The model only stores and shows: the rows published so far, a thumbnail
// per row, and what the candidates say (texts, verdicts, unreadable
// sectors). The window's ResultFeed (result_feed.h) decides when rows are
// published and fills in thumbnails and verdicts from the check pool,
// through the setters below; every call is on the user-interface thread.
// The candidate list tells this model of appends on the scan's thread, and
// the model hands them on to the feed (setRowsAppendedHandler).
//
// Thumbnails: image 0 is a placeholder drawn at start-up; once a result
// set's checks start (startImages) a row whose picture decoded gets image
// row + 1. A row's verdict is shown in the column "状態" and, for damaged or
// truncated finds, as a mark on its thumbnail.
#pragma once

#include <QAbstractTableModel>
#include <QImage>
#include <QVector>
#include <functional>

#include "core/candidate_list.h"
#include "ui/widgets/row_text_cache.h"

namespace kestrix {

class ResultList : public QAbstractTableModel, private CandidateListListener {
  Q_OBJECT

 public:
  // Size of a thumbnail cell and of the placeholder.
  static constexpr int kThumbnailWidth = 100;
  static constexpr int kThumbnailHeight = 75;
  // The model's own column after the row texts' (texts/row_texts.h): the
  // check's verdict.
  static constexpr int kColumnVerdict = RowTexts::kColumnCount;
  // The last column: the find's 512-byte sectors the card's rescue map does
  // not mark finished; empty while the rows have no map behind them.
  static constexpr int kUnreadableSectorsColumn = RowTexts::kColumnCount + 1;
  static constexpr int kColumnCount = RowTexts::kColumnCount + 2;

  explicit ResultList(QObject* parent = nullptr);
  ~ResultList() override;

  CandidateList& candidates() { return candidates_; }
  const CandidateList& candidates() const { return candidates_; }
  // Called on the thread that appended rows to the candidates (the scan's):
  // they wait for publishRows. Set while no other thread uses the list.
  void setRowsAppendedHandler(std::function<void()> handler);

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

  // The column of unreadable sectors shows the candidates' counts from now
  // on (they were given them first); clear() hides its texts again.
  void showUnreadableSectors();
  bool unreadableSectorsShown() const { return unreadableSectorsShown_; }

  // Shows the candidates' rows up to `total` (rows appended and not shown
  // yet) with one insertion, then emits rowsPublished.
  void publishRows(int32_t total);
  // Removes every row, candidate and image. No other thread may hold a
  // candidate (the feed's clear stops the pool first).
  void clear();

  // The texts a row shows in the columns before the verdict, kept until the
  // row changes (row_text_cache.h); null for a row the list lacks.
  const RowTexts* rowTexts(int row) const { return rowTexts_.texts(row); }

  // A slot for every shown row's thumbnail (rows published later get
  // theirs then), each showing the placeholder; once per result set.
  void startImages();
  // Stores `picture` as `row`'s thumbnail (image row + 1) and redraws the
  // row; ignored for a row without a slot.
  void storeThumbnail(int row, const QImage& picture);
  // The verdict column's text for a row (window_texts.h).
  QString verdictText(int row) const;
  // Redraws one row's verdict and mark: its check was stored. One row at a
  // time, so a sorting or filtering proxy re-examines only what changed.
  void showRowChecked(int row);
  // Tells the views (and a filter over this model) that verdicts and their
  // marks may have changed: dataChanged over the column "状態" and the
  // pictures.
  void showVerdicts();
  // Every cell of every row may have changed (rows were joined from pieces:
  // size, end, verdict, mark), so a proxy takes the rows' keys again.
  void showRowsChanged();

  // Image index of a row (0: placeholder); −1 for a row that does not exist.
  int imageIndex(int row) const;
  // Slots in the image list: rows + 1 once thumbnails started, else 0.
  int imageCount() const { return images_.size(); }
  QImage image(int index) const;

 signals:
  // Rows were published to the views (count = rows now shown).
  void rowsPublished(int count);

 private:
  // CandidateListListener: called on the thread that changed the list.
  void rowsAppended(int32_t first, int32_t count) override;
  void rowRenamed(int32_t row) override;
  void cleared() override;

  CandidateList candidates_;
  int shownRows_ = 0;                    // rows the views know of
  bool unreadableSectorsShown_ = false;  // the rows carry a map's counts
  std::function<void()> rowsAppended_;   // the feed's; called on the appending thread
  QVector<QImage> images_;               // 0: placeholder; empty until thumbnails start
  QVector<int> rowImage_;                // image index per row
  // Made after the base class, before any view or proxy connects: it
  // forgets a changed row before they ask for it again.
  RowTextCache rowTexts_{candidates_, *this};
};

}  // namespace kestrix
