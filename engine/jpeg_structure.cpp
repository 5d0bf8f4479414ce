#include "engine/jpeg_structure.h"

#include <algorithm>
#include <cstring>

#include "engine/wide_vectors.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kestrix::jpeg {

namespace {

bool isFrameMarker(uint8_t m) {  // SOF0..SOF15 without DHT (C4), JPG (C8), DAC (CC)
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}
bool isApplicationMarker(uint8_t m) { return m >= 0xE0 && m <= 0xEF; }

// The markers a file may open with after SOI (the rule of the precise scan).
bool opensFile(uint8_t m) {
  return isApplicationMarker(m) || m == 0xDB || m == 0xC4 || isFrameMarker(m) || m == 0xDD ||
         m == 0xFE;
}

// Segments that may stand before the first scan (T.81 B.2.4, B.6: tables,
// misc. and frame headers; DNL, DHP and EXP included).
bool standsBeforeScan(uint8_t m) {
  return (m >= 0xC0 && m <= 0xCF && m != 0xC8) || (m >= 0xDB && m <= 0xDF) ||
         isApplicationMarker(m) || m == 0xFE;
}

// Segments that may stand between scans (T.81 B.2.4, B.5: tables, misc.,
// DNL and the next scan header).
bool standsBetweenScans(uint8_t m) {
  return m == 0xDA || m == 0xC4 || m == 0xCC || m == 0xDB || m == 0xDC || m == 0xDD ||
         isApplicationMarker(m) || m == 0xFE;
}

bool isLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// Whether the segment after SOI (marker at `q`, length field after it) has
// the shape of its kind; false also when the bytes needed are missing
// (`ranOut` set). Old data holds FF D8 FF followed by anything, so the
// opening segment decides, from its first bytes, whether a file starts here.
bool openingSegmentFits(const BoundBlock& block, uint64_t q, uint8_t marker, bool& ranOut) {
  uint64_t length = 0;
  uint64_t first = 0;  // the payload's first byte
  if (!block.readUnsigned(q + 1, 2, true, length) || !block.readUnsigned(q + 3, 1, true, first)) {
    ranOut = true;
    return false;
  }
  // An application segment names its application first ("JFIF", "Exif", "ICC_PROFILE", ...).
  if (isApplicationMarker(marker)) return length >= 3 && isLetter(static_cast<uint8_t>(first));
  // DQT: precision 0 or 1, table 0..3, at least one 64-entry table (T.81 B.2.4.1).
  if (marker == 0xDB) return length >= 2 + 65 && (first >> 4) <= 1 && (first & 15) <= 3;
  // DHT: class 0 or 1, table 0..3, then 16 code counts (T.81 B.2.4.2).
  if (marker == 0xC4) return length >= 2 + 17 && (first >> 4) <= 1 && (first & 15) <= 3;
  // DRI: exactly the restart interval (T.81 B.2.4.4).
  if (marker == 0xDD) return length == 4;
  if (isFrameMarker(marker)) {
    uint64_t components = 0;
    if (!block.readUnsigned(q + 8, 1, true, components)) {
      ranOut = true;
      return false;
    }
    // SOFn: 8 bytes and 3 per component, at least one (T.81 B.2.2).
    return components >= 1 && length == 8 + 3 * components;
  }
  return true;  // COM: any text
}

constexpr uint8_t MpfIdentifier[4] = {'M', 'P', 'F', 0};
constexpr uint16_t MpEntryTag = 0xB002;
constexpr uint64_t MpEntryLength = 16;
constexpr uint64_t IfdEntryLength = 12;

// `entropy`, when given, gets the spans of entropy-coded data walked.
StructureEnd walk(const BoundBlock& block, uint64_t start, ByteSpans* holds, bool followIndex,
                  uint64_t* firstScan = nullptr, ByteSpans* entropy = nullptr);

// One image the MP index lists besides the primary one.
struct IndexedImage {
  uint64_t start = 0;  // in the block
  uint64_t size = 0;   // as the index gives it
};

// The images of the MP index whose header (the TIFF-style byte-order mark)
// is at `header`, in order of their starts. False when the index runs past
// the block. Offsets count from the MP header (CIPA DC-007 5.2.3); offset 0
// is the primary image itself (5.2.3.3.3).
bool indexedImages(const BoundBlock& block, uint64_t header,
                   IndexedImage (&images)[MaxPictureEntries], uint64_t& count) {
  count = 0;
  uint64_t order = 0;
  if (!block.readUnsigned(header, 2, true, order)) return false;
  // An index in neither byte order is damaged: the primary image still stands.
  if (order != 0x4949 && order != 0x4D4D) return true;
  const bool big = order == 0x4D4D;
  uint64_t magic = 0;
  uint64_t ifdOffset = 0;
  uint64_t tagCount = 0;
  if (!block.readUnsigned(header + 2, 2, big, magic)) return false;
  if (magic != 42) return true;
  if (!block.readUnsigned(header + 4, 4, big, ifdOffset)) return false;
  const uint64_t ifd = header + ifdOffset;
  if (!block.readUnsigned(ifd, 2, big, tagCount)) return false;
  if (tagCount > MaxIndexTags) tagCount = MaxIndexTags;
  for (uint64_t t = 0; t < tagCount; ++t) {
    const uint64_t entry = ifd + 2 + t * IfdEntryLength;
    uint64_t tag = 0, valueCount = 0, valueOffset = 0;
    if (!block.readUnsigned(entry, 2, big, tag) ||
        !block.readUnsigned(entry + 4, 4, big, valueCount) ||
        !block.readUnsigned(entry + 8, 4, big, valueOffset)) {
      return false;
    }
    if (tag != MpEntryTag) continue;
    uint64_t pictures = valueCount / MpEntryLength;
    if (pictures > MaxPictureEntries) pictures = MaxPictureEntries;
    for (uint64_t i = 0; i < pictures; ++i) {
      const uint64_t at = header + valueOffset + i * MpEntryLength;
      uint64_t pictureSize = 0, pictureOffset = 0;
      if (!block.readUnsigned(at + 4, 4, big, pictureSize) ||
          !block.readUnsigned(at + 8, 4, big, pictureOffset)) {
        return false;
      }
      if (pictureOffset == 0 || pictureSize == 0 || count == MaxPictureEntries) continue;
      images[count++] = {header + pictureOffset, pictureSize};
    }
    break;  // one MPEntry tag per index
  }
  std::sort(images, images + count,
            [](const IndexedImage& a, const IndexedImage& b) { return a.start < b.start; });
  return true;
}

// The end of the file extended over the images its MP index lists, each a
// whole JPEG of its own that follows the one before it (directly, or at the
// end the index gives the one before: writers may pad). An entry that leads
// to no whole JPEG there ends the extension: bytes the index merely points
// at may be another file's. `end` is the end of the primary image.
StructureEnd extendOverIndexedImages(const BoundBlock& block, uint64_t header, uint64_t end,
                                     ByteSpans* holds, ByteSpans* entropy) {
  IndexedImage images[MaxPictureEntries];
  uint64_t count = 0;
  if (!indexedImages(block, header, images, count)) return StructureEnd::ranOut(true);
  uint64_t extended = end;
  uint64_t declaredEnd = end;  // where the index says the last image taken in ends
  for (uint64_t i = 0; i < count; ++i) {
    const IndexedImage& image = images[i];
    if (image.start < extended) continue;  // inside what the file already holds
    if (image.start != extended && image.start != declaredEnd) break;
    if (!block.equals(image.start, CandidateSignature, sizeof CandidateSignature)) {
      if (!block.contains(image.start, sizeof CandidateSignature))
        return StructureEnd::ranOut(true);
      break;
    }
    const StructureEnd listed = walk(block, image.start, nullptr, false, nullptr, entropy);
    if (listed.verdict == StructureEnd::Verdict::RanOut) return StructureEnd::ranOut(true);
    if (listed.verdict != StructureEnd::Verdict::Ends || !listed.whole) break;
    if (holds != nullptr) holds->push_back({image.start, listed.end});
    extended = listed.end;
    declaredEnd = image.start + image.size >= listed.end ? image.start + image.size : listed.end;
  }
  return StructureEnd::wholeAt(extended);
}

// Metadata some programs append after the last image, taken in only where
// its own structure proves it (ExifTool's notes on both describe them):
// - AFCP: a 12-byte header "AXS!" (big-endian) or "AXS*" (little-endian),
//   version, entry count, a directory of (tag, size, offset from the file's
//   start) entries, their values, and a 12-byte end record repeating the
//   header's four bytes and giving the header's offset in the file;
// - Photo Mechanic: IPTC records (0x1C ...) padded out, then a footer of
//   the records' 32-bit big-endian length and "cbipcbbl".
// Without such proof inside the block the file ends where its images end:
// what follows may be the next file. (A proof cut by the bound of a window
// would need a photo of nearly the whole scan margin; it is not waited for.)
constexpr uint8_t AfcpBigEndian[4] = {'A', 'X', 'S', '!'};
constexpr uint8_t AfcpLittleEndian[4] = {'A', 'X', 'S', '*'};
constexpr uint64_t AfcpRecordLength = 12;
constexpr uint8_t PhotoMechanicFooter[8] = {'c', 'b', 'i', 'p', 'c', 'b', 'b', 'l'};
constexpr uint8_t IptcTagMarker = 0x1C;

// The end of the AFCP trailer whose header is at `at`, or `at` when it proves nothing.
uint64_t afcpTrailerEnd(const BoundBlock& block, uint64_t fileStart, uint64_t at) {
  const bool big = block.equals(at, AfcpBigEndian, 4);
  uint64_t entries = 0;
  if (!block.readUnsigned(at + 6, 2, big, entries) || entries > MaxTrailerEntries) return at;
  const uint64_t directory = at + AfcpRecordLength;
  if (!block.contains(directory, entries * AfcpRecordLength)) return at;
  uint64_t valuesEnd = directory + entries * AfcpRecordLength;
  for (uint64_t i = 0; i < entries; ++i) {
    uint64_t size = 0, offset = 0;
    block.readUnsigned(directory + i * AfcpRecordLength + 4, 4, big, size);
    block.readUnsigned(directory + i * AfcpRecordLength + 8, 4, big, offset);
    const uint64_t valueStart = fileStart + offset;  // 32-bit fields: no overflow
    if (valueStart < directory || valueStart + size > at + MaxTrailerLength) return at;
    if (valueStart + size > valuesEnd) valuesEnd = valueStart + size;
  }
  // The end record follows the values and points back at the header.
  uint64_t headerOffset = 0;
  if (!block.equals(valuesEnd, block.uncheckedAt(at), 4) ||
      !block.readUnsigned(valuesEnd + 4, 4, big, headerOffset) || fileStart + headerOffset != at ||
      !block.contains(valuesEnd, AfcpRecordLength)) {
    return at;
  }
  return valuesEnd + AfcpRecordLength;
}

// The end of the Photo Mechanic trailer whose records start at `at`, or `at`.
uint64_t photoMechanicTrailerEnd(const BoundBlock& block, uint64_t at) {
  const uint64_t reach =
      block.size() - at > MaxTrailerLength ? at + MaxTrailerLength : block.size();
  // "cbipcbbl" at t, its length field at t - 4, which is where the records end.
  for (uint64_t t = at + 4; t + 8 <= reach; ++t) {
    const void* hit = std::memchr(block.uncheckedAt(t), PhotoMechanicFooter[0], reach - 8 + 1 - t);
    if (hit == nullptr) break;
    t = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - block.uncheckedAt(0));
    uint64_t length = 0;
    if (block.equals(t, PhotoMechanicFooter, 8) && block.readUnsigned(t - 4, 4, true, length) &&
        at + length == t - 4) {
      return t + 8;
    }
  }
  return at;
}

