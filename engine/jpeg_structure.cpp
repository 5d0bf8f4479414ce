#include "engine/jpeg_structure.h"

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

// The end of the file extended over the images of the MP index whose header
// (the TIFF-style byte-order mark) is at `header`; `end` is the end of the
// primary image. Offsets count from the MP header (CIPA DC-007 5.2.3).
StructureEnd extendOverIndexedImages(const BoundBlock& block, uint64_t header, uint64_t end) {
  uint64_t order = 0;
  if (!block.readUnsigned(header, 2, true, order)) return StructureEnd::ranOut();
  // An index in neither byte order is damaged: the primary image still stands.
  if (order != 0x4949 && order != 0x4D4D) return StructureEnd::endsAt(end);
  const bool big = order == 0x4D4D;
  uint64_t magic = 0;
  uint64_t ifdOffset = 0;
  uint64_t tagCount = 0;
  if (!block.readUnsigned(header + 2, 2, big, magic)) return StructureEnd::ranOut();
  if (magic != 42) return StructureEnd::endsAt(end);
  if (!block.readUnsigned(header + 4, 4, big, ifdOffset)) return StructureEnd::ranOut();
  const uint64_t ifd = header + ifdOffset;
  if (!block.readUnsigned(ifd, 2, big, tagCount)) return StructureEnd::ranOut();
  if (tagCount > MaxIndexTags) tagCount = MaxIndexTags;
  uint64_t extended = end;
  for (uint64_t t = 0; t < tagCount; ++t) {
    const uint64_t entry = ifd + 2 + t * IfdEntryLength;
    uint64_t tag = 0, count = 0, valueOffset = 0;
    if (!block.readUnsigned(entry, 2, big, tag) || !block.readUnsigned(entry + 4, 4, big, count) ||
        !block.readUnsigned(entry + 8, 4, big, valueOffset)) {
      return StructureEnd::ranOut();
    }
    if (tag != MpEntryTag) continue;
    uint64_t pictures = count / MpEntryLength;
    if (pictures > MaxPictureEntries) pictures = MaxPictureEntries;
    for (uint64_t i = 0; i < pictures; ++i) {
      const uint64_t at = header + valueOffset + i * MpEntryLength;
      uint64_t pictureSize = 0, pictureOffset = 0;
      if (!block.readUnsigned(at + 4, 4, big, pictureSize) ||
          !block.readUnsigned(at + 8, 4, big, pictureOffset)) {
        return StructureEnd::ranOut();
      }
      // Offset 0 is the primary image itself (CIPA DC-007 5.2.3.3.3).
      if (pictureOffset == 0 || pictureSize == 0) continue;
      const uint64_t pictureStart = header + pictureOffset;
      uint64_t soi = 0;
      if (!block.readUnsigned(pictureStart, 2, true, soi)) return StructureEnd::ranOut();
      // An entry that does not lead to an SOI points at no image of this file.
      if (soi != 0xFFD8) continue;
      if (!block.contains(pictureStart, pictureSize)) return StructureEnd::ranOut();
      if (pictureStart + pictureSize > extended) extended = pictureStart + pictureSize;
    }
  }
  return StructureEnd::endsAt(extended);
}

#if defined(__x86_64__)
// 32 positions at a time: the first t at which FF D8 FF and a byte of the
// opening markers' ranges (E0-EF, C0-CF, DB, DD, FE; checked exactly later)
// might start, or a t with fewer than 35 bytes left. Loads read up to t + 34.
__attribute__((target("avx2"))) uint64_t skipWithoutCandidateWide(const uint8_t* data, uint64_t size,
                                                                   uint64_t t) {
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
        _mm256_or_si256(_mm256_cmpeq_epi8(marker, db),
                        _mm256_or_si256(_mm256_cmpeq_epi8(marker, dd), _mm256_cmpeq_epi8(marker, fe))));
    const __m256i b0 = _mm256_loadu_si256(at);
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 1));
    const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + t + 2));
    const __m256i soi = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpeq_epi8(b0, ff), _mm256_cmpeq_epi8(b1, d8)), _mm256_cmpeq_epi8(b2, ff));
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

