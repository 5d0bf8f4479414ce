#pragma once

#include <cstddef>

namespace kestrix {

// Fixed limits of the JPEG decoder. Each lives here once.
inline constexpr int kJpegMaxDimension = 24576;        // width and height, 1..0x6000
inline constexpr int kJpegInputChunk = 4096;           // bytes per source refill
inline constexpr int kJpegInputHeadRoom = 128;         // room to put bytes back before a chunk
inline constexpr int kJpegInputTailPadding = 128;      // 64 copies of FF D9 behind the data
inline constexpr int kJpegMaxAllocations = 100;        // live allocator slots
inline constexpr int kJpegMaxBlocksPerMcuRow = 18432;  // coefficient blocks in one MCU row
inline constexpr int kJpegMaxBlocksPerMcu = 10;  // T.81 B.2.3, blocks of one interleaved scan's MCU
// Blocks of one output MCU: every component at up to 4 x 4. Larger than an
// interleaved scan's MCU, since progressive scans of one component each may
// carry factors whose blocks add up to more than 10.
inline constexpr int kJpegMaxOutputBlocksPerMcu = 3 * 16;
inline constexpr int kJpegMaxSamplingFactor = 4;  // T.81 B.2.2, each of H and V
inline constexpr int kJpegMaxHuffmanCodes = 255;  // codes in one DHT table
inline constexpr int kJpegSoiSearchBytes =
    511;  // junk tolerated before SOI (beyond the first pair)
inline constexpr int kJpegRestartSearchBytes = 1536;  // bytes skipped looking for an RSTn
inline constexpr int kJpegMaxRecordedScans =
    64;  // scans whose spans are kept (T.81 progressions use about 10)
// Progressive images keep every coefficient of the image. A hostile frame
// header can claim 24576 x 24576 in a few hundred bytes; beyond this many
// coefficient bytes the image is refused as out of memory (-233) instead of
// touching gigabytes while decoding filler.
inline constexpr std::size_t kJpegMaxProgressiveBytes = std::size_t{1} << 30;

}  // namespace kestrix
