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

    // The bit register lives in locals here: the input buffer is read through
    // byte pointers, which may alias the members, so the compiler would
    // otherwise store the register back after every symbol. With at least 32
    // valid bits before each symbol, the symbol (up to 16 bits) and its value
    // (up to 16) need no further refill.
    std::uint64_t bits = bitBuffer_;
    int count = bitCount_;
    auto refill = [&] {
        bitBuffer_ = bits;
        bitCount_ = count;
        FillBits();
        bits = bitBuffer_;
        count = bitCount_;
    };
    auto decode = [&](const HuffmanLookup& table) {
        if (count < 32)
            refill();
        const unsigned entry = table.first[bits >> 56];
        if ((entry & 0x8000) == 0) {
            const int length = static_cast<int>(entry >> 8);
            bits <<= length;
            count -= length;
            return static_cast<int>(entry & 0xFF);
        }
        bitBuffer_ = bits;
        bitCount_ = count;
        const int symbol = DecodeLongCode(table, static_cast<int>(entry));
        bits = bitBuffer_;
        count = bitCount_;
        if (count < 16)
            refill();
        return symbol;
    };
    auto take = [&](int size) {
        if (size == 0)
            return 0;
        const int value = static_cast<int>(bits >> (64 - size));
        bits <<= size;
        count -= size;
        return value;
    };

    int category = decode(dcTable);
    if (category > 16)
        category = 16;
    const int difference = JpegReadDifference(category, take(category));
    // The predictor wraps like the 32-bit register it models; only its low 16
    // bits reach the block.
    dcPredictor_[component] = static_cast<std::int32_t>(static_cast<std::uint32_t>(dcPredictor_[component]) +
                                                        static_cast<std::uint32_t>(difference));
    block[0] = static_cast<std::int16_t>(static_cast<std::uint16_t>(dcPredictor_[component]));

    const int previousLast = lastIndex;
    int k = 1;
    while (k < 64) {
        const int symbol = decode(acTable);
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size == 0) {
            if (run != 15)
                break; // end of block
            if (k + 15 >= 64) {
                bitBuffer_ = bits;
                bitCount_ = count;
                Fail(kJpegCorruptData); // ZRL past coefficient 63
            }
            for (int j = k; j < k + 16 && j < previousLast; ++j)
                block[kJpegZigzag[j]] = 0;
            k += 16;
            continue;
        }
        if (k + run >= 64) {
            bitBuffer_ = bits;
            bitCount_ = count;
            Fail(kJpegCorruptData);
        }
        for (int j = k; j < k + run && j < previousLast; ++j)
            block[kJpegZigzag[j]] = 0;
        k += run;
        block[kJpegZigzag[k]] = static_cast<std::int16_t>(JpegExtend(take(size), size));
        ++k;
    }
    bitBuffer_ = bits;
    bitCount_ = count;
    for (int j = k; j < previousLast; ++j)
        block[kJpegZigzag[j]] = 0;
    lastIndex = k;
}

} // namespace kestrix
