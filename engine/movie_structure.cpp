#include "engine/movie_structure.h"

namespace kestrix::movie {

namespace {

constexpr AtomType FileType = atomType("ftyp");
constexpr AtomType Movie = atomType("moov");
constexpr AtomType MovieHeader = atomType("mvhd");
constexpr AtomType MediaData = atomType("mdat");
constexpr AtomType Wide = atomType("wide");
constexpr AtomType Preview = atomType("pnot");
constexpr AtomType PreviewPicture = atomType("PICT");
constexpr AtomType Fragment = atomType("moof");
constexpr AtomType QuickTimeBrand = atomType("qt  ");

// Top-level atoms a movie file holds besides ftyp.
constexpr AtomType TopLevel[] = {Movie,
                                 MediaData,
                                 atomType("free"),
                                 atomType("skip"),
                                 Wide,
                                 atomType("uuid"),
                                 Preview,
                                 PreviewPicture,
                                 atomType("udta"),
                                 atomType("meta"),
                                 atomType("pdin"),
                                 Fragment,
                                 atomType("mfra"),
                                 atomType("sidx")};

bool isTopLevel(AtomType type) {
  for (AtomType t : TopLevel) {
    if (t == type) return true;
  }
  return false;
}

// The shapes of the atoms that prove nothing by themselves: bytes that read
// like their type but not like their shape are no atom of the movie.
bool fileTypeFits(const AtomHeader& atom) {
  // Major brand, version, then whole compatible brands.
  return !atom.toEnd && atom.headerLength == AtomHeaderLength && atom.size >= 16 &&
         atom.size <= MaxFileTypeSize && atom.size % 4 == 0;
}
bool wideFits(const AtomHeader& atom) {
  // Eight bytes that a writer may turn into a 64-bit size for the mdat after
  // it; in the 64-bit form it still covers only its own header.
  return !atom.toEnd && atom.size == atom.headerLength;
}
bool previewFits(const AtomHeader& atom) {
  return !atom.toEnd && atom.headerLength == AtomHeaderLength && atom.size == PreviewAtomSize;
}

// A moov whose children, up to its movie header, lie inside it. `atom.size`
// lies inside the block.
bool movieFits(const BoundBlock& block, uint64_t at, const AtomHeader& atom) {
  const uint64_t end = at + atom.size;
  uint64_t p = at + atom.headerLength;
  for (int children = 0; children < MaxChildrenBeforeMovieHeader && p < end; ++children) {
    AtomHeader child;
    if (readAtomHeader(block, p, child) != AtomRead::Read) return false;
    const uint64_t size = child.toEnd ? end - p : child.size;
    if (size > end - p) return false;
    if (child.type == MovieHeader) return size >= MinMovieHeaderSize;
    p += size;
  }
  return false;
}

}  // namespace

MovieStructure structureOf(const BoundBlock& block, uint64_t start, ByteSpans* holds) {
  MovieStructure movie;
  const size_t holdsBefore = holds != nullptr ? holds->size() : 0;
  bool hasMovie = false;
  bool hasMediaData = false;
  bool hasWide = false;
  bool hasPreview = false;
  bool hasFileType = false;
  bool previewOnly = true;  // every atom so far is the preview (pnot) or its picture
  AtomType previous = 0;
  uint64_t p = start;
  // Running out of data: a file only if a moov or an mdat was walked whole
  // before; an atom that runs past the end (or "to the end of the file",
  // size 0) proves nothing of itself.
  auto ranOut = [&](uint64_t resume) {
    if (holds != nullptr) holds->resize(holdsBefore);
    if (previewOnly) movie.brandKnown = false;  // an ftyp may still follow the preview
    movie.end = StructureEnd::ranOut(hasMovie || hasMediaData, resume);
    return movie;
  };
  auto notAFile = [&] {
    if (holds != nullptr) holds->resize(holdsBefore);
    movie.end = StructureEnd::notAFile();
    return movie;
  };
  // Reads the brand of the ftyp at `at`; false when it lies past the block.
  auto readBrand = [&](uint64_t at) {
    uint64_t brand = 0;
    if (!block.readUnsigned(at + AtomHeaderLength, 4, true, brand)) return false;
    movie.quickTime = brand == QuickTimeBrand;
    hasFileType = true;
    return true;
  };

  for (int atoms = 0;; ++atoms) {
    AtomHeader atom;
    const AtomRead read = readAtomHeader(block, p, atom);
    // A whole movie followed by an atom of its own that the block does not
    // hold: whole there at the end of the image.
    auto closedHere = [&] {
      movie.closesAtBlockEnd = true;
      movie.closedEnd = p;
      movie.end = StructureEnd::ranOut(true, block.size());
      return movie;
    };
    if (read == AtomRead::RanOut) {
      if (hasMovie && hasMediaData) return closedHere();
      return ranOut(block.size());
    }
    const AtomType type = atom.type;
    const bool complete = hasMovie && hasMediaData;
    if (p == start) {
      if (read == AtomRead::TooSmall) return notAFile();
      if (type == FileType) {
        // An ftyp of implausible size is a stray "ftyp" text.
        if (!fileTypeFits(atom)) return notAFile();
        if (!readBrand(p)) {
          movie.brandKnown = false;
          movie.end = StructureEnd::ranOut(false, block.size());
          return movie;
        }
      } else if (type == Wide) {
        if (!wideFits(atom)) return notAFile();
      } else if (type == Preview) {
        if (!previewFits(atom)) return notAFile();
      } else if (type != Movie && type != MediaData) {
        return notAFile();  // the candidate search promises one of the opening types
      }
    } else {
      // Old QuickTime files open with their preview, then the file type.
      const bool fileTypeAfterPreview =
          type == FileType && previewOnly && !hasFileType && fileTypeFits(atom);
      // The movie ends before an atom that is not its own:
      const bool ends =
          read == AtomRead::TooSmall ||  // a size smaller than its header is damage
          (type == FileType && !fileTypeAfterPreview) ||   // another file's first atom
          (!isTopLevel(type) && !fileTypeAfterPreview) ||  // not an atom: other data follows
          (type == Wide && !wideFits(atom)) ||             // bytes that only read "wide"
          (type == Preview && !previewFits(atom)) ||
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
      if (fileTypeAfterPreview && !readBrand(p)) return ranOut(block.size());
    }
    if (type != Preview && type != PreviewPicture) previewOnly = false;
    // "To the end of the file": the file's end is past what this block
    // holds, and a card does not record it; what follows the atom's header
    // may be other files.
    if (atom.toEnd) return hasMovie && hasMediaData ? closedHere() : ranOut(p + atom.headerLength);
    // An atom that runs past the block: at the image's end, what follows its
    // header may be other files (its size may be a stray one), so a search
    // for the next movie goes on from its data.
    if (atom.size > block.size() - p) {  // the header was read
      return hasMovie && hasMediaData ? closedHere() : ranOut(p + atom.headerLength);
    }
    if (type == Movie) {
      // A moov without a movie header inside it is no movie's.
      if (!movieFits(block, p, atom)) {
        if (p == start) return notAFile();
        break;
      }
      hasMovie = true;
    }
    if (type == MediaData) {
      hasMediaData = true;
      if (holds != nullptr) holds->push_back({p + atom.headerLength, p + atom.size});
    }
    if (type == Wide) hasWide = true;
    if (type == Preview) hasPreview = true;
    // Too many atoms without both moov and mdat: no movie.
    if (!(hasMovie && hasMediaData) && atoms + 1 >= MaxAtomsBeforeComplete) return notAFile();
    previous = type;
    p += atom.size;
  }
  // A movie without its moov (or without media data) is not a whole movie.
  if (!(hasMovie && hasMediaData) || p == start) return notAFile();
  movie.end = StructureEnd::wholeAt(p);
  return movie;
}

}  // namespace kestrix::movie
