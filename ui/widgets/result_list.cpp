#include "ui/widgets/result_list.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <iterator>

#include "ui/widgets/thumbnail_decoder.h"
#include "ui/widgets/window_texts.h"

namespace kestrix {

namespace {

// Width of each column in pixels, in column order (their headers:
// kResultColumnHeaders).
constexpr int kColumnWidths[ResultList::kColumnCount] = {120, 100, 100, 72, 64, 72, 64, 64, 90};
static_assert(std::size(kResultColumnHeaders) == ResultList::kColumnCount);

// The thumbnail of a damaged or truncated find with its mark: a filled
// corner, red for damage, amber for a file that stops part-way, so the icon
// view tells them apart without the details.
QImage markedImage(const QImage& picture, Verdict verdict) {
  QImage marked = picture.convertToFormat(QImage::Format_RGB32);
  QPainter painter(&marked);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor color = verdict == Verdict::Damaged ? QColor(205, 40, 40) : QColor(230, 150, 20);
  const int side = 22;
  const QPointF corner[] = {{double(marked.width() - side), 0.0},
                            {double(marked.width()), 0.0},
                            {double(marked.width()), double(side)}};
  painter.setPen(Qt::NoPen);
  painter.setBrush(color);
  painter.drawPolygon(corner, 3);
  painter.setPen(QPen(Qt::white, 2));
  const int x = marked.width() - 6;
  painter.drawLine(QPointF(x, 3), QPointF(x, 9));
  painter.drawPoint(QPointF(x, 12.5));
  return marked;
}

}  // namespace

ResultList::ResultList(QObject* parent) : QAbstractTableModel(parent), selection_(this) {
  candidates_.setListener(this);
  connect(&selection_, &QItemSelectionModel::selectionChanged, this, &ResultList::followSelection);
}

ResultList::~ResultList() { candidates_.setListener(nullptr); }

void ResultList::setRowsAppendedHandler(std::function<void()> handler) {
  rowsAppended_ = std::move(handler);
}

const char* ResultList::columnHeader(int column) {
  return column >= 0 && column < kColumnCount ? kResultColumnHeaders[column] : "";
}

int ResultList::columnWidth(int column) {
  return column >= 0 && column < kColumnCount ? kColumnWidths[column] : 0;
}

QImage ResultList::placeholderImage() {
  // Drawn once: a grey card with a film-frame outline and a question mark,
  // so a row without a picture still reads as "a file, not shown".
  static const QImage placeholder = [] {
    QImage image(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient shade(0, 0, 0, kThumbnailHeight);
    shade.setColorAt(0, QColor(236, 240, 245));
    shade.setColorAt(1, QColor(200, 208, 218));
    painter.setPen(QPen(QColor(120, 130, 145), 1));
    painter.setBrush(shade);
    painter.drawRoundedRect(QRectF(8.5, 6.5, kThumbnailWidth - 17, kThumbnailHeight - 13), 4, 4);
    painter.setBrush(QColor(120, 130, 145));
    painter.setPen(Qt::NoPen);
    for (int x = 14; x < kThumbnailWidth - 14; x += 9) {
      painter.drawRect(x, 10, 4, 3);
      painter.drawRect(x, kThumbnailHeight - 13, 4, 3);
    }
    QFont font = painter.font();
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(95, 105, 120));
    painter.drawText(QRect(0, 0, kThumbnailWidth, kThumbnailHeight), Qt::AlignCenter, "?");
    return image;
  }();
  return placeholder;
}

int ResultList::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shownRows_;
}

int ResultList::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ResultList::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shownRows_) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      if (index.column() == kColumnVerdict) return verdictText(index.row());
      if (index.column() == kUnreadableSectorsColumn) {
        const Candidate* candidate = candidates_.candidateAt(index.row() + 1);
        if (!unreadableSectorsShown_ || candidate == nullptr) return QString();
        return QString::number(candidate->unreadableSectors());
      }
      const RowTexts* texts = rowTexts_.texts(index.row());
      if (texts == nullptr || index.column() < 0 || index.column() >= RowTexts::kColumnCount)
        return {};
      return QString::fromStdString(texts->cells[index.column()]);
    }
    case Qt::DecorationRole: {
      if (index.column() != static_cast<int>(RowTexts::Column::Name)) return {};
      const Candidate* candidate = candidates_.candidateAt(index.row() + 1);
      const int shown = std::max(imageIndex(index.row()), 0);
      const QImage picture = shown == 0 && candidate != nullptr && isMovie(candidate->find().type)
                                 ? movieIconImage()
                                 : image(shown);
      if (candidate == nullptr || !candidate->checked()) return picture;
      const Verdict verdict = candidate->check().verdict;
      if (verdict != Verdict::Damaged && verdict != Verdict::Truncated) return picture;
      return markedImage(picture, verdict);
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default: return {};
  }
}

QVariant ResultList::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(columnHeader(section));
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

Qt::ItemFlags ResultList::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

