// Sequential (baseline and extended) scans: one MCU row per request.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_entropy_inline.h"
#include "imaging/jpeg/jpeg_tables.h"

namespace kestrix {

void JpegDecoder::DecodeSequentialMcuRow()
{
    for (int mcu = 0; mcu < mcusPerRow_; ++mcu) {
        if (restartInterval_ != 0 && restartsToGo_ == 0)
            ProcessRestart();
        const int first = mcu * blocksPerMcu_;
        for (int b = 0; b < blocksPerMcu_; ++b) {
            const int block = first + b;
            DecodeSequentialBlock(mcuBlocks_[b].component, coefficientBlocks_ + std::size_t(block) * 64, lastIndex_[block]);
        }
        if (restartInterval_ != 0)
            --restartsToGo_;
    }
}

// T.81 F.2.2. The buffer is not cleared as a whole: lastIndex says how far the
// previous block in it reached, so only positions below it that this block
// leaves empty are zeroed. -227 when a run passes coefficient 63.
void JpegDecoder::DecodeSequentialBlock(int component, std::int16_t* block, std::int32_t& lastIndex)
{
    // The first scan lists the frame's components in frame order, so the
    // component index is also the scan component index.
    const HuffmanLookup& dcTable = lookups_[dcSlot_[component]];
    const HuffmanLookup& acTable = lookups_[acSlot_[component]];

    int category = DecodeSymbol(dcTable);
    if (category > 16)
        category = 16;
    const int difference = JpegReadDifference(category, GetBits(category));
    // The predictor wraps like the 32-bit register it models; only its low 16
    // bits reach the block.
    dcPredictor_[component] = static_cast<std::int32_t>(static_cast<std::uint32_t>(dcPredictor_[component]) +
                                                        static_cast<std::uint32_t>(difference));
    block[0] = static_cast<std::int16_t>(static_cast<std::uint16_t>(dcPredictor_[component]));

    const int previousLast = lastIndex;
    int k = 1;
    while (k < 64) {
        const int symbol = DecodeSymbol(acTable);
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size == 0) {
            if (run != 15)
                break; // end of block
            if (k + 15 >= 64)
                Fail(kJpegCorruptData); // ZRL past coefficient 63
            for (int j = k; j < k + 16; ++j)
                block[kJpegZigzag[j]] = 0;
            k += 16;
            continue;
        }
        if (k + run >= 64)
            Fail(kJpegCorruptData);
        for (int j = k; j < k + run; ++j)
            block[kJpegZigzag[j]] = 0;
        k += run;
        block[kJpegZigzag[k]] = static_cast<std::int16_t>(JpegExtend(GetBits(size), size));
        ++k;
    }
    for (int j = k; j < previousLast; ++j)
        block[kJpegZigzag[j]] = 0;
    lastIndex = k;
}

} // namespace kestrix
