#include "tests/core/planted_card.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "core/candidate_bytes.h"
#include "core/candidate_check.h"
#include "core/fragment_joiner.h"
#include "core/candidate_list.h"
#include "engine/carving_engine.h"
#include "host/engine_set.h"

namespace kestrix::test {

using Bytes = std::vector<uint8_t>;

uint64_t Choices::below(uint64_t bound) {
  if (bound <= 1) return 0;
  if (!fromBytes_) return random_() % bound;
  uint64_t value = 0;
  for (uint64_t reach = bound - 1; reach != 0; reach >>= 8) {
    value = (value << 8) | (used_ < size_ ? data_[used_] : 0);
    ++used_;
  }
  return value % bound;
}

namespace {

void putBig(Bytes& out, uint64_t value, int length) {
  for (int i = length - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes atom(const char* type, const Bytes& body) {
  Bytes out;
  putBig(out, body.size() + 8, 4);
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes chunk(const char* type, const Bytes& data) {
  Bytes out;
  putBig(out, data.size(), 4);
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  putBig(out, crc32(0, out.data() + 4, static_cast<uInt>(data.size() + 4)), 4);
  return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

Bytes pngHead() {
  return cat({Bytes(std::begin(PngSignature), std::end(PngSignature)),
              chunk("IHDR", {0, 0, 0, 7, 0, 0, 0, 5, 8, 2, 0, 0, 0})});
}

// A version-0 movie header: 100 bytes of fields, the time scale set.
Bytes movieHeader() {
  Bytes fields(100, 0);
  fields[15] = 100;
  return atom("mvhd", fields);
}

// Byte ranges of a file where bytes may change without changing its
// structure: a JPEG's entropy-coded data, a movie's mdat payloads.
struct Range {
  uint64_t begin;
  uint64_t end;
};

std::vector<Range> entropyRanges(const Bytes& jpeg) {
  std::vector<Range> ranges;
  uint64_t p = 2;
  bool inScan = false;
  uint64_t scanStart = 0;
  while (p + 1 < jpeg.size()) {
    if (inScan) {
      if (jpeg[p] != 0xFF) {
        ++p;
        continue;
      }
      const uint8_t marker = jpeg[p + 1];
      if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7)) {
        p += 2;
        continue;
      }
      ranges.push_back({scanStart, p});
      inScan = false;
      if (marker == 0xD9) break;
    }
    if (jpeg[p] != 0xFF || p + 3 >= jpeg.size()) break;
    const uint8_t marker = jpeg[p + 1];
    if (marker == 0xD9) break;
    const uint64_t length = (uint64_t{jpeg[p + 2]} << 8) | jpeg[p + 3];
    p += 2 + length;
    if (marker == 0xDA) {
      inScan = true;
      scanStart = p;
    }
  }
  return ranges;
}

std::vector<Range> mediaDataRanges(const Bytes& movie) {
  std::vector<Range> ranges;
  uint64_t p = 0;
  while (p + 8 <= movie.size()) {
    uint64_t size = 0;
    for (int i = 0; i < 4; ++i) size = (size << 8) | movie[p + i];
    uint64_t header = 8;
    if (size == 1 && p + 16 <= movie.size()) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | movie[p + i];
      header = 16;
    }
    if (size < header || size > movie.size() - p) break;
    if (std::memcmp(movie.data() + p + 4, "mdat", 4) == 0) ranges.push_back({p + header, p + size});
    p += size;
  }
  return ranges;
}

// One stray opening. `opaque`: it goes into a file's entropy or media data,
// so it holds no FF (an FF there would be a marker of the photo) and no JPEG
// opening. `toNext`: bytes from the plant's start to the next file's start,
// 0 when none follows, so that sizes can be made to land inside that file.
Bytes strayOpening(Choices& choices, bool opaque, uint64_t toNext, std::string& what) {
  static const char* const types[] = {"wide", "mdat", "moov", "ftyp",
                                      "free", "skip", "pnot", "PICT"};
  const uint64_t kinds = opaque ? 3 : 8;
  Bytes out;
  switch (choices.below(kinds)) {
    case 0:
    case 1: {
      const char* type = types[choices.below(std::size(types))];
      const bool movieHead = std::strcmp(type, "moov") == 0;
      uint64_t size = 0;
      bool wide = false;
      switch (choices.below(6)) {
        case 0: size = 0; break;  // "to the end of the file"
        case 1: wide = true, size = (uint64_t{0x0F} << 32) + choices.below(1000); break;
        case 2: wide = true, size = 16 + choices.below(64); break;
        case 3: size = 0x80000000u + choices.below(0x7E000000u); break;  // GBs
        case 4: size = std::array<uint64_t, 5>{8, 12, 16, 20, 24}[choices.below(5)]; break;
        default:
          // Lands just inside the next file; a moov that does is left out, as
          // a whole false movie built around a real one is not stray bytes.
          size = toNext != 0 && !movieHead ? toNext + choices.below(4) : 8 + choices.below(5000);
          break;
      }
      what = std::string(type) + " size " + std::to_string(size) + (wide ? " (64-bit)" : "");
      putBig(out, wide ? 1 : size, 4);
      out.insert(out.end(), type, type + 4);
      if (wide) putBig(out, size, 8);
      if (std::strcmp(type, "ftyp") == 0) {
        const char* brand = choices.below(2) ? "isom" : "qt  ";
        out.insert(out.end(), brand, brand + 4);
        out.insert(out.end(), {0, 0, 2, 0});
        out.insert(out.end(), brand, brand + 4);
      }
      if (movieHead && choices.below(2)) {
        const Bytes header = movieHeader();
        out.insert(out.end(), header.begin(), header.end());
        what += " with mvhd";
      }
      break;
    }
    case 2:
      if (choices.below(2)) {
        what = "PNG signature";
        out.assign(std::begin(PngSignature), std::end(PngSignature));
      } else {
        what = "PNG signature and IHDR";
        out = pngHead();
      }
      break;
    case 3:
      what = "SOI";
      out = {0xFF, 0xD8, 0xFF};
      break;
    case 4:
    case 5: {
      // An APP1 whose length runs on: into the next photo's first segment
      // (after its SOI), somewhere random, or far.
      uint64_t length = 2 + choices.below(0xFFFE);
      if (toNext > 4 && toNext - 2 <= 0xFFFF && choices.below(2)) length = toNext - 2;
      what = "SOI APP1 length " + std::to_string(length);
      out = {0xFF, 0xD8, 0xFF, 0xE1};
      putBig(out, length, 2);
      out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
      break;
    }
    case 6:
      what = "SOI DQT";
      out = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
      for (int i = 0; i < 64; ++i) out.push_back(static_cast<uint8_t>(1 + choices.below(200)));
      break;
    default:
      what = "SOI SOF0";
      out = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10,
             0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
      break;
  }
  if (opaque) {
    for (uint8_t& b : out) {
      if (b == 0xFF) b = 0xFE;
    }
  }
  return out;
}

// Plants up to three strays into the file's opaque bytes, where they fit.
void plantInside(Bytes& file, PlantKind kind, Choices& choices, std::vector<std::string>& plants,
                 const std::string& name) {
  const std::vector<Range> ranges = kind == PlantKind::Jpeg    ? entropyRanges(file)
                                    : kind == PlantKind::Movie ? mediaDataRanges(file)
                                                               : std::vector<Range>{};
  if (ranges.empty()) return;
  const uint64_t count = choices.below(4);
  for (uint64_t i = 0; i < count; ++i) {
    const Range& range = ranges[choices.below(ranges.size())];
    std::string what;
    const Bytes stray = strayOpening(choices, kind == PlantKind::Jpeg, 0, what);
    if (range.end - range.begin < stray.size() + 2) continue;
    const uint64_t at = range.begin + 1 + choices.below(range.end - range.begin - stray.size() - 1);
    if (kind == PlantKind::Jpeg) {
      // Only over bytes without FF, after a byte that is no FF: a stuffed
      // FF 00 or a restart marker overwritten would change the structure.
      bool clear = file[at - 1] != 0xFF;
      for (uint64_t k = at; clear && k < at + stray.size(); ++k) clear = file[k] != 0xFF;
      if (!clear) continue;
    }
    std::copy(stray.begin(), stray.end(), file.begin() + static_cast<long>(at));
    plants.push_back(name + "+" + std::to_string(at) + ": " + what);
  }
}

// Old data: random bytes, with strays planted apart from each other and
// never in the first or last 16 bytes, so none of them touches a file (a
// "free" atom right after a movie would be the movie's own).
Bytes gap(Choices& choices, uint64_t base, bool fileFollows, std::vector<std::string>& plants) {
  const uint64_t length = 16 + choices.below(3000);
  std::mt19937_64 random(choices.seed());
  Bytes out(length);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random());
  const uint64_t count = choices.below(5);
  uint64_t free = 16;  // strays go at or after this offset
  for (uint64_t i = 0; i < count && free + 16 < length; ++i) {
    const uint64_t at = free + choices.below(std::min<uint64_t>(400, length - 16 - free));
    std::string what;
    const Bytes stray = strayOpening(choices, false, fileFollows ? length - at : 0, what);
    if (at + stray.size() + 16 > length) break;
    std::copy(stray.begin(), stray.end(), out.begin() + static_cast<long>(at));
    plants.push_back("gap+" + std::to_string(base + at) + ": " + what);
    free = at + stray.size() + 8;
  }
  return out;
}

class MemoryBlock : public ImageBlock {
 public:
  explicit MemoryBlock(const Bytes& bytes) : bytes_(bytes) {}
  const uint8_t* data() const override { return bytes_.data(); }
  uint64_t size() const override { return bytes_.size(); }

