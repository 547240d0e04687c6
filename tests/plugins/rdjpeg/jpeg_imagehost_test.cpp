// rdjpeg end to end through imagehost: JPEG to BMP against djpeg's pixels,
// the header the host reports, and a refused file reaching the user.
#include "jpeg_fixture.h"

namespace jpegtest {
namespace {

class JpegHostTest : public JpegTest {
 protected:
  testsupport::TempDir dir;
};

TEST_F(JpegHostTest, ConvertToBmpGivesDjpegsPixels) {
  for (const char* sampling : {"2x2", "1x1"}) {
    SCOPED_TRACE(sampling);
    const Bytes jpeg = Cjpeg(MakePicture(301, 97, 4), {"-sample", sampling, "-restart", "5B"});
    hosttest::WriteBytes(dir.file("in.jpg"), jpeg);
    hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file("in.jpg"), dir.file("out.bmp"), "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Difference diff = Compare(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("out.bmp"))), Djpeg(jpeg));
    EXPECT_LE(diff.max, 7);
    EXPECT_LE(diff.mean, 1.5);
  }
}

TEST_F(JpegHostTest, InfoReportsTheDibHeader) {
  JpegStream s = JpegStream::Parse(Cjpeg(MakePicture(64, 20, 5), {"-grayscale"}));
  Bytes& app0 = s.segments.at(0).body;
  app0[7] = 1;  // 300 dots per inch
  app0[8] = 1;
  app0[9] = 44;
  hosttest::WriteBytes(dir.file("grey.jpg"), s.bytes());
  hosttest::ToolRun info = hosttest::RunImagehost({"info", dir.file("grey.jpg")});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("width=64 height=20 bits=8 pages=1 xppm=11811"), std::string::npos) << info.out;
}

TEST_F(JpegHostTest, RefusedFilesFailWithTheirMessageAndNoOutput) {
  hosttest::WriteBytes(dir.file("prog.jpg"), Cjpeg(MakePicture(16, 16, 6), {"-progressive"}));
  std::vector<std::string> files = {"prog.jpg"};
  if (hosttest::HaveProgram("convert")) {
    hosttest::WriteBytes(dir.file("cmyk.jpg"), FourComponentJpeg());
    files.push_back("cmyk.jpg");
  }
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    hosttest::ToolRun run = hosttest::RunImagehost({"convert", dir.file(name), dir.file("x.bmp")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Unsupported JPG option."), std::string::npos) << run.err;
    EXPECT_FALSE(hosttest::Exists(dir.file("x.bmp")));
  }
}

}  // namespace
}  // namespace jpegtest
