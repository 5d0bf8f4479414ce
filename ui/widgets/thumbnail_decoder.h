// One thumbnail from one candidate's bytes in memory: JPEGs are decoded by
// the program's own loader, PNGs by Qt's reader, and either is drawn,
// area-averaged, into a white 100 × 75 cell keeping its proportions. A
// movie's frame comes from the thumbnailer process (imaging/movie/) and is
// drawn into a dark cell with the movie's length on it.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>

#include "imaging/movie/movie_frame.h"
#include "jobs/check_pool.h"

namespace kestrix {

// The 100 × 75 thumbnail of `size` bytes that a file of `extension` (".jpg",
// ".png", with its dot, any letter case) would hold; a null QImage when the
// type has no thumbnail here or the bytes do not decode. Safe on any thread:
// QImage needs no display.
QImage decodeThumbnail(const uint8_t* data, uint64_t size, const std::string& extension);

// The movie's frame fitted into the 100 × 75 cell on black, with its length
// ("0:05", "1:02:03") at the bottom right when known; null for no frame.
QImage movieThumbnail(const MovieFrame& frame);

// What a movie row shows while it has no frame, or when none decodes: a
// strip of film with a play mark, so it is never taken for a broken photo.
QImage movieIconImage();

// The pictures the check pool lends from here: decodeThumbnail for a
// picture file's bytes, movieThumbnail for a movie's frame, as RGB pixels.
ThumbnailDrawing windowThumbnailDrawing();

// The pool's pixels as a picture for the list; null for pixels that do not
// fill their own width, height and stride.
QImage thumbnailImage(const ThumbnailPixels& pixels);

// "m:ss", or "h:mm:ss" from an hour on; empty for an unknown (negative) length.
QString movieLengthText(int64_t milliseconds);

}  // namespace kestrix
