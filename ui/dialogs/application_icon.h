// The program's icon (a kestrel over a memory card), painted in code so the
// windows need no SVG image plug-in; desktop/kestrix.svg is the same
// drawing for the desktop entry.
#pragma once

#include <QIcon>

namespace kestrix {

// The icon at 16 to 256 pixels; built once.
QIcon applicationIcon();

}  // namespace kestrix
