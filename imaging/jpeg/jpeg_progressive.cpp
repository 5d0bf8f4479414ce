// Progressive scans (T.81 Annex G.1.2), all decoded inside Start, and the
// assembly of MCU rows from the stored coefficients for ReadRow.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_entropy_inline.h"
#include "imaging/jpeg/jpeg_tables.h"

#include <cstring>

namespace kestrix {

namespace {

inline std::int16_t Wrap16(std::uint32_t value)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

} // namespace

// -233 when the coefficient store would exceed kJpegMaxProgressiveBytes;
// -230/-231 bad scan parameters; -222 a component no table was ever given
// for; and every error of the scans themselves.
void JpegDecoder::DecodeProgressive()
{
    AllocateCoefficientStores(true);

    bool afterScan = false;
    for (;;) {
        const int marker = NextMarker();
        if (afterScan)
            NoteTrailingBytes(markerSkipped_);
        if (marker == 0xD9)
            break;
        if (marker != 0xDA) {
            NoteMarkerAfterFrame(marker);
            Fail(kJpegMarkerOutOfPlace);
        }
        ReadScanHeader();
        SetUpScan();
        if (Se_ < Ss_ || Se_ > 63)
            Fail(kJpegBadProgression);
        if (Ss_ > 0 && scanComponentCount_ != 1)
            Fail(kJpegBadProgression); // AC scans are never interleaved (G.1.1.1.1)
        if (Ss_ == 0 && Se_ != 0)
            Fail(kJpegBadProgression); // DC and AC never share a scan
        if (Ah_ != 0 && Ah_ != Al_ + 1)
            Fail(kJpegBadSuccessive);
        bool complete = false;
        try {
            complete = DecodeProgressiveScan();
        } catch (const InputEndedStop&) {
            // The fault is noted as the data's end; the scans before it stay.
        }
        EndEntropySegment();
        afterScan = true;
        if (!complete || ShouldStopScans())
            break;
    }

    // A component that no scan reached still goes through the IDCT.
    for (int c = 0; c < frameComponentCount_; ++c) {
        const int tq = components_[c].tq;
        if (tq > 3 || quantisation_[tq] == nullptr)
            Fail(kJpegMissingQuantTable);
    }
}

// The per-component stores in the output geometry; greyscale output uses
// 8 x 8 MCUs whatever the component's factors, so its store is the
// component's blocks. DC only (withAc false) for a sequential DC picture.
// -233 when they would exceed kJpegMaxProgressiveBytes.
void JpegDecoder::AllocateCoefficientStores(bool withAc)
{
    std::size_t total = 0;
    for (int c = 0; c < frameComponentCount_; ++c) {
        ProgressiveComponent& store = progressive_components_[c];
        store.widthInBlocks = mcusPerRow_ * (colourMode_ == 0 ? 1 : components_[c].h);
        store.heightInBlocks = mcuRows_ * (colourMode_ == 0 ? 1 : components_[c].v);
        total += std::size_t(store.widthInBlocks) * std::size_t(store.heightInBlocks) * ((withAc ? 64 : 0) + 1) *
                 sizeof(std::int16_t);
    }
    if (total > kJpegMaxProgressiveBytes)
        Fail(kJpegOutOfMemory);
    for (int c = 0; c < frameComponentCount_; ++c) {
        ProgressiveComponent& store = progressive_components_[c];
        const std::size_t blocks = std::size_t(store.widthInBlocks) * std::size_t(store.heightInBlocks);
        store.dc = static_cast<std::int16_t*>(Allocate(blocks * sizeof(std::int16_t)));
        if (withAc)
            store.coefficients = static_cast<std::int16_t*>(Allocate(blocks * 64 * sizeof(std::int16_t)));
    }
}

// False when it stopped early: the data ran out, or a check met a fault.
bool JpegDecoder::DecodeProgressiveScan()
{
    const bool dcScan = Ss_ == 0;
    const bool refine = Ah_ != 0;
    for (int i = 0; i < scanComponentCount_; ++i)
        progressive_components_[scanComponents_[i]].blockRow = 0;

    // -229 when a block lies outside its component's store.
    auto decodeBlock = [&](int scanIndex, int column, int row) {
        const int c = scanComponents_[scanIndex];
        ProgressiveComponent& store = progressive_components_[c];
        if (column < 0 || row < 0 || column >= store.widthInBlocks || row >= store.heightInBlocks)
            Fail(kJpegBadBlockAddress);
        const std::size_t block = std::size_t(row) * std::size_t(store.widthInBlocks) + std::size_t(column);
        if (dcScan) {
            if (refine)
                DecodeDcRefine(store.dc + block);
            else
                DecodeDcFirst(scanIndex, store.dc + block);
        } else {
            std::int16_t* coefficients = store.coefficients + block * 64;
            if (refine)
                DecodeAcRefine(coefficients);
            else
                DecodeAcFirst(coefficients);
        }
    };

    for (int mcuRow = 0; mcuRow < scanMcuRows_; ++mcuRow) {
        for (int mcu = 0; mcu < scanMcusPerRow_; ++mcu) {
            if (restartInterval_ != 0 && restartsToGo_ == 0)
                ProcessRestart();
            if (scanComponentCount_ == 1) {
                decodeBlock(0, mcu, mcuRow);
            } else {
                for (int i = 0; i < scanComponentCount_; ++i) {
                    const FrameComponent& component = components_[scanComponents_[i]];
                    const int blockRow = progressive_components_[scanComponents_[i]].blockRow;
                    for (int v = 0; v < component.v; ++v) {
                        for (int h = 0; h < component.h; ++h)
                            decodeBlock(i, mcu * component.h + h, blockRow + v);
                    }
                }
            }
            if (restartInterval_ != 0)
                --restartsToGo_;
        }
        for (int i = 0; i < scanComponentCount_; ++i) {
            const int step = scanComponentCount_ == 1 ? 1 : components_[scanComponents_[i]].v;
            progressive_components_[scanComponents_[i]].blockRow += step;
        }
        if (ShouldStopScans())
            return false;
    }
    return true;
}

// G.1.2.1: the predictor holds the unshifted value.
void JpegDecoder::DecodeDcFirst(int scanIndex, std::int16_t* dc)
{
    int category = DecodeSymbol(lookups_[dcSlot_[scanIndex]]);
    if (category > 16)
        category = 16;
    const int difference = JpegReadDifference(category, GetBits(category));
    const int c = scanComponents_[scanIndex];
    dcPredictor_[c] = static_cast<std::int32_t>(static_cast<std::uint32_t>(dcPredictor_[c]) +
                                                static_cast<std::uint32_t>(difference));
    *dc = Wrap16(static_cast<std::uint32_t>(dcPredictor_[c]) << Al_);
}

void JpegDecoder::DecodeDcRefine(std::int16_t* dc)
{
    if (GetBit() != 0)
        *dc = Wrap16(static_cast<std::uint16_t>(*dc) | (1u << Al_));
}

// G.1.2.2. -227 when a run passes coefficient 63.
void JpegDecoder::DecodeAcFirst(std::int16_t* coefficients)
{
    if (eobRun_ > 0) {
        --eobRun_;
        return;
    }
    const HuffmanLookup& table = lookups_[acSlot_[0]];
    for (int k = Ss_; k <= Se_; ++k) {
        const int symbol = DecodeSymbol(table);
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size != 0) {
            k += run;
            if (k > 63)
                StopOnFault(JpegFault::CoefficientOverrun);
            const int value = JpegExtend(GetBits(size), size);
            coefficients[kJpegZigzag[k]] = Wrap16(static_cast<std::uint32_t>(value) << Al_);
        } else if (run == 15) {
            k += 15;
            if (k > 63)
                StopOnFault(JpegFault::CoefficientOverrun);
        } else {
            eobRun_ = 1 << run;
            if (run != 0)
                eobRun_ += GetBits(run);
            --eobRun_; // this block is the first of the run
            return;
        }
    }
}

