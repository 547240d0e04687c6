// The red/blue exchange: the wide path against the byte loop, in place and
// into another row, for every pixel count around its group size.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/pixel_order.h"

namespace {

TEST(PixelOrder, SwapRedBlueMatchesTheByteLoopInPlaceAndOutOfPlace) {
  for (size_t count = 0; count < 40; ++count) {
    SCOPED_TRACE(count);
    std::vector<uint8_t> row(3 * count + 1, 0xEE);  // one guard byte
    for (size_t i = 0; i + 1 < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 37 + count);
    std::vector<uint8_t> expected = row;
    pixels::SwapRedBlueBytewise(expected.data(), expected.data(), count);

    std::vector<uint8_t> into(row.size(), 0xEE);
    pixels::SwapRedBlue(row.data(), into.data(), count);
    EXPECT_EQ(into, expected);
    std::vector<uint8_t> inPlace = row;
    pixels::SwapRedBlue(inPlace.data(), inPlace.data(), count);
    EXPECT_EQ(inPlace, expected);
  }
}

}  // namespace
