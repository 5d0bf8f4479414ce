#include "cli/image_commands.h"
#include "cli/cli_texts.h"
#include "cli/output_file.h"

#include "imaging/jpeg/file_byte_source.h"
#include "imaging/jpeg/jpeg_decoder.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kestrix {

int runDecodeCommand(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, cliText(CliText::DecodeUsage), argc > 0 ? argv[0] : "decode");
    return 2;
  }
  FileByteSource source(argv[1]);
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  if (decoder->ErrorCode() != 0 || decoder->Start() != 0) {
    std::fprintf(stderr, cliText(CliText::DecodeError), decoder->ErrorCode());
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
    if (result != 0) break;
    if (grey) {
      pixels.insert(pixels.end(), row, row + width);
    } else {
      for (int x = 0; x < width; ++x) pixels.insert(pixels.end(), row + 4 * x, row + 4 * x + 3);
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
  const unsigned long long stoppedAt =
      fault != JpegFault::None ? decoder->FaultOffset() : decoder->ErrorOffset();
  decoder->Close();

  if (result != 1 && rows == 0) {
    std::fprintf(stderr, cliText(CliText::DecodeError), code);
    return 2;
  }
  // All or nothing: a full disk leaves no partial picture behind.
  const std::string header = std::string(grey ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
                             std::to_string(rows) + "\n255\n";
  std::string why;
  if (!writeWholeFile(argv[2], header, pixels.data(), pixels.size(), why)) {
    std::fprintf(stderr, cliText(CliText::PictureNotWritten), argv[2], why.c_str());
    return 1;
  }
  if (partWay) {
    if (code != 0)
      std::fprintf(stderr, cliText(CliText::DecodeError), code);
    else
      std::fprintf(stderr, cliText(CliText::DecodeStopped), stoppedAt,
                   JpegFaultReason(fault == JpegFault::None ? JpegFault::Truncated : fault));
    return 3;
  }
  return 0;
}

}  // namespace kestrix
