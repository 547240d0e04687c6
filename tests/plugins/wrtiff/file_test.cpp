// The file structure: the tag list per image and options, strips, byte
// orders, appending, refusals, short writes and cancellation.
#include <set>

#include "wrtiff_harness.h"

namespace wrtifftest {
namespace {

using testsupport::MemoryFiles;

std::set<uint16_t> Tags(const Page& page) {
  std::set<uint16_t> tags;
  for (const auto& [tag, entry] : page.entries) tags.insert(tag);
  return tags;
}

class FileTest : public WrtiffTest {
 protected:
  Page onlyPage(const RunResult& run) {
    EXPECT_EQ(run.endResult, kWriterOk);
    const ParsedTiff tiff = ParseTiff(run.file);
    EXPECT_EQ(tiff.pages.size(), 1u);
    return tiff.pages.empty() ? Page{} : tiff.pages[0];
  }
};

TEST_F(FileTest, ExtensionAndFlags) {
  ExportHostInfo host{0, nullptr, 0};
  EXPECT_STREQ(writer.getExt(&host), "TIF;Tag Image File Format (*.tif)");
  EXPECT_EQ(host.flags, 252u);
  const RunResult run = writer.run(MakeDib(4, 4, 8));
  EXPECT_EQ(run.flags, 252);
}

TEST_F(FileTest, UncompressedOneBitTagList) {
  const Page page = onlyPage(writer.run(MakePatterned(40, 10, 1)));
  EXPECT_EQ(Tags(page), (std::set<uint16_t>{254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 282,
                                             283, 296, 305}));
  EXPECT_EQ(page.value(259), 1u);
  EXPECT_EQ(page.value(262), 1u);
  EXPECT_EQ(page.entries.at(256).type, 3);
  // One strip: single values in their entries.
  EXPECT_EQ(page.entries.at(273).count, 1u);
  EXPECT_EQ(page.entries.at(273).type, 4);
  EXPECT_EQ(page.value(279), 50u);
  const Entry& software = page.entries.at(305);
  EXPECT_EQ(software.count, 36u);
  EXPECT_EQ(software.text, std::string("Orvello by Brandeth, Inc.") + std::string(11, '\0'));
  // 11811 and 7874 pixels per metre: 300 and 200 dots per inch.
  EXPECT_EQ(page.value(282, 0), 30000u);
  EXPECT_EQ(page.value(282, 1), 100u);
  EXPECT_EQ(page.value(283, 0), 20000u);
  EXPECT_EQ(page.value(296), 2u);
}

TEST_F(FileTest, EveryOptionalTagInOrder) {
  Options() = {{"COMPRESS", "ON"},          {"TIFF_COMPRESS", "GROUP3"}, {"TIFF_FILLORDER", "2"},
               {"TIFF_ARTIST", "Someone"},  {"TIFF_COPYRIGHT", "Nobody"}, {"TIFF_BYTEFORMAT", "MOTOROLA"}};
  const RunResult run = writer.run(MakePatterned(40, 10, 1));
  const Page page = onlyPage(run);
  EXPECT_EQ(Tags(page), (std::set<uint16_t>{254, 256, 257, 258, 259, 262, 266, 273, 277, 278, 279,
                                             282, 283, 292, 296, 305, 315, 33432}));
  EXPECT_EQ(page.value(266), 2u);
  // Entries lie in ascending tag order in the file.
  const uint32_t ifd = uint32_t{run.file[4]} << 24 | run.file[5] << 16 | run.file[6] << 8 | run.file[7];
  uint32_t previous = 0;
  for (uint32_t i = 0; i < 18; ++i) {
    const uint32_t tag = uint32_t{run.file[ifd + 2 + 12 * i]} << 8 | run.file[ifd + 3 + 12 * i];
    EXPECT_GT(tag, previous);
    previous = tag;
  }
  MemoryFiles::instance().reset();
  Options() = {{"COMPRESS", "ON"}};
  EXPECT_EQ(Tags(onlyPage(writer.run(MakePatterned(40, 10, 4)))),
            (std::set<uint16_t>{254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 296,
                                305, 320}));
}

TEST_F(FileTest, CcittCompressionsAreWhiteIsZero) {
  Options()["COMPRESS"] = "ON";
  for (const char* name : {"GROUP3", "GROUP4", "MODCCITT"}) {
    Options()["TIFF_COMPRESS"] = name;
    MemoryFiles::instance().reset();
    const Page page = onlyPage(writer.run(MakePatterned(40, 10, 1)));
    EXPECT_EQ(page.value(262), 0u) << name;
    EXPECT_EQ(page.has(292), std::string(name) == "GROUP3") << name;
    if (page.has(292)) {
      EXPECT_EQ(page.value(292), 4u);
    }
  }
}

TEST_F(FileTest, CompressOnMapsByDepth) {
  Options()["COMPRESS"] = "ON";
  Options()["TIFF_COMPRESS"] = "GROUP4";  // only 1-bit images read it
  const Dib dib = MakePatterned(9, 3, 8);
  const Page page = onlyPage(writer.run(dib));
  EXPECT_EQ(page.value(259), 32773u);
  EXPECT_EQ(page.value(262), 3u);
  ASSERT_EQ(page.entries.at(320).count, 768u);
  const auto* table = reinterpret_cast<const RGBQUAD*>(dib.info.data() + 40);
  EXPECT_EQ(page.value(320, 5), table[5].rgbRed * 257u);
  EXPECT_EQ(page.value(320, 256 + 5), table[5].rgbGreen * 257u);
  EXPECT_EQ(page.value(320, 512 + 5), table[5].rgbBlue * 257u);

  MemoryFiles::instance().reset();
  Options()["TIFF_COMPRESS"] = "SOMETHING";
  EXPECT_EQ(onlyPage(writer.run(MakePatterned(9, 3, 1))).value(259), 32773u);
  MemoryFiles::instance().reset();
  Options()["COMPRESS"] = "on";  // case matters
  EXPECT_EQ(onlyPage(writer.run(MakePatterned(9, 3, 1))).value(259), 1u);
}

TEST_F(FileTest, TwentyFourBitsAndOptionalTags) {
  Options()["TIFF_FILLORDER"] = "YES";  // no effect above 1 bit
  Options()["TIFF_ARTIST"] = "Ann";
  Options()["TIFF_COPYRIGHT"] = "(c) 2026 Someone";
  Options()["TIFF_XRES"] = "150";
  Dib dib = MakePatterned(5, 2, 24);
  dib.header()->biYPelsPerMeter = 0;
  const Page page = onlyPage(writer.run(dib));
  EXPECT_FALSE(page.has(266));
  EXPECT_EQ(page.entries.at(258).values, (std::vector<uint32_t>{8, 8, 8}));
  EXPECT_EQ(page.value(262), 2u);
  EXPECT_EQ(page.value(277), 3u);
  EXPECT_EQ(page.entries.at(315).text, std::string("Ann\0", 4));
  EXPECT_EQ(page.entries.at(33432).text, std::string("(c) 2026 Someone\0", 17));
  EXPECT_EQ(page.value(282, 0), 15000u);
  EXPECT_EQ(page.value(283, 0), 30000u);  // 0 pixels per metre: 300 dots per inch
}

TEST_F(FileTest, ArtistOfThreeCharactersSitsInTheFieldInBothOrders) {
  Options()["TIFF_ARTIST"] = "Bob";
  for (const char* order : {"INTEL", "MOTOROLA"}) {
    Options()["TIFF_BYTEFORMAT"] = order;
    MemoryFiles::instance().reset();
    const RunResult run = writer.run(MakeDib(8, 1, 1));
    const ParsedTiff tiff = ParseTiff(run.file);
    EXPECT_EQ(tiff.intel, std::string(order) == "INTEL");
    ASSERT_EQ(tiff.pages.size(), 1u);
    EXPECT_EQ(tiff.pages[0].entries.at(315).text, std::string("Bob\0", 4));
  }
}

TEST_F(FileTest, StripPlanning) {
  // 3000 bytes a row x 1000 rows: capped at 200 strips of 5 rows.
  const Page big = onlyPage(writer.run(MakeDib(1000, 1000, 24)));
  EXPECT_EQ(big.value(278), 5u);
  EXPECT_EQ(big.entries.at(273).count, 200u);
  EXPECT_EQ(big.entries.at(279).values, std::vector<uint32_t>(200, 15000));

  // "0" and text that is not a number leave the computed value; a value
  // above the height makes one strip.
  for (const char* value : {"0", "12a", "40000"}) {
    MemoryFiles::instance().reset();
    Options()["TIFF_ROWSPERSTRIP"] = value;
    const Page page = onlyPage(writer.run(MakeDib(100, 100, 8)));
    EXPECT_EQ(page.value(278), std::string(value) == "40000" ? 100u : 50u) << value;
  }
}

TEST_F(FileTest, SizesAbove16BitsAreLongs) {
  // A 24-bit row of 11000 pixels has 33000 bytes, more than the 32000-byte buffer.
  Options()["COMPRESS"] = "ON";
  const Dib wide = MakePatterned(11000, 3, 24);
  const RunResult run = writer.run(wide);
  const Page page = onlyPage(run);
  EXPECT_EQ(page.value(256), 11000u);
  EXPECT_EQ(page.entries.at(256).type, 3);

  MemoryFiles::instance().reset();
  Options().clear();
  const Page huge = onlyPage(writer.run(MakeDib(70000, 2, 1)));
  EXPECT_EQ(huge.entries.at(256).type, 4);
  EXPECT_EQ(huge.value(256), 70000u);
  EXPECT_EQ(huge.entries.at(279).values, (std::vector<uint32_t>{8750, 8750}));
}

TEST_F(FileTest, RefusedImages) {
  for (const auto& [bits, height] : {std::pair<uint16_t, int32_t>{16, 4}, {32, 4}, {2, 4}, {8, 0}}) {
    Reports().clear();
    Dib dib = MakeDib(4, 4, 8);
    dib.header()->biBitCount = bits;
    dib.header()->biHeight = height;
    int32_t flags = 0;
    EXPECT_EQ(writer.beginWrite("x.tif", MemoryFiles::table(), "x.tif", dib.header(), 0, &flags), HGLOBAL{});
    EXPECT_EQ(flags, 252);
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].id, 2);
    EXPECT_FALSE(MemoryFiles::instance().exists("x.tif"));
  }
}

