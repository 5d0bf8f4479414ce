// The helper's work: open the movie, pick its video stream, decode the
// frame for the thumbnail and read the movie's length.
//
// Which frame: the first whose time is at or after half a second from the
// stream's start, since a first frame is often black (a fade-in, an iris
// opening); the last one decoded when the stream ends earlier, or when a
// second of decoding has passed since the first frame without reaching it
// (damaged timestamps must not make the helper decode the whole movie).
#pragma once

#include <optional>
#include <string>

#include "imaging/movie/movie_frame.h"

struct AVIOContext;

namespace kestrix {

// Only QuickTime-family movies are opened (MOV, MP4, 3GP, M4V: FFmpeg's
// "mov" demuxer): carved finds are of these types, and every other
// demuxer left out is hostile-input code that never runs.
inline constexpr const char* kMovieDemuxer = "mov";
inline constexpr double kPreferredFrameSeconds = 0.5;
inline constexpr double kFrameSearchSeconds = 1.0;

// The frame (fitted to 200 x 150, RGB24) and duration (-1 when unknown) of
// the movie read through input; nullopt with a short reason when the bytes
// are no movie, have no video stream, or no frame decodes.
std::optional<MovieFrame> decodeMovieFrame(AVIOContext* input, std::string* reason);

}  // namespace kestrix
