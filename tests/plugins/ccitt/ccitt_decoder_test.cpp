// The CCITT row decoders on streams from the test encoder: round trips over
// widths, EOL and fill variants, FillOrder 2, long runs, end of data and
// corrupt T.6 rows.
#include <gtest/gtest.h>

#include <cstring>

#include "ccitt_test_decode.h"
#include "fax_test_codec.h"
#include "plugin/ccitt_decoder.h"

namespace {

using faxtest::Picture;

void ExpectSamePicture(const Picture& expected, const Picture& actual) {
  ASSERT_EQ(expected.width, actual.width);
  ASSERT_EQ(expected.height, actual.height);
  for (uint32_t y = 0; y < expected.height; ++y)
    ASSERT_EQ(expected.row(y), actual.row(y)) << "row " << y;
}

class CcittRoundTrip : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CcittRoundTrip, T4WithAndWithoutEolDecodeAlike) {
  const Picture picture = faxtest::MakeTestPicture(GetParam(), 23, GetParam());
  for (faxtest::T4Options options : {faxtest::T4Options{false, false, false},
                                     faxtest::T4Options{true, false, false},
                                     faxtest::T4Options{true, true, false}}) {
    for (size_t storage : {2u, 7u, 4096u}) {
      SCOPED_TRACE(testing::Message() << "eol " << options.eol << " align " << options.alignEol
                                      << " storage " << storage);
      ccitttest::Stream stream{faxtest::EncodeT4(picture, options), storage};
      ExpectSamePicture(picture, stream.decode(ccitttest::Coding::kT4, picture.width, picture.height));
    }
  }
}

TEST_P(CcittRoundTrip, ModifiedHuffmanRowsStartOnByteBoundaries) {
  const Picture picture = faxtest::MakeTestPicture(GetParam(), 15, GetParam() + 1);
  ccitttest::Stream stream{faxtest::EncodeT4(picture, {false, false, true}), 64};
  ExpectSamePicture(picture, stream.decode(ccitttest::Coding::kModifiedHuffman, picture.width,
                                           picture.height));
}

TEST_P(CcittRoundTrip, T6) {
  const Picture picture = faxtest::MakeTestPicture(GetParam(), 30, GetParam() + 2);
  ccitttest::Stream stream{faxtest::EncodeT6(picture), 13};
  ExpectSamePicture(picture, stream.decode(ccitttest::Coding::kT6, picture.width, picture.height));
  EXPECT_TRUE(stream.allRowsDone);
}

TEST_P(CcittRoundTrip, FillOrder2DecodesLikeTheReversedStream) {
  const Picture picture = faxtest::MakeTestPicture(GetParam(), 14, GetParam() + 3);
  ccitttest::Stream t4{faxtest::ReverseBits(faxtest::EncodeT4(picture, {true, true, false})), 5};
  t4.reverseBits = true;
  ExpectSamePicture(picture, t4.decode(ccitttest::Coding::kT4, picture.width, picture.height));
  ccitttest::Stream t6{faxtest::ReverseBits(faxtest::EncodeT6(picture)), 4096};
  t6.reverseBits = true;
  ExpectSamePicture(picture, t6.decode(ccitttest::Coding::kT6, picture.width, picture.height));
}

INSTANTIATE_TEST_SUITE_P(Widths, CcittRoundTrip,
                         ::testing::Values(1u, 7u, 8u, 9u, 63u, 64u, 65u, 1728u, 2561u, 2624u,
                                           5200u, 9000u));

TEST(CcittRuns, WhiteRowStaysAllOnesAndBlackFirstPaintsFromZero) {
  Picture picture{20, 2, std::vector<uint8_t>(40, 0)};
  for (uint32_t x = 0; x < 5; ++x) picture.black[20 + x] = 1;  // row 1 begins black
  for (auto coding : {ccitttest::Coding::kT4, ccitttest::Coding::kT6}) {
    std::vector<uint8_t> bytes = coding == ccitttest::Coding::kT4
                                     ? faxtest::EncodeT4(picture, {})
                                     : faxtest::EncodeT6(picture);
    ccitttest::Stream stream{bytes, 4096};
    const auto rows = stream.decodeRows(coding, 20, 2, ccitt::Ink::kBlack);
    EXPECT_EQ(rows[0], (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(rows[1], (std::vector<uint8_t>{0x07, 0xFF, 0xFF}));
  }
}

TEST(CcittRuns, WhiteInkClearsTheWhiteRuns) {
  Picture picture{12, 1, {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0}};
  ccitttest::Stream stream{faxtest::EncodeT4(picture, {}), 4096};
  const auto rows = stream.decodeRows(ccitttest::Coding::kT4, 12, 1, ccitt::Ink::kWhite);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0x1F, 0xEF}));  // padding bits stay 1
}

TEST(CcittRuns, RunsAboveTheLargestMakeUpCodeAreSummed) {
  for (uint32_t run : {2560u, 2623u, 2624u, 5120u, 7777u}) {
    Picture picture{run + 3, 1, std::vector<uint8_t>(run + 3, 1)};
    picture.black[run] = 0;  // black run, one white pixel, two black
    ccitttest::Stream stream{faxtest::EncodeT4(picture, {}), 4096};
    EXPECT_EQ(stream.decode(ccitttest::Coding::kT4, run + 3, 1).black, picture.black) << run;
  }
}

TEST(CcittRuns, RunPastTheWidthIsCut) {
  // Coded 20 pixels wide, decoded 10 wide: the rest of the run is dropped.
  Picture wide{20, 1, std::vector<uint8_t>(20, 0)};
  for (uint32_t x = 4; x < 20; ++x) wide.black[x] = 1;
  ccitttest::Stream stream{faxtest::EncodeT4(wide, {}), 4096};
  const auto rows = stream.decodeRows(ccitttest::Coding::kT4, 10, 1, ccitt::Ink::kBlack);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{0xF0, 0x3F}));
}

TEST(CcittEndOfData, T4RowsAfterTheDataAreWhiteAndEnd) {
  const Picture picture = faxtest::MakeTestPicture(100, 10, 9);
  std::vector<uint8_t> bytes = faxtest::EncodeT4(picture, {true, false, false});
  for (size_t cut : {size_t{0}, size_t{1}, bytes.size() / 2}) {
    std::vector<uint8_t> head(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut));
    ccitttest::Stream stream{head, 16};
    const auto rows = stream.decodeRows(ccitttest::Coding::kT4, 100, 200, ccitt::Ink::kBlack);
    EXPECT_EQ(rows.back(), std::vector<uint8_t>(13, 0xFF)) << cut;
  }
}

TEST(CcittEndOfData, ReadErrorsAreTreatedAsTheEnd) {
  const Picture picture = faxtest::MakeTestPicture(50, 4, 2);
  ccitttest::Stream stream{faxtest::EncodeT4(picture, {true, true, false}), 8};
  stream.failAfterBytes = 8;
  const auto rows = stream.decodeRows(ccitttest::Coding::kT4, 50, 40, ccitt::Ink::kBlack);
  EXPECT_EQ(rows.back(), std::vector<uint8_t>(7, 0xFF));
  EXPECT_LE(stream.readCalls, 3) << "the source is not asked again after it ended";
  ccitttest::Stream t6{faxtest::EncodeT6(picture), 8};
  t6.failAfterBytes = 8;
  t6.decodeRows(ccitttest::Coding::kT6, 50, 40, ccitt::Ink::kBlack);
  EXPECT_FALSE(t6.allRowsDone);
}

TEST(CcittEndOfData, T6EndOfBlockAndTruncationReturnBad) {
  const Picture picture = faxtest::MakeTestPicture(40, 3, 4);
  ccitttest::Stream stream{faxtest::EncodeT6(picture), 4096};
  stream.decodeRows(ccitttest::Coding::kT6, 40, 3, ccitt::Ink::kBlack);
  EXPECT_TRUE(stream.allRowsDone);
  EXPECT_EQ(stream.decodeOne(ccitttest::Coding::kT6, 40).result, ccitt::kRowBad);  // EOFB
  ccitttest::Stream empty{{}, 4096};
  EXPECT_EQ(empty.decodeOne(ccitttest::Coding::kT6, 40).result, ccitt::kRowBad);
}