TEST_F(FileTest, RowsBeyondTheHeightAreRefused) {
  const Dib dib = MakePatterned(16, 4, 8);
  const RunResult run = writer.run(dib, {.rowsPerCall = 3, .extraRows = 2});
  EXPECT_EQ(run.blockResults, (std::vector<int32_t>{kWriterOk, kWriterWriteFailed}));
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].id, 3);
  EXPECT_EQ(Reports()[0].module, "OVGwrtiff.DEL");
  const Page page = onlyPage(run);
  EXPECT_EQ(page.value(279), 64u);
}

TEST_F(FileTest, StrideBelowTheRowIsRefused) {
  const Dib dib = MakePatterned(16, 2, 24);
  int32_t flags = 0;
  const HGLOBAL h = writer.beginWrite("s.tif", MemoryFiles::table(), "s.tif", dib.header(), 0, &flags);
  ASSERT_NE(h, HGLOBAL{});
  std::vector<uint8_t> rows(200, 0);
  EXPECT_EQ(writer.writeBlock(h, 2, 40, rows.data(), nullptr), kWriterWriteFailed);
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].id, 3);
  EXPECT_EQ(writer.writeBlock(h, 2, 48, rows.data(), nullptr), kWriterOk);
  EXPECT_EQ(writer.endWrite(h, nullptr), kWriterOk);
}

