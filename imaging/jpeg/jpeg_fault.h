#pragma once

#include <cstdint>

namespace kestrix {

// Everything the entropy decoder can meet that a whole, undamaged JPEG never
// contains. The decoder notes the first one it meets (JpegDecoder::Fault);
// only the two that make the coefficients meaningless stop it (see
// JpegFaultStopCode). The checker calls a photo damaged or truncated from the
// same notes, so both agree on what an error is.
enum class JpegFault : std::uint8_t {
  None,
  // A run of coefficients passes position 63 (T.81 F.2.2.2), or a
  // refinement scan codes a size other than 1 (G.1.2.3). Stops: -227.
  CoefficientOverrun,
  // The restart marker due is missing or carries the wrong number. Stops: -228.
  RestartOutOfOrder,
  // A bit pattern that no Huffman code of the table has. Encoders never
  // write one; the decoder reads it as symbol 0 and goes on.
  InvalidCode,
  // The scan's blocks needed bits beyond the marker that ends its
  // entropy-coded segment: that marker is inside the data (another file,
  // a foreign block, a marker out of place).
  RanPastScan,
  // The segment holds more entropy-coded bytes than its blocks need, so
  // some of it is not this scan's data.
  DataAfterScan,
  // A long run of zero bytes inside entropy-coded data whose tables do
  // not decode zeros as empty blocks: what a card's unreadable sector
  // leaves behind. Found by the checker on the raw bytes.
  ZeroRun,
  // A long run of printable text inside entropy-coded data: another
  // file's sector (a document, a log) where the photo's data should go
  // on. It decodes without a fault, so it too is found on the raw bytes.
  TextRun,
  // Another SOI or frame header where this image's EOI belongs.
  ImageInsideImage,
  // The data ended before EOI.
  Truncated,
};

// The error code a fault stops decoding with, or 0 when the decoder only
// notes it and goes on (damage then shows as wrong blocks, not as a stop).
int JpegFaultStopCode(JpegFault fault);

// A short lowercase reason for reports, e.g. "invalid Huffman code".
const char* JpegFaultReason(JpegFault fault);

// What an error code of the decoder says about the file.
enum class JpegErrorMeaning : std::uint8_t {
  None,         // 0
  Damage,       // the bytes break the format: a whole photo never gives it
  Unsupported,  // a valid kind of JPEG this decoder does not decode
  Failure,      // the decoder could not run (no memory, read error)
};
JpegErrorMeaning JpegErrorMeaningOf(int code);
const char* JpegErrorReason(int code);

// Bytes of entropy-coded data left over at the end of a segment that still
// count as the encoder's own: the last byte's one-bit padding never fills a
// whole byte, so anything beyond a little slack is foreign.
inline constexpr int kJpegSegmentSlackBytes = 8;

// A run of this many zero bytes in entropy-coded data is a hole, unless the
// scan's tables decode zero bits as empty blocks (then a flat picture area
// gives such runs too and the run is judged by the block count instead).
// 128 zero bytes under tables where zeros are coefficients are over a
// thousand coefficients of one value in a row, which no photo has.
inline constexpr int kJpegZeroRunBytes = 128;

// A run of this many bytes of printable ASCII (tab, line ends and space
// included) in entropy-coded data is another file's text: about a third of
// the byte values are such text, and a run of them this long has odds near
// 0.37^512 in compressed data.
inline constexpr int kJpegTextRunBytes = 512;

}  // namespace kestrix
