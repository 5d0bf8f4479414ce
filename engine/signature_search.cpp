#include "engine/signature_search.h"

#include <cstring>

namespace kestrix {

namespace {

// How often a byte value turns up on a typical camera card, coarsely: zero
// fill and 0xFF (erased flash, JPEG stuffing) everywhere, ASCII text often,
// other high bytes about uniformly in compressed data. The search anchors on
// the pattern byte with the lowest rank, so memchr stops on few false
// candidates. Ranks only steer speed, never results.
int commonness(uint8_t byte) {
  if (byte == 0x00) return 6;
  if (byte == 0xFF) return 5;
  if (byte == ' ' || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')) return 4;
  if (byte >= 'A' && byte <= 'Z') return 3;
  if (byte >= 0x21 && byte <= 0x7E) return 2;
  if (byte < 0x20) return 1;
  return 0;
}

struct Pattern {
  const uint8_t* data;     // the bound block
  const uint8_t* bytes;    // the pattern
  uint64_t length;         // n >= 1
  uint64_t exactLength;    // bytes compared exactly: n, or n - 1 with the mask
  bool maskLastByte;
  uint64_t anchor;         // index of the byte memchr looks for; < exactLength

  // q + length <= size is the caller's precondition (q < limit).
  bool matchesAt(uint64_t q) const {
    const uint8_t* at = data + q;
    if (std::memcmp(at, bytes, exactLength) != 0) return false;
    if (!maskLastByte) return true;
    const uint8_t last = bytes[length - 1];
    return (at[length - 1] & last) == last;
  }

  // First q in [from, end) that matches, else end. end <= size - n + 1, so
  // q + anchor < size for every q searched.
  uint64_t firstMatch(uint64_t from, uint64_t end) const {
    uint64_t q = from;
    while (q < end) {
      const void* hit = std::memchr(data + q + anchor, bytes[anchor], end - q);
      if (hit == nullptr) return end;
      q = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - data) - anchor;
      if (matchesAt(q)) return q;
      ++q;
    }
    return end;
  }
};

Pattern makePattern(const uint8_t* data, const uint8_t* pattern, int32_t length, bool maskLastByte) {
  Pattern p{data, pattern, static_cast<uint64_t>(length), static_cast<uint64_t>(length), false, 0};
  // The mask rule only ever applies to the last byte of a pattern longer
  // than three bytes; shorter patterns compare exactly.
  if (maskLastByte && length > 3) {
    p.maskLastByte = true;
    p.exactLength = p.length - 1;
  }
  for (uint64_t i = 1; i < p.exactLength; ++i) {
    if (commonness(pattern[i]) < commonness(pattern[p.anchor])) p.anchor = i;
  }
  return p;
}

// Handles the contract cases that need no reading. Returns true with the
// answer in `result`, or false with the search limit in `limit`.
bool trivialAnswer(uint64_t size, const uint8_t* pattern, int32_t length, uint64_t from,
                   uint64_t& result, uint64_t& limit) {
  result = from;
  if (pattern == nullptr || length <= 0) return true;
  const uint64_t n = static_cast<uint64_t>(length);
  if (n > size + 1) return true;  // negative limit: no position is left
  limit = size - n + 1;
  return from >= limit;
}

}  // namespace

uint64_t findSignature(const uint8_t* data, uint64_t size, const uint8_t* pattern, int32_t length,
                       bool maskLastByte, uint64_t from) {
  uint64_t result = 0;
  uint64_t limit = 0;
  if (trivialAnswer(size, pattern, length, from, result, limit)) return result;
  const uint64_t q = makePattern(data, pattern, length, maskLastByte).firstMatch(from, limit);
  return q < limit ? q : size + 1;
}

uint64_t SignatureSearch::find(const uint8_t* data, uint64_t size, const uint8_t* pattern,
                               int32_t length, bool maskLastByte, uint64_t from) {
  uint64_t result = 0;
  uint64_t limit = 0;
  if (trivialAnswer(size, pattern, length, from, result, limit)) return result;
  const Pattern p = makePattern(data, pattern, length, maskLastByte);
  if (valid_ && masked_ == p.maskLastByte && from <= found_) {
    if (from < coveredFrom_) {
      // Only the stretch before what is known needs reading.
      const uint64_t q = p.firstMatch(from, coveredFrom_);
      if (q < coveredFrom_) found_ = q;
      coveredFrom_ = from;
    }
  } else {
    found_ = p.firstMatch(from, limit);
    coveredFrom_ = from;
    masked_ = p.maskLastByte;
    valid_ = true;
  }
  return found_ < limit ? found_ : size + 1;
}

}  // namespace kestrix
