#include "cli/image_commands.h"

#include "imaging/jpeg/file_byte_source.h"
#include "imaging/jpeg/jpeg_decoder.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace kestrix {

int runDecodeCommand(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE OUT\n", argc > 0 ? argv[0] : "decode");
        return 2;
    }
    FileByteSource source(argv[1]);
    auto decoder = std::make_unique<JpegDecoder>();
    decoder->Open(&source);
    if (decoder->ErrorCode() != 0 || decoder->Start() != 0) {
        std::fprintf(stderr, "error %d\n", decoder->ErrorCode());
        decoder->Close();
        return 2;
    }

    const int width = decoder->Width();
    const bool grey = decoder->BytesPerPixel() == 1;
    const int channels = grey ? 1 : 3;
    std::vector<std::uint8_t> pixels;
    pixels.reserve(std::size_t(width) * channels * decoder->Height());
    int rows = 0;
    int result = 0;
    for (;;) {
        const std::uint8_t* row = nullptr;
        int byteCount = 0;
        result = decoder->ReadRow(&row, &byteCount);
        if (result != 0)
            break;
        if (grey) {
            pixels.insert(pixels.end(), row, row + width);
        } else {
            for (int x = 0; x < width; ++x)
                pixels.insert(pixels.end(), row + 4 * x, row + 4 * x + 3);
        }
        ++rows;
    }
    const int code = decoder->ErrorCode();
    // Stopped part-way: an error, or the data ended (or ran into another
    // file's marker) before the picture's last block, even when the rows
    // decoded from made-up bytes all came out.
    const JpegFault fault = decoder->Fault();
    const bool partWay = result != 1 || decoder->InputEnded() || fault == JpegFault::Truncated ||
                         fault == JpegFault::RanPastScan;
    const unsigned long long stoppedAt = fault != JpegFault::None ? decoder->FaultOffset() : decoder->ErrorOffset();
    decoder->Close();

    if (result != 1 && rows == 0) {
        std::fprintf(stderr, "error %d\n", code);
        return 2;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out << (grey ? "P5" : "P6") << '\n' << width << ' ' << rows << "\n255\n";
    out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    // The stream buffers: a full disk shows only when the data is flushed.
    out.close();
    if (out.fail()) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    if (partWay) {
        if (code != 0)
            std::fprintf(stderr, "error %d\n", code);
        else
            std::fprintf(stderr, "stopped part-way at byte %llu: %s\n", stoppedAt,
                         JpegFaultReason(fault == JpegFault::None ? JpegFault::Truncated : fault));
        return 3;
    }
    return 0;
}

} // namespace kestrix
