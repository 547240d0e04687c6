// The marker walk: what it accepts, what it refuses with which id, the JFIF
// resolution, and streams edited segment by segment from cjpeg's output.
#include <cstring>

#include "jpeg_fixture.h"

namespace jpegtest {
namespace {

const char* const kReadFailed = "Error reading from file.";
const char* const kBadHeader = "Invalid JPG header information.";
const char* const kUnsupported = "Unsupported JPG option.";

Bytes Plain() {
  static const Bytes jpeg = Cjpeg(MakePicture(40, 24, 1), {"-sample", "2x2"});
  return jpeg;
}

Segment& SegmentOf(JpegStream& s, uint8_t code) {
  int at = s.find(code);
  EXPECT_GE(at, 0);
  return s.segments.at(static_cast<size_t>(at < 0 ? 0 : at));
}

TEST_F(JpegTest, RefusedStreamsGiveTheirResultAndId) {
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t result;
    const char* text;
  };
  std::vector<Case> cases;
  auto edited = [&](const char* name, int32_t result, const char* text, auto&& edit) {
    JpegStream s = JpegStream::Parse(Plain());
    edit(s);
    cases.push_back({name, s.bytes(), result, text});
  };
  Bytes noSoi = Plain();
  noSoi[1] = 0xD9;
  cases.push_back({"no SOI", noSoi, 3, kReadFailed});
  cases.push_back({"empty", {}, 3, kReadFailed});
  cases.push_back({"progressive", Cjpeg(MakePicture(16, 16, 2), {"-progressive"}), 9, kUnsupported});
  cases.push_back({"arithmetic", Cjpeg(MakePicture(16, 16, 2), {"-arithmetic"}), 9, kUnsupported});
  edited("extended", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xC0).code = 0xC1; });
  edited("lossless", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xC0).code = 0xC3; });
  edited("APP0 not JFIF", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xE0).body[3] = 'X'; });
  edited("short APP0", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xE0).body.resize(3); });
  edited("EOI before SOS", 9, kUnsupported, [](JpegStream& s) {
    s.segments.resize(2);
    s.scan = {0xFF, 0xD9};
  });
  edited("SOS before SOF", 9, kUnsupported, [](JpegStream& s) { s.remove(0xC0); });
  edited("Huffman id 2", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xC4).body[0] = 0x02; });
  edited("16-bit DQT", 9, kUnsupported, [](JpegStream& s) {
    Bytes& body = SegmentOf(s, 0xDB).body;
    body[0] = 0x10;
    body.resize(129, 1);
  });
  edited("one of three components scanned", 9, kUnsupported, [](JpegStream& s) {
    Bytes& body = SegmentOf(s, 0xDA).body;
    body = {1, body[1], body[2], 0, 63, 0};
  });
  edited("two components", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xC0).body[5] = 2; });
  // Four components: ImageMagick writes CMYK as YCCK (Adobe transform 2); the
  // same stream marked as plain CMYK (transform 0).
  if (hosttest::HaveProgram("convert")) {
    const Bytes ycck = FourComponentJpeg();
    cases.push_back({"YCCK", ycck, 9, kUnsupported});
    JpegStream cmyk = JpegStream::Parse(ycck);
    SegmentOf(cmyk, 0xEE).body.at(11) = 0;
    cases.push_back({"CMYK", cmyk.bytes(), 9, kUnsupported});
  }
  edited("sampling 3x1 with 2x1", 9, kUnsupported, [](JpegStream& s) {
    Bytes& body = SegmentOf(s, 0xC0).body;
    body[7] = 0x31;
    body[10] = 0x21;
  });
  edited("height 0", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xC0).body[1] = SegmentOf(s, 0xC0).body[2] = 0; });
  edited("scan table id 2", 9, kUnsupported, [](JpegStream& s) { SegmentOf(s, 0xDA).body[2] = 0x20; });
  edited("width 0", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xC0).body[3] = SegmentOf(s, 0xC0).body[4] = 0; });
  edited("sampling 0", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xC0).body[7] = 0x02; });
  edited("sampling 5", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xC0).body[7] = 0x51; });
  edited("frame too short", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xC0).body.resize(10); });
  edited("two frames", 2, kBadHeader, [](JpegStream& s) { s.insertBefore(0xDA, SegmentOf(s, 0xC0)); });
  edited("quantisation id 4", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xDB).body[0] = 0x04; });
  edited("frame quantisation id 4", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xC0).body[8] = 4; });
  edited("overfull Huffman table", 2, kBadHeader, [](JpegStream& s) {
    Bytes& body = SegmentOf(s, 0xC4).body;
    body[1] = 3;  // three codes of one bit
  });
  edited("DC category 16", 2, kBadHeader, [](JpegStream& s) {
    Bytes& body = SegmentOf(s, 0xC4).body;  // the first table cjpeg writes is DC 0
    ASSERT_EQ(body[0], 0x00);
    body[17] = 16;
  });
  edited("Huffman counts past the segment", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xC4).body.resize(20); });
  edited("scan header too short", 2, kBadHeader, [](JpegStream& s) { SegmentOf(s, 0xDA).body.resize(4); });
  Bytes zeroLength = Plain();
  zeroLength[4] = zeroLength[5] = 0;  // the APP0 length
  cases.push_back({"length 0", zeroLength, 2, kBadHeader});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& files = testsupport::MemoryFiles::instance();
    int closes = files.closes;
    auto [result, text] = OpenResult(c.bytes);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(files.closes, closes + 1);  // the file was closed
  }
}

