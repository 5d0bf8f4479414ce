// The bytes the movie frame helper writes to its standard output, and the
// strict parser the program reads them back with.
//
//   offset  size  field (little-endian)
//   0       4     magic "KXMF"
//   4       4     version, 1
//   8       4     width, 1 .. 200
//   12      4     height, 1 .. 150
//   16      8     duration in ms, signed; -1 when unknown, otherwise >= 0
//   24      w*h*3 pixels, R, G, B, rows top to bottom, no padding
//
// The reply is exactly that long: a helper that wrote more or less, or was
// stopped half-way, is refused rather than shown as a partial picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/movie/movie_frame.h"

namespace kestrix {

// The largest thumbnail frame: the window's movie cell.
inline constexpr int kMovieFrameMaxWidth = 200;
inline constexpr int kMovieFrameMaxHeight = 150;

inline constexpr char kMovieFrameReplyMagic[4] = {'K', 'X', 'M', 'F'};
// Raised whenever the layout changes, so a helper left from an older
// installation is refused instead of misread.
inline constexpr uint32_t kMovieFrameReplyVersion = 1;
inline constexpr size_t kMovieFrameReplyHeaderSize = 24;
// The longest valid reply; the reader never keeps more than this.
inline constexpr size_t kMovieFrameReplyMaxSize =
    kMovieFrameReplyHeaderSize + size_t{kMovieFrameMaxWidth} * kMovieFrameMaxHeight * 3;

// The reply for a frame. The frame must be valid (sizes in range, rgb of
// width * height * 3 bytes, duration -1 or more); empty when it is not.
std::vector<uint8_t> encodeMovieFrameReply(const MovieFrame& frame);

// The frame of a reply; nullopt with the reason in *error (when not null)
// for anything but a well-formed reply of exactly its own length.
std::optional<MovieFrame> parseMovieFrameReply(const uint8_t* data, size_t size,
                                               std::string* error);

}  // namespace kestrix