// The end of a whole file whose images end at `end`, a proven trailer included.
uint64_t endWithTrailer(const BoundBlock& block, uint64_t fileStart, uint64_t end) {
  uint8_t first = 0;
  if (!block.readByte(end, first)) return end;
  if (block.equals(end, AfcpBigEndian, 4) || block.equals(end, AfcpLittleEndian, 4)) {
    return afcpTrailerEnd(block, fileStart, end);
  }
  if (first == IptcTagMarker) return photoMechanicTrailerEnd(block, end);
  return end;
}

#if defined(__x86_64__)
// 32 positions at a time: the first t >= from at which an FF is followed by
// a byte other than a stuffed 00 or a restart marker's D0-D7, or a t with
// fewer than 33 bytes left. Loads read up to t + 32.
__attribute__((target("avx2"))) uint64_t skipEntropyBytesWide(const uint8_t* data, uint64_t size,
                                                              uint64_t t) {
  const __m256i ff = _mm256_set1_epi8(static_cast<char>(0xFF));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i restartMask = _mm256_set1_epi8(static_cast<char>(0xF8));
  const __m256i restart = _mm256_set1_epi8(static_cast<char>(0xD0));
  while (size - t >= 33) {
    _mm_prefetch(reinterpret_cast<const char*>(data + t + kSearchPrefetchBytes), _MM_HINT_T0);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 1));
    const __m256i passed = _mm256_or_si256(
        _mm256_cmpeq_epi8(b, zero), _mm256_cmpeq_epi8(_mm256_and_si256(b, restartMask), restart));
    const unsigned bits = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_andnot_si256(passed, _mm256_cmpeq_epi8(a, ff))));
    if (bits != 0) return t + static_cast<uint64_t>(__builtin_ctz(bits));
    t += 32;
  }
  return t;
}

