// Sequential (baseline and extended) scans: one MCU row per request.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_entropy_inline.h"
#include "imaging/jpeg/jpeg_tables.h"

#include <cstring>

namespace kestrix {

void JpegDecoder::DecodeSequentialMcuRow() {
  for (int mcu = 0; mcu < output_.mcusPerRow; ++mcu) {
    if (frame_.restartInterval != 0 && entropy_.restartsToGo == 0) ProcessRestart();
    const int first = mcu * output_.blocksPerMcu;
    for (int b = 0; b < output_.blocksPerMcu; ++b) {
      const int block = first + b;
      DecodeSequentialBlock(output_.mcuBlocks[b].component,
                            output_.coefficientBlocks + std::size_t(block) * 64,
                            output_.lastIndex[block]);
    }
    if (frame_.restartInterval != 0) --entropy_.restartsToGo;
  }
}

// T.81 F.2.2. -227 when a run passes coefficient 63.
//
// The buffer still holds the previous block decoded into it up to lastIndex
// (positions at or beyond it are zero). Clearing all 128 bytes when lastIndex
// is above 1 takes a few vector stores; zeroing just the positions a run
// skips, as before, cost a bounds check per skipped position and a final
// loop over the rest.
void JpegDecoder::DecodeSequentialBlock(int component, std::int16_t* block,
                                        std::int32_t& lastIndex) {
  // The first scan lists the frame's components in frame order, so the
  // component index is also the scan component index.
  const HuffmanLookup& dcTable = frame_.lookups[frame_.dcSlot[component]];
  const HuffmanLookup& acTable = frame_.lookups[frame_.acSlot[component]];
  constexpr int kFastShift = 64 - HuffmanLookup::kFastBits;

  // The bit register lives in locals here: the input buffer is read through
  // byte pointers, which may alias the members, so the compiler would
  // otherwise store the register back after every symbol. With at least 32
  // valid bits before each symbol, the symbol (up to 16 bits) and its value
  // (up to 16) need no further refill. That refill rule (below 32 bits, fill
  // to 49 or more by whole bytes) decides how far the input has been read
  // when a restart marker or EOI is looked for, so the fast path keeps it.
  std::uint64_t bits = entropy_.bitBuffer;
  int count = entropy_.bitCount;
  auto refill = [&] {
    entropy_.bitBuffer = bits;
    entropy_.bitCount = count;
    FillBits();
    bits = entropy_.bitBuffer;
    count = entropy_.bitCount;
  };
  auto decode = [&](const HuffmanLookup& table) {
    const unsigned entry = table.first[bits >> 56];
    if ((entry & 0x8000) == 0) {
      const int length = static_cast<int>((entry >> 8) & 31);
      bits <<= length;
      count -= length;
      if ((entry & HuffmanLookup::kNoCode) != 0) {
        entropy_.bitBuffer = bits;
        entropy_.bitCount = count;
        NoteFault(JpegFault::InvalidCode, EntropyOffset());
      }
      return static_cast<int>(entry & 0xFF);
    }
    entropy_.bitBuffer = bits;
    entropy_.bitCount = count;
    const int symbol = DecodeLongCode(table, static_cast<int>(entry));
    bits = entropy_.bitBuffer;
    count = entropy_.bitCount;
    if (count < 16) refill();
    return symbol;
  };
  auto take = [&](int size) {
    if (size == 0) return 0;
    const int value = static_cast<int>(bits >> (64 - size));
    bits <<= size;
    count -= size;
    return value;
  };
  auto fail = [&] {
    entropy_.bitBuffer = bits;
    entropy_.bitCount = count;
    StopOnFault(JpegFault::CoefficientOverrun);
  };

  if (count < 32) refill();
  int difference = 0;
  const std::int32_t dcFast = dcTable.fast[bits >> kFastShift];
  if ((dcFast & HuffmanLookup::kFastValid) != 0) {
    const int length = dcFast & 0xFF;
    bits <<= length;
    count -= length;
    difference = dcFast >> 16;
  } else {
    int category = decode(dcTable);
    if (category > 16) category = 16;
    difference = JpegReadDifference(category, take(category));
  }
  // The predictor wraps like the 32-bit register it models; only its low 16
  // bits reach the block.
  entropy_.dcPredictor[component] =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(entropy_.dcPredictor[component]) +
                                static_cast<std::uint32_t>(difference));
  if (lastIndex > 1) std::memset(block, 0, 64 * sizeof(std::int16_t));
  block[0] = static_cast<std::int16_t>(static_cast<std::uint16_t>(entropy_.dcPredictor[component]));

  int k = 1;
  while (k < 64) {
    if (count < 32) refill();
    const std::int32_t fast = acTable.fast[bits >> kFastShift];
    if ((fast & HuffmanLookup::kFastValid) != 0) {
      const int length = fast & 0xFF;
      bits <<= length;
      count -= length;
      if ((fast & HuffmanLookup::kFastEndOfBlock) != 0) break;
      k += (fast >> 8) & 15;
      if (k >= 64) fail();
      block[kJpegZigzag[k]] = static_cast<std::int16_t>(fast >> 16);
      ++k;
      continue;
    }
    const int symbol = decode(acTable);
    const int run = symbol >> 4;
    const int size = symbol & 15;
    if (size == 0) {
      if (run != 15) break;      // end of block
      if (k + 15 >= 64) fail();  // ZRL past coefficient 63
      k += 16;
      continue;
    }
    if (k + run >= 64) fail();
    k += run;
    block[kJpegZigzag[k]] = static_cast<std::int16_t>(JpegExtend(take(size), size));
    ++k;
  }
  entropy_.bitBuffer = bits;
  entropy_.bitCount = count;
  lastIndex = k;
}

}  // namespace kestrix
