#include "engine/precise_corpus.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

namespace kestrix::test {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

bool haveTool(const char* tool) {
  const std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void putBig(Bytes& out, uint64_t value, int length) {
  for (int i = length - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void putLittle(Bytes& out, uint64_t value, int length) {
  for (int i = 0; i < length; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void put(Bytes& out, uint64_t value, int length, bool big) {
  big ? putBig(out, value, length) : putLittle(out, value, length);
}

uint64_t find(const Bytes& haystack, const Bytes& needle) {
  const auto at = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
  return static_cast<uint64_t>(at - haystack.begin());
}

// The JPEG without its first segment (cjpeg's JFIF APP0): it then starts
// FF D8 FF DB.
Bytes withoutFirstSegment(const Bytes& jpeg) {
  const uint64_t length = (uint64_t{jpeg[4]} << 8) | jpeg[5];
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), jpeg.begin() + 4 + static_cast<long>(length), jpeg.end());
  return out;
}

// The JPEG with a segment inserted right after SOI.
Bytes withSegmentFirst(const Bytes& jpeg, uint8_t marker, const Bytes& payload) {
  Bytes out = {0xFF, 0xD8, 0xFF, marker};
  putBig(out, payload.size() + 2, 2);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// A Multi-Picture file (CIPA DC-007): the primary image with an APP2 "MPF"
// index after SOI, then the second image appended. Offsets count from the
// MP header, the byte-order mark after "MPF\0".
Bytes multiPicture(const Bytes& primary, const Bytes& second, bool big) {
  Bytes index;
  const uint64_t ifdOffset = 8;
  index.push_back(big ? 'M' : 'I');
  index.push_back(big ? 'M' : 'I');
  put(index, 42, 2, big);
  put(index, ifdOffset, 4, big);
  put(index, 3, 2, big);  // MPFVersion, NumberOfImages, MPEntry
  const uint64_t entriesOffset = ifdOffset + 2 + 3 * 12 + 4;
  put(index, 0xB000, 2, big), put(index, 7, 2, big), put(index, 4, 4, big);
  index.insert(index.end(), {'0', '1', '0', '0'});
  put(index, 0xB001, 2, big), put(index, 4, 2, big), put(index, 1, 4, big), put(index, 2, 4, big);
  put(index, 0xB002, 2, big), put(index, 7, 2, big), put(index, 32, 4, big);
  put(index, entriesOffset, 4, big);
  put(index, 0, 4, big);  // no next IFD
  const uint64_t segmentLength = 2 + 4 + index.size() + 32;
  const uint64_t headerInFile = 2 + 4 + 4;  // SOI, marker, length, "MPF\0"
  const uint64_t primarySize = primary.size() + 2 + segmentLength;
  // Entry 0: the primary image (offset 0); entry 1: the second image.
  put(index, 0x20030000, 4, big), put(index, primarySize, 4, big), put(index, 0, 4, big);
  put(index, 0, 4, big);
  put(index, 0x00020002, 4, big), put(index, second.size(), 4, big);
  put(index, primarySize - headerInFile, 4, big), put(index, 0, 4, big);
  Bytes payload = {'M', 'P', 'F', 0};
  payload.insert(payload.end(), index.begin(), index.end());
  Bytes out = withSegmentFirst(primary, 0xE2, payload);
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

// A chunk of ISO/IEC 15948 with its CRC.
Bytes pngChunk(const char* type, const Bytes& data) {
  Bytes out;
  putBig(out, data.size(), 4);
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + 4, static_cast<uInt>(4 + data.size()));
  putBig(out, crc, 4);
  return out;
}

// The PNG with a chunk inserted after IHDR (8 + 25 bytes in).
Bytes withChunkAfterHeader(const Bytes& png, const Bytes& chunk) {
  Bytes out(png.begin(), png.begin() + 33);
  out.insert(out.end(), chunk.begin(), chunk.end());
  out.insert(out.end(), png.begin() + 33, png.end());
  return out;
}

class Maker {
 public:
  Maker() {
    char pattern[] = "/tmp/kx-corpus-XXXXXX";
    if (mkdtemp(pattern) != nullptr) dir_ = pattern;
  }
  ~Maker() {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  bool ok() const { return !dir_.empty(); }
  fs::path at(const std::string& name) const { return dir_ / name; }
  std::string q(const std::string& name) const { return "'" + at(name).string() + "'"; }

  Bytes cjpeg(const std::string& options, const std::string& picture) {
    const std::string out = "out.jpg";
    if (!run("cjpeg " + options + " -outfile " + q(out) + " " + q(picture))) return {};
    return readFile(at(out));
  }
  Bytes ffmpeg(const std::string& options, const std::string& name) {
    if (!run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
             "testsrc=duration=0.6:size=96x64:rate=5 " +
             options + " " + q(name))) {
      return {};
    }
    return readFile(at(name));
  }

 private:
  fs::path dir_;
};

std::unique_ptr<std::vector<CorpusFile>> makeCorpus(std::string& missing) {
  for (const char* tool : {"cjpeg", "exiftool", "convert", "ffmpeg"}) {
    if (!haveTool(tool)) {
      missing = std::string(tool) + " is not installed";
      return nullptr;
    }
  }
  Maker m;
  if (!m.ok()) {
    missing = "no temporary folder";
    return nullptr;
  }
  auto corpus = std::make_unique<std::vector<CorpusFile>>();
  auto add = [&](const std::string& name, FileKind kind, Bytes bytes) -> CorpusFile* {
    if (bytes.empty()) {
      missing = "could not make " + name;
      return nullptr;
    }
    corpus->push_back({name, kind, std::move(bytes), {}});
    return &corpus->back();
  };
  corpus->reserve(32);

  if (!run("convert -seed 3 -size 160x120 plasma:red-blue ppm:" + m.q("photo.ppm")) ||
      !run("convert -size 40x30 gradient:green-yellow ppm:" + m.q("small.ppm"))) {
    missing = "ImageMagick could not draw";
    return nullptr;
  }
  const Bytes jfif = m.cjpeg("-quality 85", "photo.ppm");
  const Bytes thumbnail = m.cjpeg("-quality 70", "small.ppm");  // with its own JFIF APP0
  if (!add("jpeg_app0_jfif", FileKind::Jpeg, jfif)) return nullptr;
  if (!add("jpeg_starts_dqt", FileKind::Jpeg, jfif.empty() ? jfif : withoutFirstSegment(jfif)))
    return nullptr;
  const Bytes comment = {'o', 'l', 'd', ' ', 0xFF, 0xD9, ' ', 'e', 'n', 'd'};
  if (!add("jpeg_starts_com", FileKind::Jpeg,
           jfif.empty() ? jfif : withSegmentFirst(withoutFirstSegment(jfif), 0xFE, comment)))
    return nullptr;
  if (!add("jpeg_progressive", FileKind::Jpeg, m.cjpeg("-progressive", "photo.ppm")))
    return nullptr;
  if (!add("jpeg_restart_intervals", FileKind::Jpeg, m.cjpeg("-restart 1", "photo.ppm")))
    return nullptr;
  if (!add("jpeg_greyscale", FileKind::Jpeg, m.cjpeg("-grayscale", "photo.ppm"))) return nullptr;
  {
    std::ofstream tables(m.at("q16.txt"));
    for (int i = 0; i < 64; ++i) tables << (i < 2 ? 8 : 300) << (i % 8 == 7 ? "\n" : " ");
  }
  if (!add("jpeg_16bit_dqt", FileKind::Jpeg, m.cjpeg("-qtables " + m.q("q16.txt"), "photo.ppm")))
    return nullptr;

  // EXIF (APP1 first, no JFIF) with a thumbnail that keeps its own JFIF segment.
  writeFile(m.at("exif.jpg"), jfif);
  writeFile(m.at("thumb.jpg"), thumbnail);
  if (!run("exiftool -q -overwrite_original -JFIF:all= -Make=Kestrix -Model=Corpus "
           "'-ThumbnailImage<=" +
           m.at("thumb.jpg").string() + "' " + m.q("exif.jpg"))) {
    missing = "exiftool could not write a thumbnail";
    return nullptr;
  }
  CorpusFile* exif =
      add("jpeg_app1_exif_thumbnail_with_jfif", FileKind::Jpeg, readFile(m.at("exif.jpg")));
  if (!exif) return nullptr;
  exif->embeddedJpegs.push_back({find(exif->bytes, thumbnail), thumbnail.size()});

  // A whole JPEG (and its FF D9) inside an APP9 segment, after the
  // application's name.
  Bytes named = {'K', 'x', 'T', 'n', 0};
  named.insert(named.end(), thumbnail.begin(), thumbnail.end());
  CorpusFile* holder = add("jpeg_in_app9", FileKind::Jpeg, withSegmentFirst(jfif, 0xE9, named));
  if (!holder) return nullptr;
  holder->embeddedJpegs.push_back({6 + 5, thumbnail.size()});

  for (bool big : {false, true}) {
    const Bytes second = m.cjpeg("-quality 60", "small.ppm");
    CorpusFile* mpf = add(big ? "jpeg_mpf_big_endian" : "jpeg_mpf_little_endian", FileKind::Jpeg,
                          multiPicture(exif->bytes, second, big));
    if (!mpf) return nullptr;
    mpf->embeddedJpegs.push_back({mpf->bytes.size() - second.size(), second.size()});
    // The thumbnail of the primary image, moved by the index segment in front.
    const uint64_t moved = mpf->bytes.size() - second.size() - exif->bytes.size();
    mpf->embeddedJpegs.push_back({exif->embeddedJpegs[0].start + moved, thumbnail.size()});
  }

  if (!run("convert -size 48x40 gradient:white-black " + m.q("plain.png"))) {
    missing = "ImageMagick could not write a PNG";
    return nullptr;
  }
  const Bytes png = readFile(m.at("plain.png"));
  if (!add("png_plain", FileKind::Png, png)) return nullptr;
  const Bytes text = {'C', 'o', 'm', 'm', 'e',  'n',  't',  0,
                      'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  if (!add("png_iend_inside_text_chunk", FileKind::Png,
           png.size() < 33 ? Bytes{} : withChunkAfterHeader(png, pngChunk("tEXt", text))))
    return nullptr;

  if (!add("mov_moov_last", FileKind::Mov, m.ffmpeg("-c:v mpeg4", "last.mov"))) return nullptr;
  if (!add("mov_moov_first", FileKind::Mov,
           m.ffmpeg("-c:v mpeg4 -movflags +faststart", "first.mov")))
    return nullptr;
  if (!add("mp4_moov_last", FileKind::Mp4, m.ffmpeg("-c:v mpeg4", "last.mp4"))) return nullptr;
  if (!add("mp4_moov_first", FileKind::Mp4,
           m.ffmpeg("-c:v mpeg4 -movflags +faststart", "first.mp4")))
    return nullptr;
  if (!add("mov_motion_jpeg", FileKind::Mov, m.ffmpeg("-c:v mjpeg -q:v 5", "mjpeg.mov")))
    return nullptr;
  return corpus;
}

}  // namespace

const char* extensionOf(FileKind kind) {
  switch (kind) {
    case FileKind::Jpeg: return "jpg";
    case FileKind::Png: return "png";
    case FileKind::Mov: return "mov";
    case FileKind::Mp4: return "mp4";
  }
  return "";
}

const std::vector<CorpusFile>* preciseCorpus(std::string& missing) {
  static std::string why;
  static const std::unique_ptr<std::vector<CorpusFile>> corpus = makeCorpus(why);
  missing = why;
  return corpus.get();
}

std::vector<uint8_t> oldData(uint64_t size, uint64_t seed) {
  std::mt19937_64 random(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  // False signatures, each leading nowhere within its 40 bytes: the walk
  // from each meets a byte that is no structure (0x00 where a marker, chunk
  // CRC or atom type belongs) before the bytes that follow.
  const Bytes strays[] = {
      {0xFF, 0xD8, 0xFF, 0x00},
      {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x06, 'o', 'l', 'd', 0x00, 0x00},
      {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x06, 'E', 'x', 'i', 'f', 0x00},
      {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0,
       0,    0,   1,   0,   0,    0,    1,    8,    0, 0, 0, 0,  0,   0,   0,   0},
      {0x00, 0x00, 0x00, 0x14, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0,
       0,    0,    0,    0,    0,   0,   0,   0,   0,   0,   0,   0,   0, 0},
      {0x00, 0x00, 0x00, 0x14, 'f', 't', 'y', 'p', 'q', 't', ' ', ' ', 0, 0,
       0,    0,    0,    0,    0,   0,   0,   0,   0,   0,   0,   0,   0, 0},
      {0x00, 0x00, 0x00, 0x10, 'm', 'o', 'o', 'v', 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0},
      {0x00, 0x00, 0x00, 0x10, 'm', 'd', 'a', 't', 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0},
      {'f', 't', 'y', 'p'},
      {0xFF, 0xD9},
  };
  for (uint64_t at = 3; at + 40 < size; at += 40 + random() % 200) {
    const Bytes& stray = strays[random() % std::size(strays)];
    std::copy(stray.begin(), stray.end(), out.begin() + static_cast<long>(at));
  }
  return out;
}

CardImage layOut(const std::vector<CorpusFile>& corpus, const LayoutOptions& options) {
  std::mt19937_64 random(options.seed);
  std::vector<const CorpusFile*> order;
  for (const CorpusFile& file : corpus) order.push_back(&file);
  std::shuffle(order.begin(), order.end(), random);
  CardImage card;
  card.bytes.assign(options.leading, 0x11);
  for (size_t i = 0; i < order.size(); ++i) {
    if (options.oldData) {
      const Bytes gap = oldData(1 + random() % 3000, random());
      card.bytes.insert(card.bytes.end(), gap.begin(), gap.end());
    }
    card.files.push_back({order[i], {card.bytes.size(), order[i]->bytes.size()}});
    card.bytes.insert(card.bytes.end(), order[i]->bytes.begin(), order[i]->bytes.end());
  }
  if (!options.endFlush && options.oldData) {
    const Bytes tail = oldData(500, random());
    card.bytes.insert(card.bytes.end(), tail.begin(), tail.end());
  }
  return card;
}

}  // namespace kestrix::test
