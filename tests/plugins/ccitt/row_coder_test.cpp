// The TIFF writer's CCITT row coders (built into this test from the writer's
// sources): change lists against a pixel-by-pixel scan, the register bit
// writer against the byte-by-byte one, and coded pages decoded back. And when
// the decoders ask their source for more input.
#include <gtest/gtest.h>

#include <vector>

#include "ccitt_test_decode.h"
#include "fax_test_codec.h"
#include "tiff_encoders.h"

namespace {

using faxtest::Picture;

// Positions where the packed row (1 = white) differs from the pixel before,
// the pixel before the row white.
std::vector<uint32_t> ChangesPixelByPixel(const std::vector<uint8_t>& packed, uint32_t width) {
  std::vector<uint32_t> changes;
  uint32_t before = 1;
  for (uint32_t x = 0; x < width; ++x) {
    const uint32_t pixel = (packed[x / 8] >> (7 - x % 8)) & 1u;
    if (pixel != before) changes.push_back(x);
    before = pixel;
  }
  return changes;
}

TEST(RowCoderChangeList, MatchesAPixelScanWhateverTheWidthAndTheBitsPastIt) {
  for (uint32_t width : {1u, 7u, 8u, 9u, 63u, 64u, 65u, 127u, 128u, 129u, 200u, 2480u}) {
    const Picture picture = faxtest::MakeTestPicture(width, 14, width);
    for (uint32_t y = 0; y < picture.height; ++y) {
      for (uint8_t tail : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
        SCOPED_TRACE(testing::Message() << "width " << width << " row " << y << " tail " << int{tail});
        std::vector<uint8_t> packed = faxtest::PackedRow(picture.row(y));
        if (width % 8 != 0) {  // bits past the width are not pixels
          const auto keep = static_cast<uint8_t>(0xFF00u >> (width % 8));
          packed.back() = static_cast<uint8_t>((packed.back() & keep) | (tail & ~keep));
        }
        std::vector<uint32_t> list(width + 3, 0xDEADu);
        const size_t count = wrtiff::BuildChangeList(packed.data(), width, list.data());
        const std::vector<uint32_t> expected = ChangesPixelByPixel(packed, width);
        ASSERT_EQ(expected.size(), count);
        EXPECT_EQ(expected, std::vector<uint32_t>(list.begin(), list.begin() + count));
        for (size_t k = count; k < count + 3; ++k) EXPECT_EQ(width, list[k]);
      }
    }
  }
}

// The same codes through BitWriter::put and through the register writer, from
// every bit position, into spans that fit them and spans that run out.
TEST(RowCoderBitWriter, RegisterWriterWritesWhatPutWrites) {
  uint32_t state = 12345;
  auto random = [&]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (uint32_t startBit = 0; startBit < 8; ++startBit) {
    for (size_t room : {3u, 9u, 40u, 400u}) {
      std::vector<std::pair<uint32_t, uint32_t>> codes;
      for (int i = 0; i < 120; ++i) codes.emplace_back(random(), 1 + random() % 32);
      std::vector<uint8_t> plain(room, 0);
      std::vector<uint8_t> fast(room, 0);
      plain[0] = fast[0] = static_cast<uint8_t>(0xA5u & (0xFF00u >> startBit));
      wrtiff::BitWriter expected{plain};
      wrtiff::BitWriter actual{fast};
      expected.bit = actual.bit = startBit;
      wrtiff::RegisterBitWriter writer(actual);
      for (size_t i = 0; i < codes.size(); ++i) {
        expected.put(codes[i].first, codes[i].second);
        writer.put(codes[i].first, codes[i].second);
        if (i % 17 == 16) {
          expected.align();
          writer.align();
        }
      }
      writer.finish();
      SCOPED_TRACE(testing::Message() << "start bit " << startBit << " room " << room);
      EXPECT_EQ(plain, fast);
      EXPECT_EQ(expected.overflow, actual.overflow);
      if (!expected.overflow) {
        EXPECT_EQ(expected.byte, actual.byte);
        EXPECT_EQ(expected.bit, actual.bit);
      }
    }
  }
}

// Modified Huffman and Group 4 pages from the writer's coders decode back to
// the pictures, Group 4 rows continuing mid-byte from row to row.
TEST(RowCoderRoundTrip, CodedPagesDecodeBackToThePicture) {
  for (uint32_t width : {5u, 64u, 100u, 1800u, 3000u}) {
    SCOPED_TRACE(testing::Message() << "width " << width);
    const Picture picture = faxtest::MakeTestPicture(width, 21, width + 7);
    std::vector<uint8_t> mh(picture.height * (6 * ((width + 7) / 8) + 16), 0);
    std::vector<uint8_t> g4(mh.size(), 0);
    wrtiff::BitWriter mhOut{mh};
    wrtiff::BitWriter g4Out{g4};
    std::vector<uint32_t> coding(width + 3);
    std::vector<uint32_t> reference(width + 3, width);
    for (uint32_t y = 0; y < picture.height; ++y) {
      const std::vector<uint8_t> packed = faxtest::PackedRow(picture.row(y));
      wrtiff::BuildChangeList(packed.data(), width, coding.data());
      wrtiff::EncodeModifiedHuffmanRow(mhOut, coding.data(), width);
      wrtiff::EncodeGroup4Row(g4Out, coding.data(), reference.data(), width);
      coding.swap(reference);
    }
    ASSERT_FALSE(mhOut.overflow || g4Out.overflow);
    mh.resize(mhOut.bytesTouched());
    g4.resize(g4Out.bytesTouched());
    ccitttest::Stream mhStream{mh, 4096};
    const Picture mhBack =
        mhStream.decode(ccitttest::Coding::kModifiedHuffman, width, picture.height);
    ccitttest::Stream g4Stream{g4, 4096};
    const Picture g4Back = g4Stream.decode(ccitttest::Coding::kT6, width, picture.height);
    EXPECT_TRUE(g4Stream.allRowsDone);
    for (uint32_t y = 0; y < picture.height; ++y) {
      EXPECT_EQ(picture.row(y), mhBack.row(y)) << "modified Huffman row " << y;
      EXPECT_EQ(picture.row(y), g4Back.row(y)) << "Group 4 row " << y;
    }
  }
}

// The decoders take input bits only as far as the codes need them: the
// source is asked for its next block during the row whose codes (with the
// lookahead a code needs: 16 bits at a row start, 12 before a white code)
// first reach past the block. Rows of 1728 white pixels after an EOL take 29
// bits (EOL 12, make-up 1728 9, terminating 0 8), and row r needs the stream
// up to bit 29 r + 33. A reader holding more bits than it needs would ask
// earlier, and an error from the source would land on an earlier row.
TEST(CcittInputTiming, TheSourceIsReadOnlyWhenTheCodesReachTheNextBlock) {
  constexpr uint32_t kWidth = 1728;
  constexpr uint32_t kRows = 300;
  const Picture white{kWidth, kRows, std::vector<uint8_t>(size_t{kWidth} * kRows, 0)};
  const std::vector<uint8_t> coded = faxtest::EncodeT4(white, {true, false, false});
  ASSERT_EQ((29 * kRows + 7) / 8, coded.size());
  for (size_t storage : {2u, 6u, 10u, 16u, 64u, 1000u}) {
    SCOPED_TRACE(testing::Message() << "storage " << storage);
    ccitttest::Stream stream{coded, storage};
    for (uint32_t r = 0; r < kRows; ++r) {
      stream.decodeOne(ccitttest::Coding::kT4, kWidth);
      const uint64_t bitsNeeded = 29ull * r + 33;
      const uint64_t blocks = (bitsNeeded + 8 * storage - 1) / (8 * storage);
      ASSERT_EQ(static_cast<int>(blocks), stream.readCalls) << "row " << r;
    }
  }
}

}  // namespace
