// Owning handles for the FFmpeg objects of the helper, so that every early
// return of the decode frees what it allocated.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace kestrix {

struct FormatCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ScalerFreer {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
struct BufferFreer {
  void operator()(uint8_t* buffer) const { av_free(buffer); }
};

using FormatHandle = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecHandle = std::unique_ptr<AVCodecContext, CodecCloser>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFreer>;
using FrameHandle = std::unique_ptr<AVFrame, FrameFreer>;
using ScalerHandle = std::unique_ptr<SwsContext, ScalerFreer>;
using BufferHandle = std::unique_ptr<uint8_t, BufferFreer>;

}  // namespace kestrix
