// The viewer's one call into the image loader: a file path in, a picture
// ready to paint out. Kept apart so that the loader behind it can change
// without touching the window.
#pragma once

#include <QImage>
#include <string>

namespace kestrix {

// Loads `path` as the loader accepts it: by the text after the last '.',
// ".jpg" or ".bmp" in any letter case; any other name fails. On success
// `out` holds a 32-bit RGB picture and the result is true; otherwise `out`
// is null and the result false.
bool loadViewerPicture(const std::string& path, QImage& out);

}  // namespace kestrix
