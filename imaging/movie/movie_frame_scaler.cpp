#include "imaging/movie/movie_frame_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "imaging/movie/ffmpeg_handles.h"
#include "imaging/movie/movie_frame_reply.h"

namespace kestrix {
namespace {

// Rows swscale writes are aligned this far, as its SIMD output expects.
constexpr int kRowAlignment = 64;

// Limited ("TV") or full range input: the frame says so, and the JPEG
// pixel formats of Motion JPEG are full range even when it does not.
int sourceRange(const AVFrame& frame) {
  if (frame.color_range == AVCOL_RANGE_JPEG) return 1;
  const auto format = AVPixelFormat(frame.format);
  return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                 format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
                 format == AV_PIX_FMT_YUVJ411P
             ? 1
             : 0;
}

}  // namespace

FrameSize fitMovieFrame(int width, int height, int sampleAspectNum, int sampleAspectDen) {
  if (width <= 0 || height <= 0) return {};
  const double aspect =
      sampleAspectNum > 0 && sampleAspectDen > 0 ? double(sampleAspectNum) / sampleAspectDen : 1.0;
  // Non-square samples widen or narrow the picture; the larger display
  // side keeps the stored count, as players show it.
  double displayWidth = width, displayHeight = height;
  if (aspect >= 1.0)
    displayWidth *= aspect;
  else
    displayHeight /= aspect;
  const double scale =
      std::min({1.0, kMovieFrameMaxWidth / displayWidth, kMovieFrameMaxHeight / displayHeight});
  FrameSize size;
  size.width = std::clamp(int(std::lround(displayWidth * scale)), 1, kMovieFrameMaxWidth);
  size.height = std::clamp(int(std::lround(displayHeight * scale)), 1, kMovieFrameMaxHeight);
  return size;
}

bool scaleMovieFrame(const AVFrame& frame, AVRational sampleAspect, MovieFrame* out,
                     std::string* reason) {
  const auto format = AVPixelFormat(frame.format);
  if (frame.width <= 0 || frame.height <= 0 || format == AV_PIX_FMT_NONE ||
      !sws_isSupportedInput(format)) {
    const char* name = format == AV_PIX_FMT_NONE ? nullptr : av_get_pix_fmt_name(format);
    *reason = std::string("cannot convert the frame's pixel format ") +
              (name != nullptr ? name : "(none)");
    return false;
  }
  const FrameSize size =
      fitMovieFrame(frame.width, frame.height, sampleAspect.num, sampleAspect.den);
  ScalerHandle scaler(sws_getContext(frame.width, frame.height, format, size.width, size.height,
                                     AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr));
  if (!scaler) {
    *reason = "cannot set up the scaler";
    return false;
  }
  // The frame's own matrix (BT.709 for HD camera clips, BT.601 otherwise)
  // and range; swscale alone would take every YUV frame as BT.601.
  const int colourspace =
      frame.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : int(frame.colorspace);
  sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(colourspace), sourceRange(frame),
                           sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);

  uint8_t* planes[4] = {};
  int strides[4] = {};
  if (av_image_alloc(planes, strides, size.width, size.height, AV_PIX_FMT_RGB24, kRowAlignment) <
      0) {
    *reason = "out of memory";
    return false;
  }
  const BufferHandle pixels(planes[0]);
  const int rows =
      sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
  if (rows != size.height) {
    *reason = "the scaler failed";
    return false;
  }
  const size_t rowBytes = size_t(size.width) * 3;
  out->width = size.width;
  out->height = size.height;
  out->rgb.resize(rowBytes * size_t(size.height));
  for (int y = 0; y < size.height; ++y) {
    std::memcpy(out->rgb.data() + rowBytes * size_t(y), planes[0] + size_t(strides[0]) * size_t(y),
                rowBytes);
  }
  return true;
}

}  // namespace kestrix
