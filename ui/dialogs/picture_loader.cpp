#include "ui/dialogs/picture_loader.h"

#include <QFileInfo>
#include <QImageReader>
#include <QString>

namespace kestrix {

namespace {

bool extensionAccepted(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  const QString extension = QString::fromStdString(path.substr(dot)).toLower();
  return extension == QLatin1String(".jpg") || extension == QLatin1String(".bmp");
}

}  // namespace

// Interim reader: Qt's own JPEG and BMP readers, behind the same extension
// rule as the program's loader, until DibImage (imaging/loader) is linked in
// here. Its only difference the user could notice: a greyscale JPEG shows
// grey instead of leaving the window white.
bool loadViewerPicture(const std::string& path, QImage& out) {
  out = QImage();
  if (!extensionAccepted(path)) return false;
  QImageReader reader(QString::fromStdString(path));
  // The loader decides by the name, not by sniffing the content.
  reader.setDecideFormatFromContent(false);
  reader.setFormat(QFileInfo(QString::fromStdString(path)).suffix().toLower() == "bmp"
                       ? QByteArray("bmp")
                       : QByteArray("jpeg"));
  QImage picture;
  if (!reader.read(&picture) || picture.isNull()) return false;
  out = picture.convertToFormat(QImage::Format_RGB32);
  return !out.isNull();
}

}  // namespace kestrix
