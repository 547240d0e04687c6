// The host library's own pieces: the exported option lookup and the option
// block it reads, command-line options, header checks, output files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "host/dib.h"
#include "host/options.h"
#include "host/output.h"
#include "plugin_loader.h"
#include "tool_runner.h"
#include "winport/windows.h"

namespace hosttest {
namespace {

using imagehost::OptionList;

// OvgXOptBlkGet as a writer finds it: by name on the host library's module.
OvgXOptBlkGet_fn HostOptionGetter() {
  HMODULE host = GetModuleHandleA("libimagehost.so");
  return host == 0 ? nullptr
                   : reinterpret_cast<OvgXOptBlkGet_fn>(GetProcAddress(host, "OvgXOptBlkGet"));
}

TEST(HostOptions, WritersFindTheGetterByNameAndItAnswersExactKeys) {
  OvgXOptBlkGet_fn get = HostOptionGetter();
  ASSERT_NE(get, nullptr);
  ASSERT_EQ(reinterpret_cast<void*>(get),
            reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleA("libimagehost.so"), MAKEINTRESOURCEA(1))));
  OptionList options;
  ASSERT_TRUE(options.add("tiff_compress=LZW"));
  ASSERT_TRUE(options.add("COMPRESS=none"));
  ASSERT_TRUE(options.add("EMPTY="));
  ASSERT_TRUE(options.add("compress=G4"));  // a key given again keeps its last value
  HGLOBAL block = options.buildBlock();
  ASSERT_NE(block, 0u);

  char value[kOptionValueSize];
  EXPECT_EQ(get(block, "TIFF_COMPRESS", value), 0);
  EXPECT_STREQ(value, "LZW");
  EXPECT_EQ(get(block, "COMPRESS", value), 0);  // not found inside "TIFF_COMPRESS"
  EXPECT_STREQ(value, "G4");
  EXPECT_EQ(get(block, "EMPTY", value), 0);
  EXPECT_STREQ(value, "");
  EXPECT_NE(get(block, "compress", value), 0);  // keys compare exactly
  EXPECT_NE(get(block, "COMP", value), 0);
  EXPECT_NE(get(block, "", value), 0);
  EXPECT_NE(get(0, "COMPRESS", value), 0);
  EXPECT_NE(get(block, "COMPRESS", nullptr), 0);

  // The block's text: "THK", nine bytes, then "KEY = value\r" lines.
  const char* text = static_cast<const char*>(GlobalLock(block));
  EXPECT_EQ(std::memcmp(text, "THK", 3), 0);
  EXPECT_STREQ(text + kOptionLinesStart, "TIFF_COMPRESS = LZW\rCOMPRESS = G4\rEMPTY = \r");
  GlobalUnlock(block);
  GlobalFree(block);
}

TEST(HostOptions, LongValuesAreCutAndForeignBlocksHoldNothing) {
  OvgXOptBlkGet_fn get = HostOptionGetter();
  ASSERT_NE(get, nullptr);
  OptionList options;
  ASSERT_TRUE(options.add("TIFF_ARTIST=" + std::string(1000, 'a')));
  HGLOBAL block = options.buildBlock();
  std::vector<char> value(kOptionValueSize + 16, 'x');
  EXPECT_EQ(get(block, "TIFF_ARTIST", value.data()), 0);
  EXPECT_EQ(std::strlen(value.data()), kOptionValueSize - 1);
  EXPECT_EQ(value[kOptionValueSize], 'x');
  GlobalFree(block);

  // A block that is not an option block, and one whose last line has no end or NUL.
  HGLOBAL foreign = GlobalAlloc(GHND, 32);
  std::memcpy(GlobalLock(foreign), "XYZ\0\0\0\0\0\0\0\0\0KEY = v\r", 21);
  GlobalUnlock(foreign);
  EXPECT_NE(get(foreign, "KEY", value.data()), 0);
  GlobalFree(foreign);
  const char unterminated[] = "THK\0\0\0\0\0\0\0\0\0KEY = value";
  HGLOBAL tight = GlobalAlloc(GHND, sizeof unterminated - 1);
  std::memcpy(GlobalLock(tight), unterminated, sizeof unterminated - 1);
  GlobalUnlock(tight);
  EXPECT_EQ(get(tight, "KEY", value.data()), 0);
  EXPECT_STREQ(value.data(), "value");
  GlobalFree(tight);
}