void ResultList::showUnreadableSectors() {
  unreadableSectorsShown_ = true;
  if (shownRows_ > 0) {
    emit dataChanged(index(0, kUnreadableSectorsColumn),
                     index(shownRows_ - 1, kUnreadableSectorsColumn), {Qt::DisplayRole});
  }
}

void ResultList::publishRows(int32_t total) {
  total = std::min(total, candidates_.itemCount());
  if (total <= shownRows_) return;
  beginInsertRows(QModelIndex(), shownRows_, total - 1);
  shownRows_ = total;
  // Rows that arrive after thumbnails started show the placeholder until
  // the pool, told of them only now, has drawn theirs.
  if (!images_.isEmpty()) {
    images_.resize(total + 1);
    rowImage_.resize(total, 0);
  }
  endInsertRows();
  emit rowsPublished(shownRows_);
}

void ResultList::clear() {
  beginResetModel();
  candidates_.clear();
  shownRows_ = 0;
  unreadableSectorsShown_ = false;
  images_.clear();
  rowImage_.clear();
  endResetModel();
  emit selectionCountChanged(0);
}

void ResultList::selectAll(bool select) {
  QAbstractItemModel* view = viewModel();
  const int rows = view->rowCount();
  if (!select || rows == 0) {
    selection_.clearSelection();
    return;
  }
  selection_.select(QItemSelection(view->index(0, 0), view->index(rows - 1, columnCount() - 1)),
                    QItemSelectionModel::ClearAndSelect);
}

void ResultList::setViewModel(QAbstractProxyModel* view) {
  if (view_ != nullptr) disconnect(view_, nullptr, this, nullptr);
  selection_.clearSelection();
  view_ = view;
  // Before the selection model's own connections (made by setModel): Qt
  // would otherwise keep one persistent index per selected cell across the
  // layout change (600,000 for 66,000 rows, seconds to carry); with the
  // selection parked there is nothing to keep, and followViewLayout sets it
  // again from the list.
  if (view != nullptr)
    connect(view, &QAbstractItemModel::layoutAboutToBeChanged, this, &ResultList::parkSelection);
  selection_.setModel(viewModel());
  if (view == nullptr) return;
  // After the selection model's own connections (made by setModel), so it
  // has already let go of the rows when the list's state follows.
  connect(view, &QAbstractItemModel::rowsAboutToBeRemoved, this, &ResultList::dropHiddenRows);
  connect(view, &QAbstractItemModel::layoutChanged, this, &ResultList::followViewLayout);
}

QAbstractItemModel* ResultList::viewModel() {
  return view_ != nullptr ? static_cast<QAbstractItemModel*>(view_) : this;
}

int ResultList::sourceRow(int viewRow) const {
  if (view_ == nullptr) return viewRow;
  return view_->mapToSource(view_->index(viewRow, 0)).row();
}

int ResultList::viewRow(int sourceRow) const {
  if (view_ == nullptr) return sourceRow < shownRows_ ? sourceRow : -1;
  return view_->mapFromSource(index(sourceRow, 0)).row();
}

void ResultList::dropHiddenRows(const QModelIndex& parent, int first, int last) {
  if (parent.isValid() || candidates_.selectedCount() == 0) return;
  syncingSelection_ = true;
  for (int row = first; row <= last; ++row) candidates_.setSelected(sourceRow(row), false);
  syncingSelection_ = false;
  emit selectionCountChanged(candidates_.selectedCount());
}

void ResultList::parkSelection() {
  if (!selection_.hasSelection()) return;
  restoringSelection_ = true;  // the list keeps its selected rows
  selection_.clearSelection();
  restoringSelection_ = false;
}

void ResultList::followViewLayout() {
  if (candidates_.selectedCount() == 0) return;
  // A layout change (a new filter, a sort) may drop rows from the view
  // without removing them one by one; the selection model forgets them
  // without a word, the candidate list must too.
  syncingSelection_ = true;
  for (int row = 0; row < shownRows_; ++row) {
    if (candidates_.isSelected(row) && viewRow(row) < 0) candidates_.setSelected(row, false);
  }
  syncingSelection_ = false;
  // The selection was parked for the change (parkSelection); Qt's own
  // keeping would also go wrong, as it keeps a wholly selected table of
  // over 1,000 cells as "all of it" whatever rows the filter left. The list
  // knows which rows are selected: the selection model is set from it.
  selectFromList();
  emit selectionCountChanged(candidates_.selectedCount());
}

void ResultList::selectFromList() {
  QAbstractItemModel* view = viewModel();
  const int rows = view->rowCount();
  const int lastColumn = columnCount() - 1;
  QItemSelection selection;
  for (int row = 0; row < rows;) {
    if (!candidates_.isSelected(sourceRow(row))) {
      ++row;
      continue;
    }
    const int first = row;
    while (row + 1 < rows && candidates_.isSelected(sourceRow(row + 1))) ++row;
    selection.select(view->index(first, 0), view->index(row, lastColumn));
    ++row;
  }
  // Cleared first: Qt compares the old and the new selection range by
  // range, which costs their product; from nothing it costs nothing.
  restoringSelection_ = true;
  selection_.clearSelection();
  selection_.select(selection, QItemSelectionModel::Select);
  restoringSelection_ = false;
}

