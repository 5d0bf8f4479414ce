#include "imaging/movie/movie_frame_decoder.h"

#include <chrono>

extern "C" {
#include <libavutil/error.h>
}

#include "imaging/movie/ffmpeg_handles.h"
#include "imaging/movie/movie_frame_scaler.h"

namespace kestrix {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<MovieFrame> fail(std::string* reason, std::string text) {
  *reason = std::move(text);
  return std::nullopt;
}

std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Milliseconds of the movie: the container's duration, else the stream's.
int64_t durationMs(const AVFormatContext& format, const AVStream& stream) {
  if (format.duration != AV_NOPTS_VALUE && format.duration > 0) {
    return av_rescale_rnd(format.duration, 1000, AV_TIME_BASE, AV_ROUND_NEAR_INF);
  }
  if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0 && stream.time_base.num > 0 &&
      stream.time_base.den > 0) {
    return av_rescale_q_rnd(stream.duration, stream.time_base, AVRational{1, 1000},
                            AV_ROUND_NEAR_INF);
  }
  return -1;
}

// Picks the thumbnail frame among the decoded ones (see the header).
class FrameChooser {
 public:
  explicit FrameChooser(const AVStream& stream) : stream_(stream) {}

  // Keeps frame as the latest; true when it is the one to show or the
  // search is over.
  bool offer(FrameHandle& frame) {
    const int64_t time = frame->best_effort_timestamp;
    if (!chosen_) firstFrameAt_ = Clock::now();
    chosen_.swap(frame);
    if (!frame)
      frame.reset(av_frame_alloc());
    else
      av_frame_unref(frame.get());
    if (time == AV_NOPTS_VALUE) return true;  // no time to judge by: this frame will do
    if (start_ == AV_NOPTS_VALUE) {
      start_ = stream_.start_time != AV_NOPTS_VALUE ? stream_.start_time : time;
    }
    const double seconds = double(time - start_) * av_q2d(stream_.time_base);
    return seconds >= kPreferredFrameSeconds || searchOver();
  }

  // A frame is kept and a second has passed since it came.
  bool searchOver() const {
    return chosen_ && std::chrono::duration<double>(Clock::now() - firstFrameAt_).count() >=
                          kFrameSearchSeconds;
  }

  const AVFrame* chosen() const { return chosen_.get(); }

 private:
  const AVStream& stream_;
  FrameHandle chosen_;
  int64_t start_ = AV_NOPTS_VALUE;
  Clock::time_point firstFrameAt_;
};

// Sends packet (null: the end of the stream) and offers every frame that
// comes out. True when the chooser is done. A packet the decoder refuses
// as damaged is skipped: later packets may still decode, and a frame
// after damage beats no thumbnail.
bool decodePacket(AVCodecContext* codec, const AVPacket* packet, FrameHandle& frame,
                  FrameChooser& chooser, int* lastError) {
  int result = avcodec_send_packet(codec, packet);
  if (result < 0 && result != AVERROR(EAGAIN)) {
    *lastError = result;
    return false;
  }
  for (;;) {
    result = avcodec_receive_frame(codec, frame.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return false;
    if (result < 0) {
      *lastError = result;
      return false;
    }
    if (chooser.offer(frame)) return true;
    if (!frame) return false;  // out of memory for the next frame
  }
}

}  // namespace

std::optional<MovieFrame> decodeMovieFrame(AVIOContext* input, std::string* reason) {
  if (input == nullptr) return fail(reason, "out of memory");
  AVFormatContext* opening = avformat_alloc_context();
  if (opening == nullptr) return fail(reason, "out of memory");
  opening->pb = input;
  opening->flags |= AVFMT_FLAG_CUSTOM_IO;
  // No protocol may be opened by name (a reference movie pointing at a
  // file or URL): the helper reads its descriptor and nothing else.
  opening->protocol_whitelist = av_strdup("none");
  opening->format_whitelist = av_strdup(kMovieDemuxer);
  // avformat_open_input frees the context itself when it fails.
  int result = avformat_open_input(&opening, nullptr, av_find_input_format(kMovieDemuxer), nullptr);
  if (result < 0) return fail(reason, "not a readable movie: " + errorText(result));
  const FormatHandle format(opening);

  int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (streamIndex >= 0 && format->streams[streamIndex]->codecpar->width <= 0) {
    // The sample description left the size out; let FFmpeg look at packets.
    avformat_find_stream_info(format.get(), nullptr);
    streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  }
  if (streamIndex < 0) return fail(reason, "no video stream: " + errorText(streamIndex));
  AVStream* stream = format->streams[streamIndex];
  const int64_t duration = durationMs(*format, *stream);

  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (decoder == nullptr) {
    return fail(reason,
                std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id));
  }
  CodecHandle codec(avcodec_alloc_context3(decoder));
  if (!codec) return fail(reason, "out of memory");
  result = avcodec_parameters_to_context(codec.get(), stream->codecpar);
  if (result < 0) return fail(reason, "bad codec parameters: " + errorText(result));
  // One thread: frame threads would each take a stack and a frame pool out
  // of the helper's address-space limit, and delay the first frame.
  codec->thread_count = 1;
  codec->pkt_timebase = stream->time_base;
  result = avcodec_open2(codec.get(), decoder, nullptr);
  if (result < 0)
    return fail(reason,
                std::string("cannot open the ") + decoder->name + " decoder: " + errorText(result));

  PacketHandle packet(av_packet_alloc());
  FrameHandle frame(av_frame_alloc());
  if (!packet || !frame) return fail(reason, "out of memory");
  FrameChooser chooser(*stream);
  int lastError = 0;
  bool done = false;
  while (!done) {
    result = av_read_frame(format.get(), packet.get());
    // End of file or a read error: the damage ends the stream, and what
    // was decoded so far still counts.
    if (result < 0) break;
    if (packet->stream_index == streamIndex)
      done = decodePacket(codec.get(), packet.get(), frame, chooser, &lastError);
    av_packet_unref(packet.get());
    // Packets that decode to nothing (damage after the first frame) must
    // not keep the search going either.
    done = done || !frame || chooser.searchOver();
  }
  if (!done) decodePacket(codec.get(), nullptr, frame, chooser, &lastError);

  const AVFrame* chosen = chooser.chosen();
  if (chosen == nullptr) {
    return fail(reason,
                lastError < 0 ? "no frame decodes: " + errorText(lastError) : "no frame decodes");
  }
  MovieFrame out;
  out.durationMs = duration;
  const AVRational aspect =
      av_guess_sample_aspect_ratio(format.get(), stream, const_cast<AVFrame*>(chosen));
  if (!scaleMovieFrame(*chosen, aspect, &out, reason)) return std::nullopt;
  return out;
}

}  // namespace kestrix
