#include "engine/precise_scanner.h"

#include <cstring>

#include "engine/wide_vectors.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/jpeg_structure.h"
#include "engine/movie_structure.h"
#include "engine/png_structure.h"

namespace kestrix {

namespace {

// A candidate's verdict as a find: Ends gives the file, RanOut a find ending
// exactly at the block end (the scan layer binds more and asks again).
PreciseFind asFind(const BoundBlock& block, uint64_t start, const StructureEnd& end) {
  if (end.verdict == StructureEnd::Verdict::Ends) return {true, start, end.end - start};
  return {true, start, block.size() - start};
}

// The cached search for `pattern` from `from`; the match position, or the
// block size when no match lies wholly inside the block.
uint64_t nextMatch(SignatureSearch& search, const BoundBlock& block, const uint8_t* pattern,
                   int32_t length, uint64_t from) {
  if (block.empty()) return 0;
  const uint64_t at = search.find(block.uncheckedAt(0), block.size(), pattern, length, false, from);
  return block.contains(at, static_cast<uint64_t>(length)) ? at : block.size();
}

// JPEG and PNG: the first candidate from `next` that `walk` does not reject.
template <class Next, class Walk>
PreciseFind findFile(const BoundBlock& block, uint64_t from, Next next, Walk walk) {
  for (uint64_t c = from; c < block.size(); ++c) {
    c = next(block, c);
    if (c >= block.size()) break;
    const StructureEnd end = walk(block, c);
    if (end.verdict != StructureEnd::Verdict::NotAFile) return asFind(block, c, end);
  }
  return {};
}

bool isOpeningType(const uint8_t* at) {
  for (const uint8_t(&type)[4] : movie::OpeningTypes) {
    if (std::memcmp(at, type, 4) == 0) return true;
  }
  return false;
}

#if defined(__x86_64__)
// The wide form of the filter below: 32 positions at a time (loads up to t + 34 < size).
__attribute__((target("avx2"))) uint64_t skipWithoutOpeningTypeWide(const uint8_t* data,
                                                                     uint64_t size, uint64_t t) {
  const __m256i f = _mm256_set1_epi8('f'), m = _mm256_set1_epi8('m'), w = _mm256_set1_epi8('w'),
                p = _mm256_set1_epi8('p');
  const __m256i lv = _mm256_set1_epi8('v'), lt = _mm256_set1_epi8('t'), le = _mm256_set1_epi8('e');
  while (size - t >= 35) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 3));
    const __m256i first =
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(a, f), _mm256_cmpeq_epi8(a, m)),
                        _mm256_or_si256(_mm256_cmpeq_epi8(a, w), _mm256_cmpeq_epi8(a, p)));
    const __m256i last =
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(d, p), _mm256_cmpeq_epi8(d, lv)),
                        _mm256_or_si256(_mm256_cmpeq_epi8(d, lt), _mm256_cmpeq_epi8(d, le)));
    if (!_mm256_testz_si256(first, last)) return t;  // a position here passes: look closer
    t += 32;
  }
  return t;
}

#endif

// First t >= from with an opening type in data[t, t + 4), else size. One
// pass for all five types (five memchr passes cost five times as much):
// positions are kept only when their first byte is one of the types' first
// letters and their fourth one of the last letters; the few left are
// compared whole. The 16-wide loads read up to t + 18 < size.
uint64_t firstOpeningType(const BoundBlock& block, uint64_t from) {
  const uint64_t size = block.size();
  if (size < 4 || from > size - 4) return size;
  const uint8_t* data = block.uncheckedAt(0);
  uint64_t t = from;
#if defined(__x86_64__)
  const bool wide = haveWideVectors();
  const __m128i f = _mm_set1_epi8('f'), m = _mm_set1_epi8('m'), w = _mm_set1_epi8('w'),
                p = _mm_set1_epi8('p');
  const __m128i lp = _mm_set1_epi8('p'), lv = _mm_set1_epi8('v'), lt = _mm_set1_epi8('t'),
                le = _mm_set1_epi8('e');
  while (size - t >= 19) {
    if (wide) {
      t = skipWithoutOpeningTypeWide(data, size, t);
      if (size - t < 19) break;
    }
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + t));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + t + 3));
    const __m128i first = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, f), _mm_cmpeq_epi8(a, m)),
                                       _mm_or_si128(_mm_cmpeq_epi8(a, w), _mm_cmpeq_epi8(a, p)));
    const __m128i last = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(d, lp), _mm_cmpeq_epi8(d, lv)),
                                      _mm_or_si128(_mm_cmpeq_epi8(d, lt), _mm_cmpeq_epi8(d, le)));
    for (unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(first, last)));
         bits != 0; bits &= bits - 1) {
      const uint64_t candidate = t + static_cast<uint64_t>(__builtin_ctz(bits));
      if (isOpeningType(data + candidate)) return candidate;
    }
    t += 16;
  }
#endif
  for (; t + 4 <= size; ++t) {
    if (isOpeningType(data + t)) return t;
  }
  return size;
}

}  // namespace

void PreciseScanner::rebind() {
  pngSearch_.invalidate();
  movieCandidateKnown_ = false;
  movieKnown_ = false;
}

PreciseFind PreciseScanner::find(const BoundBlock& block, CarvedType type, uint64_t from) {
  switch (type) {
    case CarvedType::Jpeg: return findFile(block, from, jpeg::nextCandidate, jpeg::structureEnd);
    case CarvedType::Png: {
      auto next = [this](const BoundBlock& b, uint64_t c) {
        return nextMatch(pngSearch_, b, png::FileSignature, sizeof(png::FileSignature), c);
      };
      return findFile(block, from, next, png::structureEnd);
    }
    case CarvedType::Mov: return findMovie(block, true, from);
    case CarvedType::Mp4: return findMovie(block, false, from);
    case CarvedType::None: break;
  }
  return {};
}


uint64_t PreciseScanner::nextMovieCandidate(const BoundBlock& block, uint64_t from) {
  // The type lies four bytes into the atom, after its size field.
  const uint64_t typeFrom = from + 4;
  if (!movieCandidateKnown_ || typeFrom < movieCoveredFrom_ || typeFrom > movieCandidate_) {
    movieCandidate_ = firstOpeningType(block, typeFrom);
    movieCoveredFrom_ = typeFrom;
    movieCandidateKnown_ = true;
  }
  return movieCandidate_ < block.size() ? movieCandidate_ - 4 : block.size();
}

PreciseFind PreciseScanner::findMovie(const BoundBlock& block, bool quickTime, uint64_t from) {
  uint64_t c = from;
  if (movieKnown_ && c > movieStart_ && c < movieEnd_) c = movieEnd_;
  while (c < block.size()) {
    c = nextMovieCandidate(block, c);
    if (c >= block.size()) break;
    const movie::MovieStructure found = movie::structureOf(block, c);
    const StructureEnd::Verdict verdict = found.end.verdict;
    if (verdict == StructureEnd::Verdict::NotAFile) {
      ++c;
      continue;
    }
    movieKnown_ = true;
    movieStart_ = c;
    movieEnd_ = verdict == StructureEnd::Verdict::Ends ? found.end.end : block.size();
    // Unknown brand, or the wanted one: the find is this scan's.
    if (!found.brandKnown || found.quickTime == quickTime) return asFind(block, c, found.end);
    // A movie of the other brand reaching the block end hides what follows
    // it in this block; its atoms are never movies of their own.
    if (verdict == StructureEnd::Verdict::RanOut) break;
    c = found.end.end;  // the other brand's movie: its atoms are its own
  }
  return {};
}

}  // namespace kestrix
