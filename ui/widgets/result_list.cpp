#include "ui/widgets/result_list.h"

#include <QFile>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <array>

#include "core/candidate_bytes.h"
#include "core/candidate_check.h"
#include "core/unreadable_sectors.h"
#include "imaging/movie/movie_frame_reader.h"
#include "jobs/recovery_job.h"
#include "ui/widgets/thumbnail_decoder.h"

namespace kestrix {

namespace {

// Header row: text, width in pixels.
struct ColumnSpec {
  const char* header;
  int width;
};
constexpr ColumnSpec kColumns[ResultList::kColumnCount] = {
    {"復元ファイル", 120}, {"マシン名", 100}, {"撮影(更新)日時", 100},
    {"予定サイズ", 72},    {"GPS情報", 64},   {"メーカー名", 72},
    {"バイト順", 64},      {"状態", 64},      {ResultList::kUnreadableSectorsHeader, 90},
};

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

ResultList::ResultList(QObject* parent)
    : QAbstractTableModel(parent), movieReader_(std::make_unique<MovieFrameReader>()) {
  candidates_.setListener(this);
  batchTimer_.setSingleShot(true);
  batchTimer_.setInterval(kRowBatchMs);
  connect(&batchTimer_, &QTimer::timeout, this, &ResultList::flushPendingRows);
  // The worker emits these on its own thread; the pictures and row indices
  // are only ever touched here, on the user-interface thread.
  connect(this, &ResultList::thumbnailMade, this, &ResultList::storeThumbnail,
          Qt::QueuedConnection);
  connect(this, &ResultList::workerDone, this, &ResultList::finishThumbnails, Qt::QueuedConnection);
  connect(this, &ResultList::checkProgress, this, &ResultList::showCheckProgress,
          Qt::QueuedConnection);
  connect(this, &ResultList::rowChecked, this, &ResultList::showRowChecked, Qt::QueuedConnection);
}

ResultList::~ResultList() {
  stopThumbnails();
  candidates_.setListener(nullptr);
}

void ResultList::setHelperFolder(const std::string& folder) {
  movieReader_ = std::make_unique<MovieFrameReader>(folder + "/" + kMovieFrameProgramName);
}

const char* ResultList::columnHeader(int column) {
  return column >= 0 && column < kColumnCount ? kColumns[column].header : "";
}

int ResultList::columnWidth(int column) {
  return column >= 0 && column < kColumnCount ? kColumns[column].width : 0;
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
      std::string text;
      if (!candidates_.itemText(index.row(), index.column(), text)) return {};
      return QString::fromStdString(text);
    }
    case Qt::DecorationRole: {
      if (index.column() != CandidateList::ColumnName) return {};
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

int32_t ResultList::showUnreadableSectors(const RescueMap& map) {
  map_ = map;
  // Rows checked before their counts were known would keep a verdict that
  // ignores the map, so the published rows get theirs now and the later
  // ones before the pool hears of them.
  const int32_t damaged = markUnreadableSectors(candidates_, *map_, 0, shownRows_);
  unreadableSectorsShown_ = true;
  if (shownRows_ > 0) {
    emit dataChanged(index(0, kUnreadableSectorsColumn),
                     index(shownRows_ - 1, kUnreadableSectorsColumn), {Qt::DisplayRole});
  }
  return damaged;
}

void ResultList::flushPendingRows() {
  batchTimer_.stop();
  // Cleared before the count is read: an append after this point asks for
  // another flush, so no row is ever left unpublished.
  flushRequested_.store(false);
  const int total = candidates_.itemCount();
  if (total <= shownRows_) return;
  if (map_) markUnreadableSectors(candidates_, *map_, shownRows_, total - shownRows_);
  beginInsertRows(QModelIndex(), shownRows_, total - 1);
  shownRows_ = total;
  // Rows that arrive after thumbnails started show the placeholder until
  // the pool, told of them only now, has drawn theirs.
  if (!images_.isEmpty()) {
    images_.resize(total + 1);
    rowImage_.resize(total, 0);
  }
  endInsertRows();
  if (worker_) worker_->extend(total);
  emit rowsPublished(shownRows_);
  if (rowsComing_ && images_.isEmpty()) startThumbnails();
}

void ResultList::setRowsComing(bool coming) {
  rowsComing_ = coming;
  if (coming) return;
  flushPendingRows();
  // The last rows may all be checked already: then no thread will report
  // the end, and the run is finished here.
  if (worker_ && worker_->close()) finishThumbnails(generation_.load());
}

void ResultList::preferRows(const std::vector<int32_t>& rows) {
  preferredRows_ = rows;
  if (worker_) worker_->prefer(rows);
}

void ResultList::clear() {
  stopThumbnails();
  batchTimer_.stop();
  beginResetModel();
  candidates_.clear();
  shownRows_ = 0;
  unreadableSectorsShown_ = false;
  map_.reset();
  preferredRows_.clear();
  images_.clear();
  rowImage_.clear();
  ++generation_;
  endResetModel();
}

bool ResultList::startThumbnails() {
  flushPendingRows();
  if (shownRows_ == 0 || !images_.isEmpty()) return false;
  images_ = QVector<QImage>(shownRows_ + 1);
  images_[0] = placeholderImage();
  rowImage_ = QVector<int>(shownRows_, 0);
  emit dataChanged(index(0, 0), index(shownRows_ - 1, 0), {Qt::DecorationRole});
  worker_ = std::make_unique<CheckPool>(
      poolTarget_, recoveryJob_ != nullptr ? &recoveryJob_->host() : nullptr, ++generation_);
  worker_->extend(shownRows_);
  worker_->prefer(preferredRows_);
  if (!rowsComing_) worker_->close();  // rows exist and none is checked: not done yet
  if (!worker_->start()) {
    worker_.reset();
    return false;
  }
  return true;
}

void ResultList::PoolTarget::checkRow(int32_t row, EngineSet& engines, int generation) {
  list_.checkRow(row, engines, generation);
}

void ResultList::PoolTarget::checkProgress(int generation, int32_t finished, int32_t total) {
  emit list_.checkProgress(generation, finished, total);
}

void ResultList::PoolTarget::allChecked(int generation) { emit list_.workerDone(generation); }

void ResultList::stopThumbnails() {
  // The pool's engines come from the job's host: they go now, while the
  // host is surely there (the window stops everything before the job goes).
  worker_.reset();
}

QString ResultList::verdictText(int row) const {
  const Candidate* candidate = candidates_.candidateAt(row + 1);
  const bool checked = candidate != nullptr && candidate->checked();
  const Verdict verdict = checked ? candidate->check().verdict : Verdict::Unknown;
  const char* text = kVerdictUnknownText;
  switch (verdict) {
    case Verdict::Intact: text = kVerdictIntactText; break;
    case Verdict::Damaged: text = kVerdictDamagedText; break;
    case Verdict::Truncated: text = kVerdictTruncatedText; break;
    case Verdict::Unknown: break;
  }
  QString shown = QString::fromUtf8(text);
  if (checked && !candidate->find().fragments.empty())
    shown += QString::fromUtf8(kReassembledSuffix);
  return shown;
}

uint64_t ResultList::joinSplitPhotos(const JoinLimits& limits) {
  // The pool's threads read the rows until it is joined.
  if (worker_ || recoveryJob_ == nullptr || recoveryJob_->image() == nullptr || shownRows_ == 0)
    return 0;
  const JoinOutcome outcome = joinFragments(*recoveryJob_->image(), candidates_, limits);
  if (outcome.joined == 0) return 0;
  // A joined row's thumbnail was made from its first piece alone (or its
  // bytes up to the next file's): the whole picture now.
  for (int row = 0; row < shownRows_; ++row) {
    const Candidate* candidate = candidates_.candidateAt(row + 1);
    if (candidate == nullptr || candidate->find().fragments.empty()) continue;
    if (row < rowImage_.size() && row + 1 < images_.size()) makeThumbnail(row, row + 1);
  }
  // Size, end, verdict and the damage mark changed: every column, so that
  // a sorting or filtering proxy takes the rows' keys again.
  emit dataChanged(index(0, 0), index(shownRows_ - 1, kColumnCount - 1),
                   {Qt::DisplayRole, Qt::ToolTipRole, Qt::DecorationRole});
  return outcome.joined;
}

QImage ResultList::movieFrameOf(const ImageFile& image, const CandidateBytes& bytes) const {
  // A plain range of the image is read by the thumbnailer from the image's
  // own descriptor, however long the movie; an extraction is handed over
  // from memory.
  const auto start = reinterpret_cast<uintptr_t>(image.data());
  const auto first = reinterpret_cast<uintptr_t>(bytes.data());
  std::string why;
  std::optional<MovieFrame> frame;
  if (image.descriptor() >= 0 && first >= start && first - start <= image.size() &&
      bytes.size() <= image.size() - (first - start)) {
    frame = movieReader_->read(image.descriptor(), first - start, bytes.size(), &why);
  } else {
    frame = movieReader_->read(bytes.data(), bytes.size(), &why);
  }
  // A movie without a frame keeps the movie icon: one thumbnail lost.
  return frame ? movieThumbnail(*frame) : QImage();
}

void ResultList::checkRow(int row, EngineSet& engines, int generation) {
  const ImageFile* image = recoveryJob_ != nullptr ? recoveryJob_->image() : nullptr;
  if (image == nullptr) return;
  std::array<uint8_t, kCheckCellStride * kCheckCellHeight> cell{};
  bool cellMade = false;
  QImage thumbnail;
  checkCandidateRow(
      *image, &engines, candidates_, row, cell.data(), &cellMade, [&](const CandidateBytes& bytes) {
        // A JPEG's picture came with its check; others (PNG
        // through Qt's reader, movies through the
        // thumbnailer) are drawn from the same bytes.
        if (cellMade) return;
        thumbnail = isMovieType(bytes.extension())
                        ? movieFrameOf(*image, bytes)
                        : decodeThumbnail(bytes.data(), bytes.size(), bytes.extension());
      });
  if (cellMade) {
    thumbnail = QImage(cell.data(), kCheckCellWidth, kCheckCellHeight, kCheckCellStride,
                       QImage::Format_RGB888)
                    .convertToFormat(QImage::Format_RGB32);
  }
  if (!thumbnail.isNull()) emit thumbnailMade(generation, row, row + 1, thumbnail);
  emit rowChecked(generation, row);
}

bool ResultList::thumbnailsActive() const { return worker_ && worker_->isActive(); }

bool ResultList::makeThumbnail(int row, int imageIndex) {
  if (recoveryJob_ == nullptr || row < 0) return false;
  const int generation = generation_.load();
  const ImageFile* image = recoveryJob_->image();
  CandidateInfo info;
  if (image == nullptr || !candidates_.candidateInfo(row, info)) return false;
  // From memory: a view of the mapped image, or the worker's own engines'
  // extraction; nothing is written anywhere.
  const CandidateBytes bytes(*image, &recoveryJob_->thumbnailEngines(), info);
  if (!bytes.ok()) return false;
  const QImage thumbnail = decodeThumbnail(bytes.data(), bytes.size(), bytes.extension());
  if (thumbnail.isNull()) return false;
  emit thumbnailMade(generation, row, imageIndex, thumbnail);
  return true;
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

void ResultList::storeThumbnail(int generation, int row, int imageIndex, const QImage& image) {
  if (generation != generation_.load()) return;  // made for a result set that is gone
  if (row < 0 || row >= rowImage_.size() || imageIndex <= 0 || imageIndex >= images_.size()) return;
  images_[imageIndex] = image;
  rowImage_[row] = imageIndex;
  const QModelIndex cell = index(row, 0);
  emit dataChanged(cell, cell, {Qt::DecorationRole});
}

void ResultList::finishThumbnails(int generation) {
  if (generation != generation_.load() || !worker_) return;
  worker_.reset();  // the bodies have returned or are returning: this joins them
  emit thumbnailsFinished();
}

void ResultList::showCheckProgress(int generation, int finished, int total) {
  if (generation != generation_.load() || shownRows_ == 0) return;
  // The rows' own refreshes came with each check (showRowChecked).
  emit checksProgressed(finished, total);
}

void ResultList::showVerdicts() {
  if (shownRows_ == 0) return;
  emit dataChanged(index(0, kColumnVerdict), index(shownRows_ - 1, kColumnVerdict),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  emit dataChanged(index(0, 0), index(shownRows_ - 1, 0), {Qt::DecorationRole});
}

void ResultList::showRowChecked(int generation, int row) {
  if (generation != generation_.load() || row < 0 || row >= shownRows_) return;
  // One row at a time: the rows are checked in the order the user looks at
  // them, and a sorting or filtering proxy re-examines only what changed.
  emit dataChanged(index(row, kColumnVerdict), index(row, kColumnVerdict),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  emit dataChanged(index(row, 0), index(row, 0), {Qt::DecorationRole});
}

void ResultList::rowsAppended(int32_t, int32_t) { scheduleFlush(); }

void ResultList::scheduleFlush() {
  if (flushRequested_.exchange(true)) return;  // a flush is already on its way
  QMetaObject::invokeMethod(
      this, [this] { batchTimer_.start(); }, Qt::QueuedConnection);
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
