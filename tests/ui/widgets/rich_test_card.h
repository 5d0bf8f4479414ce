// A card like a camera's after a format, made at test time: photos of three
// dates and two makers (one with an EXIF thumbnail inside), a tiny picture,
// a photo cut off half-way, a PNG and two real movie clips (MP4 and MOV,
// made by ffmpeg). For the end-to-end window test and the screenshots.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

namespace kestrix::test {

struct RichCardFile {
  QString name;      // what the file was called before the format
  QByteArray bytes;  // exactly what the card holds of it
  QString make;      // EXIF maker, empty when none
  QString shotDate;  // EXIF DateTimeOriginal, empty when none
  int width = 0;
  int height = 0;
  bool truncated = false;  // only its first half is on the card
};

struct RichCard {
  QString path;                     // the card image
  std::vector<RichCardFile> files;  // in the order they lie on the card
  // The file of that name; aborts the test's expectations when missing.
  const RichCardFile* file(const QString& name) const;
};

// True when convert, exiftool and ffmpeg are on the PATH; otherwise false
// with the missing one named in *why.
bool richCardToolsPresent(std::string* why);

// Writes the card into `folder` as rich.ksx; an empty path (with *why) when
// a tool is missing or fails.
RichCard makeRichCard(const QString& folder, std::string* why);

}  // namespace kestrix::test