TEST_F(FileTest, ShortWritesFail) {
  // The disk fills while rows are written, and while the directory is written.
  for (const int64_t capacity : {int64_t{3000}, int64_t{8 + 16 * 400 + 20}}) {
    MemoryFiles::instance().reset();
    MemoryFiles::instance().diskCapacity = capacity;
    Reports().clear();
    Options()["TIFF_ROWSPERSTRIP"] = "100";
    const RunResult run = writer.run(MakePatterned(16, 400, 8), {.rowsPerCall = 50});
    EXPECT_EQ(run.endResult, kWriterWriteFailed) << capacity;
    ASSERT_EQ(Reports().size(), 1u) << capacity;
    EXPECT_EQ(Reports()[0].id, 3);
    if (capacity == 3000) {
      EXPECT_EQ(run.blockResults.back(), kWriterWriteFailed);
    }
    EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  }
}

int32_t CALLBACK CancelAfterFirst(int32_t, int32_t, uint32_t user) {
  return user == 7 ? 0 : 1;
}

TEST_F(FileTest, CancellationKeepsTheStripsWritten) {
  const Dib dib = MakePatterned(100, 50, 8);
  int32_t flags = 0;
  const HGLOBAL h = writer.beginWrite("c.tif", MemoryFiles::table(), "c.tif", dib.header(), 0, &flags);
  ASSERT_NE(h, HGLOBAL{});
  ExportProgress progress{252, 0, 5000, 0, 150, 0, 7, CancelAfterFirst};
  std::vector<uint8_t> rows;
  for (int y = 9; y >= 0; --y) rows.insert(rows.end(), dib.rows[y].begin(), dib.rows[y].end());
  EXPECT_EQ(writer.writeBlock(h, 10, dib.stride(), rows.data(), &progress), kWriterCancelled);
  EXPECT_EQ(writer.endWrite(h, &progress), kWriterOk);
  const std::vector<uint8_t> file = MemoryFiles::instance().bytes("c.tif");
  EXPECT_EQ(progress.fileSize, file.size());
  const ParsedTiff tiff = ParseTiff(file);
  ASSERT_EQ(tiff.pages.size(), 1u);
  EXPECT_EQ(tiff.pages[0].value(279), 100u);  // one row written before the cancel
}

