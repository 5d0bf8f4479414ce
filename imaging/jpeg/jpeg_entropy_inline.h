#pragma once
// Hot paths of the bit reader and the Huffman decoder, included only by the
// scan decoders so they inline into the per-coefficient loops.

#include "imaging/jpeg/jpeg_decoder.h"

#include <bit>
#include <cstring>

namespace kestrix {

// T.81 F.2.2.5 / B.1.1.5: FF 00 is a data FF; FF followed by anything else is
// a marker, which is put back so it stays next in the stream, and from then on
// the reader yields FF (one bits). A real FF that ends the input counts as a
// marker too. Past the end, the synthesised FF D9 pairs are plain data.
inline std::uint8_t JpegDecoder::NextEntropyByte()
{
    if (markerReached_) {
        ++phantomBytes_;
        return 0xFF;
    }
    if (available_ == 0) {
        RefillInput();
        if (available_ == 0) {
            ++fillerBytes_;
            return NextByte(); // synthesised filler, taken as data
        }
    }
    const std::uint8_t byte = *readPointer_++;
    --available_;
    if (byte != 0xFF)
        return byte;
    if (available_ == 0)
        RefillInput();
    if (available_ > 0 && *readPointer_ == 0x00) {
        ++readPointer_;
        --available_;
        return 0xFF;
    }
    PutBack(0xFF);
    markerReached_ = true;
    markerAtEnd_ = available_ == 1 && sourceEnded_;
    markerOffset_ = StreamOffset();
    ++phantomBytes_;
    return 0xFF;
}

// Adds whole bytes below the valid bits until more than 48 are valid.
inline void JpegDecoder::FillBits()
{
    // Fastest path: when the bytes needed are all in the buffer and none is
    // FF, take them with one 8-byte load. The input array has tail padding
    // behind the data, so the load never leaves it. Exactly the bytes the
    // byte loop below would take are taken.
    if (bitCount_ <= 48 && available_ >= 8) {
        const int needed = ((48 - bitCount_) >> 3) + 1; // 1..7
        std::uint64_t word;
        std::memcpy(&word, readPointer_, 8);
        if constexpr (std::endian::native == std::endian::little)
            word = __builtin_bswap64(word);
        const std::uint64_t keep = ~std::uint64_t{0} << (64 - 8 * needed);
        // A byte of `flipped` is zero exactly where a kept byte is FF.
        const std::uint64_t flipped = ~word | ~keep;
        constexpr std::uint64_t kOnes = 0x0101010101010101;
        constexpr std::uint64_t kHighs = 0x8080808080808080;
        if (((flipped - kOnes) & ~flipped & kHighs) == 0) {
            bitBuffer_ |= (word & keep) >> bitCount_;
            bitCount_ += 8 * needed;
            readPointer_ += needed;
            available_ -= needed;
            return;
        }
    }
    // Fast path: plain data bytes straight from the buffer.
    while (bitCount_ <= 48 && available_ > 0 && *readPointer_ != 0xFF) {
        bitBuffer_ |= std::uint64_t(*readPointer_++) << (56 - bitCount_);
        --available_;
        bitCount_ += 8;
    }
    while (bitCount_ <= 48) {
        bitBuffer_ |= std::uint64_t(NextEntropyByte()) << (56 - bitCount_);
        bitCount_ += 8;
    }
}

// count is 0..16.
inline int JpegDecoder::GetBits(int count)
{
    if (count == 0)
        return 0;
    if (bitCount_ < count)
        FillBits();
    const int value = static_cast<int>(bitBuffer_ >> (64 - count));
    bitBuffer_ <<= count;
    bitCount_ -= count;
    return value;
}

inline int JpegDecoder::GetBit()
{
    return GetBits(1);
}

inline int JpegDecoder::DecodeSymbol(const HuffmanLookup& lookup)
{
    if (bitCount_ < 16)
        FillBits();
    const unsigned entry = lookup.first[bitBuffer_ >> 56];
    if ((entry & 0x8000) == 0) {
        const int length = static_cast<int>((entry >> 8) & 31);
        bitBuffer_ <<= length;
        bitCount_ -= length;
        if ((entry & HuffmanLookup::kNoCode) != 0)
            NoteFault(JpegFault::InvalidCode, EntropyOffset());
        return static_cast<int>(entry & 0xFF);
    }
    return DecodeLongCode(lookup, static_cast<int>(entry));
}

// T.81 F.2.2.1 EXTEND. size is 1..16.
inline int JpegExtend(int value, int size)
{
    return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
}

// Reads a DC difference of the category a DC symbol gives. Categories above
// 16 cannot occur in 8-bit data (T.81 F.1.2.1 stops at 11); a damaged table
// that yields one is read as 16 bits, the most the bit register holds.
inline int JpegReadDifference(int category, int bits)
{
    return category == 0 ? 0 : JpegExtend(bits, category);
}

} // namespace kestrix
