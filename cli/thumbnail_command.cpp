#include "cli/image_commands.h"
#include "cli/cli_texts.h"
#include "cli/output_file.h"

#include "imaging/loader/dib_image.h"
#include "imaging/loader/jpeg_thumbnail.h"
#include "imaging/loader/thumbnail_fit.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrix {

namespace {

bool IsJpegPath(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = path.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".jpg";
}

// JPEGs take the window's path: the 1/8-scale DC picture from the bytes in
// memory. Bitmaps load whole.
bool RenderFile(const std::string& path, std::vector<std::uint8_t>& cell) {
  if (IsJpegPath(path)) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    if (in.bad()) return false;
    return MakeJpegThumbnail(bytes.data(), bytes.size(), cell.data(), PixelOrder::Rgb);
  }
  DibImage image;
  if (image.Load(path, -1, -1, -1) == 0) return false;
  RenderThumbnail(image, cell.data(), PixelOrder::Rgb);
  return true;
}

}  // namespace

int runThumbnailCommand(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, cliText(CliText::ThumbnailUsage), argc > 0 ? argv[0] : "thumbnail");
    return 2;
  }
  std::vector<std::uint8_t> cell(std::size_t(kThumbnailWidth) * kThumbnailHeight * 3, 0xFF);
  if (!RenderFile(argv[1], cell)) {
    std::fprintf(stderr, cliText(CliText::PictureNotLoaded), argv[1]);
    return 2;
  }
  // All or nothing: a full disk leaves no partial picture behind.
  const std::string header =
      "P6\n" + std::to_string(kThumbnailWidth) + " " + std::to_string(kThumbnailHeight) + "\n255\n";
  std::string why;
  if (!writeWholeFile(argv[2], header, cell.data(), cell.size(), why)) {
    std::fprintf(stderr, cliText(CliText::PictureNotWritten), argv[2], why.c_str());
    return 1;
  }
  return 0;
}

}  // namespace kestrix
