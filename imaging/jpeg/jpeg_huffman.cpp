// Huffman lookup tables (T.81 Annex C) and the bit reader's slow paths.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/jpeg_entropy_inline.h"

#include <algorithm>
#include <iterator>

namespace kestrix {

// Builds the derived lookup of one slot. Codes are generated as in T.81
// C.2; a code that no longer fits its length (the counts of a damaged table
// overflow the code space) cannot be matched and is left out, so the table
// stays prefix-free. Entries no code reaches decode as symbol 0, consuming
// the length symbol 0 has (none if it has no code): no bit pattern is ever
// rejected, damage shows as wrong blocks instead of a stop.
void JpegDecoder::BuildLookup(int slot) {
  HuffmanLookup& lookup = frame_.lookups[slot];
  const std::uint8_t* counts = frame_.huffmanCounts[slot];
  const std::uint8_t* symbols = frame_.huffmanSymbols[slot];

  lookup.codeLength.fill(0);
  lookup.nodeCount = 0;
  std::int16_t shortSymbol[256];
  std::fill(std::begin(shortSymbol), std::end(shortSymbol), std::int16_t{-1});
  std::uint16_t treeRoot[256];
  std::fill(std::begin(treeRoot), std::end(treeRoot), std::uint16_t{0});  // node index + 1

  unsigned code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < counts[length]; ++i, ++code) {
      const int symbol = symbols[k++];
      lookup.codeLength[symbol] = static_cast<std::uint8_t>(length);
      if (code >= (1u << length)) continue;  // overflowed code space
      if (length <= 8) {
        const unsigned base = code << (8 - length);
        for (unsigned j = 0; j < (1u << (8 - length)); ++j)
          shortSymbol[base + j] = static_cast<std::int16_t>(symbol);
        continue;
      }
      const unsigned prefix = code >> (length - 8);
      if (shortSymbol[prefix] >= 0)
        continue;  // cannot happen for canonical codes; keep the table consistent anyway
      if (treeRoot[prefix] == 0) {
        if (lookup.nodeCount == HuffmanLookup::kMaxNodes) continue;
        lookup.nodes[lookup.nodeCount] = {0, 0};
        treeRoot[prefix] = static_cast<std::uint16_t>(++lookup.nodeCount);
      }
      int node = treeRoot[prefix] - 1;
      for (int bit = length - 9; bit >= 0; --bit) {
        const int direction = (code >> bit) & 1;
        std::int16_t& child = lookup.nodes[node][direction];
        if (bit == 0) {
          if (child == 0) child = static_cast<std::int16_t>(-(symbol + 1));
          break;
        }
        if (child < 0) break;  // a leaf in the way: not prefix-free, drop the code
        if (child == 0) {
          if (lookup.nodeCount == HuffmanLookup::kMaxNodes) break;
          lookup.nodes[lookup.nodeCount] = {0, 0};
          child = static_cast<std::int16_t>(++lookup.nodeCount);
        }
        node = child - 1;
      }
    }
    code <<= 1;
  }

  for (int i = 0; i < 256; ++i) {
    if (treeRoot[i] != 0) {
      lookup.first[i] = static_cast<std::uint16_t>(0x8000 | (treeRoot[i] - 1));
    } else {
      const bool reached = shortSymbol[i] >= 0;
      const int symbol = reached ? shortSymbol[i] : 0;
      lookup.first[i] = static_cast<std::uint16_t>(symbol | (lookup.codeLength[symbol] << 8) |
                                                   (reached ? 0u : HuffmanLookup::kNoCode));
    }
  }
  BuildFastLookup(slot);
}

// Derives fast[] from first[], not from the codes, so that every quirk of
// first[] (symbol 0 for unreached entries, the length a symbol defined twice
// ends up with) carries over unchanged. Slots 0-3 hold DC tables, whose
// symbol is a category (T.81 F.1.2.1); slots 4-7 AC tables, whose symbol is
// run and size (F.1.2.2). A DC category above 15 and ZRL are left to the
// slow path, as are codes longer than 8 bits (their tree walk).
//
// Considered and rejected: indexing by 8 bits (the first[] width) leaves
// most value bits of a quality-90 photo outside the entry; 11 or more bits
// double the table to 8 KB per slot for a few per cent more hits and push
// the other tables out of the L1 cache.
void JpegDecoder::BuildFastLookup(int slot) {
  HuffmanLookup& lookup = frame_.lookups[slot];
  constexpr int kBits = HuffmanLookup::kFastBits;
  const bool isDc = slot < 4;
  for (unsigned index = 0; index < (1u << kBits); ++index) {
    std::int32_t& fast = lookup.fast[index];
    fast = 0;
    const unsigned entry = lookup.first[index >> (kBits - 8)];
    if ((entry & (0x8000 | HuffmanLookup::kNoCode)) != 0)
      continue;  // long code, or no code: the slow path notes the fault
    const int length = static_cast<int>(entry >> 8);
    const int symbol = static_cast<int>(entry & 0xFF);
    const int run = isDc ? 0 : symbol >> 4;
    const int size = isDc ? symbol : symbol & 15;
    if (size > 15 || length + size > kBits) continue;
    if (size == 0) {
      if (isDc)
        fast = HuffmanLookup::kFastValid | length;  // difference 0
      else if (run != 15)
        fast = HuffmanLookup::kFastValid | HuffmanLookup::kFastEndOfBlock | length;
      continue;  // ZRL: slow path
    }
    const int bits = static_cast<int>(index >> (kBits - length - size)) & ((1 << size) - 1);
    const int value = JpegExtend(bits, size);
    fast = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 16) |
           HuffmanLookup::kFastValid | (run << 8) | (length + size);
  }
}

void JpegDecoder::ResetBitReader() {
  entropy_.bitBuffer = 0;
  entropy_.bitCount = 0;
  entropy_.markerReached = false;
  entropy_.phantomBytes = 0;
  entropy_.fillerBytes = 0;
  entropy_.markerAtEnd = false;
}

// Codes longer than 8 bits: consume the prefix, then walk the tree a bit at a
// time. A bit with no code below it ends the walk as symbol 0, the bits
// walked (that one included) consumed.
int JpegDecoder::DecodeLongCode(const HuffmanLookup& lookup, int entry) {
  entropy_.bitBuffer <<= 8;
  entropy_.bitCount -= 8;
  int node = entry & 0x7FFF;
  for (;;) {
    const int child = lookup.nodes[node][GetBit()];
    if (child < 0) return -child - 1;
    if (child == 0) {
      NoteFault(JpegFault::InvalidCode, EntropyOffset());
      return 0;
    }
    node = child - 1;
  }
}

}  // namespace kestrix
