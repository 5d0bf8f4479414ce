// The one checked view of card bytes: what it refuses matters more than
// what it reads, because every parser trusts it to stop at the end.
#include "platform/byte_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace kestrix {
namespace {

constexpr uint64_t Max = std::numeric_limits<uint64_t>::max();

const std::vector<uint8_t> Bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};

struct ReadCase {
  const char* name;
  uint64_t offset;
  unsigned length;
  ByteOrder order;
  bool fits;
  uint64_t value;
};

class ByteViewReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ByteViewReadTest, ReadsInsideAndRefusesPastTheEnd) {
  const ReadCase& c = GetParam();
  const ByteView view(Bytes.data(), Bytes.size());
  uint64_t value = 0xDEAD;
  EXPECT_EQ(view.readUnsigned(c.offset, c.length, c.order, value), c.fits);
  EXPECT_EQ(value, c.fits ? c.value : 0xDEAD) << "a refused read leaves the value alone";
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ByteViewReadTest,
    testing::Values(ReadCase{"BigEndian16", 0, 2, ByteOrder::BigEndian, true, 0x0102},
                    ReadCase{"LittleEndian16", 0, 2, ByteOrder::LittleEndian, true, 0x0201},
                    ReadCase{"BigEndian32AtTheEnd", 5, 4, ByteOrder::BigEndian, true, 0x06070809},
                    ReadCase{"LittleEndian64", 1, 8, ByteOrder::LittleEndian, true,
                             0x0908070605040302},
                    ReadCase{"OneBytePastTheEnd", 6, 4, ByteOrder::BigEndian, false, 0},
                    ReadCase{"OffsetAtTheSize", 9, 1, ByteOrder::BigEndian, false, 0},
                    ReadCase{"OffsetNearTwoToThe64", Max - 1, 4, ByteOrder::LittleEndian, false, 0},
                    ReadCase{"NoWidth", 0, 0, ByteOrder::BigEndian, false, 0},
                    ReadCase{"WiderThan64Bits", 0, 9, ByteOrder::BigEndian, false, 0}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(ByteViewTest, RangesAreCheckedWithoutOverflow) {
  const ByteView view(Bytes.data(), Bytes.size());
  EXPECT_TRUE(view.contains(9, 0));
  EXPECT_FALSE(view.contains(10, 0));
  EXPECT_FALSE(view.contains(1, Max));  // 1 + Max wraps to 0 when added
  EXPECT_EQ(view.at(2, Max), nullptr);
  EXPECT_EQ(view.at(8, 1), Bytes.data() + 8);
  EXPECT_TRUE(view.sub(4, Max).empty());
  EXPECT_EQ(view.sub(4, 2).u16(0, ByteOrder::BigEndian), uint16_t{0x0506});
  EXPECT_FALSE(view.sub(4, 2).u16(1, ByteOrder::BigEndian).has_value())
      << "a sub-view ends where it was cut";
  const uint8_t text[] = {0x08, 0x09};
  EXPECT_TRUE(view.equals(7, text, 2));
  EXPECT_FALSE(view.equals(8, text, 2));
}

TEST(ByteViewTest, AViewOfNothingReadsNothing) {
  const ByteView none(nullptr, 100);  // a null pointer never claims bytes
  EXPECT_EQ(none.size(), 0u);
  EXPECT_FALSE(none.u8(0).has_value());
  EXPECT_EQ(none.at(0, 0), nullptr);
  EXPECT_TRUE(none.equals(0, "", 0));
}

TEST(ByteCursorTest, TheFirstFailureSticks) {
  ByteCursor cursor(ByteView(Bytes.data(), Bytes.size()), 6, ByteOrder::BigEndian);
  EXPECT_EQ(cursor.u16(), 0x0708);
  EXPECT_EQ(cursor.u16(), 0u) << "only one byte is left";
  EXPECT_FALSE(cursor.ok());
  EXPECT_EQ(cursor.u8(), 0u) << "after a failure even a byte that is there is not read";
  EXPECT_EQ(cursor.position(), 8u);

  ByteCursor skipping(ByteView(Bytes.data(), Bytes.size()), 0, ByteOrder::LittleEndian);
  skipping.skip(Max);
  EXPECT_FALSE(skipping.ok());
  EXPECT_EQ(skipping.position(), 0u);
}

}  // namespace
}  // namespace kestrix