StructureEnd structureEnd(const BoundBlock& block, uint64_t start) {
  uint8_t first = 0;
  if (!block.readByte(start + 3, first)) return StructureEnd::ranOut();
  // A stray FF D8 FF in old data is no photo unless a marker segment follows SOI.
  if (!opensFile(first)) return StructureEnd::notAFile();
  bool ranOut = false;
  if (!openingSegmentFits(block, start + 3, first, ranOut)) {
    return ranOut ? StructureEnd::ranOut() : StructureEnd::notAFile();
  }

  uint64_t p = start + 2;  // at the FF of the next marker
  bool frameSeen = false;
  uint64_t mpfHeader = 0;  // 0: no MP index seen
  for (int segments = 0;; ++segments) {
    if (segments >= MaxSegmentsBeforeScan) return StructureEnd::notAFile();
    uint8_t byte = 0;
    if (!block.readByte(p, byte)) return StructureEnd::ranOut();
    if (byte != 0xFF) return StructureEnd::notAFile();  // segment lengths that lead nowhere
    uint64_t q = p + 1;
    uint8_t marker = 0;
    for (;; ++q) {  // fill bytes before a marker (T.81 B.1.1.2)
      if (!block.readByte(q, marker)) return StructureEnd::ranOut();
      if (marker != 0xFF) break;
    }
    // No frame header before the first scan, or a marker that cannot head a
    // segment here: not a JPEG file.
    if (marker == 0xDA && !frameSeen) return StructureEnd::notAFile();
    if (marker != 0xDA && !standsBeforeScan(marker)) return StructureEnd::notAFile();
    uint64_t length = 0;
    if (!block.readUnsigned(q + 1, 2, true, length)) return StructureEnd::ranOut();
    if (length < 2) return StructureEnd::notAFile();  // the length counts its own two bytes
    if (isFrameMarker(marker)) frameSeen = true;
    if (marker == 0xE2 && mpfHeader == 0 && block.equals(q + 3, MpfIdentifier, 4) && length >= 6) {
      mpfHeader = q + 3 + 4;
    }
    p = q + 1 + length;
    if (marker == 0xDA) break;
  }

  // Entropy-coded data and what may follow it, up to EOI.
  uint64_t end = 0;
  for (;;) {
    if (p >= block.size()) return StructureEnd::ranOut();
    const void* hit = std::memchr(block.uncheckedAt(p), 0xFF, block.size() - p);
    if (hit == nullptr) return StructureEnd::ranOut();
    const uint64_t q = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - block.uncheckedAt(0));
    uint8_t marker = 0;
    if (!block.readByte(q + 1, marker)) return StructureEnd::ranOut();
    if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7)) {  // stuffed byte, restart marker
      p = q + 2;
      continue;
    }
    if (marker == 0xFF) {  // a fill byte; the next FF may start the marker
      p = q + 1;
      continue;
    }
    if (marker == 0xD9) {
      end = q + 2;
      break;
    }
    uint64_t length = 0;
    // A marker that cannot stand in or between scans (a new SOI, an undefined
    // marker) means the card holds other bytes from here: the file ends before it.
    if (!standsBetweenScans(marker)) return StructureEnd::endsAt(q);
    if (!block.readUnsigned(q + 2, 2, true, length)) return StructureEnd::ranOut();
    // A segment too short to hold its own length field is damage of the same kind.
    if (length < 2) return StructureEnd::endsAt(q);
    p = q + 2 + length;
  }
  if (mpfHeader == 0) return StructureEnd::endsAt(end);
  return extendOverIndexedImages(block, mpfHeader, end);
}

}  // namespace kestrix::jpeg
