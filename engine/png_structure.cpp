#include "engine/png_structure.h"

#include <zlib.h>

#include <cstring>

#include "engine/wide_vectors.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kestrix::png {

namespace {

constexpr uint8_t HeaderType[4] = {'I', 'H', 'D', 'R'};
constexpr uint8_t EndType[4] = {'I', 'E', 'N', 'D'};
constexpr uint64_t HeaderDataLength = 13;

bool isLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// CRC-32 of ISO/IEC 15948 annex D over [offset, offset + length); the caller
// has checked that the range lies in the block. zlib takes at most 4 GiB - 1 a call.
uint32_t crcOf(const BoundBlock& block, uint64_t offset, uint64_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (length > 0) {
    const uInt part = length > 0x40000000 ? 0x40000000u : static_cast<uInt>(length);
    crc = crc32(crc, block.uncheckedAt(offset), part);
    offset += part;
    length -= part;
  }
  return static_cast<uint32_t>(crc);
}

#if defined(__x86_64__)
// The wide form of nextCandidate's filter: 32 positions at a time
// (loads up to t + 38 < size).
__attribute__((target("avx2"))) uint64_t skipWithoutPngEndsWide(const uint8_t* data, uint64_t size,
                                                                uint64_t t) {
  const __m256i first = _mm256_set1_epi8(static_cast<char>(FileSignature[0]));
  const __m256i last = _mm256_set1_epi8(static_cast<char>(FileSignature[7]));
  while (size - t >= 39) {
    _mm_prefetch(reinterpret_cast<const char*>(data + t + kSearchPrefetchBytes), _MM_HINT_T0);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 7));
    if (!_mm256_testz_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(d, last))) return t;
    t += 32;
  }
  return t;
}
#endif

}  // namespace

// 0x89 alone turns up every 256 bytes or so in compressed data, so a memchr
// on it stops far too often: positions are kept only when their first byte
// is 0x89 and their eighth 0x0A (about one in 65536 of random bytes), and
// the few left are compared whole. The 16-wide loads read up to t + 22 < size.
uint64_t nextCandidate(const BoundBlock& block, uint64_t from) {
  constexpr uint64_t n = sizeof(FileSignature);
  const uint64_t size = block.size();
  if (size < n || from > size - n) return size;
  const uint8_t* data = block.uncheckedAt(0);
  uint64_t t = from;
#if defined(__x86_64__)
  const bool wide = haveWideVectors();
  const __m128i first = _mm_set1_epi8(static_cast<char>(FileSignature[0]));
  const __m128i last = _mm_set1_epi8(static_cast<char>(FileSignature[n - 1]));
  while (size - t >= 23) {
    if (wide) {
      t = skipWithoutPngEndsWide(data, size, t);
      if (size - t < 23) break;
    }
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + t));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + t + n - 1));
    for (unsigned bits = static_cast<unsigned>(
             _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(d, last))));
         bits != 0; bits &= bits - 1) {
      const uint64_t candidate = t + static_cast<uint64_t>(__builtin_ctz(bits));
      if (std::memcmp(data + candidate, FileSignature, n) == 0) return candidate;
    }
    t += 16;
  }
#endif
  for (; t + n <= size; ++t) {
    if (std::memcmp(data + t, FileSignature, n) == 0) return t;
  }
  return size;
}

ChunkRead readChunk(const BoundBlock& block, uint64_t offset, Chunk& chunk) {
  if (!block.readUnsigned(offset, 4, true, chunk.length) || !block.contains(offset + 4, 4)) {
    return ChunkRead::RanOut;
  }
  const uint8_t* type = block.uncheckedAt(offset + 4);
  std::memcpy(chunk.type, type, 4);
  chunk.data = offset + 8;
  // ISO/IEC 15948 5.3: lengths fit 31 bits, types are four ASCII letters.
  if (chunk.length > MaxChunkLength ||
      !(isLetter(type[0]) && isLetter(type[1]) && isLetter(type[2]) && isLetter(type[3]))) {
    return ChunkRead::NotAChunk;
  }
  if (!block.contains(offset, ChunkOverhead + chunk.length)) return ChunkRead::RanOut;
  uint64_t stored = 0;
  block.readUnsigned(chunk.data + chunk.length, 4, true, stored);
  return crcOf(block, offset + 4, 4 + chunk.length) == stored ? ChunkRead::Read : ChunkRead::BadCrc;
}

StructureEnd structureEnd(const BoundBlock& block, uint64_t start, ByteSpans* holds) {
  const size_t holdsBefore = holds != nullptr ? holds->size() : 0;
  auto damagedAt = [&](uint64_t end) {
    if (holds != nullptr) holds->resize(holdsBefore);
    return StructureEnd::damagedAt(end);
  };
  uint64_t p = start + sizeof(FileSignature);
  for (bool first = true;; first = false) {
    Chunk chunk;
    // The first chunk is IHDR of 13 bytes (ISO/IEC 15948 11.2.2) with its
    // CRC: a signature without it is a stray copy of the signature bytes,
    // told as soon as its header is there.
    uint64_t length = 0;
    if (first && block.readUnsigned(p, 4, true, length) && block.contains(p + 4, 4) &&
        (length != HeaderDataLength || !block.equals(p + 4, HeaderType, 4))) {
      return StructureEnd::notAFile();
    }
    const ChunkRead read = readChunk(block, p, chunk);
    if (read == ChunkRead::RanOut) {
      if (holds != nullptr) holds->resize(holdsBefore);
      // A signature and a whole IHDR prove a picture; less is no file at the
      // image's end. A chunk length running past the end may be a stray one:
      // the next PNG is searched for from the chunk's data.
      return StructureEnd::ranOut(!first, block.contains(p, 8) ? p + 8 : block.size());
    }
    if (first && read != ChunkRead::Read) return StructureEnd::notAFile();
    // A field that is no chunk header means the file was cut here on the card;
    // a chunk whose CRC does not match is not this file's: it ends before either.
    if (read != ChunkRead::Read) return damagedAt(p);
    if (holds != nullptr) holds->push_back({chunk.data, chunk.data + chunk.length});
    p += ChunkOverhead + chunk.length;
    if (std::memcmp(chunk.type, EndType, 4) == 0) return StructureEnd::wholeAt(p);
  }
}

}  // namespace kestrix::png
