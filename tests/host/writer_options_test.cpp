// Writer options as imagehost checks them: the listing, unknown keys refused
// before any file is touched, values the writer will not take as written
// warned about (and still converted), and the shorthands landing in the
// writers' own keys (libtiff's tiffinfo tells the compression).
#include <gtest/gtest.h>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

TEST(ImagehostWriterOptions, ListingShowsEachWritersKeysAndDefaults) {
  ToolRun run = RunImagehost({"list", "--options"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* line :
       {"wrtiff.DEL\t", "  TIFF_COMPRESS      PACKBITS, MODCCITT, GROUP3, GROUP4",
        "  TIFF_ROWSPERSTRIP", "  TIFF_ARTIST", "wrjpeg.DEL\t",
        "  LOSSY_QUALITY      1..100 (default: 75)", "  FORWARD            ON",
        "wrpcx.DEL\tPCX;PC Paintbrush (*.pcx)\n  no options\n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  ToolRun fakes = RunImagehost({"--plugins", FAKE_PLUGINS_DIR, "list", "--options"});
  EXPECT_NE(fakes.out.find("passed on unchecked"), std::string::npos) << fakes.out;
}

TEST(ImagehostWriterOptions, UnknownKeysAndWrongShorthandsAreUsageErrors) {
  TempDir dir;
  const std::string in = Sample("bmp-rgb-24.bmp");
  struct Case {
    std::string out;
    std::vector<std::string> options;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"o.tif", {"-O", "COMPRESSION=lzw"}, "has no option COMPRESSION; its options: COMPRESS,"},
      {"o.jpg", {"-O", "QUALITY=5"}, "JPEG writer (wrjpeg.DEL) has no option QUALITY"},
      {"o.pcx", {"-O", "FORWARD=ON"}, "it takes no options"},
      {"o.jpg", {"--compress", "g4"}, "--compress applies to the TIFF writer"},
      {"o.tif", {"--quality", "50"}, "--quality applies to the JPEG writer"},
      {"o.tif", {"--compress", "lzw"}, "--compress needs none, packbits, mh, g3 or g4"},
      {"o.jpg", {"--quality", "101"}, "--quality needs a whole number from 1 to 100"},
      {"o.jpg", {"--quality", "0"}, "--quality needs"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"convert", in, dir.file(c.out)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolRun run = RunImagehost(args);
    EXPECT_EQ(run.exitCode, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(dir.file(c.out)));
    EXPECT_FALSE(Exists(dir.file(c.out + ".part")));
  }
}

TEST(ImagehostWriterOptions, ValuesTheWriterChangesAreWarnedAboutAndConverted) {
  TempDir dir;
  const std::string in = Sample("bmp-rgb-24.bmp");
  struct Case {
    std::string out;
    std::string option;
    std::string warning;  // "" for none
  };
  const std::vector<Case> cases = {
      {"q.jpg", "LOSSY_QUALITY=abc", "LOSSY_QUALITY=abc: not a number: quality 1 is used"},
      {"q.jpg", "LOSSY_QUALITY=150", "LOSSY_QUALITY=150: not a quality from 1 to 100: quality 100"},
      {"q.jpg", "LOSSY_QUALITY=0", "quality 1 is used"},
      {"q.jpg", "LOSSY_QUALITY=-5", "quality 100 is used"},
      {"q.jpg", "LOSSY_QUALITY=90", ""},
      {"t.tif", "TIFF_COMPRESS=LZW", "TIFF_COMPRESS=LZW: not a compression the TIFF writer knows"},
      {"t.tif", "COMPRESS=on", "only \"ON\" turns compression on: written uncompressed"},
      {"t.tif", "TIFF_ROWSPERSTRIP=0", "rows per strip are computed"},
      {"t.tif", "TIFF_XRES=300dpi", "the image's own resolution is used"},
      {"t.tif", "TIFF_BYTEFORMAT=MOTOROLA", ""},
      {"b.bmp", "FORWARD=yes", "rows are taken bottom first"},
      {"b.bmp", "FORWARD=on", ""},
  };
  for (const Case& c : cases) {
    ToolRun run = RunImagehost({"convert", in, dir.file(c.out), "-O", c.option, "--quiet"});
    EXPECT_EQ(run.exitCode, 0) << c.option << run.err;
    EXPECT_TRUE(Exists(dir.file(c.out))) << c.option;
    if (c.warning.empty()) {
      EXPECT_EQ(run.err, "") << c.option;
      continue;
    }
    EXPECT_NE(run.err.find("imagehost: warning: " + c.option + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
  }
}

TEST(ImagehostWriterOptions, CompressShorthandsChooseTheTiffCompression) {
  if (!HaveProgram("tiffinfo")) GTEST_SKIP() << "tiffinfo (libtiff-tools) is not installed";
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> cases = {{"none", "None"},
                                                                  {"packbits", "PackBits"},
                                                                  {"mh", "CCITT RLE"},
                                                                  {"g3", "CCITT Group 3"},
                                                                  {"g4", "CCITT Group 4"}};
  for (const auto& [shorthand, scheme] : cases) {
    const std::string out = dir.file(shorthand + ".tif");
    ToolRun run = RunImagehost(
        {"convert", Sample("bmp-mono-1.bmp"), out, "--compress", shorthand, "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ToolRun info = RunProgram({"tiffinfo", out});
    EXPECT_NE(info.out.find("Compression Scheme: " + scheme), std::string::npos)
        << shorthand << info.out;
  }
}

}  // namespace
}  // namespace hosttest