TEST_F(JpegTest, EveryTruncatedHeaderIsAReadFailure) {
  const Bytes jpeg = Plain();
  const size_t scanStart = jpeg.size() - JpegStream::Parse(jpeg).scan.size();
  for (size_t keep = 0; keep < scanStart; ++keep) {
    SCOPED_TRACE(keep);
    auto [result, text] = OpenResult(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(keep)));
    EXPECT_EQ(result, 3);
    EXPECT_EQ(text, kReadFailed);
  }
  EXPECT_EQ(OpenResult(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(scanStart))).first, 1);
}

TEST_F(JpegTest, SegmentsTheWalkSkipsOrCombines) {
  const Rows plain = ReadAll(Plain()).rows;
  auto expectPlain = [&](const JpegStream& s, const char* what) {
    Decoded d = ReadAll(s.bytes());
    EXPECT_EQ(d.result, 1) << what << ": " << d.error;
    EXPECT_EQ(d.rows, plain) << what;
  };
  JpegStream s = JpegStream::Parse(Plain());
  // APP1 (Exif-like, holding marker-like bytes), COM, APP14, a second APP0 of any kind.
  Bytes exif{'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD9, 0xFF, 0xC2, 0xFF, 0xDA};
  s.insertBefore(0xDB, {0xE1, exif});
  s.insertBefore(0xDB, {0xFE, {'h', 'i', 0xFF, 0xC0}});
  s.insertBefore(0xDB, {0xE0, {'A', 'V', 'I', '1', 0}});
  s.insertBefore(0xC4, {0xEE, Bytes(40, 0xFF)});
  expectPlain(s, "extra segments");

  // All DHT tables in one segment, all DQT tables in one.
  JpegStream merged = JpegStream::Parse(Plain());
  for (uint8_t code : {0xC4, 0xDB}) {
    Segment all{code, {}};
    for (const Segment& seg : merged.segments) {
      if (seg.code == code) all.body.insert(all.body.end(), seg.body.begin(), seg.body.end());
    }
    merged.remove(code);
    merged.insertBefore(0xDA, all);
  }
  ASSERT_EQ(merged.find(0xC4), static_cast<int>(merged.segments.size()) - 3);
  expectPlain(merged, "merged tables");

  // No APP0 at all.
  JpegStream bare = JpegStream::Parse(Plain());
  bare.remove(0xE0);
  expectPlain(bare, "no APP0");

  // FF fill bytes before markers, and a stray RST marker in the header.
  Bytes filled = Plain();
  const size_t dqt = 2 + 4 + JpegStream::Parse(Plain()).segments[0].body.size();
  ASSERT_EQ(filled[dqt + 1], 0xDB);
  filled.insert(filled.begin() + static_cast<long>(dqt), {0xFF, 0xFF, 0xFF, 0xD3, 0xFF});
  EXPECT_EQ(ReadAll(filled).rows, plain);
}

// A slot no DHT defined has no codes: every decode fails as symbol 0, so the
// picture comes out flat mid-grey instead of the reader reading a table it lacks.
TEST_F(JpegTest, UndefinedHuffmanTablesDecodeFlat) {
  JpegStream s = JpegStream::Parse(Plain());
  s.remove(0xC4);
  Decoded d = ReadAll(s.bytes());
  ASSERT_EQ(d.result, 1);
  ASSERT_EQ(d.rows.size(), 24u);
  for (const auto& row : d.rows) EXPECT_EQ(Bytes(row.begin(), row.begin() + 120), Bytes(120, 128));
}

TEST_F(JpegTest, JfifDensityBecomesPixelsPerMetre) {
  auto pels = [&](uint8_t units, uint16_t x, uint16_t y) {
    JpegStream s = JpegStream::Parse(Plain());
    Bytes& body = SegmentOf(s, 0xE0).body;
    body[7] = units;
    body[8] = static_cast<uint8_t>(x >> 8);
    body[9] = static_cast<uint8_t>(x);
    body[10] = static_cast<uint8_t>(y >> 8);
    body[11] = static_cast<uint8_t>(y);
    Decoded d = ReadAll(s.bytes());
    return std::pair{d.header.biXPelsPerMeter, d.header.biYPelsPerMeter};
  };
  EXPECT_EQ(pels(1, 300, 72), std::pair(11811, 2835));
  EXPECT_EQ(pels(1, 65535, 1), std::pair(2580118, 39));
  EXPECT_EQ(pels(2, 100, 40), std::pair(10000, 4000));
  EXPECT_EQ(pels(0, 300, 300), std::pair(0, 0));
  EXPECT_EQ(pels(3, 300, 300), std::pair(0, 0));
  JpegStream bare = JpegStream::Parse(Plain());
  bare.remove(0xE0);
  Decoded d = ReadAll(bare.bytes());
  EXPECT_EQ(d.header.biXPelsPerMeter, 0);
}

TEST_F(JpegTest, AnImageInsideALargerFileIsReadFromItsOffset) {
  Bytes file(123, 0xFF);
  const Bytes jpeg = Plain();
  file.insert(file.end(), jpeg.begin(), jpeg.end());
  auto& files = testsupport::MemoryFiles::instance();
  files.put("inside.bin", file);
  HGLOBAL handle = 0;
  ASSERT_EQ(api.init("inside.bin", &handle, files.openForRead("inside.bin"), 123,
                     static_cast<uint32_t>(jpeg.size()), files.table()),
            1);
  std::vector<uint8_t> buffer(24 * 120);
  ASSERT_EQ(api.readRows(handle, buffer.data(), 24, 120, 0, nullptr), 1);
  const Rows plain = ReadAll(jpeg).rows;
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 120), plain[23]);  // bottom-up
  EXPECT_EQ(api.close(handle), 1);
}

}  // namespace
}  // namespace jpegtest
