#include "engine/signature_search.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  const uint8_t* data;   // the bound block
  const uint8_t* bytes;  // the pattern
  uint64_t length;       // n >= 1
  uint64_t exactLength;  // bytes compared exactly: n, or n - 1 with the mask
  bool maskLastByte;
  uint64_t anchor;  // index of the byte memchr looks for; < exactLength

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
  //
  // memchr on the anchor byte is fastest where that byte is rare. Where it
  // is common (runs of near-misses such as FF D8 FF D8 ...), every hit costs
  // a call; after DenseRun close false candidates in a row the search checks
  // DenseWindow positions with denseScan, which costs the same whatever the
  // data, then tries memchr again.
  uint64_t firstMatch(uint64_t from, uint64_t end) const {
    uint64_t q = from;
    int closeMisses = 0;
    while (q < end) {
      const void* hit = std::memchr(data + q + anchor, bytes[anchor], end - q);
      if (hit == nullptr) return end;
      const uint64_t candidate =
          static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - data) - anchor;
      if (matchesAt(candidate)) return candidate;
      closeMisses = candidate - q < DenseGap ? closeMisses + 1 : 0;
      q = candidate + 1;
      if (closeMisses >= DenseRun) {
        const uint64_t stop = end - q > DenseWindow ? q + DenseWindow : end;
        const uint64_t found = denseScan(q, stop);
        if (found < stop) return found;
        q = stop;
        closeMisses = 0;
      }
    }
    return end;
  }

  static constexpr uint64_t DenseGap = 64;          // a false candidate this close is "close"
  static constexpr int DenseRun = 16;               // close misses before switching
  static constexpr uint64_t DenseWindow = 1 << 16;  // positions checked per switch

  // First q in [from, stop) that matches, else stop; stop <= limit. Checks up
  // to the first four pattern bytes of 16 positions at once, then verifies
  // the candidates it lets through. The loads at q + i read bytes up to
  // stop - 1 + n - 1 <= size - 1.
  uint64_t denseScan(uint64_t from, uint64_t stop) const {
    uint64_t q = from;
#if defined(__SSE2__)
    const uint64_t checked = length < 4 ? length : 4;
    const uint64_t maskedIndex = maskLastByte ? length - 1 : 4;  // 4: none among the checked
    __m128i want[4];
    for (uint64_t i = 0; i < checked; ++i) want[i] = _mm_set1_epi8(static_cast<char>(bytes[i]));
    while (stop - q >= 16) {
      __m128i all = _mm_set1_epi8(-1);
      for (uint64_t i = 0; i < checked; ++i) {
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + q + i));
        if (i == maskedIndex) d = _mm_and_si128(d, want[i]);
        all = _mm_and_si128(all, _mm_cmpeq_epi8(d, want[i]));
      }
      for (unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(all)); bits != 0;
           bits &= bits - 1) {
        const uint64_t candidate = q + static_cast<uint64_t>(__builtin_ctz(bits));
        if (matchesAt(candidate)) return candidate;
      }
      q += 16;
    }
#endif
    for (; q < stop; ++q) {
      if (matchesAt(q)) return q;
    }
    return stop;
  }
};

Pattern makePattern(const uint8_t* data, const uint8_t* pattern, int32_t length,
                    bool maskLastByte) {
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
  const uint64_t n = static_cast<uint64_t>(length);
  const bool samePattern = valid_ && data_ == data && size_ == size && masked_ == p.maskLastByte &&
                           pattern_.size() == n && std::memcmp(pattern_.data(), pattern, n) == 0;
  if (samePattern && from <= found_) {
    if (from < coveredFrom_) {
      // Only the stretch before what is known needs reading.
      const uint64_t q = p.firstMatch(from, coveredFrom_);
      if (q < coveredFrom_) found_ = q;
      coveredFrom_ = from;
    }
  } else {
    found_ = p.firstMatch(from, limit);
    coveredFrom_ = from;
    data_ = data;
    size_ = size;
    pattern_.assign(pattern, pattern + n);
    masked_ = p.maskLastByte;
    valid_ = true;
  }
  return found_ < limit ? found_ : size + 1;
}

}  // namespace kestrix
