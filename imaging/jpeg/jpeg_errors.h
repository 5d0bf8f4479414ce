#pragma once

namespace kestrix {

// The decoder's error codes. 0 means no error.
// plain enum: the codes share the decoder's int results with 0, 1 and -1
// (Start, ReadRow, ErrorCode).
enum JpegError : int {
  kJpegOk = 0,
  kJpegDhtTooManyCodes = -200,      // DHT defines more than 255 codes
  kJpegDhtBadSlot = -201,           // DHT table slot 8 or above
  kJpegDhtBadLength = -202,         // DHT segment length wrong
  kJpegDqtShort = -203,             // DQT length below 2
  kJpegDqtBadIndex = -204,          // DQT table index above 3
  kJpegBadPrecision = -205,         // sample precision not 8
  kJpegBadHeight = -206,            // height 0 or above 24576
  kJpegBadWidth = -207,             // width 0 or above 24576
  kJpegTooManyComponents = -208,    // more than 4 components
  kJpegBadFrameLength = -209,       // frame header length wrong
  kJpegBadSegmentLength = -210,     // skipped segment length below 2
  kJpegBadDriLength = -211,         // DRI length not 4
  kJpegBadSosLength = -212,         // SOS length wrong or Ns not 1..4
  kJpegUnknownComponent = -213,     // scan names an unknown component
  kJpegArithmetic = -215,           // arithmetic coding (DAC, SOF9)
  kJpegMarkerOutOfPlace = -216,     // TEM, JPG, RSTn outside entropy data; no scan
  kJpegNoSoi = -217,                // no SOI near the start
  kJpegUnsupportedFrame = -218,     // unsupported frame type
  kJpegDqtTruncated = -219,         // DQT segment shorter than its table
  kJpegTooManyAllocations = -221,   // more than 100 allocations
  kJpegMissingQuantTable = -222,    // quantisation table missing
  kJpegMissingHuffmanTable = -223,  // Huffman table missing
  kJpegBadComponentCount = -225,    // component count not 1 or 3
  kJpegBadSampling = -226,          // unsupported sampling factors or scan layout
  kJpegCorruptData = -227,          // coefficient overrun; also ReadRow's result for any error
  kJpegBadRestart = -228,           // restart marker missing or out of sequence
  kJpegBadBlockAddress = -229,      // block address out of range, or too many blocks
  kJpegBadProgression = -230,       // bad progressive scan parameters
  kJpegBadSuccessive = -231,        // bad successive approximation
  kJpegReadError = -232,            // read error from the source
  kJpegOutOfMemory = -233,          // out of memory
};

}  // namespace kestrix
