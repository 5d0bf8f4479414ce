#include "imaging/check/jpeg_checker.h"

#include "imaging/jpeg/memory_byte_source.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kestrix {

namespace {

// Offset of the first run of at least kJpegZeroRunBytes zero bytes in
// [begin, end), or end.
std::uint64_t FindZeroRun(const std::uint8_t* bytes, std::uint64_t begin, std::uint64_t end) {
  std::uint64_t run = 0;
  for (std::uint64_t i = begin; i < end; ++i) {
    if (bytes[i] != 0) {
      run = 0;
      continue;
    }
    if (++run == std::uint64_t(kJpegZeroRunBytes)) return i + 1 - run;
  }
  return end;
}

bool IsText(std::uint8_t byte) {
  return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
}

// Offset of the first run of at least kJpegTextRunBytes bytes of text in
// [begin, end), or end.
std::uint64_t FindTextRun(const std::uint8_t* bytes, std::uint64_t begin, std::uint64_t end) {
  std::uint64_t run = 0;
  for (std::uint64_t i = begin; i < end; ++i) {
    if (!IsText(bytes[i])) {
      run = 0;
      continue;
    }
    if (++run == std::uint64_t(kJpegTextRunBytes)) return i + 1 - run;
  }
  return end;
}

// A stretch of bytes in the entropy data that is not the photo's: where it
// starts (limit when none) and what it is.
struct Hole {
  std::uint64_t at;
  JpegFault kind;
};

// The earliest hole before limit in the scans decoded: text anywhere; zero
// runs in a scan whose tables decode zeros as coefficients, and with
// onlyNonFlat false in the other scans too (used once damage is known, to
// place its start at the hole that most likely caused it).
Hole EarliestHole(const JpegDecoder& decoder, const std::uint8_t* bytes, std::uint64_t limit,
                  bool onlyNonFlat) {
  Hole earliest{limit, JpegFault::None};
  for (int i = 0; i < decoder.ScanCount(); ++i) {
    const JpegScanSpan& scan = decoder.Scan(i);
    const std::uint64_t end = std::min(scan.end, limit);
    if (scan.begin >= end) continue;
    if (!onlyNonFlat || !scan.zerosDecodeFlat) {
      const std::uint64_t run = FindZeroRun(bytes, scan.begin, end);
      if (run < end && run < earliest.at) earliest = {run, JpegFault::ZeroRun};
    }
    const std::uint64_t textEnd = std::min(end, earliest.at);
    const std::uint64_t text = FindTextRun(bytes, scan.begin, textEnd);
    if (text < textEnd) earliest = {text, JpegFault::TextRun};
  }
  return earliest;
}

// How far before the end of its data the entropy decoder may note a fault
// that bits made up past the end provoked: its bit register reads up to 8
// bytes ahead of the symbol being decoded.
constexpr std::uint64_t kBitRegisterReach = 8;

// Where a find cut inside entropy data ends, when its data ends in FF: a
// stuffed data byte whose 00 was cut off, or the start of a marker, either
// way the last byte of a file cut there. The decoder takes such an FF for a
// marker and reads one bits after it, which decode as an invalid code or an
// overrun, not as the end of the data. Returns the offset of the first FF of
// that final run when the fault lies within the bit register's reach of it
// and only entropy data (restart markers included) leads up to it from there;
// length otherwise.
std::uint64_t CutAtDataFf(const JpegDecoder& decoder, const std::uint8_t* bytes,
                          std::uint64_t length) {
  if (decoder.ScanCount() == 0 || bytes[length - 1] != 0xFF) return length;
  // FF FF is fill before a marker: a find the scan ended there stopped at a
  // marker that cannot stand in a photo (other bytes), not at a cut.
  if (length >= 2 && bytes[length - 2] == 0xFF) return length;
  const std::uint64_t scanBegin = decoder.Scan(decoder.ScanCount() - 1).begin;
  std::uint64_t first = length - 1;
  while (first > scanBegin && bytes[first - 1] == 0xFF) --first;
  const std::uint64_t fault = decoder.FaultOffset();
  if (scanBegin > first || fault + kBitRegisterReach < first)
    return length;  // not in the last scan's data, or the fault came from real data before the end
  // Another marker on the way (another file's, or a damaged byte) is what
  // the fault came from.
  for (std::uint64_t i =
           std::max(scanBegin, fault > kBitRegisterReach ? fault - kBitRegisterReach : 0);
       i < first; ++i) {
    const std::uint8_t next = bytes[i + 1];
    if (bytes[i] == 0xFF && next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7))
      return length;
  }
  return first;
}

}  // namespace

