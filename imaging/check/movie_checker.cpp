#include "imaging/check/movie_checker.h"

#include "engine/movie_structure.h"
#include "platform/byte_view.h"

#include <cstring>
#include <utility>
#include <vector>

namespace kestrix {

namespace {

// Deeper nesting than any real movie has; bounds the recursion on hostile bytes.
constexpr int kMaxDepth = 16;

bool IsType(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Printable ASCII, or the copyright sign QuickTime uses for user data (0xA9).
bool IsAtomType(const std::uint8_t* type) {
  for (int i = 0; i < 4; ++i) {
    if ((type[i] < 0x20 || type[i] > 0x7E) && type[i] != 0xA9) return false;
  }
  return true;
}

// Atoms whose payload is a list of atoms, as far as the chunk offsets are
// concerned (QuickTime File Format; ISO/IEC 14496-12).
bool IsContainer(const std::uint8_t* type) {
  static constexpr const char* kContainers[] = {"moov", "trak", "mdia", "minf", "stbl", "edts",
                                                "dinf", "mvex", "moof", "traf", "clip", "matt"};
  for (const char* name : kContainers) {
    if (IsType(type, name)) return true;
  }
  return false;
}

struct Walk {
  const std::uint8_t* bytes = nullptr;
  std::uint64_t length = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>>
      movieData;                                            // payload [begin, end) of each mdat
  std::vector<std::pair<std::uint64_t, bool>> chunkTables;  // offset of each stco/co64 atom, 64-bit
  bool haveMovie = false;
  int width = 0;
  int height = 0;
  // The first problem found.
  Verdict verdict = Verdict::Intact;
  std::uint64_t badOffset = 0;
  const char* reason = "";

  // Big-endian numbers through the checked view. Every caller has checked
  // that the field lies inside its atom; a read past the bytes would give 0.
  std::uint64_t Be(std::uint64_t at, unsigned width) const {
    std::uint64_t value = 0;
    ByteView(bytes, length).readUnsigned(at, width, ByteOrder::BigEndian, value);
    return value;
  }

  bool Bad(Verdict kind, std::uint64_t at, const char* why) {
    verdict = kind;
    badOffset = at;
    reason = why;
    return false;
  }

  // Walks the atoms of [begin, end); top level when depth is 0.
  bool Atoms(std::uint64_t begin, std::uint64_t end, int depth) {
    if (depth > kMaxDepth) return Bad(Verdict::Damaged, begin, "atoms nested too deep");
    std::uint64_t offset = begin;
    while (offset < end) {
      if (end - offset < 8) {
        // A few bytes of padding inside a parent are tolerated
        // (some writers end udta with a 32-bit zero).
        if (depth > 0 && end - offset == 4 && Be(offset, 4) == 0) return true;
        return depth == 0 && end == length
                   ? Bad(Verdict::Truncated, length, "data ends inside an atom header")
                   : Bad(Verdict::Damaged, offset, "atom header does not fit");
      }
      // The one reading of an atom header the scan's walk uses too.
      movie::AtomHeader atom;
      const movie::AtomRead read = movie::readAtomHeader(BoundBlock(bytes, end), offset, atom);
      if (read == movie::AtomRead::RanOut)
        return depth == 0 ? Bad(Verdict::Truncated, length, "data ends inside an atom header")
                          : Bad(Verdict::Damaged, offset, "atom header does not fit");
      const std::uint8_t* type = bytes + offset + 4;
      if (!IsAtomType(type)) return Bad(Verdict::Damaged, offset, "not an atom");
      if (read == movie::AtomRead::TooSmall)
        return Bad(Verdict::Damaged, offset, "atom size too small");
      const std::uint64_t headerSize = atom.headerLength;
      std::uint64_t size = atom.size;
      if (atom.toEnd) {
        // Inside a parent the atom fills it. At the top "to the end
        // of the file" says nothing of where the file ends: the scan
        // takes the movie as cut there, and so does the check.
        if (depth == 0) return Bad(Verdict::Truncated, length, "atom runs to the end of the file");
        size = end - offset;
      }
      if (size > end - offset) {
        return depth == 0 && end == length
                   ? Bad(Verdict::Truncated, length, "data ends inside an atom")
                   : Bad(Verdict::Damaged, offset, "atom larger than its parent");
      }
      const std::uint64_t payload = offset + headerSize;
      const std::uint64_t atomEnd = offset + size;
      if (depth == 0 && (IsType(type, "mdat"))) movieData.emplace_back(payload, atomEnd);
      if (IsType(type, "moov")) haveMovie = true;
      if (IsType(type, "stco") || IsType(type, "co64"))
        chunkTables.emplace_back(offset, IsType(type, "co64"));
      if (IsType(type, "tkhd")) ReadTrackSize(payload, atomEnd);
      if (IsContainer(type) && !Atoms(payload, atomEnd, depth + 1)) return false;
      offset = atomEnd;
    }
    return true;
  }

  // tkhd: version 0 has 32-bit times (84 bytes), version 1 64-bit (96);
  // width and height are the last two 16.16 fixed-point fields. Taken
  // from the first track with a non-zero size, which is the picture.
  void ReadTrackSize(std::uint64_t payload, std::uint64_t end) {
    if (width != 0 || end - payload < 84) return;
    const std::uint64_t needed = Be(payload, 1) == 1 ? 96 : 84;
    if (end - payload < needed) return;
    const std::uint32_t w = Be(payload + needed - 8, 4) >> 16;
    const std::uint32_t h = Be(payload + needed - 4, 4) >> 16;
    if (w > 0 && h > 0) {
      width = static_cast<int>(w);
      height = static_cast<int>(h);
    }
  }

  bool InsideMovieData(std::uint64_t chunk) const {
    for (const auto& [begin, end] : movieData) {
      if (chunk >= begin && chunk < end) return true;
    }
    return false;
  }

  // Every entry of every chunk offset table inside an mdat payload.
  bool ChunkOffsets() {
    for (const auto& [at, wide] : chunkTables) {
      // Read whole by the tree walk above, which put it inside its parent.
      movie::AtomHeader atom;
      movie::readAtomHeader(BoundBlock(bytes, length), at, atom);
      const std::uint64_t size = atom.toEnd ? length - at : atom.size;
      const std::uint64_t payload = at + atom.headerLength;
      const std::uint64_t end = at + size;
      if (end - payload < 8) return Bad(Verdict::Damaged, at, "chunk offset table too short");
      const std::uint64_t count = Be(payload + 4, 4);
      const std::uint64_t entry = wide ? 8 : 4;
      if (count > (end - payload - 8) / entry)
        return Bad(Verdict::Damaged, at, "chunk offset table too short");
      for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t chunk = Be(payload + 8 + i * entry, static_cast<unsigned>(entry));
        if (!InsideMovieData(chunk)) {
          // Past the end of what we have while the movie data
          // reaches that end: the clip was cut, not damaged.
          if (chunk >= length && (movieData.empty() || movieData.back().second == length))
            return Bad(Verdict::Truncated, length, "chunk offset past the end of the data");
          return Bad(Verdict::Damaged, payload + 8 + i * entry,
                     "chunk offset outside the movie data");
        }
      }
    }
    return true;
  }
};

// Atoms that nest well are one movie only when the scan's own walk takes
// them for one, whole and ending where the bytes end: a moov without its
// movie header, a "wide" or "pnot" of the wrong shape, another file's atoms
// after the movie's are not a movie the scan would find.
void JudgeAsTheScanDoes(const std::uint8_t* bytes, std::uint64_t length, Walk& walk) {
  const movie::MovieStructure scanned = movie::structureOf(BoundBlock(bytes, length), 0);
  if (scanned.closesAtBlockEnd) {
    if (scanned.closedEnd < length)
      walk.Bad(Verdict::Truncated, scanned.closedEnd, "data ends inside an atom");
    return;
  }
  if (scanned.end.verdict == StructureEnd::Verdict::RanOut) {
    walk.Bad(Verdict::Truncated, length, "data ends inside an atom");
  } else if (scanned.end.verdict != StructureEnd::Verdict::Ends) {
    walk.Bad(Verdict::Damaged, 0, "atoms that are no movie's");
  } else if (scanned.end.end < length) {
    walk.Bad(Verdict::Damaged, scanned.end.end, "data after the movie");
  }
}

}  // namespace

CheckResult MovieChecker::Check(const std::uint8_t* bytes, std::uint64_t length) {
  CheckResult result;
  if (bytes == nullptr || length < 8 || !IsAtomType(bytes + 4)) {
    result.reason = "not a movie";
    return result;
  }
  Walk walk;
  walk.bytes = bytes;
  walk.length = length;
  if (walk.Atoms(0, length, 0) && walk.ChunkOffsets()) {
    if (!walk.haveMovie)
      walk.Bad(Verdict::Truncated, length, "no movie atom");
    else if (walk.movieData.empty() && !walk.chunkTables.empty())
      walk.Bad(Verdict::Damaged, length, "no movie data");
    else
      JudgeAsTheScanDoes(bytes, length, walk);
  }
  result.verdict = walk.verdict;
  result.width = walk.width;
  result.height = walk.height;
  if (walk.verdict != Verdict::Intact) {
    result.hasBadOffset = true;
    result.badOffset = walk.badOffset;
    result.reason = walk.reason;
  }
  return result;
}

}  // namespace kestrix
