// The whole public path of the decoder on hostile bytes: Open, Start, every
// ReadRow, Close.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/memory_byte_source.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrix::MemoryByteSource source({data, size});
  auto decoder = std::make_unique<kestrix::JpegDecoder>();
  decoder->Open(&source);
  if (decoder->ErrorCode() == 0 && decoder->Start() == 0) {
    const std::uint8_t* row = nullptr;
    int byteCount = 0;
    unsigned sum = 0;
    while (decoder->ReadRow(&row, &byteCount) == 0) sum += row[0] + row[byteCount - 1];
    (void)sum;
  }
  decoder->Close();
  return 0;
}