// Hand-made T.6 rows: bits as text, spaces ignored.
ccitttest::Stream Bits(const char* text) { return ccitttest::Stream{ccitttest::BitsFromText(text), 4096}; }

TEST(CcittCorruptT6, PositionsMovingBackwardsEndTheRow) {
  // Row 1: H white 10 (00111) black 2 (11), V0 to the end. Row 2: V0 (a1 = 10),
  // then VL3 against b1 = 12: a1 = 9 < a0 = 10.
  ccitttest::Stream stream = Bits("001 00111 11 1  1 0000010 1111111111");
  EXPECT_EQ(stream.decodeOne(ccitttest::Coding::kT6, 16).result, ccitt::kRowDone);
  EXPECT_EQ(stream.decodeOne(ccitttest::Coding::kT6, 16).result, ccitt::kRowBad);
}

TEST(CcittCorruptT6, ChangeListOverflowEndsTheRow) {
  // Horizontal mode with two zero runs adds two positions without moving on.
  std::string text;
  for (int i = 0; i < 12; ++i) text += "001 00110101 0000110111 ";
  ccitttest::Stream stream = Bits(text.c_str());
  stream.listEntries = ccitt::ChangeListEntries(8);
  EXPECT_EQ(stream.decodeOne(ccitttest::Coding::kT6, 8).result, ccitt::kRowBad);
}

TEST(CcittCorruptT6, ExtensionCodesAndCodesPastTheWidthEndTheRow) {
  EXPECT_EQ(Bits("0000001 111 1111 1111").decodeOne(ccitttest::Coding::kT6, 16).result,
            ccitt::kRowBad);
  EXPECT_EQ(Bits("0000011 1111 1111").decodeOne(ccitttest::Coding::kT6, 16).result,
            ccitt::kRowBad);  // VR3 from b1 = 16
  // Horizontal runs of 12 + 10 in a row of 16.
  EXPECT_EQ(Bits("001 001000 0000100 1111").decodeOne(ccitttest::Coding::kT6, 16).result,
            ccitt::kRowBad);
  // An EOL inside horizontal mode.
  EXPECT_EQ(Bits("001 000000000001 1111").decodeOne(ccitttest::Coding::kT6, 16).result,
            ccitt::kRowBad);
}

TEST(CcittCorruptT6, TooSmallChangeListStorageIsRefused) {
  ccitttest::Stream stream = Bits("1 1 1 1");
  stream.listEntries = ccitt::ChangeListEntries(16) - 1;
  EXPECT_EQ(stream.decodeOne(ccitttest::Coding::kT6, 16).result, ccitt::kRowBad);
}

TEST(CcittCorruptT6, GarbageNeverSpinsOrOverruns) {
  uint32_t seed = 77;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> bytes(64);
    for (uint8_t& b : bytes) {
      seed = seed * 1103515245u + 12345u;
      b = static_cast<uint8_t>(seed >> 16);
    }
    const uint32_t width = 1 + trial * 7;
    ccitttest::Stream t6{bytes, 16};
    t6.decodeRows(ccitttest::Coding::kT6, width, 50, ccitt::Ink::kBlack);
    ccitttest::Stream t4{bytes, 16};
    t4.decodeRows(ccitttest::Coding::kT4, width, 50, ccitt::Ink::kWhite);
  }
}

TEST(CcittReset, ResetStartsTheStreamAgain) {
  const Picture picture = faxtest::MakeTestPicture(77, 9, 5);
  ccitttest::Stream stream{faxtest::EncodeT6(picture), 10};
  stream.decode(ccitttest::Coding::kT6, 77, 5);
  stream.rewind();
  ExpectSamePicture(picture, stream.decode(ccitttest::Coding::kT6, 77, 9));
}

}  // namespace
