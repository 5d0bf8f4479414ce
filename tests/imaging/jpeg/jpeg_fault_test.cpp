// The faults the decoder notes on hand-made entropy data: each kind of bad
// data is told apart, and whole data notes none.
#include "imaging/jpeg/jpeg_decoder.h"
#include "imaging/jpeg/memory_byte_source.h"

#include "jpeg_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kestrix {
namespace {

using test::Bytes;
using test::HandStream;

// Greyscale, one-bit codes: DC "0" and "1" are both category 0, AC "0" and
// "1" both end of block, so every bit pattern decodes and each block takes
// exactly two bits; four blocks fill a byte.
HandStream TwoBitBlocks(int blocks, const std::string& bits) {
  HandStream stream;
  stream.width = 8 * blocks;
  stream.dcCounts = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.dcSymbols = {0, 0};
  stream.acCounts = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.acSymbols = {0x00, 0x00};
  stream.bits = bits;
  return stream;
}

// Only "0" is a code (DC category 0, AC end of block): "1" is no code.
HandStream OneCode(const std::string& bits) {
  HandStream stream;
  stream.dcCounts = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.dcSymbols = {0};
  stream.acCounts = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  stream.acSymbols = {0x00};
  stream.bits = bits;
  return stream;
}

// Puts bytes in front of the final EOI.
Bytes BeforeEoi(Bytes stream, const Bytes& extra) {
  stream.insert(stream.end() - 2, extra.begin(), extra.end());
  return stream;
}

struct FaultCase {
  const char* name;
  std::function<Bytes()> make;
  JpegFault fault;
  bool inputEnded;
};

class JpegFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(JpegFaults, AreNotedForWhatTheyAre) {
  const Bytes bytes = GetParam().make();
  MemoryByteSource source(bytes);
  auto decoder = std::make_unique<JpegDecoder>();
  decoder->Open(&source);
  ASSERT_EQ(decoder->ErrorCode(), 0);
  JpegDcImage dc;
  decoder->DecodeDc(&dc);
  EXPECT_EQ(static_cast<int>(decoder->Fault()), static_cast<int>(GetParam().fault))
      << JpegFaultReason(decoder->Fault());
  EXPECT_EQ(decoder->InputEnded(), GetParam().inputEnded);
  decoder->Close();
}

INSTANTIATE_TEST_SUITE_P(
    HandStreams, JpegFaults,
    ::testing::Values(
        FaultCase{"whole", [] { return TwoBitBlocks(4, "00011011").Build(); }, JpegFault::None,
                  false},
        FaultCase{"padding_in_last_byte", [] { return TwoBitBlocks(3, "000110").Build(); },
                  JpegFault::None, false},
        FaultCase{"no_such_code", [] { return OneCode("1").Build(); }, JpegFault::InvalidCode,
                  false},
        FaultCase{"blocks_need_bits_past_the_marker",
                  [] { return TwoBitBlocks(5, "00000000").Build(); }, JpegFault::RanPastScan,
                  false},
        FaultCase{"bytes_left_after_the_blocks",
                  [] { return BeforeEoi(TwoBitBlocks(4, "00000000").Build(), Bytes(12, 0x55)); },
                  JpegFault::DataAfterScan, false},
        FaultCase{"a_few_bytes_left_are_slack",
                  [] { return BeforeEoi(TwoBitBlocks(4, "00000000").Build(), Bytes(4, 0x55)); },
                  JpegFault::None, false},
        FaultCase{"another_image_before_eoi",
                  [] {
                    Bytes stream = TwoBitBlocks(4, "00000000").Build();
                    stream.resize(stream.size() - 2);  // no EOI
                    const Bytes other = TwoBitBlocks(1, "00").Build();
                    stream.insert(stream.end(), other.begin(), other.end());
                    return stream;
                  },
                  JpegFault::ImageInsideImage, false},
        FaultCase{"cut_inside_the_blocks",
                  [] {
                    Bytes stream = TwoBitBlocks(12, "000000000000000000000000").Build();
                    stream.resize(stream.size() - 4);
                    return stream;
                  },
                  JpegFault::Truncated, true},
        FaultCase{"only_eoi_missing",
                  [] {
                    Bytes stream = TwoBitBlocks(4, "00000000").Build();
                    stream.resize(stream.size() - 2);
                    return stream;
                  },
                  JpegFault::Truncated, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrix
