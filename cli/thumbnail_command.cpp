#include "cli/image_commands.h"

#include "imaging/loader/dib_image.h"
#include "imaging/loader/thumbnail_fit.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace kestrix {

int runThumbnailCommand(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE OUT.ppm\n", argc > 0 ? argv[0] : "thumbnail");
        return 2;
    }
    DibImage image;
    if (image.Load(argv[1], -1, -1, -1) == 0) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 2;
    }
    std::vector<std::uint8_t> cell(std::size_t(kThumbnailWidth) * kThumbnailHeight * 3);
    // An 8-bit image cannot be drawn and leaves the cell white.
    RenderThumbnail(image, cell.data(), PixelOrder::Rgb);
    std::ofstream out(argv[2], std::ios::binary);
    out << "P6\n" << kThumbnailWidth << ' ' << kThumbnailHeight << "\n255\n";
    out.write(reinterpret_cast<const char*>(cell.data()), static_cast<std::streamsize>(cell.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

} // namespace kestrix