// 32 positions at a time: the first t at which FF D8 FF and a byte of the
// opening markers' ranges (E0-EF, C0-CF, DB, DD, FE; checked exactly later)
// might start, or a t with fewer than 35 bytes left. Loads read up to t + 34.
__attribute__((target("avx2"))) uint64_t skipWithoutCandidateWide(const uint8_t* data,
                                                                  uint64_t size, uint64_t t) {
  const __m256i ff = _mm256_set1_epi8(static_cast<char>(0xFF));
  const __m256i d8 = _mm256_set1_epi8(static_cast<char>(0xD8));
  const __m256i high = _mm256_set1_epi8(static_cast<char>(0xF0));
  const __m256i e0 = _mm256_set1_epi8(static_cast<char>(0xE0));
  const __m256i c0 = _mm256_set1_epi8(static_cast<char>(0xC0));
  const __m256i db = _mm256_set1_epi8(static_cast<char>(0xDB));
  const __m256i dd = _mm256_set1_epi8(static_cast<char>(0xDD));
  const __m256i fe = _mm256_set1_epi8(static_cast<char>(0xFE));
  while (size - t >= 35) {
    const __m256i* at = reinterpret_cast<const __m256i*>(data + t);
    const __m256i marker = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 3));
    const __m256i nibble = _mm256_and_si256(marker, high);
    const __m256i opens = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(nibble, e0), _mm256_cmpeq_epi8(nibble, c0)),
        _mm256_or_si256(
            _mm256_cmpeq_epi8(marker, db),
            _mm256_or_si256(_mm256_cmpeq_epi8(marker, dd), _mm256_cmpeq_epi8(marker, fe))));
    const __m256i b0 = _mm256_loadu_si256(at);
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 1));
    const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 2));
    const __m256i soi =
        _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(b0, ff), _mm256_cmpeq_epi8(b1, d8)),
                         _mm256_cmpeq_epi8(b2, ff));
    if (!_mm256_testz_si256(soi, opens)) return t;
    t += 32;
  }
  return t;
}

