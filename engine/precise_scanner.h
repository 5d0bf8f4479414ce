// PreciseScanner: the structure-aware search of the precise scan modes.
//
// It finds candidates by their opening signature (SOI FF D8 FF, the PNG
// signature, a movie's opening atom type) with vector filters that keep few
// positions to compare whole, and asks the type's structure walk (jpeg_structure.h,
// png_structure.h, movie_structure.h) whether a file starts there and where
// it ends. Every answer depends only on the bytes from the candidate on and
// on where the block ends as StructureEnd::RanOut says, except for what is
// remembered between calls: the last movie found, the whole JPEGs found
// since the JPEG search began (whose parts are no finds of their own unless
// the caller asks for them) and the searches' caches.
//
//   PreciseScanner scanner;                   // one per engine
//   scanner.rebind(data, size);               // whenever the block is bound
//   PreciseFind f = scanner.find(block, CarvedType::Jpeg, from, false);
#pragma once

#include <cstdint>
#include <vector>

#include "engine/bound_block.h"
#include "engine/carved_type.h"
#include "engine/structure_end.h"

namespace kestrix {

struct PreciseFind {
  bool found = false;  // false: no file starts at or after the position
  uint64_t start = 0;
  uint64_t size = 0;  // ends exactly at the block end when the walk ran out of data
  // Only when !found: a movie of the other brand starts at `start` and
  // reaches the block end, so this block cannot tell what follows it; the
  // caller searches again from `start` with more of the image bound.
  bool cutOff = false;
};

class PreciseScanner {
 public:
  // The first file of `type` that starts at or after `from`. With
  // `partsAreFinds` false, a JPEG lying inside an APPn segment or a further
  // MPF image of a whole JPEG found before (an EXIF thumbnail, a preview) is
  // a part of that JPEG and passed over; with true it is a find as well.
  PreciseFind find(const BoundBlock& block, CarvedType type, uint64_t from, bool partsAreFinds);
  // Forgets the caches; called when a block is bound. The whole JPEGs found
  // are kept while the same bytes are bound again (the scan layer binds more
  // of an image and repeats a search) and lie inside the new block.
  void rebind(const uint8_t* data, uint64_t size);

 private:
  // The last answer of a candidate search, so that searches from advancing
  // positions read every byte about once: when known, no candidate lies in
  // [coveredFrom, candidate), and candidate is one or the block size.
  struct CandidateMemo {
    bool known = false;
    uint64_t coveredFrom = 0;
    uint64_t candidate = 0;

    template <class Search>
    uint64_t next(uint64_t from, Search search) {
      if (!known || from < coveredFrom || from > candidate) {
        candidate = search(from);
        coveredFrom = from;
        known = true;
      }
      return candidate;
    }
  };

  PreciseFind findJpeg(const BoundBlock& block, uint64_t from, bool partsAreFinds);
  PreciseFind findMovie(const BoundBlock& block, bool quickTime, uint64_t from);
  // Whether [start, end) lies inside a span of a whole JPEG found before.
  bool partOfJpegFound(uint64_t start, uint64_t end);
  // jpeg::nextCandidate from `from`, passing over the entropy-coded data of
  // JPEGs walked before without searching it.
  uint64_t nextJpegCandidate(const BoundBlock& block, uint64_t from);
  // The next position >= from where a movie's opening atom could start
  // (its type four bytes on is one of movie::OpeningTypes); the block size
  // when there is none.
  uint64_t nextMovieCandidate(const BoundBlock& block, uint64_t from);

  // The candidates of each type searched by its row's nextCandidate (PNG
  // signatures), by CarvedType.
  CandidateMemo candidates_[kCarvedTypeCount];
  CandidateMemo movieCandidate_;  // opening atom types (four bytes into the atom)
  // The last movie found (either brand): its top-level atoms are never
  // movies of their own, so a search from inside it goes on after it. A
  // movie that runs past the block end is remembered only when its moov or
  // mdat was walked, and only up to the data of the atom that ran out: what
  // an unproven one's atoms claim, or that atom's size, may be stray bytes.
  bool movieKnown_ = false;
  uint64_t movieStart_ = 0;
  uint64_t movieEnd_ = 0;

  // Whole JPEGs found, innermost last, with the spans that hold their parts.
  // A JPEG search from position 0 or from before the last one begins afresh
  // (a new scan), and so does a block of other bytes.
  struct FoundJpeg {
    uint64_t start = 0;
    uint64_t end = 0;
    ByteSpans parts;
  };
  // Enclosing JPEGs kept; deeper nesting than a thumbnail in a preview in a
  // photo does not occur in real files.
  static constexpr size_t MaxEnclosingJpegs = 8;
  std::vector<FoundJpeg> jpegsFound_;
  // Entropy-coded data of the JPEGs walked since the search began afresh,
  // still ahead of it: no candidate starts there (jpeg::structureEnd). A
  // search from a find's start + 1 would otherwise search a photo's data
  // once more after its walk.
  static constexpr size_t MaxEntropySpans = 1024;
  ByteSpans entropySpans_;
  const uint8_t* boundData_ = nullptr;
  uint64_t lastJpegSearch_ = 0;
  ByteSpans spans_;  // the walk's scratch
};

}  // namespace kestrix
