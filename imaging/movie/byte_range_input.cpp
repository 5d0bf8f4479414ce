#include "imaging/movie/byte_range_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace kestrix {
namespace {

// FFmpeg's own default; larger buffers only read further past what the
// demuxer needs before each seek.
constexpr int kBufferSize = 32768;

}  // namespace

ByteRangeInput::ByteRangeInput(int fd, uint64_t offset, uint64_t length)
    : fd_(fd), offset_(offset), length_(length) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (buffer == nullptr) return;
  context_ = avio_alloc_context(buffer, kBufferSize, 0, this, &ByteRangeInput::readPacket, nullptr,
                                &ByteRangeInput::seek);
  if (context_ == nullptr) av_free(buffer);
}

ByteRangeInput::~ByteRangeInput() {
  if (context_ == nullptr) return;
  // The demuxer may have replaced the buffer; free the one it holds now.
  av_freep(&context_->buffer);
  avio_context_free(&context_);
}

int ByteRangeInput::readPacket(void* opaque, uint8_t* buffer, int size) {
  auto* self = static_cast<ByteRangeInput*>(opaque);
  if (size <= 0) return 0;
  const uint64_t left = self->length_ - self->position_;
  if (left == 0) return AVERROR_EOF;
  const size_t wanted = size_t(std::min<uint64_t>(left, uint64_t(size)));
  for (;;) {
    // offset_ + position_ cannot overflow: the range was checked to end
    // below INT64_MAX before the helper started.
    const ssize_t got = ::pread(self->fd_, buffer, wanted, off_t(self->offset_ + self->position_));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return AVERROR(errno);
    // A file shorter than the range (an image cut short) ends it there.
    if (got == 0) return AVERROR_EOF;
    self->position_ += uint64_t(got);
    return int(got);
  }
}

int64_t ByteRangeInput::seek(void* opaque, int64_t position, int whence) {
  auto* self = static_cast<ByteRangeInput*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return int64_t(self->length_);
  // The range ends below INT64_MAX, so these sums stay in range as long as
  // position itself is bounded first.
  const auto length = int64_t(self->length_);
  if (position < -length || position > length) return AVERROR(EINVAL);
  int64_t target = 0;
  switch (whence) {
    case SEEK_SET: target = position; break;
    case SEEK_CUR: target = int64_t(self->position_) + position; break;
    case SEEK_END: target = length + position; break;
    default: return AVERROR(EINVAL);
  }
  if (target < 0 || target > length) return AVERROR(EINVAL);
  self->position_ = uint64_t(target);
  return target;
}

}  // namespace kestrix
