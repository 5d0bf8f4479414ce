// One thumbnail from one file: decoded by the program's own loader and
// drawn, area-averaged, into a white 100 × 75 cell keeping its proportions.
#pragma once

#include <QImage>
#include <string>

namespace kestrix {

// The 100 × 75 thumbnail of the picture at `path`; a null QImage when the
// loader does not take the file (not .jpg/.bmp, undecodable) or cannot draw
// it (an 8-bit picture). Safe on any thread: QImage needs no display.
QImage decodeThumbnail(const std::string& path);

}  // namespace kestrix
