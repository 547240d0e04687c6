// The red/blue exchange: each wide path the processor has against the byte
// loop, in place and into another row, for every pixel count around their
// group sizes.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/pixel_order.h"

namespace {

TEST(PixelOrder, SwapRedBlueMatchesTheByteLoopInPlaceAndOutOfPlace) {
  using Swap = void (*)(const uint8_t*, uint8_t*, size_t);
  std::vector<std::pair<const char*, Swap>> paths{{"chosen", pixels::SwapRedBlue},
                                                  {"SSE2", pixels::SwapRedBlueSse2}};
#if defined(PIXELS_BYTE_SHUFFLE)
  if (pixels::HasByteShuffle()) paths.emplace_back("SSSE3", pixels::SwapRedBlueShuffled);
#endif
  for (const auto& [name, swap] : paths) {
    for (size_t count = 0; count < 70; ++count) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(count));
      std::vector<uint8_t> row(3 * count + 1, 0xEE);  // one guard byte
      for (size_t i = 0; i + 1 < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 37 + count);
      std::vector<uint8_t> expected = row;
      pixels::SwapRedBlueBytewise(expected.data(), expected.data(), count);

      std::vector<uint8_t> into(row.size(), 0xEE);
      swap(row.data(), into.data(), count);
      EXPECT_EQ(into, expected);
      std::vector<uint8_t> inPlace = row;
      swap(inPlace.data(), inPlace.data(), count);
      EXPECT_EQ(inPlace, expected);
    }
  }
}

}  // namespace
