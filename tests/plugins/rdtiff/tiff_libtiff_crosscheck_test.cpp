// Cross-checks with libtiff: files made by libtiff's own tools (tiffcp,
// fax2tiff, pnmtotiff, ImageMagick) decode through the reader's exports and
// through imagehost to the pixels the source picture (or libtiff) gives.
#include <cstdlib>
#include <cstring>
#include <map>

#include "plugin/t4_codes.h"
#include "tiff_fixture.h"
#include "tool_runner.h"

namespace tifftest {
namespace {

using hosttest::Pixels;

bool HaveTools() {
  return hosttest::HaveProgram("tiffcp") && hosttest::HaveProgram("pnmtotiff") &&
         hosttest::HaveProgram("fax2tiff") && hosttest::HaveProgram("convert");
}

// A bilevel picture with runs above 2560, rows all white, rows starting black,
// single-pixel details and shapes; packed PBM rows (1 = black).
struct Bilevel {
  uint32_t width = 6000;
  uint32_t height = 61;
  std::vector<uint8_t> bits;  // PBM rows
};

Bilevel MakeBilevel() {
  Bilevel b;
  const uint32_t rowBytes = (b.width + 7) / 8;
  b.bits.assign(static_cast<size_t>(rowBytes) * b.height, 0);
  auto set = [&](uint32_t x, uint32_t y) { b.bits[y * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8)); };
  for (uint32_t y = 0; y < b.height; ++y) {
    if (y % 10 == 9) continue;  // all white
    if (y % 7 == 0) {
      for (uint32_t x = 0; x < 5900; ++x) set(x, y);  // a black run from x = 0, above 2560
      continue;
    }
    for (uint32_t x = 0; x < b.width; ++x) {
      uint32_t dx = x > 3000 ? x - 3000 : 3000 - x;
      uint32_t dy = y > 30 ? y - 30 : 30 - y;
      bool disc = dx * dx / 900 + dy * dy < 400;
      bool stripes = x > 100 && x < 1200 && (x / (1 + y % 5)) % 3 == 0;
      bool dots = (x * 7 + y * 13) % 97 == 0;
      if (disc || stripes || dots) set(x, y);
    }
  }
  return b;
}

Pixels BilevelPixels(const Bilevel& b) {
  return hosttest::DecodePnm(hosttest::EncodePbm(b.width, b.height, b.bits));
}

// The rows the reader delivers, as RGB through the DIB palette.
Pixels ToPixels(const BITMAPINFOHEADER& h, const std::vector<RGBQUAD>& palette, const Rows& rows) {
  return hosttest::DibRowsToPixels(static_cast<uint32_t>(h.biWidth),
                                   static_cast<uint32_t>(h.biHeight), h.biBitCount,
                                   reinterpret_cast<const uint8_t*>(palette.data()),
                                   palette.size(), rows);
}

class LibtiffTest : public TiffTest {
 protected:
  void SetUp() override {
    TiffTest::SetUp();
    if (!HaveTools()) GTEST_SKIP() << "libtiff-tools, netpbm or ImageMagick missing";
  }

  std::string Run(std::vector<std::string> argv, const std::string& out = "") {
    hosttest::ToolRun run = hosttest::RunProgram(argv, out);
    EXPECT_EQ(run.exitCode, 0) << argv[0] << ": " << run.err;
    return run.err;
  }

  Pixels ReadPixels(const std::string& path) {
    BITMAPINFOHEADER h{};
    std::vector<RGBQUAD> palette;
    Rows rows = ReadAll(hosttest::ReadBytes(path), &h, &palette);
    return ToPixels(h, palette, rows);
  }

  // The bilevel source as a min-is-white uncompressed TIFF.
  std::string BilevelTiff(const Bilevel& b) {
    hosttest::WriteBytes(dir.file("src.pbm"), hosttest::EncodePbm(b.width, b.height, b.bits));
    Run({"pnmtotiff", "-miniswhite", "-none", dir.file("src.pbm")}, dir.file("src.tif"));
    return dir.file("src.tif");
  }