#endif

bool candidateAt(const uint8_t* data, uint64_t size, uint64_t t) {
  if (data[t] != 0xFF || data[t + 1] != 0xD8 || data[t + 2] != 0xFF) return false;
  return t + 3 >= size || opensFile(data[t + 3]);
}

}  // namespace

uint64_t nextCandidate(const BoundBlock& block, uint64_t from) {
  const uint64_t size = block.size();
  if (size < 3 || from > size - 3) return size;
  const uint8_t* data = block.uncheckedAt(0);
  uint64_t t = from;
#if defined(__x86_64__)
  if (haveWideVectors()) {
    while (size - t >= 35) {
      t = skipWithoutCandidateWide(data, size, t);
      if (size - t < 35) break;
      const uint64_t stop = t + 32;
      for (; t < stop; ++t) {
        if (candidateAt(data, size, t)) return t;
      }
    }
  }
#endif
  // Elsewhere memchr on D8, the signature's rarest byte in camera data.
  for (uint64_t q = t + 1; q + 2 <= size;) {
    const void* hit = std::memchr(data + q, 0xD8, size - 1 - q);
    if (hit == nullptr) break;
    q = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - data);
    if (q >= t + 1 && candidateAt(data, size, q - 1)) return q - 1;
    ++q;
  }
  return size;
}

