#include "imaging/check/jpeg_checker.h"

#include "imaging/jpeg/memory_byte_source.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kestrix {

namespace {

// Offset of the first run of at least kJpegZeroRunBytes zero bytes in
// [begin, end), or end.
std::uint64_t FindZeroRun(const std::uint8_t* bytes, std::uint64_t begin, std::uint64_t end)
{
    std::uint64_t run = 0;
    for (std::uint64_t i = begin; i < end; ++i) {
        if (bytes[i] != 0) {
            run = 0;
            continue;
        }
        if (++run == std::uint64_t(kJpegZeroRunBytes))
            return i + 1 - run;
    }
    return end;
}

// The earliest zero run before limit in the scans decoded: in a scan whose
// tables decode zeros as coefficients any run counts; with onlyNonFlat
// false, runs in the other scans count too (used once damage is known, to
// place its start at the hole that most likely caused it).
std::uint64_t EarliestZeroRun(const JpegDecoder& decoder, const std::uint8_t* bytes, std::uint64_t limit,
                              bool onlyNonFlat)
{
    std::uint64_t earliest = limit;
    for (int i = 0; i < decoder.ScanCount(); ++i) {
        const JpegScanSpan& scan = decoder.Scan(i);
        if (onlyNonFlat && scan.zerosDecodeFlat)
            continue;
        const std::uint64_t end = std::min(scan.end, limit);
        if (scan.begin < end) {
            const std::uint64_t run = FindZeroRun(bytes, scan.begin, end);
            if (run < end)
                earliest = std::min(earliest, run);
        }
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
std::uint64_t CutAtDataFf(const JpegDecoder& decoder, const std::uint8_t* bytes, std::uint64_t length)
{
    if (decoder.ScanCount() == 0 || bytes[length - 1] != 0xFF)
        return length;
    // FF FF is fill before a marker: a find the scan ended there stopped at a
    // marker that cannot stand in a photo (other bytes), not at a cut.
    if (length >= 2 && bytes[length - 2] == 0xFF)
        return length;
    const std::uint64_t scanBegin = decoder.Scan(decoder.ScanCount() - 1).begin;
    std::uint64_t first = length - 1;
    while (first > scanBegin && bytes[first - 1] == 0xFF)
        --first;
    const std::uint64_t fault = decoder.FaultOffset();
    if (scanBegin > first || fault + kBitRegisterReach < first)
        return length; // not in the last scan's data, or the fault came from real data before the end
    // Another marker on the way (another file's, or a damaged byte) is what
    // the fault came from.
    for (std::uint64_t i = std::max(scanBegin, fault > kBitRegisterReach ? fault - kBitRegisterReach : 0); i < first; ++i) {
        const std::uint8_t next = bytes[i + 1];
        if (bytes[i] == 0xFF && next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7))
            return length;
    }
    return first;
}

} // namespace

CheckResult JpegChecker::Check(const std::uint8_t* bytes, std::uint64_t length, JpegDcImage* dcImage)
{
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
    const std::uint64_t cutAtFf =
        fault != JpegFault::None && fault != JpegFault::Truncated ? CutAtDataFf(*decoder, bytes, length) : length;

    if (fault == JpegFault::Truncated || cutAtFf < length) {
        // A hole before the end is damage whatever follows it.
        const std::uint64_t at = cutAtFf < length ? cutAtFf : std::min(decoder->FaultOffset(), length);
        if (const std::uint64_t hole = EarliestZeroRun(*decoder, bytes, at, true); hole < at)
            result.Judge(Verdict::Damaged, hole, JpegFaultReason(JpegFault::ZeroRun));
        else
            result.Judge(Verdict::Truncated, at, JpegFaultReason(JpegFault::Truncated));
    } else if (fault != JpegFault::None) {
        const std::uint64_t at = std::min(decoder->FaultOffset(), length);
        const std::uint64_t hole = EarliestZeroRun(*decoder, bytes, at, false);
        result.Judge(Verdict::Damaged, hole < at ? hole : at,
              hole < at ? JpegFaultReason(JpegFault::ZeroRun) : JpegFaultReason(fault));
    } else if (error != 0) {
        switch (JpegErrorMeaningOf(error)) {
        case JpegErrorMeaning::Damage:
            if (decoder->InputEnded())
                result.Judge(Verdict::Truncated, length, JpegFaultReason(JpegFault::Truncated));
            else if (const std::uint64_t hole = EarliestZeroRun(*decoder, bytes, errorAt, false); hole < errorAt)
                result.Judge(Verdict::Damaged, hole, JpegFaultReason(JpegFault::ZeroRun));
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
        const std::uint64_t hole = EarliestZeroRun(*decoder, bytes, length, true);
        if (hole < length)
            result.Judge(Verdict::Damaged, hole, JpegFaultReason(JpegFault::ZeroRun));
        else
            result.verdict = Verdict::Intact;
    }
    return result;
}

} // namespace kestrix