  testsupport::TempDir dir;
};

TEST_F(LibtiffTest, BilevelFilesOfEveryCompressionDecodeToTheSourcePixels) {
  Bilevel b = MakeBilevel();
  Pixels expected = BilevelPixels(b);
  std::string src = BilevelTiff(b);
  const std::vector<std::vector<std::string>> variants = {
      {"-c", "none"},           {"-c", "none", "-r", "7"},   {"-c", "packbits", "-r", "9"},
      {"-c", "g3"},             {"-c", "g3:fill", "-r", "8"}, {"-c", "g3:1d", "-r", "5"},
      {"-c", "g3:1d:fill"},     {"-c", "g4"},                {"-c", "g4", "-r", "16"},
      {"-c", "g4", "-f", "lsb2msb", "-r", "11"},  {"-c", "g3:1d", "-f", "lsb2msb", "-B"},
      {"-c", "none", "-f", "lsb2msb"},            {"-c", "packbits", "-B"},
      {"-c", "g4", "-B", "-r", "3"},              {"-c", "g3:fill", "-L"},
  };
  for (const auto& options : variants) {
    std::string label;
    for (const auto& o : options) label += o + " ";
    SCOPED_TRACE(label);
    std::vector<std::string> argv{"tiffcp"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {src, dir.file("c.tif")});
    Run(argv);
    EXPECT_TRUE(ReadPixels(dir.file("c.tif")) == expected);
  }
  // CCITT coding fixes which runs are white: PhotometricInterpretation 1 reads as 0.
  for (const char* compression : {"g3", "g4"}) {
    SCOPED_TRACE(compression);
    Run({"tiffcp", "-c", compression, src, dir.file("p1.tif")});
    Run({"tiffset", "-s", "262", "1", dir.file("p1.tif")});
    EXPECT_TRUE(ReadPixels(dir.file("p1.tif")) == expected);
  }
}

// The strip of a one-strip libtiff file: its offset and byte count.
std::pair<uint32_t, uint32_t> OnlyStrip(const std::vector<uint8_t>& tif) {
  auto get16 = [&](size_t at) { return uint32_t(tif[at] | tif[at + 1] << 8); };
  auto get32 = [&](size_t at) { return get16(at) | get16(at + 2) << 16; };
  uint32_t ifd = get32(4);
  uint32_t offset = 0, count = 0;
  for (uint32_t i = 0; i < get16(ifd); ++i) {
    size_t e = ifd + 2 + 12 * i;
    if (get16(e) == 273) offset = get32(e + 8);
    if (get16(e) == 279) count = get32(e + 8);
  }
  return {offset, count};
}

TEST_F(LibtiffTest, FaxToTiffOutputsDecodeAndTwoDimensionalGroup3IsRefused) {
  Bilevel b = MakeBilevel();
  Pixels expected = BilevelPixels(b);
  Run({"tiffcp", "-c", "g3:1d", "-r", "1000", BilevelTiff(b), dir.file("g3.tif")});
  std::vector<uint8_t> g3 = hosttest::ReadBytes(dir.file("g3.tif"));
  auto [offset, count] = OnlyStrip(g3);
  ASSERT_LE(static_cast<size_t>(offset) + count, g3.size());
  hosttest::WriteBytes(dir.file("raw.g3"), std::vector<uint8_t>(g3.begin() + offset, g3.begin() + offset + count));
  const std::string width = std::to_string(b.width);
  // One-dimensional output, LSB-first (FillOrder 2) and MSB-first; Group 4.
  for (std::vector<std::string> out : {std::vector<std::string>{"-5", "-7"},
                                       {"-5", "-7", "-m", "-p"}, {"-8"}, {"-8", "-m"}}) {
    std::vector<std::string> argv{"fax2tiff", "-M", "-1", "-X", width, "-o", dir.file("fax.tif")};
    argv.insert(argv.end(), out.begin(), out.end());
    argv.push_back(dir.file("raw.g3"));
    Run(argv);
    EXPECT_TRUE(ReadPixels(dir.file("fax.tif")) == expected) << out[0] << " " << out.back();
  }
  Run({"fax2tiff", "-M", "-1", "-X", width, "-6", "-o", dir.file("fax2d.tif"), dir.file("raw.g3")});
  auto [result, text] = OpenResult(hosttest::ReadBytes(dir.file("fax2d.tif")));
  EXPECT_EQ(result, 9);
  EXPECT_EQ(text, "Unsupported TIFF Option (Compression).");
}

// Modified Huffman (Compression 2) rows: runs coded with the T.4 tables, each
// row padded to a byte boundary, no EOLs. libtiff reading the file back to the
// source pixels shows the coding sound.
class BitWriter {
 public:
  void put(t4::Code code) {
    for (int i = code.length - 1; i >= 0; --i) bit((code.bits >> i) & 1);
  }
  void align() {
    while (count_ % 8 != 0) bit(0);
  }
  std::vector<uint8_t> bytes;

