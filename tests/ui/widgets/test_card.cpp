#include "test_card.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <cstdlib>

namespace kestrix::test {

namespace {

// Bytes that hold no signature of any carved type: printable ASCII only,
// so neither FF D8, the PNG magic nor an atom type can appear by chance.
QByteArray junk(int bytes, char seed) {
  QByteArray out(bytes, ' ');
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>('a' + (i * 7 + seed) % 23);
  return out;
}

QByteArray bigEndian32(uint32_t value) {
  QByteArray out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
  return out;
}

}  // namespace

bool runTool(const QString& command, std::string* why) {
  const int status = std::system(command.toLocal8Bit().constData());
  if (status != 0 && why != nullptr) *why = "failed: " + command.toStdString();
  return status == 0;
}

bool readWholeFile(const QString& path, QByteArray& out) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  out = file.readAll();
  return true;
}

bool toolsOnPath(std::initializer_list<const char*> tools, std::string* why) {
  for (const char* tool : tools) {
    const QString command = QString("command -v %1 >/dev/null 2>&1").arg(tool);
    if (std::system(command.toLocal8Bit().constData()) != 0) {
      if (why != nullptr) *why = std::string(tool) + " missing";
      return false;
    }
  }
  return true;
}

bool cardToolsPresent(std::string* why) { return toolsOnPath({"convert", "exiftool"}, why); }

QString makeCardImage(const QString& folder, std::string* why) {
  const QDir dir(folder);
  const QString photo = dir.filePath("photo.jpg");
  const QString plain = dir.filePath("plain.jpg");
  const QString picture = dir.filePath("picture.png");
  if (!runTool(QString("convert -size 640x480 gradient:'#3060a0-#f0c040' -quality 85 -strip '%1'")
                   .arg(photo),
               why) ||
      !runTool(QString("exiftool -q -overwrite_original -Make=%1 -Model=%2 "
                       "'-DateTimeOriginal=%3' '%4'")
                   .arg(kCardMake, kCardModel, kCardShotDate, photo),
               why) ||
      !runTool(QString("convert -size 320x240 plasma:fractal -seed 7 -quality 80 -strip '%1'")
                   .arg(plain),
               why) ||
      !runTool(QString("convert -size 64x48 xc:'#80a0c0' -strip '%1'").arg(picture), why))
    return {};

  QByteArray photoBytes, plainBytes, pictureBytes;
  if (!readWholeFile(photo, photoBytes) || !readWholeFile(plain, plainBytes) ||
      !readWholeFile(picture, pictureBytes)) {
    if (why != nullptr) *why = "cannot read the made pictures";
    return {};
  }
  // A small QuickTime movie: a preview atom opens it, its movie header
  // (moov) and media (mdat) make it one, a user-data atom closes it. Both
  // the structure walk and the signature rules find it.
  QByteArray movie = bigEndian32(20) + "pnot" + QByteArray(12, '\x01');
  movie += bigEndian32(116) + "moov" + bigEndian32(108) + "mvhd" + QByteArray(100, '\0');
  movie += bigEndian32(8) + "wide" + bigEndian32(24) + "mdat" + QByteArray(16, '\x02');
  movie += bigEndian32(16) + "udta" + QByteArray(8, '\x03');

  QByteArray card = junk(4096, 1) + photoBytes + junk(3000, 2) + plainBytes + junk(2500, 3) +
                    pictureBytes + junk(2048, 4) + movie + junk(4096, 5);
  const QString path = dir.filePath("card.ksx");
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly) || out.write(card) != card.size()) {
    if (why != nullptr) *why = "cannot write the card image";
    return {};
  }
  return path;
}

bool makeLargeJpeg(const QString& path, std::string* why) {
  return runTool(QString("convert -size 4000x3000 gradient:'#204080-#e0b030' -swirl 120 "
                         "-quality 90 '%1'")
                     .arg(path),
                 why);
}

std::string pluginFolder() {
  const char* folder = std::getenv("KESTRIX_BIN_DIR");
  return folder != nullptr ? std::string(folder) + "/" : std::string();
}

}  // namespace kestrix::test
