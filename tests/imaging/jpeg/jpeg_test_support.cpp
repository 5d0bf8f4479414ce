#include "jpeg_test_support.h"

#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/memory_byte_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace kestrix::test {

std::string ScratchDirectory() {
  static const std::string directory = [] {
    const auto path =
        std::filesystem::temp_directory_path() / ("kx_jpeg_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return directory;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Picture ReadPnm(const std::string& path) {
  Picture picture;
  const Bytes bytes = ReadFile(path);
  std::size_t i = 0;
  std::vector<std::string> fields;
  while (fields.size() < 4 && i < bytes.size()) {
    while (i < bytes.size() && std::isspace(bytes[i])) ++i;
    std::string field;
    while (i < bytes.size() && !std::isspace(bytes[i])) field += static_cast<char>(bytes[i++]);
    fields.push_back(field);
  }
  if (fields.size() < 4) return picture;
  ++i;
  picture.channels = fields[0] == "P5" ? 1 : 3;
  picture.width = std::stoi(fields[1]);
  picture.height = std::stoi(fields[2]);
  picture.samples.assign(bytes.begin() + static_cast<long>(i), bytes.end());
  return picture;
}

std::string SourcePicture(int width, int height) {
  const std::string path = ScratchDirectory() + "/source_" + std::to_string(width) + "x" +
                           std::to_string(height) + ".ppm";
  if (!std::filesystem::exists(path)) {
    Shell("convert -size " + std::to_string(width) + "x" + std::to_string(height) +
          " -seed 3 plasma:fractal -depth 8 " + path);
  }
  return path;
}

Bytes CommittedInput(const std::string& name,
                     const std::function<bool(const std::string& path)>& make) {
  const std::string path = std::string(KX_JPEG_TEST_DATA_DIR) + "/" + name;
  if (std::getenv("KESTRIX_REMAKE_JPEG_DATA") != nullptr) {
    std::filesystem::create_directories(KX_JPEG_TEST_DATA_DIR);
    std::filesystem::remove(path);
    if (!make(path)) {
      ADD_FAILURE() << "could not make " << path;
      return {};
    }
  }
  if (!std::filesystem::exists(path)) {
    ADD_FAILURE() << "missing " << path
                  << ": run the test with KESTRIX_REMAKE_JPEG_DATA=1 and commit it";
    return {};
  }
  return ReadFile(path);
}

Bytes EncodeWithCjpeg(int width, int height, const std::string& options) {
  // The name holds the size and the options, without the scratch folder of
  // option files (-qtables, -scans), whose contents the tests write alike.
  std::string key = options;
  const std::string scratch = ScratchDirectory() + "/";
  for (std::size_t at; (at = key.find(scratch)) != std::string::npos;)
    key.erase(at, scratch.size());
  std::string name = "cjpeg_" + std::to_string(width) + "x" + std::to_string(height);
  for (const char c : key) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return CommittedInput(name + ".jpg", [&](const std::string& path) {
    return Shell("cjpeg " + options + " " + SourcePicture(width, height) + " > " + path);
  });
}

Picture ReferenceDecode(const Bytes& jpeg) {
  const std::string in = ScratchDirectory() + "/reference.jpg";
  const std::string out = ScratchDirectory() + "/reference.pnm";
  WriteFile(in, jpeg);
  Shell("djpeg -dct fast -nosmooth " + in + " > " + out);
  return ReadPnm(out);
}

DecodeResult Decode(const Bytes& jpeg) {
  DecodeResult result;
  MemoryByteSource source(jpeg);
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  result.openError = decoder->ErrorCode();
  result.startResult = decoder->Start();
  result.colourMode = decoder->ColourMode();
  const int width = decoder->Width();
  const int bytesPerPixel = decoder->BytesPerPixel();
  result.picture.width = width;
  result.picture.channels = bytesPerPixel == 1 ? 1 : 3;
  for (;;) {
    const std::uint8_t* row = nullptr;
    int byteCount = 0;
    result.lastReadRow = decoder->ReadRow(&row, &byteCount);
    if (result.lastReadRow != 0) break;
    result.rowBytes = byteCount;
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < result.picture.channels; ++c)
        result.picture.samples.push_back(row[x * bytesPerPixel + c]);
    }
    ++result.picture.height;
  }
  result.errorCode = decoder->ErrorCode();
  decoder->Close();
  return result;
}

