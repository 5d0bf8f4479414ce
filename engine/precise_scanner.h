// PreciseScanner: the structure-aware search of the precise scan modes.
//
// It finds candidates by their opening signature (SOI FF D8 FF, the PNG
// signature, a movie's opening atom type) with the cached memchr searches of
// signature_search.h, and asks the type's structure walk (jpeg_structure.h,
// png_structure.h, movie_structure.h) whether a file starts there and where
// it ends. Every answer depends only on the bytes from the candidate on and
// on where the block ends as StructureEnd::RanOut says; the one memory kept
// between calls is the last movie found (below) and the searches' caches.
//
//   PreciseScanner scanner;            // one per engine
//   scanner.rebind();                   // whenever the block changes
//   PreciseFind f = scanner.find(block, CarvedType::Jpeg, from);
#pragma once

#include <cstdint>

#include "engine/bound_block.h"
#include "engine/carved_type.h"
#include "engine/signature_search.h"
#include "engine/structure_end.h"

namespace kestrix {

struct PreciseFind {
  bool found = false;  // false: no file starts at or after the position
  uint64_t start = 0;
  uint64_t size = 0;   // ends exactly at the block end when the walk ran out of data
};

class PreciseScanner {
 public:
  // The first file of `type` that starts at or after `from`.
  PreciseFind find(const BoundBlock& block, CarvedType type, uint64_t from);
  // Forgets the caches; called when a block is bound.
  void rebind();

 private:
  PreciseFind findMovie(const BoundBlock& block, bool quickTime, uint64_t from);
  // The next position >= from where a movie's opening atom could start
  // (its type four bytes on is one of movie::OpeningTypes); the block size
  // when there is none.
  uint64_t nextMovieCandidate(const BoundBlock& block, uint64_t from);

  SignatureSearch pngSearch_;
  // The last answer of nextMovieCandidate: no opening type lies in
  // [movieCoveredFrom_, movieCandidate_), and movieCandidate_ is one or the block size.
  bool movieCandidateKnown_ = false;
  uint64_t movieCoveredFrom_ = 0;
  uint64_t movieCandidate_ = 0;
  // The last movie found (either brand): its top-level atoms are never
  // movies of their own, so a search from inside it (split mode continues
  // from start + 1) goes on after it.
  bool movieKnown_ = false;
  uint64_t movieStart_ = 0;
  uint64_t movieEnd_ = 0;
};

}  // namespace kestrix