 private:
  void bit(uint32_t b) {
    if (count_ % 8 == 0) bytes.push_back(0);
    if (b) bytes.back() |= uint8_t(0x80 >> (count_ % 8));
    ++count_;
  }
  uint64_t count_ = 0;
};

void PutRun(BitWriter& w, uint32_t run, bool black) {
  while (run >= 2560) {
    w.put(t4::kExtendedMakeUp[t4::kExtendedMakeUpCount - 1]);
    run -= 2560;
  }
  if (run >= 1792) {
    w.put(t4::kExtendedMakeUp[(run - 1792) / 64]);
  } else if (run >= 64) {
    w.put(black ? t4::kBlackMakeUp[run / 64 - 1] : t4::kWhiteMakeUp[run / 64 - 1]);
  }
  w.put(black ? t4::kBlackTerminating[run % 64] : t4::kWhiteTerminating[run % 64]);
}

std::vector<uint8_t> EncodeModifiedHuffman(const Bilevel& b) {
  const uint32_t rowBytes = (b.width + 7) / 8;
  BitWriter w;
  for (uint32_t y = 0; y < b.height; ++y) {
    bool black = false;
    uint32_t x = 0;
    while (x < b.width) {
      uint32_t run = 0;
      while (x + run < b.width &&
             ((b.bits[y * rowBytes + (x + run) / 8] >> (7 - (x + run) % 8)) & 1) == (black ? 1u : 0u)) {
        ++run;
      }
      PutRun(w, run, black);
      x += run;
      black = !black;
    }
    w.align();
  }
  return w.bytes;
}

TEST_F(LibtiffTest, ModifiedHuffmanRowsDecodeLikeLibtiffDecodesThem) {
  Bilevel b = MakeBilevel();
  Pixels expected = BilevelPixels(b);
  std::vector<uint8_t> mh = EncodeModifiedHuffman(b);
  Page page = SimplePage(b.width, b.height, 1, 1, 0, 2, b.height, {mh});
  hosttest::WriteBytes(dir.file("mh.tif"), Build({page}));
  // libtiff reads the built file back to the source pixels: it is a sound MH file.
  Run({"tiffcp", "-c", "none", dir.file("mh.tif"), dir.file("mh-none.tif")});
  ASSERT_TRUE(ReadPixels(dir.file("mh-none.tif")) == expected);
  EXPECT_TRUE(ReadPixels(dir.file("mh.tif")) == expected);
}

TEST_F(LibtiffTest, SetRowIntoTheMiddleOfAGroup4StripGivesTheSameRows) {
  Bilevel b = MakeBilevel();
  Run({"tiffcp", "-c", "g4", "-r", "40", BilevelTiff(b), dir.file("g4.tif")});
  std::vector<uint8_t> bytes = hosttest::ReadBytes(dir.file("g4.tif"));
  Rows all = ReadAll(bytes);
  ASSERT_EQ(all.size(), b.height);
  readertest::OpenImage image(api, "g4.tif", bytes);
  ImageHeaderRecord record{};
  ASSERT_EQ(image.buildHead(record), 1);
  const uint32_t stride = static_cast<uint32_t>(DibRowBytes(b.width, 1));
  for (uint32_t row : {23u, 5u, 39u, 40u, 57u, 0u}) {
    ASSERT_EQ(api.setRow(image.handle, row), 1);
    int32_t result = 0;
    Rows rows = image.read(3 < b.height - row ? 3 : b.height - row, stride, 0, nullptr, &result);
    ASSERT_EQ(result, 1);
    for (size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(rows[k], all[row + k]) << "row " << row + k;
  }
}

// A colour picture with smooth and sharp changes.
std::vector<uint8_t> MakePpm(uint32_t width, uint32_t height) {
  std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<uint8_t> bytes(head.begin(), head.end());
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      bytes.insert(bytes.end(), {uint8_t(x * 255 / width), uint8_t(y * 255 / height),
                                 uint8_t(((x / 4 + y / 3) % 2) * 200 + 17)});
    }
  }
  return bytes;
}

