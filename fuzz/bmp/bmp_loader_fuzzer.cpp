// The BMP loader on hostile bytes, then a scaled draw of whatever loaded.
#include "imaging/loader/dib_image.h"
#include "imaging/loader/thumbnail_fit.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
  kestrix::DibImage image;
  if (image.LoadBmp(stream)) {
    static std::uint8_t cell[kestrix::kThumbnailWidth * kestrix::kThumbnailHeight * 3];
    kestrix::RenderThumbnail(image, cell);
  }
  return 0;
}
