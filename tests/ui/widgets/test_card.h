// A small disk image made at test time: junk, two JPEGs (one with EXIF),
// a PNG and a QuickTime movie fragment, so a scan lists four candidates.
#pragma once

#include <QByteArray>
#include <QString>
#include <initializer_list>
#include <string>

namespace kestrix::test {

// What the card holds, in scan order (the registry scans .jpg, .png, .mov).
inline constexpr int kCardRows = 4;
inline constexpr const char* kCardMake = "KestrixCam";
inline constexpr const char* kCardModel = "KX-100";
inline constexpr const char* kCardShotDate = "2003:07:14 09:05:30";

// Helpers of the card makers. runTool runs a shell command; false (with the
// command in *why) when it fails. readWholeFile reads a file into `out`.
// toolsOnPath is true when every tool is on the PATH, otherwise false with
// the first missing one named in *why.
bool runTool(const QString& command, std::string* why);
bool readWholeFile(const QString& path, QByteArray& out);
bool toolsOnPath(std::initializer_list<const char*> tools, std::string* why);

// True when ImageMagick's convert and exiftool are on the PATH; otherwise
// false with the missing one named in *why.
bool cardToolsPresent(std::string* why);

// Writes the card image into `folder` as card.ksx and returns its path;
// empty (with *why) when ImageMagick or exiftool is missing or fails.
QString makeCardImage(const QString& folder, std::string* why);

// A 12-megapixel (4000 × 3000) JPEG of a smooth pattern at `path`.
bool makeLargeJpeg(const QString& path, std::string* why);

// The plug-in folder of the build (KESTRIX_BIN_DIR).
std::string pluginFolder();

}  // namespace kestrix::test