CheckResult JpegChecker::Check(const std::uint8_t* bytes, std::uint64_t length,
                               JpegDcImage* dcImage) {
  CheckResult result;
  JpegDcImage scratch;
  JpegDcImage& dc = dcImage != nullptr ? *dcImage : scratch;
  dc = JpegDcImage{};
  if (bytes == nullptr || length == 0) {
    result.reason = "no data";
    return result;
  }
  MemoryByteSource source({bytes, static_cast<std::size_t>(length)});
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  if (decoder->ErrorCode() == 0) {
    result.width = decoder->Width();
    result.height = decoder->Height();
    decoder->DecodeDc(&dc);
  }
  const int error = decoder->ErrorCode();
  const JpegFault fault = decoder->Fault();
  const std::uint64_t errorAt = std::min(length, decoder->ErrorOffset());
  decoder->Close();
  // A fault that only the made-up bits after a final FF provoked says that
  // the data ended, like one met past the end itself.
  const std::uint64_t cutAtFf = fault != JpegFault::None && fault != JpegFault::Truncated
                                    ? CutAtDataFf(*decoder, bytes, length)
                                    : length;

  if (fault == JpegFault::Truncated || cutAtFf < length) {
    // A hole before the end is damage whatever follows it.
    const std::uint64_t at = cutAtFf < length ? cutAtFf : std::min(decoder->FaultOffset(), length);
    if (const Hole hole = EarliestHole(*decoder, bytes, at, true); hole.at < at)
      result.Judge(Verdict::Damaged, hole.at, JpegFaultReason(hole.kind));
    else
      result.Judge(Verdict::Truncated, at, JpegFaultReason(JpegFault::Truncated));
  } else if (fault != JpegFault::None) {
    const std::uint64_t at = std::min(decoder->FaultOffset(), length);
    const Hole hole = EarliestHole(*decoder, bytes, at, false);
    result.Judge(Verdict::Damaged, hole.at < at ? hole.at : at,
                 hole.at < at ? JpegFaultReason(hole.kind) : JpegFaultReason(fault));
  } else if (error != 0) {
    switch (JpegErrorMeaningOf(error)) {
      case JpegErrorMeaning::Damage:
        if (decoder->InputEnded())
          result.Judge(Verdict::Truncated, length, JpegFaultReason(JpegFault::Truncated));
        else if (const Hole hole = EarliestHole(*decoder, bytes, errorAt, false); hole.at < errorAt)
          result.Judge(Verdict::Damaged, hole.at, JpegFaultReason(hole.kind));
        else
          result.Judge(Verdict::Damaged, errorAt, JpegErrorReason(error));
        break;
      default:
        // A kind of JPEG the decoder leaves alone, or it could not run:
        // no verdict either way.
        result.reason = JpegErrorReason(error);
        break;
    }
  } else if (decoder->InputEnded()) {
    result.Judge(Verdict::Truncated, length, JpegFaultReason(JpegFault::Truncated));
  } else if (!dc.pixels.empty() && decoder->EndMarker() == 0xDA) {
    result.reason = "further scans not checked";
  } else {
    const Hole hole = EarliestHole(*decoder, bytes, length, true);
    if (hole.at < length)
      result.Judge(Verdict::Damaged, hole.at, JpegFaultReason(hole.kind));
    else
      result.verdict = Verdict::Intact;
  }
  return result;
}

}  // namespace kestrix
