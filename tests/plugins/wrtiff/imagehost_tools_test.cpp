// BMP to TIFF through build/bin/imagehost with every compression option, and
// pages appended (--append) to an existing TIFF; libtiff reads the results back.
#include <string>

#include "wrtiff_harness.h"

namespace wrtifftest {
namespace {

using testsupport::TempDir;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A bottom-up BMP file of the DIB.
std::vector<uint8_t> BmpFile(const Dib& dib) {
  const auto pixelOffset = static_cast<uint32_t>(14 + dib.info.size());
  std::vector<uint8_t> out;
  Put16(out, 0x4D42);
  Put32(out, pixelOffset + dib.stride() * dib.height());
  Put32(out, 0);
  Put32(out, pixelOffset);
  out.insert(out.end(), dib.info.begin(), dib.info.end());
  for (uint32_t y = dib.height(); y-- > 0;) {
    out.insert(out.end(), dib.rows[y].begin(), dib.rows[y].end());
  }
  return out;
}

class ImagehostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("convert") || !HaveTool("tiffinfo")) GTEST_SKIP() << "libtiff tools missing";
  }
  // imagehost convert IN OUT with the options; its exit status.
  int convert(const Dib& dib, const std::string& out, const std::string& options) {
    const std::string in = dir.file("in.bmp");
    WriteFile(in, BmpFile(dib));
    std::string log;
    const int status = RunCommand("'" + testsupport::binPath("imagehost") + "' --quiet convert " +
                                      options + " '" + in + "' '" + out + "'",
                                  &log);
    EXPECT_EQ(status, 0) << log;
    return status;
  }
  TempDir dir;
};

TEST_F(ImagehostTest, EveryCompressionOptionRoundTrips) {
  const Dib mono = MakePatterned(1728, 120, 1);
  for (const char* compression : {"MODCCITT", "PACKBITS", "GROUP3", "GROUP4"}) {
    for (const char* order : {"INTEL", "MOTOROLA"}) {
      const std::string out = dir.file(std::string(compression) + order + ".tif");
      ASSERT_EQ(convert(mono, out,
                        std::string("-O COMPRESS=ON -O TIFF_COMPRESS=") + compression +
                            " -O TIFF_BYTEFORMAT=" + order + " -O TIFF_FILLORDER=1 --rows 7"),
                0);
      const std::vector<uint8_t> file = ReadFile(out);
      const ParsedTiff tiff = ParseTiff(file);
      ASSERT_EQ(tiff.pages.size(), 1u);
      EXPECT_EQ(tiff.intel, std::string(order) == "INTEL");
      EXPECT_EQ(tiff.pages[0].value(266), 2u);
      EXPECT_EQ(DecodeWithLibtiff(file), mono.rgb()) << compression << " " << order;
    }
  }
  const Dib colour = MakePatterned(97, 31, 24);
  const std::string out = dir.file("rgb.tif");
  ASSERT_EQ(convert(colour, out, "-O COMPRESS=ON -O TIFF_ROWSPERSTRIP=4 -O TIFF_ARTIST=Tester"), 0);
  const std::vector<uint8_t> file = ReadFile(out);
  EXPECT_EQ(ParseTiff(file).pages.at(0).value(278), 4u);
  EXPECT_EQ(DecodeWithLibtiff(file), colour.rgb());
}

TEST_F(ImagehostTest, AppendAddsPagesToAnExistingTiff) {
  const Dib first = MakePatterned(50, 20, 8);
  const Dib second = MakePatterned(300, 40, 1);
  const std::string out = dir.file("pages.tif");
  ASSERT_EQ(convert(first, out, "-O TIFF_BYTEFORMAT=MOTOROLA"), 0);
  ASSERT_EQ(convert(second, out, "--append --all-pages -O COMPRESS=ON -O TIFF_COMPRESS=GROUP4"), 0);
  const std::vector<uint8_t> file = ReadFile(out);
  const ParsedTiff tiff = ParseTiff(file);
  EXPECT_FALSE(tiff.intel);
  ASSERT_EQ(tiff.pages.size(), 2u);
  EXPECT_EQ(DecodeWithLibtiff(file, 0), first.rgb());
  EXPECT_EQ(DecodeWithLibtiff(file, 1), second.rgb());
}

}  // namespace
}  // namespace wrtifftest