// G.1.2.3. -227 when a symbol's size is not 0 or 1, or a new coefficient
// would land past position 63.
void JpegDecoder::DecodeAcRefine(std::int16_t* coefficients)
{
    const int p1 = 1 << Al_;
    const int m1 = -(1 << Al_);
    const HuffmanLookup& table = lookups_[acSlot_[0]];

    // Correction bit for a coefficient already non-zero: sets bit Al
    // towards its sign unless already set.
    auto correct = [&](std::int16_t& coefficient) {
        if (GetBit() != 0 && (coefficient & p1) == 0)
            coefficient = Wrap16(static_cast<std::uint32_t>(coefficient + (coefficient >= 0 ? p1 : m1)));
    };

    int k = Ss_;
    if (eobRun_ == 0) {
        for (; k <= Se_; ++k) {
            const int symbol = DecodeSymbol(table);
            int run = symbol >> 4;
            const int size = symbol & 15;
            int value = 0;
            if (size != 0) {
                if (size != 1)
                    StopOnFault(JpegFault::CoefficientOverrun);
                value = GetBit() != 0 ? p1 : m1;
            } else if (run != 15) {
                eobRun_ = 1 << run;
                if (run != 0)
                    eobRun_ += GetBits(run);
                break; // the rest of the band is handled below
            }
            // Skip run zero coefficients (ZRL: 16), correcting the non-zero
            // ones passed on the way.
            while (k <= Se_) {
                std::int16_t& coefficient = coefficients[kJpegZigzag[k]];
                if (coefficient != 0) {
                    correct(coefficient);
                } else {
                    if (run == 0)
                        break;
                    --run;
                }
                ++k;
            }
            if (value != 0) {
                if (k > 63)
                    StopOnFault(JpegFault::CoefficientOverrun);
                coefficients[kJpegZigzag[k]] = static_cast<std::int16_t>(value);
            }
        }
    }
    if (eobRun_ > 0) {
        for (; k <= Se_; ++k) {
            std::int16_t& coefficient = coefficients[kJpegZigzag[k]];
            if (coefficient != 0)
                correct(coefficient);
        }
        --eobRun_;
    }
}

void JpegDecoder::AssembleProgressiveMcuRow()
{
    for (int mcu = 0; mcu < mcusPerRow_; ++mcu) {
        for (int b = 0; b < blocksPerMcu_; ++b) {
            const McuBlock& place = mcuBlocks_[b];
            const ProgressiveComponent& store = progressive_components_[place.component];
            const int h = colourMode_ == 0 ? 1 : components_[place.component].h;
            const int v = colourMode_ == 0 ? 1 : components_[place.component].v;
            const int column = mcu * h + place.h;
            const int row = nextMcuRow_ * v + place.v;
            if (column >= store.widthInBlocks || row >= store.heightInBlocks)
                Fail(kJpegBadBlockAddress);
            const std::size_t index = std::size_t(row) * std::size_t(store.widthInBlocks) + std::size_t(column);
            std::int16_t* destination = coefficientBlocks_ + (std::size_t(mcu) * blocksPerMcu_ + b) * 64;
            std::memcpy(destination, store.coefficients + index * 64, 64 * sizeof(std::int16_t));
            destination[0] = store.dc[index];
        }
    }
}

} // namespace kestrix