namespace {

// A whole photo's header holds its thumbnails whole inside its segments. A
// JPEG that opens in the header (from SOI to the first scan at `firstScan`)
// but runs past the segment holding it means the header's lengths were stray
// bytes that ran on into another photo's segments: the file is whole, as its
// walk says, but what it seems to hold are files of their own.
bool partsStayInside(const BoundBlock& block, uint64_t start, uint64_t firstScan,
                     const ByteSpans& holds, size_t from) {
  // The candidate search stops at the header's end: past it lies the
  // entropy-coded data, where no SOI stands, and beyond that the next photo.
  const BoundBlock header(block.uncheckedAt(0), std::min(block.size(), firstScan + 4));
  for (uint64_t c = start + 2; c < firstScan; ++c) {
    c = nextCandidate(header, c);
    if (c >= firstScan) break;
    const StructureEnd inner = walk(block, c, nullptr, false, nullptr);
    if (inner.verdict == StructureEnd::Verdict::NotAFile) continue;
    if (inner.verdict == StructureEnd::Verdict::RanOut) return false;
    uint64_t limit = firstScan;  // outside an APPn: the header's end
    for (size_t i = from; i < holds.size(); ++i) {
      if (holds[i].begin <= c && c < holds[i].end) limit = holds[i].end;
    }
    if (inner.end > limit) return false;
  }
  return true;
}

}  // namespace

StructureEnd structureEnd(const BoundBlock& block, uint64_t start, ByteSpans* holds,
                          ByteSpans* entropy) {
  const size_t holdsBefore = holds != nullptr ? holds->size() : 0;
  uint64_t firstScan = 0;
  const StructureEnd end = walk(block, start, holds, true, &firstScan, entropy);
  // Only a file that proves itself holds other files.
  if (holds != nullptr && !(end.verdict == StructureEnd::Verdict::Ends && end.whole &&
                            partsStayInside(block, start, firstScan, *holds, holdsBefore))) {
    holds->resize(holdsBefore);
  }
  return end;
}

