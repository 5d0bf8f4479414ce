#include "engine/precise_scanner.h"

#include <algorithm>
#include <cstring>

#include "engine/wide_vectors.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/jpeg_structure.h"
#include "engine/movie_structure.h"

namespace kestrix {

namespace {

// A candidate's verdict as a find: Ends gives the file, RanOut a find ending
// exactly at the block end (the scan layer binds more and asks again).
PreciseFind asFind(const BoundBlock& block, uint64_t start, const StructureEnd& end) {
  if (end.verdict == StructureEnd::Verdict::Ends) return {true, start, end.end - start};
  return {true, start, block.size() - start};
}

// A type searched by candidates (PNG): the first candidate from `next` that
// `walk` does not reject.
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
// A byte-shuffle table that tells whether a byte is one of the opening
// types' letters at `index`: entry (letter & 15) holds the letter, the other
// entries 0x80. A shuffle by the data byte itself picks the entry of its low
// nibble (or 0 when its high bit is set), so "entry == byte" holds exactly for
// the letters. That needs the letters' low nibbles to differ; a new opening
// type that breaks it stops the build here.
struct LetterTable {
  uint8_t entries[16];
};

constexpr LetterTable letterTable(int index) {
  LetterTable table{};
  for (uint8_t& entry : table.entries) entry = 0x80;
  for (const uint8_t(&type)[4] : movie::OpeningTypes) {
    uint8_t& entry = table.entries[type[index] & 15];
    if (entry != 0x80 && entry != type[index]) throw "two letters share a low nibble";
    entry = type[index];
  }
  return table;
}

constexpr LetterTable FirstLetters = letterTable(0);
constexpr LetterTable LastLetters = letterTable(3);

// The wide form of the filter below: 32 positions at a time (loads up to
// t + 34 < size), the letter sets by table instead of one compare per letter.
__attribute__((target("avx2"))) uint64_t skipWithoutOpeningTypeWide(const uint8_t* data,
                                                                    uint64_t size, uint64_t t) {
  const __m256i firstTable = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(FirstLetters.entries)));
  const __m256i lastTable = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(LastLetters.entries)));
  while (size - t >= 35) {
    _mm_prefetch(reinterpret_cast<const char*>(data + t + kSearchPrefetchBytes), _MM_HINT_T0);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 3));
    const __m256i first = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(firstTable, a), a);
    const __m256i last = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(lastTable, d), d);
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

void PreciseScanner::rebind(const uint8_t* data, uint64_t size) {
  for (CandidateMemo& memo : candidates_) memo.known = false;
  movieCandidate_.known = false;
  movieKnown_ = false;
  if (data != boundData_) {
    jpegsFound_.clear();
    entropySpans_.clear();
  }
  std::erase_if(jpegsFound_, [size](const FoundJpeg& jpeg) { return jpeg.end > size; });
  boundData_ = data;
}

PreciseFind PreciseScanner::find(const BoundBlock& block, CarvedType type, uint64_t from,
                                 bool partsAreFinds) {
  const CarvedTypeRow* row = carvedTypeRow(type);
  if (row == nullptr) return {};
  switch (row->precise) {
    case PreciseSearch::Jpeg: return findJpeg(block, from, partsAreFinds);
    case PreciseSearch::Movie: return findMovie(block, row->quickTime, from);
    case PreciseSearch::Candidate: {
      CandidateMemo& memo = candidates_[static_cast<size_t>(type)];
      auto next = [&memo, row](const BoundBlock& b, uint64_t c) {
        return memo.next(c, [&b, row](uint64_t at) { return row->nextCandidate(b, at); });
      };
      auto walk = [row](const BoundBlock& b, uint64_t c) { return row->walk(b, c, nullptr); };
      return findFile(block, from, next, walk);
    }
  }
  return {};
}

bool PreciseScanner::partOfJpegFound(uint64_t start, uint64_t end) {
  while (!jpegsFound_.empty() && jpegsFound_.back().end <= start) jpegsFound_.pop_back();
  for (const FoundJpeg& jpeg : jpegsFound_) {
    for (const ByteSpan& span : jpeg.parts) {
      if (span.holds(start, end)) return true;
    }
  }
  return false;
}

