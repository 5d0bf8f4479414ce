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

// A column of RowTexts without its row here, or a row too many, stops the build.
static_assert(std::size(kResultColumns) == ResultList::kColumnCount);

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

ResultList::ResultList(QObject* parent) : QAbstractTableModel(parent) {
  candidates_.setListener(this);
}

ResultList::~ResultList() { candidates_.setListener(nullptr); }

void ResultList::setRowsAppendedHandler(std::function<void()> handler) {
  rowsAppended_ = std::move(handler);
}

const char* ResultList::columnHeader(int column) {
  return column >= 0 && column < kColumnCount ? kResultColumns[column].header : "";
}

int ResultList::columnWidth(int column) {
  return column >= 0 && column < kColumnCount ? kResultColumns[column].width : 0;
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

void ResultList::cleared() {
  // clear() above resets the views itself; nothing else clears the list.
}

}  // namespace kestrix
