// The results list: a Qt table model over the candidate list, shared by the
// details view (seven columns) and the thumbnail view (100 × 75 icons), with
// one selection model that the candidate list's selected state follows. In
// the window both views look through a ResultFilter (sorted, filtered); the
// selection model then works on the filter's rows (setViewModel).
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

#include <QAbstractProxyModel>
#include <QAbstractTableModel>
#include <QImage>
#include <QItemSelectionModel>
#include <QPointer>
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
  // The selection model both views use; it works on viewModel()'s rows.
  QItemSelectionModel* selectionModel() { return &selection_; }
  // Puts `view`, a proxy over this model (the window's ResultFilter),
  // between this model and the views; null takes it away again. The
  // selection model then works on the proxy's rows: selectAll selects the
  // rows it shows, and a row it stops showing loses its selection, so the
  // candidate list's selected rows are always rows the views show. Set it
  // before the views get the selection model; the proxy must outlive that
  // use or be taken away first.
  void setViewModel(QAbstractProxyModel* view);
  // The model the views show: the proxy, or this model without one.
  QAbstractItemModel* viewModel();
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

  // Selects or releases every row (the select-all button).
  void selectAll(bool select);
  int selectedCount() const { return candidates_.selectedCount(); }
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
  // The number of selected rows may have changed.
  void selectionCountChanged(int selected);
  // Rows were published to the views (count = rows now shown).
  void rowsPublished(int count);

 private slots:
  void followSelection(const QItemSelection& selected, const QItemSelection& deselected);

 private:
  // CandidateListListener: called on the thread that changed the list.
  void rowsAppended(int32_t first, int32_t count) override;
  void rowRenamed(int32_t row) override;
  void selectionChanged(int32_t row) override;
  void cleared() override;

  // The list's row behind a row of viewModel(), and back (−1: hidden).
  int sourceRow(int viewRow) const;
  int viewRow(int sourceRow) const;
  // Deselects the candidates of view rows first..last, which are about to
  // go from the view.
  void dropHiddenRows(const QModelIndex& parent, int first, int last);
  // Before a layout change of the view: empties the selection model, the
  // list keeping its selected rows (see setViewModel in the .cpp).
  void parkSelection();
  // After it: deselects every selected candidate the view no longer shows
  // and sets the selection model again from the list.
  void followViewLayout();
  // Selects in the selection model exactly the shown rows whose candidates
  // are selected, without touching the list.
  void selectFromList();

  CandidateList candidates_;
  QItemSelectionModel selection_;
  int shownRows_ = 0;                    // rows the views know of
  bool unreadableSectorsShown_ = false;  // the rows carry a map's counts
  bool syncingSelection_ = false;        // the model is copying view selection into the list
  bool restoringSelection_ = false;      // the selection model is being set from the list
  QPointer<QAbstractProxyModel> view_;   // not owned; null: the views show this model
  std::function<void()> rowsAppended_;   // the feed's; called on the appending thread
  QVector<QImage> images_;               // 0: placeholder; empty until thumbnails start
  QVector<int> rowImage_;                // image index per row
  // Made after the base class, before any view or proxy connects: it
  // forgets a changed row before they ask for it again.
  RowTextCache rowTexts_{candidates_, *this};
};

}  // namespace kestrix
