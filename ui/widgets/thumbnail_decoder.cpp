#include "ui/widgets/thumbnail_decoder.h"

#include "imaging/loader/dib_image.h"
#include "imaging/loader/thumbnail_fit.h"

#include <memory>

namespace kestrix {

QImage decodeThumbnail(const std::string& path) {
  auto picture = std::make_unique<DibImage>();
  if (picture->Load(path) == 0) return {};
  // RGB888 rows of 100 pixels are 300 bytes, already a multiple of 4, which
  // is the cell layout RenderThumbnail writes.
  QImage cell(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB888);
  if (cell.isNull() || cell.bytesPerLine() != kThumbnailWidth * 3) return {};
  if (!RenderThumbnail(*picture, cell.bits(), PixelOrder::Rgb)) return {};
  return cell;
}

}  // namespace kestrix
