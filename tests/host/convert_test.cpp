// imagehost convert on GEM and BMP files: pixels survive, every block size and
// row order gives the same file, and every failure exits 1 with a message and
// leaves no output behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "plugin_loader.h"
#include "samples/sample_images.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

const char* const kBmpSamples[] = {
    "bmp-mono-1.bmp", "bmp-mono-1-topdown.bmp", "bmp-palette-4.bmp", "bmp-palette-4-topdown.bmp",
    "bmp-grey-8.bmp", "bmp-grey-8-topdown.bmp", "bmp-rgb-24.bmp",    "bmp-rgb-24-topdown.bmp",
};

ToolRun Convert(const std::string& in, const std::string& out,
                std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"convert", in, out, "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunImagehost(args);
}

Pixels FromMono(const samples::MonoImage& image) {
  Pixels pixels{image.width, image.height, {}};
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x) {
      uint8_t level = image.black(x, y) ? 0 : 255;
      pixels.rgb.insert(pixels.rgb.end(), {level, level, level});
    }
  return pixels;
}

// Checks a failed run: exit 1, a message naming `expected`, and neither the
// output nor its temporary file left.
void ExpectCleanFailure(const ToolRun& run, const std::string& out, const std::string& expected) {
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
  EXPECT_FALSE(Exists(out)) << out;
  EXPECT_FALSE(Exists(out + ".part")) << out;
}

TEST(ImagehostConvert, BmpSamplesOfEveryDepthAndRowOrderKeepTheirPixels) {
  TempDir dir;
  for (const char* name : kBmpSamples) {
    ToolRun run = Convert(Sample(name), dir.file("out.bmp"));
    ASSERT_EQ(run.exitCode, 0) << name << ": " << run.err;
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), DecodeBmp(ReadBytes(Sample(name))))
        << name;
  }
}

TEST(ImagehostConvert, GemImagesBecomeBmpsWithTheSamePixels) {
  TempDir dir;
  samples::MonoImage image = samples::BlankMono(77, 41);
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x)
      if ((x * x + 3 * y) % 7 < 3 || (y > 20 && y < 30) || x % 16 < 8 * (y % 2))
        image.setBlack(x, y);
  for (bool compact : {true, false}) {
    samples::GemOptions options;
    options.patternRuns = options.replicate = compact;
    WriteBytes(dir.file("in.img"), samples::EncodeGem(image, options));
    ToolRun run = Convert(dir.file("in.img"), dir.file("out.bmp"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), FromMono(image)) << compact;
  }
}

TEST(ImagehostConvert, BlockSizesAndRowOrdersGiveIdenticalFiles) {
  TempDir dir;
  for (const char* name : {"gem-mono-1.img", "gem-mono-1-patterns.img", "bmp-rgb-24.bmp",
                           "bmp-palette-4-topdown.bmp"}) {
    ASSERT_EQ(Convert(Sample(name), dir.file("default.bmp")).exitCode, 0) << name;
    const std::vector<uint8_t> expected = ReadBytes(dir.file("default.bmp"));
    const std::vector<std::vector<std::string>> variants = {
        {"--rows", "1"},
        {"--rows", "7"},
        {"--rows", "100000"},
        {"-O", "FORWARD=OFF"},
        {"-O", "FORWARD=ON"},
        {"-O", "forward=on", "--rows", "7"},
        {"-O", "FORWARD=OFF", "--rows", "3"},
    };
    for (const auto& variant : variants) {
      ToolRun run = Convert(Sample(name), dir.file("variant.bmp"), variant);
      ASSERT_EQ(run.exitCode, 0) << name << " " << variant[0] << " " << variant[1] << run.err;
      EXPECT_EQ(ReadBytes(dir.file("variant.bmp")), expected) << name << " " << variant[1];
    }
  }
}

