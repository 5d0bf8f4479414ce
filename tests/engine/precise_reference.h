// A plain model of the precise scan, the oracle of the precise differential
// test. It follows the structure rules literally, a byte at a time: no
// memchr, no cached searches, no BoundBlock, no code shared with engine/.
// Every index is checked against the size before it is read.
#pragma once

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

  // FindNext of the precise modes from p for one kind.
  PreciseAnswer findNext(Kind kind, uint64_t p) {
    if (kind == Mov || kind == Mp4) {
      if (movieKnown_ && p > movieStart_ && p < movieEnd_) p = movieEnd_;
    }
    for (uint64_t c = p; c < n_; ++c) {
      Walk w;
      if (kind == Jpeg) {
        if (!has(c, {0xFF, 0xD8, 0xFF})) continue;
        w = jpeg(c);
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
        movieKnown_ = true;
        movieStart_ = c;
        movieEnd_ = w.state == Ends ? w.end : n_;
        const bool wanted = !w.brandKnown || w.quickTime == (kind == Mov);
        if (!wanted) {
          if (w.state == RanOut) return {n_, 0};
          c = w.end - 1;  // the loop's ++c continues at the movie's end
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
  struct Walk {
    State state = Not;
    uint64_t end = 0;
    bool quickTime = true;
    bool brandKnown = true;
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

  static bool frame(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }
  static bool app(uint8_t m) { return m >= 0xE0 && m <= 0xEF; }

  Walk jpeg(uint64_t s) const {
    uint64_t m3 = 0;
    if (!get(s + 3, 1, true, m3)) return {RanOut};
    const uint8_t first = static_cast<uint8_t>(m3);
    if (!(app(first) || first == 0xDB || first == 0xC4 || frame(first) || first == 0xDD || first == 0xFE)) {
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
      if (m == 0xE2 && mpf == 0 && len >= 6 && has(q + 3, {'M', 'P', 'F', 0})) mpf = q + 7;
      p = q + 1 + len;
      if (m == 0xDA) break;
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
        if (!between) return {Ends, q};
        uint64_t len = 0;
        if (!get(q + 2, 2, true, len)) return {RanOut};
        if (len < 2) return {Ends, q};
        p = q + 2 + len;
      }
    }
    if (mpf == 0) return {Ends, end};
    // The MP index: byte order, 42, IFD offset, tags; MPEntry 0xB002 lists
    // 16-byte entries (attribute, size, offset from the MP header, two links).
    uint64_t order = 0, magic = 0, ifd = 0, count = 0;
    if (!get(mpf, 2, true, order)) return {RanOut};
    if (order != 0x4949 && order != 0x4D4D) return {Ends, end};
    const bool big = order == 0x4D4D;
    if (!get(mpf + 2, 2, big, magic)) return {RanOut};
    if (magic != 42) return {Ends, end};
    if (!get(mpf + 4, 4, big, ifd)) return {RanOut};
    if (!get(mpf + ifd, 2, big, count)) return {RanOut};
    uint64_t last = end;
    for (uint64_t t = 0; t < count && t < 64; ++t) {
      const uint64_t e = mpf + ifd + 2 + 12 * t;
      uint64_t tag = 0, n = 0, off = 0;
      if (!get(e, 2, big, tag) || !get(e + 4, 4, big, n) || !get(e + 8, 4, big, off)) return {RanOut};
      if (tag != 0xB002) continue;
      for (uint64_t i = 0; i < n / 16 && i < 64; ++i) {
        uint64_t size = 0, offset = 0;
        if (!get(mpf + off + 16 * i + 4, 4, big, size) || !get(mpf + off + 16 * i + 8, 4, big, offset)) {
          return {RanOut};
        }
        if (offset == 0 || size == 0) continue;
        uint64_t soi = 0;
        if (!get(mpf + offset, 2, true, soi)) return {RanOut};
        if (soi != 0xFFD8) continue;
        if (mpf + offset + size > n_) return {RanOut};
        if (mpf + offset + size > last) last = mpf + offset + size;
      }
    }
    return {Ends, last};
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
      if (len > 0x7FFFFFFF || !letters) return {Ends, p};
      if (p + 12 + len > n_) return {RanOut};
      uint64_t stored = 0;
      get(p + 8 + len, 4, true, stored);
      if (crc(d_ + p + 4, 4 + len) != stored) return first ? Walk{Not} : Walk{Ends, p};
      const bool end = has(p + 4, {'I', 'E', 'N', 'D'});
      p += 12 + len;
      if (end) return {Ends, p};
    }
  }

  static uint32_t t(const char* s) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint8_t(s[3]);
  }

  Walk movie(uint64_t s) const {
    Walk w;
    bool moov = false, mdat = false, wide = false, pnot = false;
    uint32_t previous = 0;
    uint64_t p = s;
    for (int atoms = 0;; ++atoms) {
      uint64_t size = 0, tv = 0;
      if (!get(p, 4, true, size) || !get(p + 4, 4, true, tv)) {
        w.state = RanOut;
        if (p == s) w.brandKnown = false;
        return w;
      }
      const uint32_t type = static_cast<uint32_t>(tv);
      const bool complete = moov && mdat;
      if (p == s) {
        if (type == t("ftyp")) {
          if (size < 16 || size > 4096 || size % 4 != 0) return {Not};
          uint64_t brand = 0;
          if (!get(p + 8, 4, true, brand)) {
            w.state = RanOut;
            w.brandKnown = false;
            return w;
          }
          w.quickTime = brand == t("qt  ");
        } else if (type != t("moov") && type != t("mdat") && type != t("wide") && type != t("pnot")) {
          return {Not};
        }
      } else {
        bool known = false;
        for (const char* name : {"moov", "mdat", "free", "skip", "wide", "uuid", "pnot", "PICT",
                                 "udta", "meta", "pdin", "moof", "mfra", "sidx"}) {
          known = known || type == t(name);
        }
        if (type == t("ftyp") || !known) break;
        if (!complete && type == t("moov") && moov) break;
        if (!complete && type == t("mdat") && mdat) break;
        if (!complete && type == t("wide") && wide) break;
        if (!complete && type == t("pnot") && pnot) break;
        if (complete && (type == t("moov") || type == t("wide") || type == t("pnot"))) break;
        if (complete && type == t("mdat") && previous != t("moof")) break;
      }
      uint64_t atom = size;
      if (size == 1) {
        if (!get(p + 8, 8, true, atom)) {
          w.state = RanOut;
          return w;
        }
        if (atom < 16) break;
      } else if (size == 0) {
        w.state = RanOut;
        return w;
      } else if (size < 8) {
        break;
      }
      if (atom > n_ - p) {
        w.state = RanOut;
        return w;
      }
      if (type == t("moov")) moov = true;
      if (type == t("mdat")) mdat = true;
      if (type == t("wide")) wide = true;
      if (type == t("pnot")) pnot = true;
      if (!(moov && mdat) && atoms + 1 >= 32) return {Not};
      previous = type;
      p += atom;
    }
    if (!(moov && mdat) || p == s) return {Not};
    w.state = Ends;
    w.end = p;
    return w;
  }

  const uint8_t* d_;
  uint64_t n_;
  bool movieKnown_ = false;
  uint64_t movieStart_ = 0;
  uint64_t movieEnd_ = 0;
};

}  // namespace kestrix::reference
