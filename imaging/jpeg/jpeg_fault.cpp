#include "imaging/jpeg/jpeg_fault.h"

#include "imaging/jpeg/jpeg_errors.h"

namespace kestrix {

int JpegFaultStopCode(JpegFault fault) {
  switch (fault) {
    case JpegFault::CoefficientOverrun: return kJpegCorruptData;
    case JpegFault::RestartOutOfOrder: return kJpegBadRestart;
    default: return 0;
  }
}

const char* JpegFaultReason(JpegFault fault) {
  switch (fault) {
    case JpegFault::None: return "";
    case JpegFault::CoefficientOverrun: return "coefficient run past the block";
    case JpegFault::RestartOutOfOrder: return "restart marker missing or out of order";
    case JpegFault::InvalidCode: return "invalid Huffman code";
    case JpegFault::RanPastScan: return "entropy data runs past its scan";
    case JpegFault::DataAfterScan: return "entropy data longer than its scan";
    case JpegFault::ZeroRun: return "zero-filled hole in the entropy data";
    case JpegFault::TextRun: return "text inside the entropy data";
    case JpegFault::ImageInsideImage: return "another image starts before the end";
    case JpegFault::Truncated: return "data ends before the end of the image";
  }
  return "";
}

JpegErrorMeaning JpegErrorMeaningOf(int code) {
  switch (code) {
    case kJpegOk: return JpegErrorMeaning::None;
    // Valid files of kinds this decoder leaves alone: 12-bit, arithmetic,
    // lossless or hierarchical frames, CMYK, a first scan that leaves
    // components out, pictures wider or higher than 24576 (or DNL heights),
    // and sizes beyond its memory. Sampling factors outside 1..4 share the
    // scan layout's code.
    case kJpegBadPrecision:
    case kJpegBadHeight:
    case kJpegBadWidth:
    case kJpegArithmetic:
    case kJpegUnsupportedFrame:
    case kJpegBadComponentCount:
    case kJpegBadSampling:
    case kJpegBadBlockAddress:
    case kJpegTooManyAllocations: return JpegErrorMeaning::Unsupported;
    case kJpegReadError:
    case kJpegOutOfMemory: return JpegErrorMeaning::Failure;
    default: return JpegErrorMeaning::Damage;
  }
}

const char* JpegErrorReason(int code) {
  switch (code) {
    case kJpegOk: return "";
    case kJpegDhtTooManyCodes:
    case kJpegDhtBadSlot:
    case kJpegDhtBadLength: return "bad Huffman table";
    case kJpegDqtShort:
    case kJpegDqtBadIndex:
    case kJpegDqtTruncated: return "bad quantisation table";
    case kJpegBadPrecision: return "not 8-bit";
    case kJpegBadHeight:
    case kJpegBadWidth: return "size not supported";
    case kJpegTooManyComponents:
    case kJpegBadFrameLength: return "bad frame header";
    case kJpegBadSegmentLength: return "bad segment length";
    case kJpegBadDriLength: return "bad restart interval";
    case kJpegBadSosLength:
    case kJpegUnknownComponent: return "bad scan header";
    case kJpegArithmetic: return "arithmetic coding not supported";
    case kJpegMarkerOutOfPlace: return "marker out of place";
    case kJpegNoSoi: return "no start of image";
    case kJpegUnsupportedFrame: return "frame type not supported";
    case kJpegTooManyAllocations: return "too many tables";
    case kJpegMissingQuantTable: return "quantisation table missing";
    case kJpegMissingHuffmanTable: return "Huffman table missing";
    case kJpegBadComponentCount: return "component count not supported";
    case kJpegBadSampling: return "sampling not supported";
    case kJpegCorruptData: return "coefficient run past the block";
    case kJpegBadRestart: return "restart marker missing or out of order";
    case kJpegBadBlockAddress: return "picture too wide";
    case kJpegBadProgression: return "bad progressive scan";
    case kJpegBadSuccessive: return "bad successive approximation";
    case kJpegReadError: return "read error";
    case kJpegOutOfMemory: return "out of memory";
  }
  return "decoder error";
}

}  // namespace kestrix
