// A decoded video frame turned into the thumbnail: its display shape (the
// sample aspect ratio applied), fitted into 200 x 150 and scaled to RGB24
// with libswscale.
#pragma once

#include <string>

#include "imaging/movie/movie_frame.h"

struct AVFrame;
struct AVRational;

namespace kestrix {

struct FrameSize {
  int width = 0;
  int height = 0;
};

// The thumbnail size of a width x height frame whose samples are
// sampleAspect wide (num / den; 0 or negative parts mean square): the
// display shape scaled down to fit 200 x 150, keeping its proportions,
// rounded, at least 1 x 1. A frame already smaller is not enlarged: the
// window centres it rather than showing a blur of a tiny movie.
FrameSize fitMovieFrame(int width, int height, int sampleAspectNum, int sampleAspectDen);

// Scales frame into out's size (fitMovieFrame) and pixels. False with the
// reason when swscale cannot convert the frame's pixel format or runs out
// of memory.
bool scaleMovieFrame(const AVFrame& frame, AVRational sampleAspect, MovieFrame* out,
                     std::string* reason);

}  // namespace kestrix
