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

    if (fault == JpegFault::Truncated) {
        // A hole before the end is damage whatever follows it.
        const std::uint64_t at = std::min(decoder->FaultOffset(), length);
        if (const std::uint64_t hole = EarliestZeroRun(*decoder, bytes, at, true); hole < at)
            result.Judge(Verdict::Damaged, hole, JpegFaultReason(JpegFault::ZeroRun));
        else
            result.Judge(Verdict::Truncated, at, JpegFaultReason(fault));
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
