#include "imaging/check/find_checker.h"

#include "imaging/check/jpeg_checker.h"
#include "imaging/check/movie_checker.h"
#include "imaging/check/png_checker.h"
#include "imaging/loader/jpeg_thumbnail.h"

#include <cctype>
#include <string>

namespace kestrix {

namespace {

// Every checker in one shape; only the JPEG one draws the thumbnail cell,
// from the DC picture its check decodes anyway.
using Checker = CheckResult (*)(const std::uint8_t* bytes, std::uint64_t length,
                                std::uint8_t* thumbnailCell, bool* thumbnailMade, PixelOrder order);

CheckResult CheckJpeg(const std::uint8_t* bytes, std::uint64_t length, std::uint8_t* thumbnailCell,
                      bool* thumbnailMade, PixelOrder order) {
  JpegDcImage dc;
  CheckResult result = JpegChecker::Check(bytes, length, thumbnailCell != nullptr ? &dc : nullptr);
  if (thumbnailCell != nullptr) {
    const bool made = RenderDcThumbnail(dc, result.width, result.height, thumbnailCell, order);
    if (thumbnailMade != nullptr) *thumbnailMade = made;
  }
  return result;
}

CheckResult CheckPng(const std::uint8_t* bytes, std::uint64_t length, std::uint8_t*, bool*,
                     PixelOrder) {
  return PngChecker::Check(bytes, length);
}

CheckResult CheckMovie(const std::uint8_t* bytes, std::uint64_t length, std::uint8_t*, bool*,
                       PixelOrder) {
  return MovieChecker::Check(bytes, length);
}

struct CheckedType {
  std::string_view text;  // lower case, without the dot
  Checker check;
  bool movie;
};
// The program's own types by their canonical and registry texts
// (core/file_types.cpp), and the texts other plug-ins give movies of the
// same container ("m4v", "3gp").
constexpr CheckedType kCheckedTypes[] = {
    // text  checker      movie
    {"jpg", &CheckJpeg, false}, {"jpeg", &CheckJpeg, false}, {"png", &CheckPng, false},
    {"mov", &CheckMovie, true}, {"mp4", &CheckMovie, true},  {"m4v", &CheckMovie, true},
    {"3gp", &CheckMovie, true},
};

const CheckedType* CheckedTypeOf(std::string_view type) {
  std::string lower(type);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const CheckedType& row : kCheckedTypes) {
    if (row.text == lower) return &row;
  }
  return nullptr;
}

}  // namespace

CheckResult CheckFind(const std::uint8_t* bytes, std::uint64_t length, std::string_view type,
                      std::uint8_t* thumbnailCell, bool* thumbnailMade, PixelOrder order) {
  if (thumbnailMade != nullptr) *thumbnailMade = false;
  const CheckedType* row = CheckedTypeOf(type);
  if (row == nullptr) {
    CheckResult result;
    result.reason = "type not checked";
    return result;
  }
  return row->check(bytes, length, thumbnailCell, thumbnailMade, order);
}

bool IsCheckedType(std::string_view type) { return CheckedTypeOf(type) != nullptr; }

bool IsMovieCheckType(std::string_view type) {
  const CheckedType* row = CheckedTypeOf(type);
  return row != nullptr && row->movie;
}

}  // namespace kestrix
