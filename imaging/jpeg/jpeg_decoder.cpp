#include "imaging/jpeg/jpeg_decoder.h"

#include "imaging/jpeg/jpeg_idct.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

namespace kestrix {

namespace {

// Thrown by Fail and caught only at Open, Start and ReadRow. Everything in
// between allocates through the slot table, so unwinding leaks nothing.
struct JpegFailure {
    int code;
};

} // namespace

JpegDecoder::JpegDecoder() = default;

JpegDecoder::~JpegDecoder()
{
    Close();
}

void JpegDecoder::Fail(int code)
{
    throw JpegFailure{code};
}

void JpegDecoder::EnterFailedState(int code)
{
    if (errorCode_ == 0) {
        errorCode_ = code;
        errorOffset_ = StreamOffset();
    }
    FreeAll();
    if (source_ != nullptr) {
        source_->Release();
        source_ = nullptr;
    }
    started_ = false;
}

// -221: all slots in use; -233: the allocation failed. The memory is zeroed
// and 8-byte aligned.
void JpegDecoder::NoteFault(JpegFault fault, std::uint64_t offset)
{
    if (fault_ != JpegFault::None)
        return;
    // Past the end of the input the decoder reads bytes it made up: whatever
    // they provoke says only that the data ended.
    if (inputExhausted_) {
        fault = JpegFault::Truncated;
        offset = StreamOffset();
    }
    fault_ = fault;
    faultOffset_ = offset;
}

void JpegDecoder::StopOnFault(JpegFault fault)
{
    NoteFault(fault, EntropyOffset());
    if (progressive_ && inputExhausted_ && !started_)
        throw InputEndedStop{};
    Fail(JpegFaultStopCode(fault));
}

// Offset of the next byte the input buffer gives.
std::uint64_t JpegDecoder::StreamOffset() const
{
    const std::int64_t inChunk = readPointer_ - (input_.data() + kJpegInputHeadRoom);
    const std::int64_t offset = static_cast<std::int64_t>(chunkOffset_) + inChunk;
    return offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
}

// Roughly the byte the entropy decoder is at: the buffer position less the
// whole bytes still waiting in the bit register.
std::uint64_t JpegDecoder::EntropyOffset() const
{
    const std::uint64_t ahead = static_cast<std::uint64_t>(bitCount_ / 8);
    const std::uint64_t offset = StreamOffset();
    return offset > ahead ? offset - ahead : 0;
}

void* JpegDecoder::Allocate(std::size_t size)
{
    std::size_t slot = 0;
    while (slot < allocations_.size() && allocations_[slot])
        ++slot;
    if (slot == allocations_.size())
        Fail(kJpegTooManyAllocations);
    if (size > std::numeric_limits<std::size_t>::max() - 8)
        Fail(kJpegOutOfMemory);
    auto* raw = static_cast<std::uint8_t*>(std::calloc(size + 8, 1));
    if (raw == nullptr)
        Fail(kJpegOutOfMemory);
    allocations_[slot].reset(raw);
    const auto address = reinterpret_cast<std::uintptr_t>(raw);
    return raw + ((8 - (address & 7)) & 7);
}

void JpegDecoder::FreeAll()
{
    for (auto& allocation : allocations_)
        allocation.reset();
    // Forget every pointer into the freed memory.
    huffmanCounts_.fill(nullptr);
    huffmanSymbols_.fill(nullptr);
    quantisation_.fill(nullptr);
    progressive_components_.fill(ProgressiveComponent{});
    coefficientBlocks_ = nullptr;
    samples_ = nullptr;
    rowBuffers_.fill(nullptr);
}

void JpegDecoder::Open(ByteSource* source)
{
    Close();
    width_ = 0;
    height_ = 0;
    progressive_ = false;
    colourMode_ = 0;
    frameComponentCount_ = 0;
    components_.fill(FrameComponent{});
    maxH_ = 1;
    maxV_ = 1;
    scanComponentCount_ = 0;
    Ss_ = Se_ = Ah_ = Al_ = 0;
    mcuWidth_ = mcuHeight_ = 8;
    blocksPerMcu_ = blocksPerMcuRow_ = mcusPerRow_ = mcuRows_ = nextMcuRow_ = 0;
    rowsToDeliver_ = rowsLeftInMcuRow_ = rowBytes_ = rowBufferSize_ = bytesPerPixel_ = 0;
    eobRun_ = 0;
    available_ = 0;
    readPointer_ = input_.data() + kJpegInputHeadRoom;
    fillerToggle_ = false;
    sourceEnded_ = false;
    bitCount_ = 0;
    bitBuffer_ = 0;
    markerReached_ = false;
    restartInterval_ = restartsToGo_ = nextRestart_ = 0;
    dcPredictor_.fill(0);
    errorCode_ = 0;
    started_ = false;
    lastIndex_.fill(64);
    chunkOffset_ = 0;
    chunkFilled_ = 0;
    phantomBytes_ = fillerBytes_ = 0;
    markerAtEnd_ = false;
    markerOffset_ = 0;
    inputExhausted_ = false;
    segmentLeftover_ = 0;
    segmentEndOffset_ = 0;
    markerSkipped_ = 0;
    fault_ = JpegFault::None;
    faultOffset_ = 0;
    errorOffset_ = 0;
    endMarker_ = 0;
    checkMode_ = false;
    scanCount_ = 0;
    currentScan_ = -1;

    try {
        if (source == nullptr)
            Fail(kJpegReadError);
        source_ = source;
        source_->Reset();
        RefillInput();
        FindSoi();
        ReadHeaders();
    } catch (const JpegFailure& failure) {
        EnterFailedState(failure.code);
    }
}

int JpegDecoder::Start()
{
    if (started_)
        return 0;
    if (errorCode_ != 0 || source_ == nullptr)
        return -1;
    try {
        ChooseColourMode();
        AllocateOutput();
        BuildColourTables();
        if (progressive_) {
            DecodeProgressive();
        } else {
            const int marker = NextMarker();
            if (marker != 0xDA)
                Fail(kJpegMarkerOutOfPlace); // EOI or a frame marker: no scan to decode
            ReadScanHeader();
            // Only the first scan is decoded and the output stage takes its
            // blocks as whole MCUs of every component, so that scan must
            // interleave all components in frame order (T.81 B.2.3 asks for
            // that order). A partial or non-interleaved first scan cannot
            // give a picture here.
            if (scanComponentCount_ != frameComponentCount_)
                Fail(kJpegBadSampling);
            for (int i = 0; i < scanComponentCount_; ++i) {
                if (scanComponents_[i] != i)
                    Fail(kJpegBadSampling);
            }
            SetUpScan();
        }
        rowsToDeliver_ = height_;
        rowsLeftInMcuRow_ = 0;
        nextMcuRow_ = 0;
        started_ = true;
        return 0;
    } catch (const JpegFailure& failure) {
        EnterFailedState(failure.code);
        return -1;
    }
}

int JpegDecoder::ReadRow(const std::uint8_t** row, int* byteCount)
{
    if (errorCode_ != 0 || !started_)
        return -1;
    if (rowsToDeliver_ == 0)
        return 1;
    try {
        return DeliverRow(row, byteCount);
    } catch (const JpegFailure& failure) {
        EnterFailedState(failure.code);
        return kJpegCorruptData;
    }
}

int JpegDecoder::DecodeDc(JpegDcImage* image)
{
    *image = JpegDcImage{};
    if (started_ || errorCode_ != 0 || source_ == nullptr)
        return -1;
    checkMode_ = true;
    if (Start() != 0)
        return -1;
    int decodedMcuRows = 0;
    try {
        if (progressive_) {
            decodedMcuRows = mcuRows_;
        } else {
            AllocateCoefficientStores(false);
            for (; decodedMcuRows < mcuRows_ && !ShouldStopChecking(); ++decodedMcuRows) {
                DecodeSequentialMcuRow();
                StoreSequentialDc(decodedMcuRows);
            }
            if (!ShouldStopChecking())
                ReadEndOfImage();
        }
        if (inputExhausted_)
            NoteFault(JpegFault::Truncated, StreamOffset()); // stopped early for it, or EOI was made up
        BuildDcImage(image, decodedMcuRows);
    } catch (const JpegFailure& failure) {
        // The blocks decoded before the error still make a picture.
        try {
            BuildDcImage(image, decodedMcuRows);
        } catch (const std::bad_alloc&) {
            *image = JpegDcImage{};
        }
        EnterFailedState(failure.code);
        return -1;
    } catch (const std::bad_alloc&) {
        *image = JpegDcImage{};
        EnterFailedState(kJpegOutOfMemory);
        return -1;
    }
    rowsToDeliver_ = 0;
    return 0;
}

void JpegDecoder::Close()
{
    if (source_ != nullptr) {
        source_->Release();
        source_ = nullptr;
    }
    FreeAll();
    started_ = false;
}

void JpegDecoder::AllocateOutput()
{
    mcusPerRow_ = (width_ + mcuWidth_ - 1) / mcuWidth_;
    mcuRows_ = (height_ + mcuHeight_ - 1) / mcuHeight_;
    blocksPerMcuRow_ = blocksPerMcu_ * mcusPerRow_;
    if (blocksPerMcuRow_ > kJpegMaxBlocksPerMcuRow)
        Fail(kJpegBadBlockAddress);
    coefficientBlocks_ = static_cast<std::int16_t*>(Allocate(std::size_t(blocksPerMcuRow_) * 64 * sizeof(std::int16_t)));
    samples_ = static_cast<std::uint8_t*>(Allocate(std::size_t(blocksPerMcuRow_) * 64));
    rowBytes_ = width_ * bytesPerPixel_;
    // ConvertRow writes whole MCUs: up to 31 pixels beyond the width.
    rowBufferSize_ = std::max((width_ + 15) & ~15, mcusPerRow_ * mcuWidth_) * bytesPerPixel_;
    for (auto& buffer : rowBuffers_)
        buffer = static_cast<std::uint8_t*>(Allocate(std::size_t(rowBufferSize_)));
}

void JpegDecoder::DecodeNextMcuRow()
{
    if (progressive_) {
        AssembleProgressiveMcuRow();
    } else {
        DecodeSequentialMcuRow();
        if (nextMcuRow_ + 1 == mcuRows_)
            ReadEndOfImage();
    }
    ++nextMcuRow_;
    TransformMcuRow();
    rowsLeftInMcuRow_ = mcuHeight_;
}

void JpegDecoder::TransformMcuRow()
{
    for (int block = 0; block < blocksPerMcuRow_; ++block) {
        const int component = mcuBlocks_[block % blocksPerMcu_].component;
        InverseDct(coefficientBlocks_ + std::size_t(block) * 64,
                   quantisation_[components_[component].tq], samples_ + std::size_t(block) * 64);
    }
}

int JpegDecoder::DeliverRow(const std::uint8_t** row, int* byteCount)
{
    if (rowsLeftInMcuRow_ == 0)
        DecodeNextMcuRow();
    const int rowInMcu = mcuHeight_ - rowsLeftInMcuRow_;
    const std::uint8_t* delivered = rowBuffers_[0];
    if (colourMode_ == 3 || colourMode_ == 4) {
        // Two luma rows share one chroma row: convert the pair at once and
        // hand out the lower one on the next call.
        if (rowsLeftInMcuRow_ % 2 == 0) {
            ConvertRow(rowInMcu, rowBuffers_[0]);
            ConvertRow(rowInMcu + 1, rowBuffers_[1]);
        } else {
            delivered = rowBuffers_[1];
        }
    } else {
        ConvertRow(rowInMcu, rowBuffers_[0]);
    }
    --rowsLeftInMcuRow_;
    --rowsToDeliver_;
    *row = delivered;
    *byteCount = rowBytes_;
    return 0;
}

} // namespace kestrix
