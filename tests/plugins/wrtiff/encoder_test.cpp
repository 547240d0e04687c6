// The row encoders' exact output, read back from the strips of the files the
// writer makes. Expected codes are spelled out here as bit strings.
#include <string>

#include "wrtiff_harness.h"

namespace wrtifftest {
namespace {

// Bytes from a string of '0'/'1' (spaces ignored), the last byte padded with 0.
std::vector<uint8_t> Bits(const std::string& text) {
  std::vector<uint8_t> out;
  int used = 8;
  for (const char c : text) {
    if (c == ' ') continue;
    if (used == 8) {
      out.push_back(0);
      used = 0;
    }
    if (c == '1') out.back() = static_cast<uint8_t>(out.back() | (0x80 >> used));
    ++used;
  }
  return out;
}

// Codes used below (T.4).
const std::string kWhite0 = "00110101", kWhite5 = "1100", kWhite8 = "10011", kWhite16 = "101010",
                  kWhite44 = "00101101", kMakeUp1728 = "010011011", kMakeUp256 = "0110111",
                  kBlack3 = "10";
const std::vector<uint8_t> kEol = {0x00, 0x01};

class EncoderTest : public WrtiffTest {
 protected:
  std::vector<uint8_t> onlyStrip(const Dib& dib, const std::string& compression) {
    testsupport::MemoryFiles::instance().reset();
    Options()["COMPRESS"] = "ON";
    Options()["TIFF_COMPRESS"] = compression;
    const RunResult run = writer.run(dib);
    EXPECT_EQ(run.endResult, kWriterOk);
    const ParsedTiff tiff = ParseTiff(run.file);
    if (tiff.pages.size() != 1) return {};
    return StripBytes(run.file, tiff.pages[0], 0);
  }
  // An all-white 1-bit row of `width` pixels.
  Dib whiteRow(int32_t width) {
    Dib dib = MakeDib(width, 1, 1);
    for (auto& b : dib.rows[0]) b = 0xFF;
    return dib;
  }
};

TEST_F(EncoderTest, ModifiedHuffmanLongRunsUseMakeUpCodes) {
  // 1728: make-up 1728 and terminating 0, padded to a byte boundary.
  EXPECT_EQ(onlyStrip(whiteRow(1728), "MODCCITT"), Bits(kMakeUp1728 + kWhite0));
  // 2000 = 1728 + 256 + 16.
  EXPECT_EQ(onlyStrip(whiteRow(2000), "MODCCITT"), Bits(kMakeUp1728 + kMakeUp256 + kWhite16));
  // 3500 = 1728 + 1728 + 44.
  EXPECT_EQ(onlyStrip(whiteRow(3500), "MODCCITT"), Bits(kMakeUp1728 + kMakeUp1728 + kWhite44));
}

TEST_F(EncoderTest, RowStartingBlackBeginsWithWhiteRunOfZero) {
  Dib dib = MakeDib(8, 1, 1);
  dib.rows[0][0] = 0x1F;  // 3 black, 5 white
  EXPECT_EQ(onlyStrip(dib, "MODCCITT"), Bits(kWhite0 + kBlack3 + kWhite5));
}

TEST_F(EncoderTest, Group3OneRowImageHasEndOfLinesAndReturnToControl) {
  std::vector<uint8_t> expected = kEol;
  const std::vector<uint8_t> row = Bits(kWhite8);
  expected.insert(expected.end(), row.begin(), row.end());
  expected.insert(expected.end(), kEol.begin(), kEol.end());
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), {0x00, 0x10, 0x01});
  EXPECT_EQ(onlyStrip(whiteRow(8), "GROUP3"), expected);
}

TEST_F(EncoderTest, Group3EveryStripBeginsWithEndOfLine) {
  Options()["COMPRESS"] = "ON";
  Options()["TIFF_COMPRESS"] = "GROUP3";
  Options()["TIFF_ROWSPERSTRIP"] = "2";
  const Dib dib = MakePatterned(100, 7, 1);
  const RunResult run = writer.run(dib, {.rowsPerCall = 3});
  const ParsedTiff tiff = ParseTiff(run.file);
  ASSERT_EQ(tiff.pages.size(), 1u);
  ASSERT_EQ(tiff.pages[0].entries.at(273).count, 4u);
  for (size_t s = 0; s < 4; ++s) {
    const std::vector<uint8_t> strip = StripBytes(run.file, tiff.pages[0], s);
    ASSERT_GE(strip.size(), 4u);
    EXPECT_EQ(strip[0], 0x00) << s;
    EXPECT_EQ(strip[1], 0x01) << s;
  }
}

TEST_F(EncoderTest, PackBitsPacketsFollowEveryPair) {
  Dib dib = MakeDib(5, 1, 8);
  dib.rows[0] = {0x41, 0x41, 0x42, 0x43, 0x44, 0, 0, 0};
  EXPECT_EQ(onlyStrip(dib, "PACKBITS"), (std::vector<uint8_t>{0xFF, 0x41, 0x02, 0x42, 0x43, 0x44}));

  Dib run = MakeDib(129, 1, 8);
  std::fill(run.rows[0].begin(), run.rows[0].end(), 0x7E);
  EXPECT_EQ(onlyStrip(run, "PACKBITS"), (std::vector<uint8_t>{0x81, 0x7E, 0x00, 0x7E}));

  // A literal longer than 128 bytes is split into 128 and the rest.
  Dib literal = MakeDib(130, 1, 8);
  for (uint32_t i = 0; i < 130; ++i) literal.rows[0][i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> packed = onlyStrip(literal, "PACKBITS");
  ASSERT_EQ(packed.size(), 132u);
  EXPECT_EQ(packed[0], 127);
  EXPECT_EQ(packed[129], 1);
}

TEST_F(EncoderTest, Group4AllWhiteRowIsOneVerticalZero) {
  // Two all-white rows: V0, V0, then the partly filled byte closes the strip.
  Dib dib = MakeDib(16, 2, 1);
  for (auto& row : dib.rows) std::fill(row.begin(), row.end(), 0xFF);
  EXPECT_EQ(onlyStrip(dib, "GROUP4"), Bits("11"));
}

TEST_F(EncoderTest, Group4EachStripIsCodedAgainstAWhiteRow) {
  Options()["COMPRESS"] = "ON";
  Options()["TIFF_COMPRESS"] = "GROUP4";
  Options()["TIFF_ROWSPERSTRIP"] = "1";
  Dib dib = MakePatterned(77, 2, 1);
  dib.rows[1] = dib.rows[0];
  const RunResult run = writer.run(dib);
  const ParsedTiff tiff = ParseTiff(run.file);
  ASSERT_EQ(tiff.pages.size(), 1u);
  // Identical rows in two strips code identically: each strip starts afresh
  // and the first ends on a byte boundary.
  const std::vector<uint8_t> first = StripBytes(run.file, tiff.pages[0], 0);
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(first, StripBytes(run.file, tiff.pages[0], 1));
  EXPECT_EQ(tiff.pages[0].value(273, 1), tiff.pages[0].value(273, 0) + first.size());
}

TEST_F(EncoderTest, FillOrderTwoMirrorsEveryByte) {
  Options()["TIFF_FILLORDER"] = "";
  EXPECT_EQ(onlyStrip(whiteRow(1728), "MODCCITT"), (std::vector<uint8_t>{0xB2, 0x59, 0x01}));
}

}  // namespace
}  // namespace wrtifftest
