// A plain, byte-by-byte model of the carving engine, kept as the oracle for
// the differential tests and the benchmarks. It follows the carving rules
// literally, with no caching, no memchr and no shared code with engine/, so a
// fault in the fast searches shows up as a difference.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrix::reference {

inline constexpr const char* List = ".jpg;.png;.mov";

struct Extraction {
  bool null = true;
  uint64_t size = 0;           // *size as Extract left it
  std::vector<uint8_t> bytes;  // the extraction block
};

class ReferenceEngine {
 public:
  void attach(const uint8_t* data, uint64_t size, const char* extension, int32_t mode) {
    data_ = data;
    size_ = data ? size : 0;
    mode_ = mode;
    selectType(extension);
  }
  void setMode(int32_t mode) { mode_ = mode; }

  void selectType(const char* extension) {
    std::memset(header_, 0, sizeof header_);
    std::memset(footer_, 0, sizeof footer_);
    hl_ = fl_ = 0;
    extension_ = extension ? std::string(extension).substr(0, 11) : std::string();
    if (extension == nullptr) return;
    const int32_t t = typePosition();
    if (t < 0) return;
    if (t < 5) {
      if (mode_ == 256) {
        set(header_, hl_, {0xFF, 0xD8, 0xFF, 0xE0});
      } else {
        set(header_, hl_, {0xFF, 0xDB});
      }
      set(footer_, fl_, {0xFF, 0xD9});
    } else if (t < 10) {
      set(header_, hl_, {0x89, 'P', 'N', 'G'});
      set(footer_, fl_, {'I', 'E', 'N', 'D'});
    } else {
      set(header_, hl_, {'p', 'n', 'o', 't'});
      set(footer_, fl_, {'u', 'd', 't', 'a'});
    }
  }

  uint64_t findPattern(uint64_t p, const uint8_t* pattern, int32_t n) const {
    return search(p, pattern, n, false);
  }

  uint64_t maskedSearch(uint64_t p, const uint8_t* pattern, int32_t n) const {
    if (typePosition() >= 5) return findPattern(p, pattern, n);
    return search(p, pattern, n, true);
  }

  uint64_t findNext(uint64_t p, uint64_t* out, const char* extension) {
    if (extension) selectType(extension);
    const bool carving = mode_ != 257;
    auto find = [&](uint64_t from, const uint8_t* pattern, int32_t n) {
      return carving ? maskedSearch(from, pattern, n) : findPattern(from, pattern, n);
    };
    const uint64_t h1 = find(p, header_, hl_);
    uint64_t a = h1;
    const uint64_t s = h1 + 1;
    const uint64_t h2 = find(s, header_, hl_);
    const uint64_t f = find(s, footer_, fl_);
    const uint64_t fl = static_cast<uint64_t>(fl_);
    uint64_t e;
    if (f < h2) {
      e = f;
      if (carving && header_[0] == 0xFF && header_[1] == 0xD8 && header_[2] == 0xFF) {
        const uint64_t f2 = find(f + 1, footer_, fl_);
        if (f2 <= size_ && f2 + fl <= size_ && f2 <= h2) {
          e = f2;
          const uint64_t f3 = find(f2 + 1, footer_, fl_);
          if (f3 <= size_ && f3 + fl <= size_ && f3 <= h2) e = f3;
        }
      }
    } else if (f > h2) {
      e = f;
      if (!carving || typePosition() < 10) a = h2;
    } else if (f == s) {
      e = s;
    } else {
      e = f + fl <= size_ ? f : size_;
    }
    *out = e + fl - a;
    return e + fl;
  }

  Extraction extract(uint64_t start, uint64_t size, const char* extension) const {
    Extraction x;
    if (data_ == nullptr || start >= size_ || size == 0) return x;
    uint64_t s = start;
    uint64_t n = size > size_ - start ? size_ - start : size;
    std::vector<uint8_t> prefix;
    const std::string text = extension ? extension : "";
    if (extension && text.find("jpg") != std::string::npos) {
      if (!(s + 2 <= size_ && data_[s] == 0xFF && data_[s + 1] == 0xD8)) prefix = {0xFF, 0xD8};
    } else if (extension && text.find("png") != std::string::npos) {
      if (n >= 4 && std::memcmp(data_ + s + n - 4, "IEND", 4) == 0) {
        for (int i = 0; i < 4 && s + n < size_; ++i) ++n;
      }
    } else if (extension && text.find("mov") != std::string::npos) {
      if (n >= 4 && std::memcmp(data_ + s, header_, 4) == 0) {
        for (int i = 0; i < 4 && s > 0; ++i) {
          --s;
          ++n;
        }
      }
      if (n >= 4 && std::memcmp(data_ + s + n - 4, footer_, 4) == 0 && s + n >= 8) {
        const uint8_t* v = data_ + s + n - 8;
        const uint64_t atom = (uint64_t{v[0]} << 24) | (v[1] << 16) | (v[2] << 8) | v[3];
        if (atom >= 8) {
          for (uint64_t i = 0; i < atom - 8 && s + n < size_; ++i) ++n;
        }
      }
    }
    x.null = false;
    x.bytes = prefix;
    x.bytes.insert(x.bytes.end(), data_ + s, data_ + s + n);
    x.size = x.bytes.size();
    return x;
  }

  uint64_t size() const { return size_; }

 private:
  static void set(uint8_t* buffer, int32_t& length, std::initializer_list<uint8_t> bytes) {
    length = 0;
    for (uint8_t b : bytes) buffer[length++] = b;
  }

  int32_t typePosition() const {
    const char* at = std::strstr(List, extension_.c_str());
    return at ? static_cast<int32_t>(at - List) : -1;
  }

  uint64_t search(uint64_t p, const uint8_t* pattern, int32_t n, bool mayMask) const {
    if (pattern == nullptr) return p;
    // size - n + 1, taken as a signed value so a long pattern is "past the end".
    const int64_t limit = static_cast<int64_t>(size_) - n + 1;
    if (limit <= 0 || p >= static_cast<uint64_t>(limit)) return p;
    if (n <= 0) return p;
    const bool mask = mayMask && n > 3 && mode_ == 256;
    for (uint64_t q = p; q < static_cast<uint64_t>(limit); ++q) {
      int32_t i = 0;
      while (i < n && data_[q + i] == pattern[i]) ++i;
      if (i == n) return q;
      if (mask && i == n - 1 && (data_[q + i] & pattern[i]) == pattern[i]) return q;
    }
    return size_ + 1;
  }

  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  int32_t mode_ = 256;
  uint8_t header_[256] = {};
  uint8_t footer_[256] = {};
  int32_t hl_ = 0;
  int32_t fl_ = 0;
  std::string extension_;
};

}  // namespace kestrix::reference
