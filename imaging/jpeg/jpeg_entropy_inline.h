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
inline std::uint8_t JpegDecoder::NextEntropyByte() {
  if (entropy_.markerReached) {
    ++entropy_.phantomBytes;
    return 0xFF;
  }
  if (entropy_.available == 0) {
    RefillInput();
    if (entropy_.available == 0) {
      ++entropy_.fillerBytes;
      return NextByte();  // synthesised filler, taken as data
    }
  }
  const std::uint8_t byte = *entropy_.readPointer++;
  --entropy_.available;
  if (byte != 0xFF) return byte;
  if (entropy_.available == 0) RefillInput();
  if (entropy_.available > 0 && *entropy_.readPointer == 0x00) {
    ++entropy_.readPointer;
    --entropy_.available;
    return 0xFF;
  }
  PutBack(0xFF);
  entropy_.markerReached = true;
  entropy_.markerAtEnd = entropy_.available == 1 && entropy_.sourceEnded;
  entropy_.markerOffset = StreamOffset();
  ++entropy_.phantomBytes;
  return 0xFF;
}

// Adds whole bytes below the valid bits until more than 48 are valid.
inline void JpegDecoder::FillBits() {
  // Fastest path: when the bytes needed are all in the buffer and none is
  // FF, take them with one 8-byte load. The input array has tail padding
  // behind the data, so the load never leaves it. Exactly the bytes the
  // byte loop below would take are taken.
  if (entropy_.bitCount <= 48 && entropy_.available >= 8) {
    const int needed = ((48 - entropy_.bitCount) >> 3) + 1;  // 1..7
    std::uint64_t word;
    std::memcpy(&word, entropy_.readPointer, 8);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    const std::uint64_t keep = ~std::uint64_t{0} << (64 - 8 * needed);
    // A byte of `flipped` is zero exactly where a kept byte is FF.
    const std::uint64_t flipped = ~word | ~keep;
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    if (((flipped - kOnes) & ~flipped & kHighs) == 0) {
      entropy_.bitBuffer |= (word & keep) >> entropy_.bitCount;
      entropy_.bitCount += 8 * needed;
      entropy_.readPointer += needed;
      entropy_.available -= needed;
      return;
    }
  }
  // Fast path: plain data bytes straight from the buffer.
  while (entropy_.bitCount <= 48 && entropy_.available > 0 && *entropy_.readPointer != 0xFF) {
    entropy_.bitBuffer |= std::uint64_t(*entropy_.readPointer++) << (56 - entropy_.bitCount);
    --entropy_.available;
    entropy_.bitCount += 8;
  }
  while (entropy_.bitCount <= 48) {
    entropy_.bitBuffer |= std::uint64_t(NextEntropyByte()) << (56 - entropy_.bitCount);
    entropy_.bitCount += 8;
  }
}

// count is 0..16.
inline int JpegDecoder::GetBits(int count) {
  if (count == 0) return 0;
  if (entropy_.bitCount < count) FillBits();
  const int value = static_cast<int>(entropy_.bitBuffer >> (64 - count));
  entropy_.bitBuffer <<= count;
  entropy_.bitCount -= count;
  return value;
}

inline int JpegDecoder::GetBit() { return GetBits(1); }

inline int JpegDecoder::DecodeSymbol(const HuffmanLookup& lookup) {
  if (entropy_.bitCount < 16) FillBits();
  const unsigned entry = lookup.first[entropy_.bitBuffer >> 56];
  if ((entry & 0x8000) == 0) {
    const int length = static_cast<int>((entry >> 8) & 31);
    entropy_.bitBuffer <<= length;
    entropy_.bitCount -= length;
    if ((entry & HuffmanLookup::kNoCode) != 0) NoteFault(JpegFault::InvalidCode, EntropyOffset());
    return static_cast<int>(entry & 0xFF);
  }
  return DecodeLongCode(lookup, static_cast<int>(entry));
}

// T.81 F.2.2.1 EXTEND. size is 1..16.
inline int JpegExtend(int value, int size) {
  return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
}

// Reads a DC difference of the category a DC symbol gives. Categories above
// 16 cannot occur in 8-bit data (T.81 F.1.2.1 stops at 11); a damaged table
// that yields one is read as 16 bits, the most the bit register holds.
inline int JpegReadDifference(int category, int bits) {
  return category == 0 ? 0 : JpegExtend(bits, category);
}

}  // namespace kestrix
