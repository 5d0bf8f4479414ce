#include "imaging/check/find_checker.h"

#include "imaging/check/jpeg_checker.h"
#include "imaging/check/movie_checker.h"
#include "imaging/check/png_checker.h"
#include "imaging/loader/jpeg_thumbnail.h"

#include <cctype>
#include <string>

namespace kestrix {

namespace {

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

CheckResult CheckFind(const std::uint8_t* bytes, std::uint64_t length, std::string_view type,
                      std::uint8_t* thumbnailCell, bool* thumbnailMade, PixelOrder order) {
  if (thumbnailMade != nullptr) *thumbnailMade = false;
  const std::string kind = LowerCase(type);
  if (kind == "jpg" || kind == "jpeg") {
    JpegDcImage dc;
    CheckResult result =
        JpegChecker::Check(bytes, length, thumbnailCell != nullptr ? &dc : nullptr);
    if (thumbnailCell != nullptr) {
      const bool made = RenderDcThumbnail(dc, result.width, result.height, thumbnailCell, order);
      if (thumbnailMade != nullptr) *thumbnailMade = made;
    }
    return result;
  }
  if (kind == "png") return PngChecker::Check(bytes, length);
  if (kind == "mov" || kind == "mp4" || kind == "m4v" || kind == "3gp")
    return MovieChecker::Check(bytes, length);
  CheckResult result;
  result.reason = "type not checked";
  return result;
}

}  // namespace kestrix
