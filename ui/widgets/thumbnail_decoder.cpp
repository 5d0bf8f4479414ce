#include "ui/widgets/thumbnail_decoder.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <limits>
#include <memory>
#include <optional>
#include <span>

#include "core/file_types.h"
#include "imaging/check/find_checker.h"
#include "imaging/jpeg/memory_byte_source.h"
#include "imaging/loader/dib_image.h"
#include "imaging/loader/thumbnail_fit.h"

namespace kestrix {

namespace {

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

QImage jpegThumbnail(const uint8_t* data, uint64_t size) {
  MemoryByteSource source(std::span<const uint8_t>(data, static_cast<size_t>(size)));
  auto picture = std::make_unique<DibImage>();
  if (!picture->LoadJpeg(source)) return {};
  // RGB888 rows of 100 pixels are 300 bytes, already a multiple of 4, which
  // is the cell layout RenderThumbnail writes.
  QImage cell(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB888);
  if (cell.isNull() || cell.bytesPerLine() != kThumbnailWidth * 3) return {};
  if (!RenderThumbnail(*picture, cell.bits(), PixelOrder::Rgb)) return {};
  return cell;
}

QImage pngThumbnail(const uint8_t* data, uint64_t size) {
  if (size > static_cast<uint64_t>(std::numeric_limits<int>::max())) return {};
  const QImage picture = QImage::fromData(data, static_cast<int>(size), "PNG");
  if (picture.isNull()) return {};
  const ThumbnailPlacement place = FitThumbnail(picture.width(), picture.height());
  QImage cell(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB888);
  cell.fill(Qt::white);
  QPainter painter(&cell);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRect(place.x, place.y, place.width, place.height), picture);
  return cell;
}

struct PictureThumbnail {
  FileType type;
  QImage (*decode)(const uint8_t* data, uint64_t size);
};
// The picture types drawn here; a movie's frame comes from the thumbnailer
// (the checkers' table says which types are movies), and a type without a
// row has no thumbnail but the one its check may draw.
constexpr PictureThumbnail kPictureThumbnails[] = {
    // type          decoder
    {FileType::Jpeg, &jpegThumbnail},
    {FileType::Png, &pngThumbnail},
};

// A drawn cell as the pool's RGB pixels; nullopt for no picture.
std::optional<ThumbnailPixels> pixelsOf(const QImage& picture) {
  if (picture.isNull()) return std::nullopt;
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  ThumbnailPixels pixels{rgb.width(), rgb.height(), static_cast<int>(rgb.bytesPerLine()), {}};
  pixels.rgb.assign(rgb.constBits(), rgb.constBits() + rgb.sizeInBytes());
  return pixels;
}

}  // namespace

QImage decodeThumbnail(const uint8_t* data, uint64_t size, const std::string& extension) {
  if (data == nullptr || size == 0) return {};
  const std::string type = lowerCase(extension);
  if (type.empty() || type.front() != '.') return {};
  const FileType known = fileTypeOf(type);
  for (const PictureThumbnail& row : kPictureThumbnails) {
    if (row.type == known) return row.decode(data, size);
  }
  return {};
}

ThumbnailDrawing windowThumbnailDrawing() {
  ThumbnailDrawing drawing;
  drawing.picture = [](const uint8_t* data, uint64_t size, const std::string& extension) {
    return pixelsOf(decodeThumbnail(data, size, extension));
  };
  drawing.movieFrame = [](const MovieFrame& frame) { return pixelsOf(movieThumbnail(frame)); };
  return drawing;
}

QImage thumbnailImage(const ThumbnailPixels& pixels) {
  if (pixels.width <= 0 || pixels.height <= 0 || pixels.stride < pixels.width * 3 ||
      pixels.rgb.size() < static_cast<size_t>(pixels.stride) * static_cast<size_t>(pixels.height))
    return {};
  // A copy: the pixels go with the report that carried them.
  return QImage(pixels.rgb.data(), pixels.width, pixels.height, pixels.stride,
                QImage::Format_RGB888)
      .convertToFormat(QImage::Format_RGB32);
}

QString movieLengthText(int64_t milliseconds) {
  if (milliseconds < 0) return {};
  const int64_t seconds = (milliseconds + 500) / 1000;
  const int64_t hours = seconds / 3600;
  const QString minutesAndSeconds =
      QString("%1:%2")
          .arg(hours > 0 ? (seconds / 60) % 60 : seconds / 60, hours > 0 ? 2 : 1, 10, QChar('0'))
          .arg(seconds % 60, 2, 10, QChar('0'));
  return hours > 0 ? QString("%1:%2").arg(hours).arg(minutesAndSeconds) : minutesAndSeconds;
}

QImage movieThumbnail(const MovieFrame& frame) {
  if (frame.width <= 0 || frame.height <= 0 ||
      frame.rgb.size() != static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 3)
    return {};
  const QImage picture(frame.rgb.data(), frame.width, frame.height, frame.width * 3,
                       QImage::Format_RGB888);
  const ThumbnailPlacement place = FitThumbnail(frame.width, frame.height);
  QImage cell(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB32);
  cell.fill(QColor(24, 24, 28));
  QPainter painter(&cell);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRect(place.x, place.y, place.width, place.height), picture);
  const QString length = movieLengthText(frame.durationMs);
  if (!length.isEmpty()) {
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    const QRect text = painter.fontMetrics().boundingRect(length).adjusted(-4, -1, 4, 1);
    const QRect badge(kThumbnailWidth - text.width() - 3, kThumbnailHeight - text.height() - 3,
                      text.width(), text.height());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 190));
    painter.drawRoundedRect(badge, 3, 3);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, length);
  }
  return cell;
}

QImage movieIconImage() {
  static const QImage icon = [] {
    QImage image(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF strip(14.5, 8.5, kThumbnailWidth - 29, kThumbnailHeight - 17);
    painter.setPen(QPen(QColor(40, 44, 52), 1));
    painter.setBrush(QColor(58, 64, 76));
    painter.drawRoundedRect(strip, 3, 3);
    // Sprocket holes along both edges of the strip.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(236, 240, 245));
    for (int y = 13; y < kThumbnailHeight - 14; y += 8) {
      painter.drawRect(QRectF(18, y, 5, 4));
      painter.drawRect(QRectF(kThumbnailWidth - 23, y, 5, 4));
    }
    // The play mark in the frame between them.
    const QPointF play[] = {{44.0, 26.0}, {44.0, 49.0}, {62.0, 37.5}};
    painter.setBrush(QColor(236, 240, 245));
    painter.drawPolygon(play, 3);
    return image;
  }();
  return icon;
}

}  // namespace kestrix