uint64_t PreciseScanner::nextJpegCandidate(const BoundBlock& block, uint64_t from) {
  uint64_t c = from;
  for (;;) {
    std::erase_if(entropySpans_, [c](const ByteSpan& span) { return span.end <= c; });
    uint64_t limit = block.size();  // where the next span ahead begins
    bool inside = false;
    for (const ByteSpan& span : entropySpans_) {
      if (span.begin <= c) {
        c = span.end;
        inside = true;
        break;
      }
      limit = std::min(limit, span.begin);
    }
    if (inside) continue;
    if (limit >= block.size()) return jpeg::nextCandidate(block, c);
    // Up to the span, with the three bytes after its first one, so that a
    // candidate starting before it is judged on its own four bytes.
    const BoundBlock ahead(block.uncheckedAt(0), std::min(block.size(), limit + 4));
    const uint64_t candidate = jpeg::nextCandidate(ahead, c);
    if (candidate < limit) return candidate;
    c = limit;
  }
}

PreciseFind PreciseScanner::findJpeg(const BoundBlock& block, uint64_t from, bool partsAreFinds) {
  if (from == 0 || from < lastJpegSearch_) {
    jpegsFound_.clear();
    entropySpans_.clear();
  }
  lastJpegSearch_ = from;
  for (uint64_t c = from; c < block.size(); ++c) {
    c = nextJpegCandidate(block, c);
    if (c >= block.size()) break;
    spans_.clear();
    if (entropySpans_.size() >= MaxEntropySpans) entropySpans_.clear();  // only a shortcut lost
    const StructureEnd end =
        jpeg::structureEnd(block, c, partsAreFinds ? nullptr : &spans_, &entropySpans_);
    if (end.verdict == StructureEnd::Verdict::NotAFile) continue;
    const PreciseFind found = asFind(block, c, end);
    if (!partsAreFinds) {
      // A thumbnail or preview of a photo found before is the photo's. A JPEG
      // that only starts inside one (a false opening whose segment lengths
      // run into a real photo) is not: it is found on its own.
      if (partOfJpegFound(found.start, found.start + found.size)) continue;
      if (end.verdict == StructureEnd::Verdict::Ends && end.whole && !spans_.empty()) {
        if (jpegsFound_.size() == MaxEnclosingJpegs) jpegsFound_.erase(jpegsFound_.begin());
        jpegsFound_.push_back({found.start, found.start + found.size, spans_});
      }
    }
    return found;
  }
  return {};
}

uint64_t PreciseScanner::nextMovieCandidate(const BoundBlock& block, uint64_t from) {
  // The type lies four bytes into the atom, after its size field.
  const uint64_t type =
      movieCandidate_.next(from + 4, [&block](uint64_t at) { return firstOpeningType(block, at); });
  return type < block.size() ? type - 4 : block.size();
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
    // A movie proven by its moov or mdat owns its atoms up to its end or,
    // when it runs on past the block, up to where the atom that ran out holds
    // its data (that atom's size may be a stray one: a search goes on there).
    if (verdict == StructureEnd::Verdict::Ends || found.end.proven) {
      movieKnown_ = true;
      movieStart_ = c;
      movieEnd_ = verdict == StructureEnd::Verdict::Ends ? found.end.end : found.end.resume;
    }
    // Unknown brand, or the wanted one: the find is this scan's.
    if (!found.brandKnown || found.quickTime == quickTime) return asFind(block, c, found.end);
    // A movie of the other brand reaching the block end hides what follows
    // it in this block; its atoms are never movies of their own, so a search
    // from inside it would be wrong: the caller searches again from its start.
    if (verdict == StructureEnd::Verdict::RanOut) {
      PreciseFind cut;
      cut.start = c;
      cut.cutOff = true;
      return cut;
    }
    c = found.end.end;  // the other brand's movie: its atoms are its own
  }
  return {};
}

}  // namespace kestrix