TEST_F(LibtiffTest, ColourGreyAndPaletteFilesDecodeToLibtiffsPixels) {
  hosttest::WriteBytes(dir.file("src.ppm"), MakePpm(61, 37));
  Run({"pnmtotiff", "-truecolor", "-none", dir.file("src.ppm")}, dir.file("rgb.tif"));
  Run({"ppmtopgm", dir.file("src.ppm")}, dir.file("grey.pgm"));
  Run({"pnmtotiff", "-none", dir.file("grey.pgm")}, dir.file("grey.tif"));
  Run({"convert", dir.file("src.ppm"), "-colors", "200", "-type", "palette", "-compress", "none",
       dir.file("pal8.tif")});
  Run({"convert", dir.file("src.ppm"), "-colors", "12", "-type", "palette", "-compress", "none",
       dir.file("pal4.tif")});
  struct Case {
    std::string source;
    std::vector<std::string> options;
  };
  const std::vector<Case> cases = {
      {"rgb.tif", {"-c", "none"}},           {"rgb.tif", {"-c", "packbits", "-r", "5"}},
      {"rgb.tif", {"-p", "separate"}},       {"rgb.tif", {"-p", "separate", "-r", "4", "-B"}},
      {"rgb.tif", {"-B", "-r", "6"}},        {"grey.tif", {"-c", "packbits", "-B"}},
      {"grey.tif", {"-r", "10"}},            {"pal8.tif", {"-c", "packbits"}},
      {"pal8.tif", {"-B"}},                  {"pal4.tif", {"-c", "none"}},
      {"pal4.tif", {"-c", "packbits", "-B", "-r", "3"}},
  };
  for (const Case& c : cases) {
    std::string label = c.source;
    for (const auto& o : c.options) label += " " + o;
    SCOPED_TRACE(label);
    std::vector<std::string> argv{"tiffcp"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.insert(argv.end(), {dir.file(c.source), dir.file("c.tif")});
    Run(argv);
    Run({"convert", dir.file("c.tif"), "+set", "comment", "-depth", "8", "ppm:" + dir.file("ref.ppm")});
    Pixels expected = hosttest::DecodePnm(hosttest::ReadBytes(dir.file("ref.ppm")));
    Pixels got = ReadPixels(dir.file("c.tif"));
    if (c.source.rfind("pal", 0) != 0) {
      EXPECT_TRUE(got == expected);
      continue;
    }
    // Colour maps: the palette takes each 16-bit value's high byte, libtiff's
    // readers scale by 257 and round; they differ by at most 1.
    ASSERT_EQ(got.rgb.size(), expected.rgb.size());
    for (size_t i = 0; i < got.rgb.size(); ++i) {
      ASSERT_LE(std::abs(int(got.rgb[i]) - int(expected.rgb[i])), 1) << "byte " << i;
    }
  }
}

TEST_F(LibtiffTest, TwoBitGreyscaleShowsItsFourLevels) {
  std::string pgm = "P5\n9 4\n3\n";
  std::vector<uint8_t> bytes(pgm.begin(), pgm.end());
  Pixels expected{9, 4, {}};
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 9; ++x) {
      uint8_t v = static_cast<uint8_t>((x + y) % 4);
      bytes.push_back(v);
      expected.rgb.insert(expected.rgb.end(), 3, static_cast<uint8_t>(85 * v));
    }
  }
  hosttest::WriteBytes(dir.file("g2.pgm"), bytes);
  Run({"pnmtotiff", "-none", dir.file("g2.pgm")}, dir.file("g2.tif"));
  EXPECT_TRUE(ReadPixels(dir.file("g2.tif")) == expected);
  hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file("g2.tif"), dir.file("g2.bmp"), "--quiet"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("g2.bmp"))) == expected);
}

