// One thumbnail from one candidate's bytes in memory: JPEGs are decoded by
// the program's own loader, PNGs by Qt's reader, and either is drawn,
// area-averaged, into a white 100 × 75 cell keeping its proportions.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>

namespace kestrix {

// The 100 × 75 thumbnail of `size` bytes that a file of `extension` (".jpg",
// ".png", with its dot, any letter case) would hold; a null QImage when the
// type has no thumbnail here or the bytes do not decode. Safe on any thread:
// QImage needs no display.
QImage decodeThumbnail(const uint8_t* data, uint64_t size, const std::string& extension);

}  // namespace kestrix