TEST(ImagehostConvert, SummaryNamesTheOutputAndThePluginsUnlessQuiet) {
  TempDir dir;
  ToolRun run = RunImagehost({"convert", Sample("gem-mono-1.img"), dir.file("OUT.BMP")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, dir.file("OUT.BMP") + ": 203 x 64, 1-bit, 1 page (rdgem.DIL -> wrbmp.DEL)\n");
  EXPECT_EQ(run.err, "");  // no progress bar: stderr is not a terminal
}

TEST(ImagehostConvert, BadInputsFailCleanly) {
  TempDir dir;
  const std::vector<uint8_t> gem = ReadBytes(Sample("gem-mono-1.img"));
  WriteBytes(dir.file("short-header.img"), std::vector<uint8_t>(gem.begin(), gem.begin() + 10));
  WriteBytes(dir.file("text.img"), std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
  WriteBytes(dir.file("empty.img"), {});
  const std::vector<uint8_t> bmp = ReadBytes(Sample("bmp-grey-8.bmp"));
  WriteBytes(dir.file("short.bmp"), std::vector<uint8_t>(bmp.begin(), bmp.end() - 100));
  WriteBytes(dir.file("short-table.bmp"), std::vector<uint8_t>(bmp.begin(), bmp.begin() + 300));
  struct Case {
    std::string input, expected;
  } cases[] = {
      {dir.file("short-header.img"), "rdgem.DIL: Error reading from file."},
      {dir.file("text.img"), "not an image file any reader recognises"},
      {dir.file("empty.img"), "not an image file any reader recognises"},
      {dir.file("short.bmp"), "truncated BMP"},
      {dir.file("short-table.bmp"), "truncated BMP colour table"},
      {dir.path(), "Is a directory"},
  };
  for (const Case& c : cases)
    ExpectCleanFailure(Convert(c.input, dir.file("out.bmp")), dir.file("out.bmp"), c.expected);
}

// BMP headers a host must refuse: each patch writes `value` (`size` bytes) at `offset`.
TEST(ImagehostConvert, AbsurdBmpHeadersAreRefused) {
  TempDir dir;
  const std::vector<uint8_t> original = ReadBytes(Sample("bmp-grey-8.bmp"));
  struct Patch {
    size_t offset;
    uint32_t value;
    int size;
    const char* expected;
  } patches[] = {
      // A V5 header is read, but the colour table behind it then runs into the pixels.
      {14, 124, 4, "overlap the headers"},
      {14, 64, 4, "an info header of 64 bytes"},
      {18, 0, 4, "invalid size"},
      {18, 0x7FFFFFFF, 4, "image too large"},
      {22, 0x80000000u, 4, "invalid BMP height"},
      {22, 0x7FFFFFFF, 4, "image too large"},
      // 16 and 32-bit pixels are read: these rows would need more bytes than the file has.
      {28, 16, 2, "truncated BMP"},
      {28, 32, 2, "truncated BMP"},
      {28, 2, 2, "unsupported bit count 2"},
      {30, 1, 4, "compression 1 with 8 bits per pixel"},
      {30, 3, 4, "compression 3 with 8 bits per pixel"},
      {26, 3, 2, "3 planes"},
      {46, 257, 4, "exceeds the 256 entries"},
      {10, 20, 4, "overlap the headers"},
      {10, 0x7FFFFFF0, 4, "truncated BMP"},
  };
  for (const Patch& patch : patches) {
    std::vector<uint8_t> bytes = original;
    for (int i = 0; i < patch.size; ++i)
      bytes[patch.offset + static_cast<size_t>(i)] = static_cast<uint8_t>(patch.value >> (8 * i));
    WriteBytes(dir.file("in.bmp"), bytes);
    ExpectCleanFailure(Convert(dir.file("in.bmp"), dir.file("out.bmp")), dir.file("out.bmp"),
                       patch.expected);
  }
}

// In blocks of a few rows the page is read a block ahead on a second thread,
// so the reader fails while the writer is still taking an earlier block.
TEST(ImagehostConvert, TruncatedGemDataFailsCleanly) {
  TempDir dir;
  const std::vector<uint8_t> gem = ReadBytes(Sample("gem-mono-1.img"));
  const std::vector<std::string> blocks[] = {{}, {"--rows", "1"}, {"--rows", "3"}};
  for (const auto& rows : blocks) {
    for (size_t keep : {size_t{16}, size_t{40}, gem.size() / 2, gem.size() - 1}) {
      WriteBytes(dir.file("cut.img"),
                 std::vector<uint8_t>(gem.begin(), gem.begin() + static_cast<ptrdiff_t>(keep)));
      ToolRun run = Convert(dir.file("cut.img"), dir.file("out.bmp"), rows);
      ExpectCleanFailure(run, dir.file("out.bmp"), "rdgem.DIL: ");
    }
  }
}

TEST(ImagehostConvert, PageBeyondASinglePageFileIsTheReadersFailure) {
  TempDir dir;
  for (const char* name : {"gem-mono-1.img", "bmp-mono-1.bmp"}) {
    ToolRun run = Convert(Sample(name), dir.file("out.bmp"), {"--page", "1"});
    ExpectCleanFailure(run, dir.file("out.bmp"), "page 1 does not exist");
  }
  ToolRun info = RunImagehost({"info", Sample("gem-mono-1.img"), "--page", "1"});
  EXPECT_EQ(info.exitCode, 1);
}

TEST(ImagehostConvert, OutputsThatCannotBeWrittenAreReported) {
  TempDir dir;
  mkdir(dir.file("folder.bmp").c_str(), 0755);
  struct Case {
    std::string output, expected;
  } cases[] = {
      {dir.file("missing/out.bmp"),
       "cannot write " + dir.file("missing/out.bmp") + ": No such file or directory"},
      {dir.file("folder.bmp"), "cannot write " + dir.file("folder.bmp") + ": Is a directory"},
      {dir.file("out.xyz"), "no writer takes .xyz files"},
      {dir.file("noextension"), "no extension to choose a writer by"},
  };
  for (const Case& c : cases) {
    ToolRun run = Convert(Sample("gem-mono-1.img"), c.output);
    EXPECT_EQ(run.exitCode, 1) << c.output;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
  }
}

TEST(ImagehostConvert, AFailedConversionLeavesAnExistingOutputAlone) {
  TempDir dir;
  WriteBytes(dir.file("out.bmp"), {'o', 'l', 'd'});
  WriteBytes(dir.file("bad.img"), {'n', 'o', 'p', 'e'});
  EXPECT_EQ(Convert(dir.file("bad.img"), dir.file("out.bmp")).exitCode, 1);
  EXPECT_EQ(ReadBytes(dir.file("out.bmp")), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_FALSE(Exists(dir.file("out.bmp.part")));
}

TEST(ImagehostConvert, TemporaryNamesNeverFollowLinks) {
  TempDir dir;
  WriteBytes(dir.file("victim"), {'k', 'e', 'e', 'p'});
  ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("out.bmp.part").c_str()), 0);
  ToolRun run = Convert(Sample("bmp-mono-1.bmp"), dir.file("out.bmp"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadBytes(dir.file("victim")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))),
            DecodeBmp(ReadBytes(Sample("bmp-mono-1.bmp"))));
  EXPECT_FALSE(Exists(dir.file("out.bmp.part")));
}