void ResultList::startImages() {
  if (shownRows_ == 0 || !images_.isEmpty()) return;
  images_ = QVector<QImage>(shownRows_ + 1);
  images_[0] = placeholderImage();
  rowImage_ = QVector<int>(shownRows_, 0);
  emit dataChanged(index(0, 0), index(shownRows_ - 1, 0), {Qt::DecorationRole});
}

QString ResultList::verdictText(int row) const {
  const Candidate* candidate = candidates_.candidateAt(row + 1);
  const bool checked = candidate != nullptr && candidate->checked();
  return kestrix::verdictText(checked, checked ? candidate->check().verdict : Verdict::Unknown,
                              checked && !candidate->find().fragments.empty());
}

int ResultList::imageIndex(int row) const {
  if (row < 0 || row >= shownRows_) return -1;
  return row < rowImage_.size() ? rowImage_[row] : 0;
}

QImage ResultList::image(int index) const {
  if (index == 0) return placeholderImage();
  if (index < 0 || index >= images_.size() || images_[index].isNull()) return placeholderImage();
  return images_[index];
}

void ResultList::storeThumbnail(int row, const QImage& picture) {
  if (row < 0 || row >= rowImage_.size() || row + 1 >= images_.size()) return;
  images_[row + 1] = picture;
  rowImage_[row] = row + 1;
  const QModelIndex cell = index(row, 0);
  emit dataChanged(cell, cell, {Qt::DecorationRole});
}

void ResultList::showVerdicts() {
  if (shownRows_ == 0) return;
  emit dataChanged(index(0, kColumnVerdict), index(shownRows_ - 1, kColumnVerdict),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  emit dataChanged(index(0, 0), index(shownRows_ - 1, 0), {Qt::DecorationRole});
}

void ResultList::showRowChecked(int row) {
  if (row < 0 || row >= shownRows_) return;
  // One row at a time: the rows are checked in the order the user looks at
  // them, and a sorting or filtering proxy re-examines only what changed.
  emit dataChanged(index(row, kColumnVerdict), index(row, kColumnVerdict),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  emit dataChanged(index(row, 0), index(row, 0), {Qt::DecorationRole});
}

void ResultList::showRowsChanged() {
  if (shownRows_ == 0) return;
  emit dataChanged(index(0, 0), index(shownRows_ - 1, kColumnCount - 1),
                   {Qt::DisplayRole, Qt::ToolTipRole, Qt::DecorationRole});
}

void ResultList::followSelection(const QItemSelection& selected, const QItemSelection& deselected) {
  // A row counts as selected while its first cell is: the details view
  // selects whole rows, the icon view shows only the first column. The two
  // sets are exact changes, so a range over the first column says what its
  // rows became; asking the selection model row by row instead would cost
  // its number of ranges per row, and a sorted selection has thousands.
  if (restoringSelection_) return;  // the list already says so
  syncingSelection_ = true;
  for (const QItemSelection* ranges : {&deselected, &selected}) {
    const bool nowSelected = ranges == &selected;
    for (const QItemSelectionRange& range : *ranges) {
      if (range.left() != 0) continue;
      for (int row = range.top(); row <= range.bottom(); ++row)
        candidates_.setSelected(sourceRow(row), nowSelected);
    }
  }
  syncingSelection_ = false;
  emit selectionCountChanged(candidates_.selectedCount());
}

void ResultList::rowsAppended(int32_t, int32_t) {
  if (rowsAppended_) rowsAppended_();
}

void ResultList::rowRenamed(int32_t row) {
  QMetaObject::invokeMethod(
      this,
      [this, row] {
        if (row < shownRows_) emit dataChanged(index(row, 0), index(row, 0));
      },
      Qt::AutoConnection);
}

void ResultList::selectionChanged(int32_t row) {
  if (syncingSelection_) return;  // our own copy of the view's selection
  // Someone set the list's state directly: let the views follow it.
  QMetaObject::invokeMethod(
      this,
      [this, row] {
        if (row >= shownRows_) return;
        const bool wanted = candidates_.isSelected(row);
        const int shown = viewRow(row);
        if (shown < 0) {
          // Hidden rows are never selected (see setViewModel).
          if (wanted) {
            syncingSelection_ = true;
            candidates_.setSelected(row, false);
            syncingSelection_ = false;
            emit selectionCountChanged(candidates_.selectedCount());
          }
          return;
        }
        const QModelIndex cell = viewModel()->index(shown, 0);
        if (selection_.isSelected(cell) == wanted) return;
        selection_.select(cell,
                          (wanted ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                              QItemSelectionModel::Rows);
      },
      Qt::AutoConnection);
}

void ResultList::cleared() {
  // clear() above resets the views itself; nothing else clears the list.
}

}  // namespace kestrix