TEST(HostOptions, CommandLineOptionsAreCheckedBeforeTheyReachABlock) {
  OptionList options;
  EXPECT_FALSE(options.add("NOEQUALS"));
  EXPECT_FALSE(options.add("=value"));
  EXPECT_FALSE(options.add("BAD KEY=1"));
  EXPECT_FALSE(options.add("KEY=line\rbreak"));
  EXPECT_FALSE(options.add("KEY=line\nbreak"));
  EXPECT_TRUE(options.add("lossy_quality=75=high"));
  ASSERT_EQ(options.entries().size(), 1u);
  EXPECT_EQ(options.entries()[0].first, "LOSSY_QUALITY");
  EXPECT_EQ(options.entries()[0].second, "75=high");
}

BITMAPINFOHEADER Header(int32_t width, int32_t height, uint16_t bits, uint32_t colorsUsed = 0) {
  return BITMAPINFOHEADER{40, width, height, 1, bits, 0, 0, 0, 0, colorsUsed, 0};
}

TEST(HostDib, DescriptionsAreNormalisedToAFullTable) {
  std::vector<RGBQUAD> two = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  imagehost::DibImage image;
  ASSERT_TRUE(imagehost::DibImage::make(Header(10, 3, 8, 2), two, image));
  EXPECT_EQ(image.palette().size(), 256u);
  EXPECT_EQ(image.colors(), 2u);
  EXPECT_EQ(image.stride(), 12u);
  EXPECT_EQ(image.header().biSizeImage, 36u);
  EXPECT_EQ(image.palette()[1].rgbRed, 6);
  EXPECT_EQ(image.packed().size(), 40u + 1024u);

  ASSERT_TRUE(imagehost::DibImage::make(Header(5, 2, 24, 7), {}, image));
  EXPECT_EQ(image.colors(), 0u);
  EXPECT_EQ(image.header().biClrUsed, 0u);
  EXPECT_EQ(image.stride(), 16u);
}

TEST(HostDib, BlocksHoldAboutAMebibyteAndAtLeastOneRow) {
  EXPECT_EQ(imagehost::BlockRows(0, 1024, 5000), 1024u);
  EXPECT_EQ(imagehost::BlockRows(0, 1024, 10), 10u);
  EXPECT_EQ(imagehost::BlockRows(0, 3u << 20, 10), 1u);
  EXPECT_EQ(imagehost::BlockRows(7, 1024, 5000), 7u);
  EXPECT_EQ(imagehost::BlockRows(9000, 1024, 5000), 5000u);
}

TEST(HostOutputFile, AppendingStartsFromACopyAndOnlyCommitReplacesTheFile) {
  testsupport::TempDir dir;
  const std::string path = dir.file("pages.tif");
  WriteBytes(path, {'o', 'l', 'd'});
  {
    imagehost::OutputFile output;
    ASSERT_TRUE(output.prepare(path, true));
    EXPECT_TRUE(output.appending());
    EXPECT_EQ(ReadBytes(output.workPath()), (std::vector<uint8_t>{'o', 'l', 'd'}));
    WriteBytes(output.workPath(), {'n', 'e', 'w'});
    EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    ASSERT_TRUE(output.commit());
  }
  EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'n', 'e', 'w'}));
  {
    imagehost::OutputFile output;  // not appending: the writer creates the file afresh
    ASSERT_TRUE(output.prepare(path, false));
    EXPECT_FALSE(output.appending());
    EXPECT_FALSE(Exists(output.workPath()));
    WriteBytes(output.workPath(), {'x'});
  }  // dropped without commit
  EXPECT_FALSE(Exists(path + ".part"));
  EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

}  // namespace
}  // namespace hosttest
