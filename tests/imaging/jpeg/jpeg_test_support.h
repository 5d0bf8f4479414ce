#pragma once
// Test images: small photos encoded once with ImageMagick and cjpeg and kept
// in tests/data/jpeg/ (so decodes and pinned hashes do not change with the
// installed tools), the djpeg reference decode, and small hand-built streams
// for paths no encoder produces.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrix::test {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
  int width = 0;
  int height = 0;
  int channels = 0;  // 1 grey, 3 RGB
  Bytes samples;
};

// A scratch folder for this test program, created on first use.
std::string ScratchDirectory();
// Runs a shell command; true when it exits with 0.
bool Shell(const std::string& command);
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
// Reads a binary PPM (P6) or PGM (P5).
Picture ReadPnm(const std::string& path);
// A photo-like source picture (cached): plasma fractal of the given size.
std::string SourcePicture(int width, int height);
// The bytes of tests/data/jpeg/NAME. With KESTRIX_REMAKE_JPEG_DATA set in the
// environment, make(path) writes the file first (needs the tools); a missing
// file fails the test.
Bytes CommittedInput(const std::string& name,
                     const std::function<bool(const std::string& path)>& make);
// SourcePicture(width, height) encoded with cjpeg and the given options: the
// committed file tests/data/jpeg/cjpeg_WxH_OPTIONS.jpg.
Bytes EncodeWithCjpeg(int width, int height, const std::string& options);
// djpeg -dct fast -nosmooth of the given bytes.
Picture ReferenceDecode(const Bytes& jpeg);
// Decodes with JpegDecoder; rows stop at the first non-zero ReadRow.
struct DecodeResult {
  int openError = 0;
  int startResult = 0;
  int lastReadRow = 0;
  int errorCode = 0;
  int rowBytes = 0;
  int colourMode = -1;
  Picture picture;
};
DecodeResult Decode(const Bytes& jpeg);
double Psnr(const Picture& a, const Picture& b);
// The largest difference of two samples at the same place; 256 when the
// pictures differ in size or layout.
int MaxDifference(const Picture& a, const Picture& b);
// The picture at 1/8 scale, each pixel the mean of its 8 x 8 block (cut at
// the edges), rounded: what a decoder's DC picture approximates.
Picture BlockMeans(const Picture& picture);
std::uint64_t Fnv1a(const Bytes& bytes);
// Offset of the first FF xx marker, or -1.
long FindMarker(const Bytes& bytes, std::uint8_t code);

// A minimal baseline stream: 8-bit quantisation table 0 of all `quant`,
// components with given sampling, DC table 0 and AC table 0 as given, and
// raw entropy bits ('0'/'1' characters; padded with ones).
struct HandStream {
  int width = 8;
  int height = 8;
  std::vector<std::uint8_t> sampling{0x11};  // one byte per component
  int quant = 1;
  std::vector<std::uint8_t> dcCounts;  // 16 counts
  std::vector<std::uint8_t> dcSymbols;
  std::vector<std::uint8_t> acCounts;
  std::vector<std::uint8_t> acSymbols;
  std::string bits;
  int restartInterval = 0;
  Bytes Build() const;
};

}  // namespace kestrix::test
