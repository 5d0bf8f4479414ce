#include "rich_test_card.h"

#include "test_card.h"

#include <QDir>
#include <QFile>

namespace kestrix::test {

namespace {

// The tools' own chatter stays out of the test's output.
bool run(const QString& command, std::string* why) {
  return runTool(command + " >/dev/null 2>&1", why);
}

bool readFile(const QString& path, QByteArray& out) {
  return readWholeFile(path, out) && !out.isEmpty();
}

// Printable filler that holds no signature of any carved type.
QByteArray filler(int bytes, int seed) {
  QByteArray out(bytes, ' ');
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>('a' + (i * 5 + seed) % 23);
  return out;
}

struct PhotoToMake {
  const char* name;
  int width;
  int height;
  const char* pattern;  // an ImageMagick source
  const char* make;     // nullptr: no EXIF at all
  const char* model;
  const char* date;
  bool withThumbnail;
  bool truncated;
};

}  // namespace

const RichCardFile* RichCard::file(const QString& name) const {
  for (const RichCardFile& entry : files)
    if (entry.name == name) return &entry;
  return nullptr;
}

bool richCardToolsPresent(std::string* why) {
  return toolsOnPath({"convert", "exiftool", "ffmpeg"}, why);
}

RichCard makeRichCard(const QString& folder, std::string* why) {
  RichCard card;
  const QDir dir(folder);
  const PhotoToMake photos[] = {
      {"summer.jpg", 800, 600, "gradient:'#2a6fb0-#f4d35e'", "KestrixCam", "KX-100",
       "2021:05:03 10:00:00", true, false},
      {"winter.jpg", 1024, 768, "plasma:fractal -seed 3", "OtherMaker", "OM-5",
       "2019:12:24 18:30:00", false, false},
      {"autumn.jpg", 640, 480, "gradient:'#7a2e0e-#f0a030'", "KestrixCam", "KX-200",
       "2023:08:15 07:45:10", false, false},
      {"icon.jpg", 80, 60, "xc:'#40a060'", nullptr, nullptr, nullptr, false, false},
      {"broken.jpg", 800, 600, "plasma:fractal -seed 9", "KestrixCam", "KX-100",
       "2022:01:02 03:04:05", false, true},
  };
  const QString thumb = dir.filePath("thumb.jpg");
  if (!run(QString("convert -size 160x120 gradient:'#2a6fb0-#f4d35e' -quality 70 '%1'").arg(thumb),
           why))
    return {};
  for (const PhotoToMake& photo : photos) {
    const QString path = dir.filePath(photo.name);
    if (!run(QString("convert -size %1x%2 %3 -quality 88 -strip '%4'")
                 .arg(photo.width)
                 .arg(photo.height)
                 .arg(photo.pattern, path),
             why))
      return {};
    if (photo.make != nullptr &&
        !run(QString("exiftool -q -overwrite_original -Make=%1 -Model=%2 "
                     "'-DateTimeOriginal=%3' %4 '%5'")
                 .arg(photo.make, photo.model, photo.date,
                      photo.withThumbnail ? QString("'-ThumbnailImage<=%1'").arg(thumb) : QString(),
                      path),
             why))
      return {};
    RichCardFile file;
    file.name = photo.name;
    if (!readFile(path, file.bytes)) return {};
    if (photo.truncated) file.bytes.truncate(file.bytes.size() / 2);
    file.make = photo.make != nullptr ? photo.make : "";
    file.shotDate = photo.date != nullptr ? photo.date : "";
    file.width = photo.width;
    file.height = photo.height;
    file.truncated = photo.truncated;
    card.files.push_back(file);
  }
  const QString png = dir.filePath("drawing.png");
  if (!run(QString("convert -size 320x240 gradient:'#c03060-#30c0a0' '%1'").arg(png), why))
    return {};
  RichCardFile picture{"drawing.png", {}, "", "", 320, 240, false};
  if (!readFile(png, picture.bytes)) return {};
  card.files.push_back(picture);
  // Two real clips: a camera's MP4 (index first) and a QuickTime movie.
  for (const char* name : {"clip.mp4", "clip.mov"}) {
    const QString path = dir.filePath(name);
    if (!run(QString("ffmpeg -nostdin -y -f lavfi -i testsrc=size=320x240:rate=15 -t 2 "
                     "-c:v mpeg4 -q:v 5 -pix_fmt yuv420p -movflags +faststart '%1'")
                 .arg(path),
             why))
      return {};
    RichCardFile movie{name, {}, "", "", 320, 240, false};
    if (!readFile(path, movie.bytes)) return {};
    card.files.push_back(movie);
  }

  // The files lie in clusters of 4 KiB with filler between them, as a
  // formatted card leaves them.
  QByteArray image = filler(8192, 1);
  int seed = 2;
  for (const RichCardFile& file : card.files) {
    image += file.bytes;
    image += filler(4096 - static_cast<int>(file.bytes.size() % 4096) + 4096, seed++);
  }
  card.path = dir.filePath("rich.ksx");
  QFile out(card.path);
  if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size()) {
    if (why != nullptr) *why = "cannot write the card image";
    return {};
  }
  return card;
}

}  // namespace kestrix::test
