// The movie bytes for FFmpeg: a seekable AVIOContext over the range
// [offset, offset + length) of a descriptor, read by pread.
//
// A movie may be gigabytes with its index (the moov atom) at the end, so the
// demuxer seeks instead of the bytes being copied; and a find is a plain
// range of the card image, so nothing outside it may be read: every read is
// clipped to the range, every seek outside it fails, and AVSEEK_SIZE answers
// the range's length.
#pragma once

#include <cstdint>

struct AVIOContext;

namespace kestrix {

class ByteRangeInput {
 public:
  ByteRangeInput(int fd, uint64_t offset, uint64_t length);
  ~ByteRangeInput();
  ByteRangeInput(const ByteRangeInput&) = delete;
  ByteRangeInput& operator=(const ByteRangeInput&) = delete;

  // Null when the context could not be allocated.
  AVIOContext* context() const { return context_; }

 private:
  static int readPacket(void* opaque, uint8_t* buffer, int size);
  static int64_t seek(void* opaque, int64_t position, int whence);

  int fd_;
  uint64_t offset_;
  uint64_t length_;
  uint64_t position_ = 0;  // from the range's start; never past length_
  AVIOContext* context_ = nullptr;
};

}  // namespace kestrix
