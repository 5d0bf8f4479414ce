// A plain model of the precise scan, the oracle of the precise differential
// test. It follows the structure rules literally, a byte at a time: no
// memchr, no cached searches, no BoundBlock, no code shared with engine/.
// Every index is checked against the size before it is read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrix::reference {

struct PreciseAnswer {
  uint64_t result = 0;
  uint64_t size = 0;
};

class PreciseReference {
 public:
  enum Kind { Jpeg, Png, Mov, Mp4 };

  PreciseReference(const uint8_t* data, uint64_t size) : d_(data), n_(size) {}

  // FindNext of the precise modes from p for one kind. `parts` false is mode
  // 261: a JPEG inside an APPn payload or further MPF image of a whole JPEG
  // found before is passed over.
  PreciseAnswer findNext(Kind kind, uint64_t p, bool parts = true) {
    if (kind == Mov || kind == Mp4) {
      if (movieKnown_ && p > movieStart_ && p < movieEnd_) p = movieEnd_;
    }
    if (kind == Jpeg) {
      if (p == 0 || p < lastJpegSearch_) found_.clear();
      lastJpegSearch_ = p;
    }
    for (uint64_t c = p; c < n_; ++c) {
      Walk w;
      if (kind == Jpeg) {
        if (!has(c, {0xFF, 0xD8, 0xFF})) continue;
        w = jpeg(c, true);
        if (w.state == Not) continue;
        if (!parts) {
          const uint64_t end = w.state == Ends ? w.end : n_;
          while (!found_.empty() && found_.back().end <= c) found_.pop_back();
          bool part = false;
          for (const Found& f : found_) {
            for (const Span& span : f.spans) part = part || (c >= span.begin && end <= span.end);
          }
          if (part) continue;
          if (w.state == Ends && w.whole && !w.spans.empty()) {
            if (found_.size() == 8) found_.erase(found_.begin());
            found_.push_back({end, w.spans});
          }
        }
      } else if (kind == Png) {
        if (!has(c, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) continue;
        w = png(c);
      } else {
        if (!(has(c + 4, {'f', 't', 'y', 'p'}) || has(c + 4, {'m', 'o', 'o', 'v'}) ||
              has(c + 4, {'m', 'd', 'a', 't'}) || has(c + 4, {'w', 'i', 'd', 'e'}) ||
              has(c + 4, {'p', 'n', 'o', 't'}))) {
          continue;
        }
        w = movie(c);
        if (w.state == Not) continue;
        if (w.state == Ends || w.proven) {  // only a proven movie owns its atoms
          movieKnown_ = true;
          movieStart_ = c;
          movieEnd_ = w.state == Ends ? w.end : w.resume;
        }
        const bool wanted = !w.brandKnown || w.quickTime == (kind == Mov);
        if (!wanted) {
          if (w.state == RanOut) return {c, 0};  // search again from c with more bytes
          c = w.end - 1;                         // the loop's ++c continues at the movie's end
          continue;
        }
      }
      if (w.state == Not) continue;
      const uint64_t end = w.state == Ends ? w.end : n_;
      return {end, end - c};
    }
    return {n_, 0};
  }

 private:
  enum State { Not, Ends, RanOut };
  struct Span {
    uint64_t begin, end;
  };
  struct Walk {
    Walk() = default;
    Walk(State s, uint64_t e = 0) : state(s), end(e) {}
    State state = Not;
    uint64_t end = 0;
    bool whole = true;  // Ends: closed (EOI, IEND, moov and mdat) or cut by damage
    bool quickTime = true;
    bool brandKnown = true;
    bool proven = false;      // RanOut of a movie: its moov or mdat was walked
    uint64_t resume = 0;      // RanOut, proven: the data of the atom that ran out
    std::vector<Span> spans;  // a whole JPEG's APPn payloads and further images
  };
  static Walk damaged(uint64_t at) {
    Walk w{Ends, at};
    w.whole = false;
    return w;
  }
  struct Found {
    uint64_t end;
    std::vector<Span> spans;
  };

  bool has(uint64_t at, std::initializer_list<uint8_t> bytes) const {
    if (at > n_ || bytes.size() > n_ - at) return false;
    uint64_t i = at;
    for (uint8_t b : bytes) {
      if (d_[i++] != b) return false;
    }
    return true;
  }
  // Value of `len` bytes at `at`; false when any of them is missing.
  bool get(uint64_t at, int len, bool big, uint64_t& v) const {
    v = 0;
    for (int i = 0; i < len; ++i) {
      const uint64_t k = big ? at + i : at + len - 1 - i;
      if (k >= n_) return false;
      v = (v << 8) | d_[k];
    }
    return true;
  }

  static bool frame(uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
  }
  static bool app(uint8_t m) { return m >= 0xE0 && m <= 0xEF; }

  Walk jpeg(uint64_t s, bool follow) const {
    std::vector<Span> spans;
    uint64_t m3 = 0;
    if (!get(s + 3, 1, true, m3)) return {RanOut};
    const uint8_t first = static_cast<uint8_t>(m3);
    if (!(app(first) || first == 0xDB || first == 0xC4 || frame(first) || first == 0xDD ||
          first == 0xFE)) {
      return {Not};
    }
    {
      uint64_t len = 0, b0 = 0;
      if (!get(s + 4, 2, true, len) || !get(s + 6, 1, true, b0)) return {RanOut};
      bool fits = true;
      if (app(first)) fits = len >= 3 && ((b0 >= 'A' && b0 <= 'Z') || (b0 >= 'a' && b0 <= 'z'));
      if (first == 0xDB) fits = len >= 67 && b0 / 16 <= 1 && b0 % 16 <= 3;
      if (first == 0xC4) fits = len >= 19 && b0 / 16 <= 1 && b0 % 16 <= 3;
      if (first == 0xDD) fits = len == 4;
      if (frame(first)) {
        uint64_t nf = 0;
        if (!get(s + 11, 1, true, nf)) return {RanOut};
        fits = nf >= 1 && len == 8 + 3 * nf;
      }
      if (!fits) return {Not};
    }
    uint64_t p = s + 2;
    bool sawFrame = false;
    uint64_t mpf = 0;
    uint64_t firstScan = 0;
    for (int segment = 0;; ++segment) {
      if (segment >= 512) return {Not};
      uint64_t b = 0;
      if (!get(p, 1, true, b)) return {RanOut};
      if (b != 0xFF) return {Not};
      uint64_t q = p + 1;
      uint64_t m = 0;
      while (true) {
        if (!get(q, 1, true, m)) return {RanOut};
        if (m != 0xFF) break;
        ++q;
      }
      const bool before = (m >= 0xC0 && m <= 0xCF && m != 0xC8) || (m >= 0xDB && m <= 0xDF) ||
                          app(static_cast<uint8_t>(m)) || m == 0xFE;
      if (m == 0xDA && !sawFrame) return {Not};
      if (m != 0xDA && !before) return {Not};
      uint64_t len = 0;
      if (!get(q + 1, 2, true, len)) return {RanOut};
      if (len < 2) return {Not};
      if (frame(static_cast<uint8_t>(m))) sawFrame = true;
      if (app(static_cast<uint8_t>(m))) spans.push_back({q + 3, q + 1 + len});
      if (m == 0xE2 && mpf == 0 && len >= 6 && has(q + 3, {'M', 'P', 'F', 0})) mpf = q + 7;
      p = q + 1 + len;
      if (m == 0xDA) {
        firstScan = q - 1;
        break;
      }
    }
    uint64_t end = 0;
    while (true) {
      uint64_t q = p;
      while (q < n_ && d_[q] != 0xFF) ++q;
      if (q >= n_) return {RanOut};
      uint64_t m = 0;
      if (!get(q + 1, 1, true, m)) return {RanOut};
      if (m == 0 || (m >= 0xD0 && m <= 0xD7)) {
        p = q + 2;
      } else if (m == 0xFF) {
        p = q + 1;
      } else if (m == 0xD9) {
        end = q + 2;
        break;
      } else {
        const bool between = m == 0xDA || m == 0xC4 || m == 0xCC || m == 0xDB || m == 0xDC ||
                             m == 0xDD || app(static_cast<uint8_t>(m)) || m == 0xFE;
        if (!between) return damaged(q);
        uint64_t len = 0;
        if (!get(q + 2, 2, true, len)) return {RanOut};
        if (len < 2) return damaged(q);
        if (app(static_cast<uint8_t>(m))) spans.push_back({q + 4, q + 2 + len});
        p = q + 2 + len;
      }
    }
    if (follow && mpf != 0) {
      // The MP index: byte order, 42, IFD offset, tags; the first MPEntry
      // 0xB002 lists 16-byte entries (attribute, size, offset from the MP
      // header, two links). Its images, by start, each a whole JPEG that
      // follows the one before (directly or at its listed end).
      std::vector<Span> images;  // start, listed size
      uint64_t order = 0, magic = 0, ifd = 0, count = 0;
      if (!get(mpf, 2, true, order)) return {RanOut};
      const bool big = order == 0x4D4D;
      bool readable = order == 0x4949 || order == 0x4D4D;
      if (readable && !get(mpf + 2, 2, big, magic)) return {RanOut};
      readable = readable && magic == 42;
      if (readable && !get(mpf + 4, 4, big, ifd)) return {RanOut};
      if (readable && !get(mpf + ifd, 2, big, count)) return {RanOut};
      for (uint64_t t = 0; readable && t < count && t < 64; ++t) {
        const uint64_t e = mpf + ifd + 2 + 12 * t;
        uint64_t tag = 0, n = 0, off = 0;
        if (!get(e, 2, big, tag) || !get(e + 4, 4, big, n) || !get(e + 8, 4, big, off))
          return {RanOut};
        if (tag != 0xB002) continue;
        for (uint64_t i = 0; i < n / 16 && i < 64; ++i) {
          uint64_t size = 0, offset = 0;
          if (!get(mpf + off + 16 * i + 4, 4, big, size) ||
              !get(mpf + off + 16 * i + 8, 4, big, offset)) {
            return {RanOut};
          }
          if (offset != 0 && size != 0 && images.size() < 64)
            images.push_back({mpf + offset, size});
        }
        break;
      }
      std::sort(images.begin(), images.end(), [](const Span& a, const Span& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
      });
      uint64_t extended = end, declared = end;
      for (const Span& image : images) {
        if (image.begin < extended) continue;
        if (image.begin != extended && image.begin != declared) break;
        if (!has(image.begin, {0xFF, 0xD8, 0xFF})) {
          if (image.begin + 3 > n_) return {RanOut};
          break;
        }
        const Walk listed = jpeg(image.begin, false);
        if (listed.state == RanOut) return {RanOut};
        if (listed.state != Ends || !listed.whole) break;
        spans.push_back({image.begin, listed.end});
        extended = listed.end;
        declared = std::max(image.begin + image.end, listed.end);
      }
      end = extended;
    }
    if (follow) end = trailerEnd(s, end);
    // A JPEG opening in the header that runs past its segment: the header's
    // lengths ran into another photo, and this file holds nothing.
    for (uint64_t c = s + 2; follow && c < firstScan; ++c) {
      if (!has(c, {0xFF, 0xD8, 0xFF})) continue;
      const Walk inner = jpeg(c, false);
      if (inner.state == Not) continue;
      uint64_t limit = firstScan;
      for (const Span& span : spans) {
        if (span.begin <= c && c < span.end) limit = span.end;
      }
      if (inner.state == RanOut || inner.end > limit) {
        spans.clear();
        break;
      }
    }
    Walk w{Ends, end};
    w.spans = spans;
    return w;
  }

  // A metadata trailer after the last image, only where it proves itself:
  // AFCP (header, directory, values, an end record pointing back at the
  // header) or Photo Mechanic (IPTC records, their length and "cbipcbbl").
  uint64_t trailerEnd(uint64_t s, uint64_t at) const {
    const uint64_t limit = uint64_t{1} << 20;
    if (has(at, {'A', 'X', 'S', '!'}) || has(at, {'A', 'X', 'S', '*'})) {
      const bool big = d_[at + 3] == '!';
      uint64_t entries = 0;
      if (!get(at + 6, 2, big, entries) || entries > 64) return at;
      const uint64_t directory = at + 12;
      if (directory + 12 * entries > n_) return at;
      uint64_t values = directory + 12 * entries;
      for (uint64_t i = 0; i < entries; ++i) {
        uint64_t size = 0, offset = 0;
        get(directory + 12 * i + 4, 4, big, size);
        get(directory + 12 * i + 8, 4, big, offset);
        if (s + offset < directory || s + offset + size > at + limit) return at;
        values = std::max(values, s + offset + size);
      }
      uint64_t back = 0;
      if (values + 12 > n_ || std::memcmp(d_ + values, d_ + at, 4) != 0) return at;
      get(values + 4, 4, big, back);
      return s + back == at ? values + 12 : at;
    }
    if (at < n_ && d_[at] == 0x1C) {
      const uint64_t reach = std::min(n_, at + limit);
      for (uint64_t t = at + 4; t + 8 <= reach; ++t) {
        uint64_t length = 0;
        if (has(t, {'c', 'b', 'i', 'p', 'c', 'b', 'b', 'l'}) && get(t - 4, 4, true, length) &&
            at + length == t - 4) {
          return t + 8;
        }
      }
    }
    return at;
  }

  static uint32_t crc(const uint8_t* p, uint64_t n) {  // bit by bit, ISO/IEC 15948 annex D
    uint32_t c = 0xFFFFFFFFu;
    for (uint64_t i = 0; i < n; ++i) {
      c ^= p[i];
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
  }

  Walk png(uint64_t s) const {
    uint64_t p = s + 8;
    for (bool first = true;; first = false) {
      uint64_t len = 0, type = 0;
      if (!get(p, 4, true, len) || !get(p + 4, 4, true, type)) return {RanOut};
      bool letters = true;
      for (int i = 0; i < 4; ++i) {
        const uint8_t c = d_[p + 4 + i];
        letters = letters && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
      }
      if (first && (len != 13 || !has(p + 4, {'I', 'H', 'D', 'R'}))) return {Not};
      if (len > 0x7FFFFFFF || !letters) return damaged(p);
      if (p + 12 + len > n_) return {RanOut};
      uint64_t stored = 0;
      get(p + 8 + len, 4, true, stored);
      if (crc(d_ + p + 4, 4 + len) != stored) return first ? Walk{Not} : damaged(p);
      const bool end = has(p + 4, {'I', 'E', 'N', 'D'});
      p += 12 + len;
      if (end) return {Ends, p};
    }
  }

  static uint32_t t(const char* s) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint8_t(s[3]);
  }

  // An atom header at p: its type, header length and whole size (0: to the
  // end). 0 when it runs past the data, -1 when its size is below its header.
  int atomAt(uint64_t p, uint32_t& type, uint64_t& header, uint64_t& size) const {
    uint64_t tv = 0;
    if (!get(p, 4, true, size) || !get(p + 4, 4, true, tv)) return 0;
    type = static_cast<uint32_t>(tv);
    header = 8;
    if (size == 1) {
      // A 64-bit size is the atom's length; 0 there means nothing (only the
      // 32-bit field says "to the end"), so it is as damaged as one below 16.
      if (!get(p + 8, 8, true, size)) return 0;
      header = 16;
      return size < header ? -1 : 1;
    }
    return size != 0 && size < header ? -1 : 1;
  }

  // A moov whose children up to its movie header (mvhd, at least 108 bytes,
  // among the first 16) lie inside it.
  bool movieHeaderIn(uint64_t p, uint64_t header, uint64_t size) const {
    const uint64_t end = p + size;
    uint64_t q = p + header;
    for (int children = 0; children < 16 && q < end; ++children) {
      uint32_t type = 0;
      uint64_t h = 0, child = 0;
      if (atomAt(q, type, h, child) != 1) return false;
      if (child == 0) child = end - q;
      if (child > end - q) return false;
      if (type == t("mvhd")) return child >= 108;
      q += child;
    }
    return false;
  }

  Walk movie(uint64_t s) const {
    Walk w;
    bool moov = false, mdat = false, wide = false, pnot = false, ftyp = false, previewOnly = true;
    uint32_t previous = 0;
    uint64_t p = s;
    // `resume`: the data of the atom that ran out, or the block end.
    auto ranOut = [&](uint64_t resume) {
      w.state = RanOut;
      w.proven = moov || mdat;
      w.resume = (moov && mdat) ? n_ : resume;
      if (previewOnly) w.brandKnown = false;
      return w;
    };
    for (int atoms = 0;; ++atoms) {
      uint32_t type = 0;
      uint64_t header = 0, size = 0;
      const int read = atomAt(p, type, header, size);
      if (read == 0) return ranOut(n_);
      const bool fileType = read == 1 && type == t("ftyp") && header == 8 && size >= 16 &&
                            size <= 4096 && size % 4 == 0;
      const bool wideShape = read == 1 && size != 0 && size == header;
      const bool pnotShape = read == 1 && header == 8 && size == 20;
      if (p == s) {
        if (read != 1) return {Not};
        if (type == t("ftyp")) {
          if (!fileType) return {Not};
          uint64_t brand = 0;
          if (!get(p + 8, 4, true, brand)) {
            w.state = RanOut;
            w.brandKnown = false;
            return w;
          }
          w.quickTime = brand == t("qt  ");
          ftyp = true;
        } else if (type == t("wide")) {
          if (!wideShape) return {Not};
        } else if (type == t("pnot")) {
          if (!pnotShape) return {Not};
        } else if (type != t("moov") && type != t("mdat")) {
          return {Not};
        }
      } else {
        if (read != 1) break;
        const bool afterPreview = type == t("ftyp") && previewOnly && !ftyp && fileType;
        bool known = false;
        for (const char* name : {"moov", "mdat", "free", "skip", "wide", "uuid", "pnot", "PICT",
                                 "udta", "meta", "pdin", "moof", "mfra", "sidx"}) {
          known = known || type == t(name);
        }
        const bool complete = moov && mdat;
        if (type == t("ftyp") && !afterPreview) break;
        if (!known && !afterPreview) break;
        if (type == t("wide") && !wideShape) break;
        if (type == t("pnot") && !pnotShape) break;
        if (!complete && type == t("moov") && moov) break;
        if (!complete && type == t("mdat") && mdat) break;
        if (!complete && type == t("wide") && wide) break;
        if (!complete && type == t("pnot") && pnot) break;
        if (complete && (type == t("moov") || type == t("wide") || type == t("pnot"))) break;
        if (complete && type == t("mdat") && previous != t("moof")) break;
        if (afterPreview) {
          uint64_t brand = 0;
          if (!get(p + 8, 4, true, brand)) return ranOut(n_);
          w.quickTime = brand == t("qt  ");
          ftyp = true;
        }
      }
      if (type != t("pnot") && type != t("PICT")) previewOnly = false;
      if (size == 0 || size > n_ - p) return ranOut(p + header);
      if (type == t("moov")) {
        if (!movieHeaderIn(p, header, size)) {
          if (p == s) return {Not};
          break;
        }
        moov = true;
      }
      if (type == t("mdat")) mdat = true;
      if (type == t("wide")) wide = true;
      if (type == t("pnot")) pnot = true;
      if (!(moov && mdat) && atoms + 1 >= 32) return {Not};
      previous = type;
      p += size;
    }
    if (!(moov && mdat) || p == s) return {Not};
    w.state = Ends;
    w.end = p;
    return w;
  }

  const uint8_t* d_;
  uint64_t n_;
  std::vector<Found> found_;  // whole JPEGs found with their spans, innermost last
  uint64_t lastJpegSearch_ = 0;
  bool movieKnown_ = false;
  uint64_t movieStart_ = 0;
  uint64_t movieEnd_ = 0;
};

}  // namespace kestrix::reference