TEST_F(LibtiffTest, ImagehostConvertsEachPageOfAMultiPageFile) {
  Bilevel b = MakeBilevel();
  std::string bilevel = BilevelTiff(b);
  hosttest::WriteBytes(dir.file("small.ppm"), MakePpm(23, 11));
  Run({"pnmtotiff", "-truecolor", "-none", dir.file("small.ppm")}, dir.file("small.tif"));
  Run({"tiffcp", "-c", "g4", bilevel, dir.file("p1.tif")});
  Run({"tiffcp", "-c", "packbits", dir.file("small.tif"), dir.file("p0.tif")});
  // Page 0 narrow, page 1 much wider (Group 4), page 2 big-endian-free PackBits again.
  Run({"tiffcp", dir.file("p0.tif"), dir.file("p1.tif"), dir.file("small.tif"), dir.file("multi.tif")});
  hosttest::ToolRun info = hosttest::RunImagehost({"info", dir.file("multi.tif"), "--page", "1"});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("width=6000 height=61 bits=1 pages=3"), std::string::npos) << info.out;
  std::map<int, Pixels> expected = {{0, hosttest::DecodePnm(hosttest::ReadBytes(dir.file("small.ppm")))},
                                    {1, BilevelPixels(b)},
                                    {2, hosttest::DecodePnm(hosttest::ReadBytes(dir.file("small.ppm")))}};
  for (int page : {1, 0, 2}) {
    SCOPED_TRACE(page);
    std::string out = dir.file("page" + std::to_string(page) + ".bmp");
    hosttest::ToolRun run = hosttest::RunImagehost(
        {"convert", dir.file("multi.tif"), out, "--page", std::to_string(page), "--quiet", "--rows", "7"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(out)) == expected[page]);
  }
  hosttest::ToolRun beyond = hosttest::RunImagehost(
      {"convert", dir.file("multi.tif"), dir.file("p3.bmp"), "--page", "3", "--quiet"});
  EXPECT_EQ(beyond.exitCode, 1);
  EXPECT_NE(beyond.err.find("rdtiff.DIL: Seek to non-existent page."), std::string::npos) << beyond.err;
  // Every page at once needs a writer that appends pages.
  if (hosttest::Exists(testsupport::binPath("wrtiff.DEL"))) {
    hosttest::ToolRun all = hosttest::RunImagehost(
        {"convert", dir.file("multi.tif"), dir.file("all.tif"), "--all-pages", "--quiet"});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    for (int page : {0, 1, 2}) {
      hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file("all.tif"), dir.file("back.bmp"),
                                                      "--page", std::to_string(page), "--quiet"});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("back.bmp"))) == expected[page]) << page;
    }
  }
  hosttest::ToolRun single = hosttest::RunImagehost(
      {"convert", dir.file("p1.tif"), dir.file("one.bmp"), "--all-pages", "--quiet"});
  ASSERT_EQ(single.exitCode, 0) << single.err;
  EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("one.bmp"))) == expected[1]);
}

