// rdgif against independent GIF writers and readers: files written by
// netpbm's pamtogif and by ImageMagick (interlaced, few and many colours)
// decode, through the exports and through imagehost, to the pixels netpbm's
// giftopnm reads from them; and the test encoder's files, including ones with
// a full table and no clear code, decode in giftopnm as in the reader.
#include "gif_fixture.h"
#include "tool_runner.h"

namespace giftest {
namespace {

using hosttest::Pixels;

Bytes MakePpm(uint32_t width, uint32_t height, uint32_t colours) {
  std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes out(head.begin(), head.end());
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t c = ((x / 4) * 5 + (y / 3) * 11 + (x * y) % 5) % colours;
      out.insert(out.end(), {static_cast<uint8_t>(c * 41), static_cast<uint8_t>(255 - c * 13),
                             static_cast<uint8_t>((c * 97) % 256)});
    }
  }
  return out;
}

Pixels ReadWithRdgif(const readertest::ReaderApi& api, const Bytes& file, uint32_t block) {
  readertest::OpenImage image(api, "x.gif", file);
  EXPECT_EQ(image.initResult, 1) << api.lastError();
  if (image.initResult != 1) return {};
  ImageHeaderRecord record{};
  Bytes info;
  EXPECT_EQ(image.buildHead(record, &info), 1);
  BITMAPINFOHEADER h{};
  std::memcpy(&h, info.data(), sizeof h);
  const auto stride = static_cast<uint32_t>(DibRowBytes(h.biWidth, h.biBitCount));
  int32_t result = 0;
  Rows rows = image.readInBlocks(static_cast<uint32_t>(h.biHeight), block, stride, &result);
  EXPECT_EQ(result, 1) << api.lastError();
  return hosttest::DibRowsToPixels(static_cast<uint32_t>(h.biWidth),
                                   static_cast<uint32_t>(h.biHeight), h.biBitCount,
                                   info.data() + 40,
                                   info.size() > 40 ? (info.size() - 40) / 4 : 0, rows);
}

class GifToolsTest : public GifTest {
 protected:
  void SetUp() override {
    GifTest::SetUp();
    if (!hosttest::HaveProgram("pamtogif") || !hosttest::HaveProgram("giftopnm") ||
        !hosttest::HaveProgram("convert")) {
      GTEST_SKIP() << "netpbm or ImageMagick not installed";
    }
  }

  void Run(const std::vector<std::string>& argv, const std::string& out) {
    hosttest::ToolRun run = hosttest::RunProgram(argv, out);
    ASSERT_EQ(run.exitCode, 0) << argv[0] << ": " << run.err;
  }

  void Check(const std::string& gif) {
    SCOPED_TRACE(gif);
    Run({"giftopnm", gif}, dir.file("ref.ppm"));
    const Pixels reference = hosttest::DecodePnm(hosttest::ReadBytes(dir.file("ref.ppm")));
    ASSERT_GT(reference.width, 0u);
    for (uint32_t block : {1u, 5u, 1000u}) {
      EXPECT_TRUE(ReadWithRdgif(api, hosttest::ReadBytes(gif), block) == reference) << block;
    }
    hosttest::ToolRun run = hosttest::RunImagehost(
        {"convert", gif, dir.file("out.bmp"), "--quiet", "--rows", "3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("out.bmp"))) == reference);
  }

  testsupport::TempDir dir;
};

TEST_F(GifToolsTest, FilesWrittenByPamtogif) {
  int n = 0;
  for (uint32_t colours : {2u, 7u, 16u, 200u}) {
    hosttest::WriteBytes(dir.file("in.ppm"), MakePpm(97, 61, colours));
    for (bool interlace : {false, true}) {
      std::string out = dir.file("p" + std::to_string(n++) + ".gif");
      std::vector<std::string> argv = {"pamtogif"};
      if (interlace) argv.push_back("-interlace");
      argv.push_back(dir.file("in.ppm"));
      Run(argv, out);
      Check(out);
    }
  }
}

TEST_F(GifToolsTest, FilesWrittenByImageMagick) {
  hosttest::WriteBytes(dir.file("in.ppm"), MakePpm(300, 7, 256));
  int n = 0;
  for (const char* colours : {"2", "4", "31", "256"}) {
    for (const char* interlace : {"None", "GIF"}) {
      std::string out = dir.file("m" + std::to_string(n++) + ".gif");
      Run({"convert", dir.file("in.ppm"), "-colors", colours, "-interlace", interlace, out}, "");
      Check(out);
    }
  }
}

TEST_F(GifToolsTest, TestEncoderFilesDecodeAsGiftopnmDecodesThem) {
  int n = 0;
  for (bool deferred : {false, true}) {
    for (bool interlaced : {false, true}) {
      const GifPicture picture = MakePicture(211, 157, 8, 40 + n);
      GifOptions o;
      o.deferredClear = deferred;
      o.interlaced = interlaced;
      o.beforeImage = {0x21, 0xFE, 3, ',', ',', ',', 0};
      std::string file = dir.file("e" + std::to_string(n++) + ".gif");
      hosttest::WriteBytes(file, EncodeGif(picture, o));
      Check(file);
    }
  }
}

}  // namespace
}  // namespace giftest