TEST_F(FileTest, AppendedPagesFollowTheFileByteOrder) {
  Options()["TIFF_BYTEFORMAT"] = "MOTOROLA";
  ASSERT_EQ(writer.run(MakePatterned(30, 5, 8)).endResult, kWriterOk);
  Options().clear();
  ASSERT_EQ(writer.run(MakePatterned(20, 7, 1)).endResult, kWriterOk);
  const RunResult third = writer.run(MakePatterned(10, 3, 24));
  ASSERT_EQ(third.endResult, kWriterOk);
  const ParsedTiff tiff = ParseTiff(third.file);
  EXPECT_FALSE(tiff.intel);
  ASSERT_EQ(tiff.pages.size(), 3u);
  EXPECT_EQ(tiff.pages[0].value(256), 30u);
  EXPECT_EQ(tiff.pages[1].value(256), 20u);
  EXPECT_EQ(tiff.pages[2].value(256), 10u);
  EXPECT_EQ(third.progress.fileSize, third.file.size());
}

TEST_F(FileTest, AppendingToAFileWithoutPagesLinksTheFirst) {
  MemoryFiles::instance().put("out.tif", {'I', 'I', 42, 0, 0, 0, 0, 0});
  const RunResult run = writer.run(MakePatterned(8, 2, 8));
  const Page page = onlyPage(run);
  EXPECT_EQ(page.value(256), 8u);
  // An existing empty file is written as a new one.
  MemoryFiles::instance().put("out.tif", {});
  Options()["TIFF_BYTEFORMAT"] = "MOTOROLA";
  const RunResult fresh = writer.run(MakePatterned(8, 2, 8));
  EXPECT_EQ(onlyPage(fresh).value(256), 8u);
  EXPECT_EQ(fresh.file[0], 'M');
}

TEST_F(FileTest, AppendingRefusesFilesItCannotExtend) {
  const std::vector<uint8_t> loop = {'I', 'I', 42, 0, 8, 0, 0, 0,  // IFD at 8
                                     0,   0,   8,  0, 0, 0};       // 0 entries, next = 8
  const std::vector<uint8_t> outside = {'M', 'M', 0, 42, 0, 0, 0x10, 0};
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
  for (const auto& content : {loop, outside, text}) {
    MemoryFiles::instance().reset();
    Reports().clear();
    MemoryFiles::instance().put("out.tif", content);
    const RunResult run = writer.run(MakeDib(8, 2, 8));
    EXPECT_EQ(run.handle, HGLOBAL{});
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].id, 1);
    EXPECT_EQ(MemoryFiles::instance().bytes("out.tif"), content);
    EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  }
}

TEST_F(FileTest, OpenFailureReportsErrorOne) {
  MemoryFiles::instance().failOpen = true;
  const RunResult run = writer.run(MakeDib(8, 2, 8));
  EXPECT_EQ(run.handle, HGLOBAL{});
  EXPECT_EQ(run.flags, 252);
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].id, 1);
}

}  // namespace
}  // namespace wrtifftest