// Tiled pages (written by tiffcp -t and by ImageMagick) have no strips, and
// signed samples are no bit depth the reader delivers: both are refused with
// a clear message and imagehost leaves no output; a tiled page after a page
// in strips is refused when it is chosen.
TEST_F(LibtiffTest, TiledAndSignedFilesAreRefusedThroughImagehost) {
  hosttest::WriteBytes(dir.file("src.ppm"), MakePpm(45, 38));
  Run({"pnmtotiff", "-truecolor", "-none", dir.file("src.ppm")}, dir.file("rgb.tif"));
  Run({"ppmtopgm", dir.file("src.ppm")}, dir.file("grey.pgm"));
  Run({"pnmtotiff", "-none", dir.file("grey.pgm")}, dir.file("grey.tif"));
  Run({"tiffcp", "-t", "-w", "16", "-l", "16", dir.file("grey.tif"), dir.file("t0.tif")});
  Run({"tiffcp", "-t", "-w", "32", "-l", "16", dir.file("rgb.tif"), dir.file("t1.tif")});
  Run({"tiffcp", "-t", "-p", "separate", "-c", "packbits", "-B", dir.file("rgb.tif"), dir.file("t2.tif")});
  Run({"convert", dir.file("src.ppm"), "-define", "tiff:tile-geometry=16x16", "-compress", "none",
       dir.file("t3.tif")});
  // Signed 8-bit samples (SampleFormat 2) are refused as a bit depth.
  Run({"convert", dir.file("grey.pgm"), "-define", "quantum:format=signed", "-compress", "none",
       dir.file("s8.tif")});
  const std::string tiles = "Invalid TIFF header information.";
  const std::string bits = "Unsupported TIFF Option (Bits/Sample).";
  const std::pair<const char*, std::pair<int32_t, std::string>> cases[] = {
      {"t0.tif", {2, tiles}}, {"t1.tif", {2, tiles}}, {"t2.tif", {2, tiles}},
      {"t3.tif", {2, tiles}}, {"s8.tif", {9, bits}}};
  for (const auto& [name, refusal] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(OpenResult(hosttest::ReadBytes(dir.file(name))), refusal);
    const std::string out = dir.file(std::string(name) + ".bmp");
    hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file(name), out, "--quiet"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("rdtiff.DIL: " + refusal.second), std::string::npos) << run.err;
    EXPECT_FALSE(hosttest::Exists(out));
  }
  Run({"tiffcp", dir.file("rgb.tif"), dir.file("mixed.tif")});
  Run({"tiffcp", "-a", "-t", dir.file("t1.tif"), dir.file("mixed.tif")});  // page 1 in tiles
  hosttest::ToolRun first = hosttest::RunImagehost(
      {"convert", dir.file("mixed.tif"), dir.file("p0.bmp"), "--page", "0", "--quiet"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("p0.bmp"))) ==
              hosttest::DecodePnm(hosttest::ReadBytes(dir.file("src.ppm"))));
  hosttest::ToolRun second = hosttest::RunImagehost(
      {"convert", dir.file("mixed.tif"), dir.file("p1.bmp"), "--page", "1", "--quiet"});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("Invalid TIFF header information."), std::string::npos) << second.err;
  EXPECT_FALSE(hosttest::Exists(dir.file("p1.bmp")));
}

TEST_F(LibtiffTest, LzwIsRefusedThroughImagehostWithTheCompressionMessage) {
  hosttest::WriteBytes(dir.file("src.ppm"), MakePpm(8, 8));
  Run({"pnmtotiff", "-lzw", dir.file("src.ppm")}, dir.file("lzw.tif"));
  hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file("lzw.tif"), dir.file("x.bmp"), "--quiet"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Unsupported TIFF Option (Compression)."), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tifftest
