// The files made, read back by independent decoders: libjpeg-turbo's djpeg
// (pixels, warnings), cjpeg's standard tables, ImageMagick, and imagehost
// end to end.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>

#include "wrjpeg_harness.h"

namespace wrjpegtest {
namespace {

class WrjpegCrossCheck : public WrjpegTest {
 protected:
  void SetUp() override {
    WrjpegTest::SetUp();
    if (RunCommand("command -v djpeg && command -v cjpeg && command -v identify") != 0) {
      GTEST_SKIP() << "libjpeg-turbo-progs or ImageMagick missing";
    }
  }
};

// cjpeg's file of the same pixels (4:2:0, baseline), decoded by djpeg.
std::vector<uint8_t> CjpegRoundTrip(const Dib& dib, uint32_t quality) {
  testsupport::TempDir dir;
  const std::vector<uint8_t> rgb = dib.rgb();
  std::ofstream(dir.file("in.ppm"), std::ios::binary)
      << "P6\n" << dib.header()->biWidth << " " << dib.header()->biHeight << "\n255\n"
      << std::string(rgb.begin(), rgb.end());
  std::string log;
  const std::string out = dir.file("c.jpg");
  if (RunCommand("cjpeg -quality " + std::to_string(quality) + " -sample 2x2 -outfile '" + out + "' '" +
                 dir.file("in.ppm") + "'", &log) != 0) {
    ADD_FAILURE() << log;
    return {};
  }
  std::ifstream in(out, std::ios::binary);
  return Decode(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

// Every depth and some awkward sizes decode without a warning, as close to
// the source as cjpeg's file of the same pixels at the same quality.
TEST_F(WrjpegCrossCheck, DjpegDecodesEveryDepthAndSizeAsCloseAsCjpeg) {
  for (uint16_t bits : {1, 4, 8, 24}) {
    for (const auto& [w, h] : {std::pair{1, 1}, {17, 33}, {211, 97}}) {
      const Dib dib = MakeDib(w, h, bits);
      for (uint32_t quality : {10, 50, 75, 95, 100}) {
        Options()["LOSSY_QUALITY"] = std::to_string(quality);
        const double ours = Psnr(Decode(writer.run(dib).file), dib.rgb());
        const double theirs = Psnr(CjpegRoundTrip(dib, quality), dib.rgb());
        // Above ~40 dB the truncating colour conversion (white is Y 254) dominates.
        EXPECT_GE(ours, std::min(theirs - 1.0, 40.0)) << bits << " bits " << w << "x" << h << " q" << quality;
        if (bits == 24 && w == 211) {
          RecordProperty("psnr_q" + std::to_string(quality), std::to_string(ours) + " cjpeg " + std::to_string(theirs));
        }
      }
    }
  }
}

// Rows and columns beyond the image repeat its edge, so the last row and
// column are as faithful as the rest (the chroma of an odd last row averages
// only image rows).
TEST_F(WrjpegCrossCheck, EdgesOfPartialBlocksKeepTheirColour) {
  Options()["LOSSY_QUALITY"] = "90";
  for (const auto& [w, h] : {std::pair{1, 1}, {5, 17}, {33, 3}}) {
    Dib dib = MakeDib(w, h, 24);
    for (auto& row : dib.rows) {
      for (int32_t x = 0; x < w; ++x) row[3 * x] = 200, row[3 * x + 1] = 40, row[3 * x + 2] = 90;
    }
    const std::vector<uint8_t> pixels = Decode(writer.run(dib).file);
    ASSERT_EQ(pixels.size(), dib.rgb().size());
    for (size_t i = 0; i < pixels.size(); i += 3) {
      ASSERT_NEAR(pixels[i], 90, 3) << w << "x" << h << " pixel " << i / 3;
      ASSERT_NEAR(pixels[i + 1], 40, 3);
      ASSERT_NEAR(pixels[i + 2], 200, 3);
    }
  }
}

TEST_F(WrjpegCrossCheck, GreyPaletteGivesNeutralColourAndMonoUsesItsPalette) {
  Dib grey = MakeDib(48, 32, 8);
  auto* table = reinterpret_cast<RGBQUAD*>(grey.info.data() + 40);
  for (int i = 0; i < 256; ++i) table[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  for (auto& row : grey.rows) {
    for (size_t x = 0; x < row.size(); ++x) row[x] = static_cast<uint8_t>(x * 5);
  }
  const std::vector<uint8_t> pixels = Decode(writer.run(grey).file);
  ASSERT_FALSE(pixels.empty());
  for (size_t i = 0; i < pixels.size(); i += 3) {
    ASSERT_LE(std::abs(pixels[i] - pixels[i + 1]) + std::abs(pixels[i + 1] - pixels[i + 2]), 2) << i;
  }
  Dib mono = MakeDib(64, 16, 1);
  auto* colours = reinterpret_cast<RGBQUAD*>(mono.info.data() + 40);
  colours[0] = {0, 0, 255, 0};  // index 0 red, index 1 blue: left half red, right half blue
  colours[1] = {255, 0, 0, 0};
  for (auto& row : mono.rows) std::fill(row.begin(), row.end(), 0), std::fill(row.begin() + 4, row.begin() + 8, 0xFF);
  const std::vector<uint8_t> decoded = Decode(writer.run(mono).file);
  ASSERT_EQ(decoded.size(), 64u * 16 * 3);
  for (uint32_t x : {4u, 12u, 20u, 44u, 52u, 60u}) {
    const uint8_t* p = &decoded[(8 * 64 + x) * 3];
    EXPECT_EQ(p[0] > 200 && p[2] < 60, x < 32) << x;
    EXPECT_EQ(p[2] > 200 && p[0] < 60, x >= 32) << x;
  }
}

// The tables of every DQT and DHT segment, by their class and id byte.
std::map<std::pair<uint8_t, uint8_t>, std::vector<uint8_t>> TablesOf(const std::vector<Segment>& segments) {
  std::map<std::pair<uint8_t, uint8_t>, std::vector<uint8_t>> tables;
  for (const Segment& s : segments) {
    if (s.marker != 0xDB && s.marker != 0xC4) continue;
    for (size_t at = 0; at < s.body.size();) {
      size_t size = 65;
      if (s.marker == 0xC4) {
        size = 17;
        for (size_t i = 1; i <= 16 && at + i < s.body.size(); ++i) size += s.body[at + i];
      }
      const size_t end = std::min(at + size, s.body.size());
      tables[{s.marker, s.body[at]}].assign(s.body.begin() + long(at), s.body.begin() + long(end));
      at = end;
    }
  }
  return tables;
}

// cjpeg at quality 50 writes the standard quantisation and Huffman tables,
// as this writer does at 50 (cjpeg may order or group them differently).
TEST_F(WrjpegCrossCheck, TablesMatchCjpegAtQuality50) {
  testsupport::TempDir dir;
  std::ofstream(dir.file("in.ppm")) << "P6\n8 8\n255\n" << std::string(192, '\x40');
  std::string log;
  ASSERT_EQ(RunCommand("cjpeg -quality 50 -sample 2x2 -outfile '" + dir.file("c.jpg") + "' '" + dir.file("in.ppm") + "'", &log), 0) << log;
  std::ifstream in(dir.file("c.jpg"), std::ios::binary);
  const std::vector<uint8_t> theirs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Options()["LOSSY_QUALITY"] = "50";
  const auto ours = TablesOf(ParseJpeg(writer.run(MakeDib(8, 8, 24)).file));
  EXPECT_EQ(ours.size(), 6u);
  EXPECT_EQ(ours, TablesOf(ParseJpeg(theirs)));
}

TEST_F(WrjpegCrossCheck, ImagehostConvertsBmpToJpegThatImageMagickReads) {
  testsupport::TempDir dir;
  const std::string bmp = dir.file("in.bmp"), jpg = dir.file("out.JPG");
  std::string log;
  ASSERT_EQ(RunCommand("convert -size 123x45 gradient:red-blue -type truecolor -units PixelsPerInch -density 150 BMP3:'" + bmp + "'", &log), 0) << log;
  const std::string host = testsupport::binPath("imagehost");
  ASSERT_EQ(RunCommand("'" + host + "' --quiet convert -O LOSSY_QUALITY=90 --rows 5 '" + bmp + "' '" + jpg + "'", &log), 0) << log;
  ASSERT_EQ(RunCommand("identify -format '%m %w %h %x %y %Q %[jpeg:sampling-factor]' '" + jpg + "'", &log), 0);
  EXPECT_EQ(log, "JPEG 123 45 150 150 90 2x2,1x1,1x1");
  ASSERT_NE(RunCommand("compare -metric PSNR '" + bmp + "' '" + jpg + "' null:", &log), 2) << log;
  EXPECT_GE(std::stod(log), 35.0) << log;
  ASSERT_EQ(RunCommand("'" + host + "' list", &log), 0);
  EXPECT_NE(log.find("JPG;JPEG (*.JPG)"), std::string::npos) << log;
}

}  // namespace
}  // namespace wrjpegtest