TEST(ImagehostConvert, InputsAreRecognisedByTheirContentNotTheirName) {
  TempDir dir;
  WriteBytes(dir.file("gem.bmp"), ReadBytes(Sample("gem-mono-1.img")));
  WriteBytes(dir.file("bmp.img"), ReadBytes(Sample("bmp-grey-8.bmp")));
  ASSERT_EQ(Convert(dir.file("gem.bmp"), dir.file("a.bmp")).exitCode, 0);
  ASSERT_EQ(Convert(Sample("gem-mono-1.img"), dir.file("b.bmp")).exitCode, 0);
  EXPECT_EQ(ReadBytes(dir.file("a.bmp")), ReadBytes(dir.file("b.bmp")));
  ASSERT_EQ(Convert(dir.file("bmp.img"), dir.file("c.bmp")).exitCode, 0);
  EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("c.bmp"))),
            DecodeBmp(ReadBytes(Sample("bmp-grey-8.bmp"))));
}

TEST(ImagehostConvert, ReaderAndWriterCanBeNamedByFileOrPath) {
  TempDir dir;
  const std::string out = dir.file("out.unusual");
  ToolRun byName =
      Convert(Sample("gem-mono-1.img"), out, {"--reader", "RDGEM.dil", "--writer", "wrbmp.DEL"});
  EXPECT_EQ(byName.exitCode, 0) << byName.err;
  ToolRun byPath = Convert(Sample("gem-mono-1.img"), out,
                           {"--reader", testsupport::binPath("rdgem.DIL"), "--writer",
                            testsupport::binPath("wrbmp.DEL")});
  EXPECT_EQ(byPath.exitCode, 0) << byPath.err;
  ToolRun unknown =
      Convert(Sample("gem-mono-1.img"), dir.file("out.bmp"), {"--reader", "nosuch.DIL"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("no reader named nosuch.DIL"), std::string::npos) << unknown.err;
  // A forced reader gets the file whatever it is, and says what is wrong with it.
  ToolRun forced =
      Convert(Sample("bmp-mono-1.bmp"), dir.file("out.bmp"), {"--reader", "rdgem.DIL"});
  ExpectCleanFailure(forced, dir.file("out.bmp"), "rdgem.DIL: ");
}

}  // namespace
}  // namespace hosttest
