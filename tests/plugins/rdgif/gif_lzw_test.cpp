// The LZW decoder on its own, fed from memory: every code size, rows that
// split strings, full tables with and without a clear code, early ends and
// codes that cannot occur.
#include <gtest/gtest.h>

#include <memory>

#include "gif_builder.h"
#include "gif_lzw.h"

namespace giftest {
namespace {

struct MemorySource {
  explicit MemorySource(Bytes subBlocks) {
    for (size_t at = 0; at < subBlocks.size() && subBlocks[at] != 0; at += subBlocks[at] + 1u) {
      data.insert(data.end(), subBlocks.begin() + at + 1, subBlocks.begin() + at + 1 + subBlocks[at]);
    }
  }
  static int32_t Next(void* context) {
    auto& s = *static_cast<MemorySource*>(context);
    return s.position < s.data.size() ? s.data[s.position++] : -1;
  }
  rdgif::ByteSource source() { return {Next, this}; }
  Bytes data;
  size_t position = 0;
};

struct Decoded {
  std::vector<Bytes> rows;
  std::vector<uint32_t> produced;
  bool corrupt = false;
};

Decoded Decode(const Bytes& subBlocks, uint32_t codeSize, uint32_t width, uint32_t rows) {
  auto state = std::make_unique<rdgif::LzwState>();
  rdgif::LzwReset(*state, codeSize, width);
  MemorySource memory(subBlocks);
  const rdgif::ByteSource source = memory.source();
  Decoded out;
  for (uint32_t y = 0; y < rows && !out.corrupt; ++y) {
    Bytes row(width, 0xEE);
    uint32_t produced = 0;
    out.corrupt = rdgif::LzwDecodeRow(*state, source, row, produced) != rdgif::LzwResult::kOk;
    out.rows.push_back(row);
    out.produced.push_back(produced);
  }
  return out;
}

Bytes Joined(const Decoded& d) {
  Bytes all;
  for (const Bytes& row : d.rows) all.insert(all.end(), row.begin(), row.end());
  return all;
}

TEST(GifLzw, RoundTripsEveryCodeSizeAndRowLength) {
  uint32_t seed = 1;
  for (uint32_t codeSize = 1; codeSize <= 8; ++codeSize) {
    for (uint16_t width : {1, 3, 64, 333}) {
      const uint32_t bits = codeSize == 1 ? 1 : codeSize;
      GifPicture p = MakePicture(width, 40, bits, seed++);
      Decoded d = Decode(PackCodes(LzwCodes(p.pixels, static_cast<uint8_t>(codeSize), false)), codeSize, width, 40);
      ASSERT_FALSE(d.corrupt) << codeSize << " " << width;
      EXPECT_EQ(Joined(d), p.pixels) << codeSize << " " << width;
    }
  }
}

// Long flat areas fill the table; one stream clears it, the other goes on
// with a full table and no clear code.
TEST(GifLzw, FullTablesWithAndWithoutClearCodes) {
  GifPicture p = MakePicture(500, 200, 8, 3);
  for (bool deferred : {false, true}) {
    auto codes = LzwCodes(p.pixels, 8, deferred);
    Decoded d = Decode(PackCodes(codes), 8, 500, 200);
    ASSERT_FALSE(d.corrupt) << deferred;
    EXPECT_EQ(Joined(d), p.pixels) << deferred;
  }
}

// A string longer than the rest of the row carries over into the next row.
TEST(GifLzw, StringsContinueIntoTheNextRow) {
  Bytes same(30, 1);  // runs of one value make ever longer strings
  Decoded d = Decode(PackCodes(LzwCodes(same, 2, false)), 2, 7, 5);
  ASSERT_FALSE(d.corrupt);
  EXPECT_EQ(d.produced, (std::vector<uint32_t>{7, 7, 7, 7, 2}));
  Bytes all = Joined(d);
  EXPECT_EQ(Bytes(all.begin(), all.begin() + 30), Bytes(30, 1));
}

TEST(GifLzw, EarlyEndLeavesTheRestUnwritten) {
  // clear, 1, 2, end (code size 2: clear 4, end 5, width 3).
  Decoded d = Decode(PackCodes({{4, 3}, {1, 3}, {2, 3}, {5, 3}, {3, 3}}), 2, 4, 3);
  ASSERT_FALSE(d.corrupt);
  EXPECT_EQ(d.produced, (std::vector<uint32_t>{2, 0, 0}));
  EXPECT_EQ(d.rows[0], (Bytes{1, 2, 0xEE, 0xEE}));
  // The data running out is an end too.
  Decoded cut = Decode(PackCodes({{4, 3}, {3, 3}}), 2, 4, 2);
  ASSERT_FALSE(cut.corrupt);
  EXPECT_EQ(cut.produced[0], 1u);
  EXPECT_EQ(cut.produced[1], 0u);
}

TEST(GifLzw, NextCodeAndTheOneAfterStandForThePreviousStringPlusItsFirstPixel) {
  // clear, 1, 6 (= next free: "1 1"), end.
  Decoded d = Decode(PackCodes({{4, 3}, {1, 3}, {6, 3}, {5, 3}}), 2, 3, 1);
  ASSERT_FALSE(d.corrupt);
  EXPECT_EQ(d.rows[0], (Bytes{1, 1, 1}));
  Decoded after = Decode(PackCodes({{4, 3}, {2, 3}, {7, 3}, {5, 3}}), 2, 3, 1);
  ASSERT_FALSE(after.corrupt);
  EXPECT_EQ(after.rows[0], (Bytes{2, 2, 2}));
}

TEST(GifLzw, CodesThatCannotOccurAreCorrupt) {
  // Two past the next free code.
  EXPECT_TRUE(Decode(PackCodes({{8, 4}, {1, 4}, {12, 4}}), 3, 8, 1).corrupt);
  // A first code that is not a pixel value (no string before it).
  EXPECT_TRUE(Decode(PackCodes({{4, 3}, {6, 3}}), 2, 8, 1).corrupt);
  // Without a clear code first, pixel values still start the stream.
  Decoded noClear = Decode(PackCodes({{3, 3}, {2, 3}, {5, 3}}), 2, 2, 1);
  EXPECT_FALSE(noClear.corrupt);
  EXPECT_EQ(noClear.rows[0], (Bytes{3, 2}));
  // Code sizes the format does not allow.
  for (uint32_t codeSize : {0u, 9u, 12u, 200u}) {
    EXPECT_TRUE(Decode(PackCodes({{0, 9}}), codeSize, 4, 1).corrupt) << codeSize;
  }
}

}  // namespace
}  // namespace giftest
