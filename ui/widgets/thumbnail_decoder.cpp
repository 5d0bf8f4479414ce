#include "ui/widgets/thumbnail_decoder.h"

#include <QPainter>
#include <algorithm>
#include <cctype>
#include <limits>
#include <memory>
#include <span>

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

}  // namespace

QImage decodeThumbnail(const uint8_t* data, uint64_t size, const std::string& extension) {
  if (data == nullptr || size == 0) return {};
  const std::string type = lowerCase(extension);
  if (type == ".jpg" || type == ".jpeg") return jpegThumbnail(data, size);
  if (type == ".png") return pngThumbnail(data, size);
  return {};
}

}  // namespace kestrix
