// A corpus of real photo and movie files made at test time with cjpeg,
// exiftool, ImageMagick and ffmpeg, and card-like images laid out from it,
// for the precise-scan tests (and for end-to-end card tests).
//
//   std::string missing;
//   const std::vector<CorpusFile>* corpus = test::preciseCorpus(missing);
//   if (corpus == nullptr) GTEST_SKIP() << missing;
//   const CardImage card = test::layOut(*corpus, {.seed = 7, .oldData = true});
//   // card.files: where each file lies; card.bytes: the image
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::test {

enum class FileKind { Jpeg, Png, Mov, Mp4 };

// The extension text the scan uses for a kind ("jpg", "png", "mov", "mp4").
const char* extensionOf(FileKind kind);

struct ByteRange {
  uint64_t start = 0;
  uint64_t size = 0;
  uint64_t end() const { return start + size; }
  bool operator==(const ByteRange&) const = default;
};

struct CorpusFile {
  std::string name;  // what the file covers, e.g. "jpeg_progressive"
  FileKind kind = FileKind::Jpeg;
  std::vector<uint8_t> bytes;
  // Whole JPEG files inside this one (EXIF thumbnail, MPF image, a JPEG in
  // an APPn segment), relative to the file's start. Motion-JPEG frames are
  // not listed.
  std::vector<ByteRange> embeddedJpegs;
};

// The corpus, made once per process in a private temporary folder. Null when
// a tool is missing, with `missing` naming it (the caller skips).
const std::vector<CorpusFile>* preciseCorpus(std::string& missing);

struct PlacedFile {
  const CorpusFile* file = nullptr;
  ByteRange range;  // where it lies in the image
};

struct CardImage {
  std::vector<uint8_t> bytes;
  std::vector<PlacedFile> files;  // in image order
};

struct LayoutOptions {
  uint64_t seed = 1;
  bool oldData = true;    // random bytes with stray signatures between files; else back to back
  uint64_t leading = 0;   // filler bytes (0x11) before the first file
  bool endFlush = false;  // no bytes after the last file
};

// Every corpus file once, in an order shuffled by the seed.
CardImage layOut(const std::vector<CorpusFile>& corpus, const LayoutOptions& options);

// Random bytes salted with false signatures: FF D8 FF (with and without an
// APPn marker), the PNG signature, "ftyp", "moov", "mdat" atoms that lead nowhere.
std::vector<uint8_t> oldData(uint64_t size, uint64_t seed);

}  // namespace kestrix::test
