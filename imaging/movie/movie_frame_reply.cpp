#include "imaging/movie/movie_frame_reply.h"

#include <span>

#include "media/little_endian_reader.h"

namespace kestrix {
namespace {

bool validSize(int64_t width, int64_t height) {
  return width >= 1 && width <= kMovieFrameMaxWidth && height >= 1 &&
         height <= kMovieFrameMaxHeight;
}

size_t pixelBytes(int width, int height) { return size_t(width) * size_t(height) * 3; }

void appendLittleEndian(std::vector<uint8_t>& out, uint64_t value, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::optional<MovieFrame> refuse(std::string* error, std::string reason) {
  if (error != nullptr) *error = std::move(reason);
  return std::nullopt;
}

}  // namespace

std::vector<uint8_t> encodeMovieFrameReply(const MovieFrame& frame) {
  if (!validSize(frame.width, frame.height) || frame.durationMs < -1 ||
      frame.rgb.size() != pixelBytes(frame.width, frame.height)) {
    return {};
  }
  std::vector<uint8_t> out;
  out.reserve(kMovieFrameReplyHeaderSize + frame.rgb.size());
  out.insert(out.end(), std::begin(kMovieFrameReplyMagic), std::end(kMovieFrameReplyMagic));
  appendLittleEndian(out, kMovieFrameReplyVersion, 4);
  appendLittleEndian(out, uint32_t(frame.width), 4);
  appendLittleEndian(out, uint32_t(frame.height), 4);
  appendLittleEndian(out, uint64_t(frame.durationMs), 8);
  out.insert(out.end(), frame.rgb.begin(), frame.rgb.end());
  return out;
}

std::optional<MovieFrame> parseMovieFrameReply(const uint8_t* data, size_t size,
                                               std::string* error) {
  if (data == nullptr) size = 0;
  const LittleEndianReader reader(std::span<const uint8_t>(data, size));
  uint32_t version = 0, width = 0, height = 0;
  uint64_t duration = 0;
  if (!reader.u32(4, &version) || !reader.u32(8, &width) || !reader.u32(12, &height) ||
      !reader.u64(16, &duration)) {
    return refuse(error, "reply too short (" + std::to_string(size) + " bytes)");
  }
  if (!reader.matches(0, kMovieFrameReplyMagic)) return refuse(error, "reply has the wrong magic");
  if (version != kMovieFrameReplyVersion) {
    return refuse(error, "reply version " + std::to_string(version) + " is not " +
                             std::to_string(kMovieFrameReplyVersion));
  }
  if (!validSize(width, height)) {
    return refuse(error, "reply frame " + std::to_string(width) + " x " + std::to_string(height) +
                             " is outside 1..200 x 1..150");
  }
  const auto durationMs = static_cast<int64_t>(duration);
  if (durationMs < -1) return refuse(error, "reply duration " + std::to_string(durationMs) + " ms");
  const size_t expected = kMovieFrameReplyHeaderSize + pixelBytes(int(width), int(height));
  if (size != expected) {
    return refuse(error, "reply is " + std::to_string(size) + " bytes, a " + std::to_string(width) +
                             " x " + std::to_string(height) + " frame needs " +
                             std::to_string(expected));
  }
  MovieFrame frame;
  frame.width = int(width);
  frame.height = int(height);
  frame.durationMs = durationMs;
  frame.rgb.assign(data + kMovieFrameReplyHeaderSize, data + size);
  return frame;
}

}  // namespace kestrix
