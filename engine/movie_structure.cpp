#include "engine/movie_structure.h"

#include <cstring>

namespace kestrix::movie {

namespace {

using Type = uint32_t;  // the four type bytes as a big-endian number

constexpr Type typeOf(const char (&text)[5]) {
  return (Type{static_cast<uint8_t>(text[0])} << 24) | (Type{static_cast<uint8_t>(text[1])} << 16) |
         (Type{static_cast<uint8_t>(text[2])} << 8) | Type{static_cast<uint8_t>(text[3])};
}

constexpr Type FileType = typeOf("ftyp");
constexpr Type Movie = typeOf("moov");
constexpr Type MediaData = typeOf("mdat");
constexpr Type Wide = typeOf("wide");
constexpr Type Preview = typeOf("pnot");
constexpr Type Fragment = typeOf("moof");
constexpr Type QuickTimeBrand = typeOf("qt  ");

// Top-level atoms a movie file holds besides ftyp.
constexpr Type TopLevel[] = {Movie,          MediaData,      typeOf("free"), typeOf("skip"),
                             Wide,           typeOf("uuid"), Preview,        typeOf("PICT"),
                             typeOf("udta"), typeOf("meta"), typeOf("pdin"), Fragment,
                             typeOf("mfra"), typeOf("sidx")};

bool isTopLevel(Type type) {
  for (Type t : TopLevel) {
    if (t == type) return true;
  }
  return false;
}

}  // namespace

MovieStructure structureOf(const BoundBlock& block, uint64_t start) {
  MovieStructure movie;
  bool hasMovie = false;
  bool hasMediaData = false;
  bool hasWide = false;
  bool hasPreview = false;
  Type previous = 0;
  uint64_t p = start;
  for (int atoms = 0;; ++atoms) {
    uint64_t size = 0;
    uint64_t typeValue = 0;
    if (!block.readUnsigned(p, 4, true, size) || !block.readUnsigned(p + 4, 4, true, typeValue)) {
      movie.end = StructureEnd::ranOut();
      if (p == start) movie.brandKnown = false;
      return movie;
    }
    const Type type = static_cast<Type>(typeValue);
    const bool complete = hasMovie && hasMediaData;
    if (p == start) {
      if (type == FileType) {
        // An ftyp of implausible size is a stray "ftyp" text.
        if (size < 16 || size > MaxFileTypeSize || size % 4 != 0) {
          movie.end = StructureEnd::notAFile();
          return movie;
        }
        uint64_t brand = 0;
        if (!block.readUnsigned(p + 8, 4, true, brand)) {
          movie.brandKnown = false;
          movie.end = StructureEnd::ranOut();
          return movie;
        }
        movie.quickTime = brand == QuickTimeBrand;
      } else if (type != Movie && type != MediaData && type != Wide && type != Preview) {
        movie.end = StructureEnd::notAFile();  // the candidate search promises one of these
        return movie;
      }
    } else {
      // The movie ends before an atom that is not its own:
      const bool ends =
          type == FileType ||  // another file's first atom
          !isTopLevel(type) ||  // not an atom at all: other data follows the movie
          // One movie holds one moov, and before it is complete one mdat, one
          // wide (the placeholder in front of mdat) and one pnot: a repeat
          // is the next file's (and keeps hostile chains of atoms short).
          (!complete && ((type == Movie && hasMovie) || (type == MediaData && hasMediaData) ||
                         (type == Wide && hasWide) || (type == Preview && hasPreview))) ||
          // A complete movie is followed by the next movie's opening atoms
          // (a fragmented file's mdat follows its moof).
          (complete && (type == Movie || type == Wide || type == Preview ||
                        (type == MediaData && previous != Fragment)));
      if (ends) break;
    }
    uint64_t atomSize = size;
    if (size == 1) {
      if (!block.readUnsigned(p + 8, 8, true, atomSize)) {
        movie.end = StructureEnd::ranOut();
        return movie;
      }
      if (atomSize < 16) break;  // a 64-bit size smaller than its own header is damage
    } else if (size == 0) {
      // "To the end of the file": the file's end is past what this block holds.
      movie.end = StructureEnd::ranOut();
      return movie;
    } else if (size < AtomHeaderLength) {
      break;  // a size smaller than the atom header is damage: the movie ends before it
    }
    if (atomSize > block.size() - p) {  // p <= size: the header was read
      movie.end = StructureEnd::ranOut();
      return movie;
    }
    if (type == Movie) hasMovie = true;
    if (type == MediaData) hasMediaData = true;
    if (type == Wide) hasWide = true;
    if (type == Preview) hasPreview = true;
    // Too many atoms without both moov and mdat: no movie.
    if (!(hasMovie && hasMediaData) && atoms + 1 >= MaxAtomsBeforeComplete) {
      movie.end = StructureEnd::notAFile();
      return movie;
    }
    previous = type;
    p += atomSize;
  }
  // A movie without its moov (or without media data) is not a whole movie.
  movie.end = hasMovie && hasMediaData ? StructureEnd::endsAt(p) : StructureEnd::notAFile();
  if (p == start) movie.end = StructureEnd::notAFile();
  return movie;
}

}  // namespace kestrix::movie