 private:
  const Bytes& bytes_;
};

Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

PlantedCard plantCard(const std::vector<PlantFile>& files, Choices& choices, size_t maxFiles) {
  PlantedCard card;
  if (files.empty()) return card;
  const uint64_t count = 1 + choices.below(maxFiles);
  for (uint64_t i = 0; i < count && !choices.exhausted(); ++i) {
    const PlantFile& source = files[choices.below(files.size())];
    if (choices.below(4) != 0) {
      const Bytes old = gap(choices, card.bytes.size(), true, card.plants);
      card.bytes.insert(card.bytes.end(), old.begin(), old.end());
    }
    PlantedCard::File file{source.name, card.bytes.size(), source.bytes};
    plantInside(file.bytes, source.kind, choices, card.plants,
                source.name + "@" + std::to_string(file.start));
    card.bytes.insert(card.bytes.end(), file.bytes.begin(), file.bytes.end());
    card.files.push_back(std::move(file));
  }
  // The card ends flush with the last file, after old data, or in a stray
  // opening (after a little old data) whose size may run past the end.
  switch (choices.below(3)) {
    case 0: break;
    case 1: {
      const Bytes old = gap(choices, card.bytes.size(), false, card.plants);
      card.bytes.insert(card.bytes.end(), old.begin(), old.end());
      break;
    }
    default: {
      std::mt19937_64 random(choices.seed());
      for (int i = 0; i < 16; ++i) card.bytes.push_back(static_cast<uint8_t>(random()));
      std::string what;
      const Bytes stray = strayOpening(choices, false, 0, what);
      card.plants.push_back("end+" + std::to_string(card.bytes.size()) + ": " + what);
      card.bytes.insert(card.bytes.end(), stray.begin(), stray.end());
      break;
    }
  }
  return card;
}

namespace {

Recovered recover(const PlantedCard& card, ScanMode mode, bool checked, const JoinLimits& limits,
                  JoinOutcome* outcome) {
  const MemoryBlock image(card.bytes);
  EngineSet engines;
  engines.add(new CarvingEngine, [](ScanEngine* engine) { delete engine; });
  CandidateList list;
  ScanSettings settings;
  settings.mode = mode;
  scanImage(image, engines, {".jpg", ".png", ".mov", ".mp4"}, list, settings);
  if (checked) {
    CheckRowQueue rows(list.itemCount());
    checkCandidates(image, &engines, list, rows);
    if (isPrecise(mode)) {
      const JoinOutcome joined = joinFragments(image, list, limits);
      if (outcome != nullptr) *outcome = joined;
    }
  }
  std::multimap<uint64_t, size_t> bySize;
  for (size_t i = 0; i < card.files.size(); ++i) bySize.emplace(card.files[i].bytes.size(), i);
  Recovered recovered;
  recovered.whole.assign(card.files.size(), false);
  recovered.pieces.assign(card.files.size(), 0);
  recovered.rows = static_cast<size_t>(list.itemCount());
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    CandidateInfo info;
    if (!list.candidateInfo(row, info)) continue;
    if (!info.find.fragments.empty()) ++recovered.reassembledRows;
    const CandidateBytes bytes(image, &engines, info);
    if (!bytes.ok()) continue;
    // A file may lie on the card more than once: each copy must come back
    // from its own place. (The signature rules start a preview-first movie's
    // hit four bytes in, and extract it from its start.)
    const auto [first, last] = bySize.equal_range(bytes.size());
    for (auto it = first; it != last; ++it) {
      const PlantedCard::File& want = card.files[it->second];
      const uint64_t at = info.find.start;
      const uint64_t from = at > want.start ? at - want.start : want.start - at;
      if (from <= 8 && std::memcmp(want.bytes.data(), bytes.data(), want.bytes.size()) == 0) {
        recovered.whole[it->second] = true;
        recovered.pieces[it->second] = info.find.fragments.size();
      }
    }
  }
  recovered.wholeCount =
      static_cast<size_t>(std::count(recovered.whole.begin(), recovered.whole.end(), true));
  return recovered;
}

}  // namespace

Recovered recoverCard(const PlantedCard& card, ScanMode mode) {
  return recover(card, mode, false, {}, nullptr);
}

Recovered recoverCheckedCard(const PlantedCard& card, ScanMode mode, const JoinLimits& limits,
                             JoinOutcome* outcome) {
  return recover(card, mode, true, limits, outcome);
}

std::vector<PlantFile> fixtureFiles(const std::string& folder) {
  std::vector<PlantFile> files;
  std::vector<std::filesystem::path> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".jpg" && entry.file_size(error) <= 60000)
      paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  Bytes frame;
  for (const auto& path : paths) {
    PlantFile file{path.filename().string(), PlantKind::Jpeg, readFile(path)};
    if (file.bytes.size() < 4 || file.bytes[0] != 0xFF || file.bytes[1] != 0xD8) continue;
    if (frame.empty() || file.bytes.size() < frame.size()) frame = file.bytes;
    files.push_back(std::move(file));
  }
  // A Motion-JPEG-like movie (a frame among other media data), an MP4 with
  // its moov first and an old QuickTime file that opens with its preview.
  std::mt19937_64 random(7);
  Bytes media(3000);
  for (uint8_t& b : media) b = static_cast<uint8_t>(random());
  const Bytes track = atom("trak", Bytes(40, 0));
  const Bytes movieAtom = atom("moov", cat({movieHeader(), track}));
  auto fileType = [](const char* brand) {
    Bytes body(brand, brand + 4);
    body.insert(body.end(), {0, 0, 2, 0});
    body.insert(body.end(), brand, brand + 4);
    return atom("ftyp", body);
  };
  files.push_back({"movie_frames.mov", PlantKind::Movie,
                   cat({fileType("qt  "), atom("wide", {}),
                        atom("mdat", cat({media, frame, media})), movieAtom})});
  files.push_back({"movie_moov_first.mp4", PlantKind::Movie,
                   cat({fileType("isom"), movieAtom, atom("free", {}), atom("mdat", media)})});
  files.push_back({"movie_preview_first.mov", PlantKind::Movie,
                   cat({atom("pnot", Bytes(12, 0)), atom("PICT", Bytes(100, 0x22)),
                        fileType("qt  "), atom("mdat", media), movieAtom})});
  // A PNG of 7 x 5 pixels.
  Bytes raw;
  for (int y = 0; y < 5; ++y) {
    raw.push_back(0);
    for (int x = 0; x < 21; ++x) raw.push_back(static_cast<uint8_t>(x * 11 + y * 7));
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  files.push_back(
      {"picture.png", PlantKind::Png, cat({pngHead(), chunk("IDAT", packed), chunk("IEND", {})})});
  return files;
}

}  // namespace kestrix::test
