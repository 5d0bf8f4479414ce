#include "engine/precise_scanner.h"

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

}  // namespace

void PreciseScanner::rebind() {
  jpegSearch_.invalidate();
  pngSearch_.invalidate();
  for (SignatureSearch& search : movieSearches_) search.invalidate();
  movieKnown_ = false;
}

PreciseFind PreciseScanner::find(const BoundBlock& block, CarvedType type, uint64_t from) {
  switch (type) {
    case CarvedType::Jpeg:
      return findBySignature(jpegSearch_, block, jpeg::CandidateSignature,
                             sizeof(jpeg::CandidateSignature), jpeg::structureEnd, from);
    case CarvedType::Png:
      return findBySignature(pngSearch_, block, png::FileSignature, sizeof(png::FileSignature),
                             png::structureEnd, from);
    case CarvedType::Mov: return findMovie(block, true, from);
    case CarvedType::Mp4: return findMovie(block, false, from);
    case CarvedType::None: break;
  }
  return {};
}

PreciseFind PreciseScanner::findBySignature(SignatureSearch& search, const BoundBlock& block,
                                            const uint8_t* signature, int32_t length,
                                            StructureEnd (*walk)(const BoundBlock&, uint64_t),
                                            uint64_t from) {
  for (uint64_t c = from; c < block.size(); ++c) {
    c = nextMatch(search, block, signature, length, c);
    if (c >= block.size()) break;
    const StructureEnd end = walk(block, c);
    if (end.verdict != StructureEnd::Verdict::NotAFile) return asFind(block, c, end);
  }
  return {};
}

uint64_t PreciseScanner::nextMovieCandidate(const BoundBlock& block, uint64_t from) {
  uint64_t best = block.size();
  for (int i = 0; i < 5; ++i) {
    // The type lies four bytes into the atom, after its size field.
    const uint64_t type = nextMatch(movieSearches_[i], block, movie::OpeningTypes[i], 4, from + 4);
    if (type < block.size() && type - 4 < best) best = type - 4;
  }
  return best;
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
