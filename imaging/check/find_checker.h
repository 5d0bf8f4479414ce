#pragma once

#include "imaging/check/verdict.h"
#include "imaging/loader/dib_image.h"

#include <cstdint>
#include <string_view>

namespace kestrix {

// The one entry point for a scan's finds: picks the checker by the find's
// type, the text of its file extension without the dot, ignoring case, from
// the table in find_checker.cpp: "jpg"/"jpeg" (JpegChecker), "png"
// (PngChecker), "mov"/"mp4"/"m4v"/"3gp" (MovieChecker); any other type is
// unknown.
//
// bytes/length: the find's bytes, read only and kept alive by the caller
// (a view into the mapped image is fine); nothing is copied. Safe to call
// from several threads at once, each with its own find.
//
// thumbnailCell, when given and the find is a JPEG whose headers were read,
// receives the 100 x 75 thumbnail (3 bytes a pixel in `order`, stride 300)
// from the same decoding work, and *thumbnailMade is set to whether it was.
CheckResult CheckFind(const std::uint8_t* bytes, std::uint64_t length, std::string_view type,
                      std::uint8_t* thumbnailCell = nullptr, bool* thumbnailMade = nullptr,
                      PixelOrder order = PixelOrder::Rgb);

// Whether CheckFind has a checker for `type` (same texts, any case).
bool IsCheckedType(std::string_view type);
// Whether `type` is checked as a movie (the container the movie checker and
// the thumbnailer read): "mov", "mp4", "m4v", "3gp", any case.
bool IsMovieCheckType(std::string_view type);

}  // namespace kestrix