double Psnr(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.channels != b.channels ||
      a.samples.size() != b.samples.size() || a.samples.empty())
    return 0.0;
  double error = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    const double d = double(a.samples[i]) - double(b.samples[i]);
    error += d * d;
  }
  if (error == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * double(a.samples.size()) / error);
}

int MaxDifference(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.channels != b.channels ||
      a.samples.size() != b.samples.size())
    return 256;
  int largest = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i)
    largest = std::max(largest, std::abs(int(a.samples[i]) - int(b.samples[i])));
  return largest;
}

Picture BlockMeans(const Picture& picture) {
  Picture means;
  means.width = (picture.width + 7) / 8;
  means.height = (picture.height + 7) / 8;
  means.channels = picture.channels;
  for (int by = 0; by < means.height; ++by) {
    for (int bx = 0; bx < means.width; ++bx) {
      for (int c = 0; c < picture.channels; ++c) {
        int sum = 0;
        int count = 0;
        for (int y = by * 8; y < std::min(picture.height, by * 8 + 8); ++y) {
          for (int x = bx * 8; x < std::min(picture.width, bx * 8 + 8); ++x, ++count)
            sum += picture.samples[(std::size_t(y) * picture.width + x) * picture.channels + c];
        }
        means.samples.push_back(static_cast<std::uint8_t>((sum + count / 2) / count));
      }
    }
  }
  return means;
}

std::uint64_t Fnv1a(const Bytes& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::uint8_t byte : bytes) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  return hash;
}

long FindMarker(const Bytes& bytes, std::uint8_t code) {
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == code) return static_cast<long>(i);
  }
  return -1;
}

Bytes HandStream::Build() const {
  Bytes out = {0xFF, 0xD8};
  auto word = [&out](int value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
  };
  out.insert(out.end(), {0xFF, 0xDB});
  word(67);
  out.push_back(0);
  for (int i = 0; i < 64; ++i) out.push_back(static_cast<std::uint8_t>(quant));
  const int components = static_cast<int>(sampling.size());
  out.insert(out.end(), {0xFF, 0xC0});
  word(8 + 3 * components);
  out.push_back(8);
  word(height);
  word(width);
  out.push_back(static_cast<std::uint8_t>(components));
  for (int c = 0; c < components; ++c)
    out.insert(out.end(), {static_cast<std::uint8_t>(c + 1), sampling[c], 0});
  auto table = [&](int classIndex, const std::vector<std::uint8_t>& counts,
                   const std::vector<std::uint8_t>& symbols) {
    out.insert(out.end(), {0xFF, 0xC4});
    word(2 + 17 + static_cast<int>(symbols.size()));
    out.push_back(static_cast<std::uint8_t>(classIndex));
    out.insert(out.end(), counts.begin(), counts.end());
    out.insert(out.end(), symbols.begin(), symbols.end());
  };
  table(0x00, dcCounts, dcSymbols);
  table(0x10, acCounts, acSymbols);
  if (restartInterval != 0) {
    out.insert(out.end(), {0xFF, 0xDD});
    word(4);
    word(restartInterval);
  }
  out.insert(out.end(), {0xFF, 0xDA});
  word(6 + 2 * components);
  out.push_back(static_cast<std::uint8_t>(components));
  for (int c = 0; c < components; ++c)
    out.insert(out.end(), {static_cast<std::uint8_t>(c + 1), 0x00});
  out.insert(out.end(), {0, 63, 0});
  std::string padded = bits;
  while (padded.size() % 8 != 0) padded += '1';
  for (std::size_t i = 0; i < padded.size(); i += 8) {
    const auto byte = static_cast<std::uint8_t>(std::stoi(padded.substr(i, 8), nullptr, 2));
    out.push_back(byte);
    if (byte == 0xFF) out.push_back(0x00);
  }
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

}  // namespace kestrix::test