namespace {

StructureEnd walk(const BoundBlock& block, uint64_t start, ByteSpans* holds, bool followIndex,
                  uint64_t* firstScan, ByteSpans* entropy) {
  // Before a whole frame header nothing proves a photo yet: running out there
  // means "no file" at the true end of the image. After it, the photo's
  // header (its EXIF, a thumbnail) is worth listing even when cut.
  bool frameWhole = false;
  auto unproven = [&frameWhole] { return StructureEnd::ranOut(frameWhole); };
  uint8_t first = 0;
  if (!block.readByte(start + 3, first)) return unproven();
  // A stray FF D8 FF in old data is no photo unless a marker segment follows SOI.
  if (!opensFile(first)) return StructureEnd::notAFile();
  bool ranOut = false;
  if (!openingSegmentFits(block, start + 3, first, ranOut)) {
    return ranOut ? unproven() : StructureEnd::notAFile();
  }

  uint64_t p = start + 2;  // at the FF of the next marker
  bool frameSeen = false;
  uint64_t mpfHeader = 0;  // 0: no MP index seen
  for (int segments = 0;; ++segments) {
    if (segments >= MaxSegmentsBeforeScan) return StructureEnd::notAFile();
    uint8_t byte = 0;
    if (!block.readByte(p, byte)) return unproven();
    if (byte != 0xFF) return StructureEnd::notAFile();  // segment lengths that lead nowhere
    uint64_t q = p + 1;
    uint8_t marker = 0;
    for (;; ++q) {  // fill bytes before a marker (T.81 B.1.1.2)
      if (!block.readByte(q, marker)) return unproven();
      if (marker != 0xFF) break;
    }
    // No frame header before the first scan, or a marker that cannot head a
    // segment here: not a JPEG file.
    if (marker == 0xDA && !frameSeen) return StructureEnd::notAFile();
    if (marker != 0xDA && !standsBeforeScan(marker)) return StructureEnd::notAFile();
    uint64_t length = 0;
    if (!block.readUnsigned(q + 1, 2, true, length)) return unproven();
    if (length < 2) return StructureEnd::notAFile();  // the length counts its own two bytes
    if (isFrameMarker(marker)) {
      frameSeen = true;
      frameWhole = block.contains(q + 1, length);
    }
    if (isApplicationMarker(marker) && holds != nullptr) holds->push_back({q + 3, q + 1 + length});
    if (marker == 0xE2 && mpfHeader == 0 && block.equals(q + 3, MpfIdentifier, 4) && length >= 6) {
      mpfHeader = q + 3 + 4;
    }
    p = q + 1 + length;
    if (marker == 0xDA) {
      if (firstScan != nullptr) *firstScan = q - 1;
      break;
    }
  }

  // Entropy-coded data and what may follow it, up to EOI. The frame and
  // scan headers prove a photo: cut from here on, it is a cut photo.
  const StructureEnd cut = StructureEnd::ranOut(true);
  uint64_t end = 0;
  // Every FF in entropy-coded data is followed by 00, a restart marker or
  // another FF: no FF D8 starts there, so no other JPEG does.
  uint64_t entropyBegin = p;
  auto entropyUpTo = [&](uint64_t marker) {
    if (entropy != nullptr && marker > entropyBegin) entropy->push_back({entropyBegin, marker});
  };
#if defined(__x86_64__)
  const bool wide = haveWideVectors();
#endif
  for (;;) {
    if (p >= block.size()) return cut;
#if defined(__x86_64__)
    // Compressed data holds an FF 00 every few hundred bytes: passing over
    // those pairs 32 bytes at a time spares a memchr call for each.
    if (wide) p = skipEntropyBytesWide(block.uncheckedAt(0), block.size(), p);
#endif
    const void* hit = std::memchr(block.uncheckedAt(p), 0xFF, block.size() - p);
    if (hit == nullptr) return cut;
    const uint64_t q =
        static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - block.uncheckedAt(0));
    uint8_t marker = 0;
    if (!block.readByte(q + 1, marker)) return cut;
    if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7)) {  // stuffed byte, restart marker
      p = q + 2;
      continue;
    }
    if (marker == 0xFF) {  // a fill byte; the next FF may start the marker
      p = q + 1;
      continue;
    }
    if (marker == 0xD9) {
      entropyUpTo(q);
      end = q + 2;
      break;
    }
    uint64_t length = 0;
    // A marker that cannot stand in or between scans (a new SOI, an undefined
    // marker) means the card holds other bytes from here: the file ends before it.
    if (!standsBetweenScans(marker)) return StructureEnd::damagedAt(q);
    if (!block.readUnsigned(q + 2, 2, true, length)) return cut;
    // A segment too short to hold its own length field is damage of the same kind.
    if (length < 2) return StructureEnd::damagedAt(q);
    if (isApplicationMarker(marker) && holds != nullptr) holds->push_back({q + 4, q + 2 + length});
    entropyUpTo(q);
    p = q + 2 + length;
    entropyBegin = p;
  }
  if (followIndex && mpfHeader != 0) {
    const StructureEnd images = extendOverIndexedImages(block, mpfHeader, end, holds, entropy);
    if (images.verdict != StructureEnd::Verdict::Ends) return images;
    end = images.end;
  }
  return StructureEnd::wholeAt(followIndex ? endWithTrailer(block, start, end) : end);
}

}  // namespace

}  // namespace kestrix::jpeg
