// Builds TIFF/EXIF byte blocks for tests, in either byte order.
//
// Directories are laid out after the 8-byte TIFF header in the order given,
// then every out-of-line value. Entry values are raw bytes (copied as given)
// or numbers written with the type's width in the chosen byte order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::test {

struct TestEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> bytes;     // raw value bytes (byte types, or pre-ordered)
  std::vector<uint32_t> numbers;  // each written with the type's unit width
  int pointsTo = -1;              // value = offset of this directory
  std::optional<uint32_t> value;  // value field forced to this number
};

struct TestDirectory {
  std::vector<TestEntry> entries;
  int next = -1;                       // index of the next directory in the chain
  std::optional<uint32_t> nextOffset;  // next offset forced to this number
};

inline TestEntry asciiEntry(uint16_t tag, const std::string& text) {
  TestEntry e{tag, 2, static_cast<uint32_t>(text.size() + 1), {}, {}, -1, {}};
  e.bytes.assign(text.begin(), text.end());
  e.bytes.push_back(0);
  return e;
}

inline TestEntry numberEntry(uint16_t tag, uint16_t type, std::vector<uint32_t> numbers) {
  const bool rational = type == 5 || type == 10;
  const uint32_t count = static_cast<uint32_t>(rational ? numbers.size() / 2 : numbers.size());
  return TestEntry{tag, type, count, {}, std::move(numbers), -1, {}};
}

inline TestEntry pointerEntry(uint16_t tag, int directory) {
  return TestEntry{tag, 4, 1, {}, {}, directory, {}};
}

class TiffWriter {
 public:
  explicit TiffWriter(bool motorola) : motorola_(motorola) {}

  std::vector<uint8_t> build(const std::vector<TestDirectory>& dirs,
                             std::optional<uint32_t> ifd0Offset = {}) const {
    std::vector<uint32_t> offsets;
    uint32_t at = 8;
    for (const TestDirectory& d : dirs) {
      offsets.push_back(at);
      at += 2 + 12 * static_cast<uint32_t>(d.entries.size()) + 4;
    }
    std::vector<uint8_t> out;
    out.push_back(motorola_ ? 'M' : 'I');
    out.push_back(motorola_ ? 'M' : 'I');
    put(out, 42, 2);
    put(out, ifd0Offset.value_or(dirs.empty() ? 0 : offsets[0]), 4);
    std::vector<uint8_t> extra;
    for (const TestDirectory& d : dirs) {
      put(out, static_cast<uint32_t>(d.entries.size()), 2);
      for (const TestEntry& e : d.entries) {
        put(out, e.tag, 2);
        put(out, e.type, 2);
        put(out, e.count, 4);
        std::vector<uint8_t> data = valueBytes(e);
        uint32_t value = 0;
        if (e.pointsTo >= 0) {
          value = offsets[e.pointsTo];
          put(out, value, 4);
        } else if (e.value) {
          put(out, *e.value, 4);
        } else if (data.size() <= 4) {
          data.resize(4, 0);
          out.insert(out.end(), data.begin(), data.end());
        } else {
          value = at + static_cast<uint32_t>(extra.size());
          extra.insert(extra.end(), data.begin(), data.end());
          put(out, value, 4);
        }
      }
      uint32_t next = d.next >= 0 ? offsets[d.next] : 0;
      put(out, d.nextOffset.value_or(next), 4);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
  }

  // A JPEG-like candidate: SOI, APP1 with the signature and the TIFF block, EOI.
  static std::vector<uint8_t> inJpeg(const std::vector<uint8_t>& tiff) {
    std::vector<uint8_t> out{0xFF, 0xD8, 0xFF, 0xE1};
    const size_t length = tiff.size() + 8;
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
    const char sig[] = {'E', 'x', 'i', 'f', 0, 0};
    out.insert(out.end(), sig, sig + 6);
    out.insert(out.end(), tiff.begin(), tiff.end());
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
  }

 private:
  void put(std::vector<uint8_t>& out, uint32_t v, int width) const {
    for (int i = 0; i < width; ++i) {
      const int shift = motorola_ ? 8 * (width - 1 - i) : 8 * i;
      out.push_back(static_cast<uint8_t>(v >> shift));
    }
  }

  std::vector<uint8_t> valueBytes(const TestEntry& e) const {
    if (!e.bytes.empty()) return e.bytes;
    std::vector<uint8_t> data;
    const int width = (e.type == 3 || e.type == 8)                  ? 2
                      : (e.type == 1 || e.type == 6 || e.type == 7) ? 1
                                                                    : 4;
    for (uint32_t n : e.numbers) put(data, n, width);
    return data;
  }

  bool motorola_;
};

}  // namespace kestrix::test
