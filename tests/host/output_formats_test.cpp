// imagehost's own netpbm output checked with netpbm, "-" for standard input
// and output, and the extension aliases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

std::string Imagehost() { return testsupport::binPath("imagehost"); }

// The first line pamfile prints, without the file name.
std::string Pamfile(const std::string& path) {
  ToolRun run = RunProgram({"pamfile", path});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run.out.substr(run.out.find('\t') + 1);
}

// Every sample kind into every netpbm type: the type the extension names
// (.pnm: the image's own), the pixels netpbm's tools agree on.
TEST(ImagehostNetpbm, EveryKindIntoEveryType) {
  if (!HaveProgram("pamfile") || !HaveProgram("ppmtopgm") || !HaveProgram("pgmtopbm"))
    GTEST_SKIP() << "netpbm is not installed";
  TempDir dir;
  const struct {
    const char* sample;
    const char* pnmType;  // what .pnm becomes
  } cases[] = {{"bmp-rgb-24.bmp", "PPM raw"}, {"bmp-grey-8.bmp", "PGM raw"},
               {"bmp-mono-1.bmp", "PBM raw"}, {"bmp-palette-4.bmp", "PPM raw"},
               {"bmp-grey-8-topdown.bmp", "PGM raw"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sample);
    for (const char* ext : {"pnm", "ppm", "pgm", "pbm"}) {
      ToolRun run = RunImagehost({"-q", "convert", Sample(c.sample), dir.file(std::string("out.") + ext)});
      ASSERT_EQ(run.exitCode, 0) << ext << ": " << run.err;
    }
    EXPECT_EQ(Pamfile(dir.file("out.pnm")).rfind(c.pnmType, 0), 0u) << Pamfile(dir.file("out.pnm"));
    EXPECT_EQ(Pamfile(dir.file("out.ppm")).rfind("PPM raw, 61 by 37  maxval 255", 0), 0u);
    const Pixels original = DecodeBmp(ReadBytes(Sample(c.sample)));
    EXPECT_TRUE(DecodePnm(ReadBytes(dir.file("out.ppm"))) == original);
    EXPECT_TRUE(DecodePnm(ReadBytes(dir.file("out.pnm"))) == original);
    // Grey is the rounded luma: netpbm's own rounding may differ by one.
    ASSERT_EQ(RunProgram({"ppmtopgm", dir.file("out.ppm")}, dir.file("ref.pgm")).exitCode, 0);
    const Pixels grey = DecodePnm(ReadBytes(dir.file("out.pgm")));
    const Pixels reference = DecodePnm(ReadBytes(dir.file("ref.pgm")));
    ASSERT_EQ(grey.rgb.size(), reference.rgb.size());
    for (size_t i = 0; i < grey.rgb.size(); ++i) ASSERT_LE(std::abs(grey.rgb[i] - reference.rgb[i]), 1) << i;
    // Black is below half.
    ASSERT_EQ(RunProgram({"pgmtopbm", "-threshold", "-value", "0.5", dir.file("out.pgm")}, dir.file("ref.pbm")).exitCode, 0);
    EXPECT_EQ(ReadBytes(dir.file("out.pbm")), ReadBytes(dir.file("ref.pbm")));
  }
}

// Pipelines: standard input in, standard output out into netpbm, no
// temporary file left behind, and the conditions refused.
TEST(ImagehostStreams, PipelinesAndRefusals) {
  if (!HaveProgram("pnmtopng") || !HaveProgram("pngtopnm")) GTEST_SKIP() << "netpbm is not installed";
  TempDir dir;
  const std::string tmp = dir.file("tmp");
  std::filesystem::create_directory(tmp);
  const std::string sample = Sample("bmp-palette-4.bmp");
  const std::string prefix = "TMPDIR=" + tmp + " " + Imagehost() + " -q ";
  auto shell = [&](const std::string& command) { return RunProgram({"sh", "-c", command}); };

  ToolRun piped = shell("cat " + sample + " | " + prefix + "convert - - --format ppm | pnmtopng > " + dir.file("p.png"));
  ASSERT_EQ(piped.exitCode, 0) << piped.err;
  ASSERT_EQ(RunProgram({"pngtopnm", dir.file("p.png")}, dir.file("back.ppm")).exitCode, 0);
  EXPECT_TRUE(DecodePnm(ReadBytes(dir.file("back.ppm"))) == DecodeBmp(ReadBytes(sample)));

  // Every writer through standard output gives the file it writes by name.
  for (const char* format : {"tif", "png", "bmp", "pcx", "jpg", "pgm"}) {
    ASSERT_EQ(RunImagehost({"-q", "convert", sample, dir.file(std::string("named.") + format)}).exitCode, 0);
    ToolRun run = shell(prefix + "convert " + sample + " - --format " + format + " > " + dir.file("streamed"));
    ASSERT_EQ(run.exitCode, 0) << format << ": " << run.err;
    EXPECT_TRUE(SameFiles(dir.file("streamed"), dir.file(std::string("named.") + format))) << format;
  }
  ToolRun info = shell(prefix + "info - < " + sample);
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(info.out.rfind("native-bmp width=61 height=37 bits=4", 0), 0u) << info.out;
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "a temporary file was left in " << tmp;

  const struct {
    std::string command;
    int exitCode;
    const char* message;
  } refused[] = {
      {prefix + "convert " + sample + " - > /dev/null", 1, "needs --format"},
      {prefix + "convert " + sample + " - --format tif --append > /dev/null", 1, "append"},
      {prefix + "convert - " + dir.file("x.bmp") + " < /dev/null", 1, "standard input: not an image"},
      {prefix + "convert " + sample + " out.png --format xyz", 1, "--format xyz"},
      {prefix + "info " + sample + " --format png", 2, "--format does not apply"},
      // A terminal on standard output (script gives the program one).
      {"script -qec '" + prefix + "convert " + sample + " - --format png' /dev/null", 1, "terminal"},
  };
  for (const auto& r : refused) {
    if (r.command.rfind("script", 0) == 0 && !HaveProgram("script")) continue;
    ToolRun run = shell(r.command);
    EXPECT_EQ(run.exitCode, r.exitCode) << r.command << "\n" << run.err;
    EXPECT_NE((run.err + run.out).find(r.message), std::string::npos) << r.command << "\n" << run.err << run.out;
  }
  EXPECT_FALSE(Exists(dir.file("x.bmp")));
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

// The listing names the PNG and netpbm writers' keys; their values are checked.
TEST(ImagehostOutputOptions, PngAndNetpbmKeysListedAndChecked) {
  ToolRun list = RunImagehost({"list", "--options"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  for (const char* line : {"wrpng.DEL\tPNG;Portable Network Graphics (*.png)\n  PNG_COMPRESSION    0..9 (default: 6)",
                           "native-pnm\t", "  PNM_TYPE           pnm, ppm, pgm, pbm"})
    EXPECT_NE(list.out.find(line), std::string::npos) << line << "\n" << list.out;
  TempDir dir;
  const std::string in = Sample("bmp-grey-8.bmp");
  const struct {
    std::string out, option;
    int exitCode;
    const char* warning;  // "" for none
  } cases[] = {{"a.png", "PNG_COMPRESSION=9", 0, ""},
               {"b.png", "PNG_COMPRESSION=12", 0, "level 6 is used"},
               {"c.png", "COMPRESS=ON", 2, "has no option COMPRESS"},
               {"d.pnm", "PNM_TYPE=PPM", 0, ""},
               {"e.pnm", "PNM_TYPE=tiff", 0, "the image's own kind"}};
  for (const auto& c : cases) {
    ToolRun run = RunImagehost({"-q", "convert", in, dir.file(c.out), "-O", c.option});
    EXPECT_EQ(run.exitCode, c.exitCode) << c.option << ": " << run.err;
    EXPECT_NE(run.err.find(c.warning), std::string::npos) << c.option << ": " << run.err;
  }
  EXPECT_EQ(ReadBytes(dir.file("d.pnm"))[1], '6');  // PPM, though the image is grey
  EXPECT_EQ(ReadBytes(dir.file("e.pnm"))[1], '5');  // its own kind: PGM
}

// .tiff and .jpeg choose the writers of .tif and .jpg, in any case.
TEST(ImagehostAliases, TiffAndJpegChooseTheirWriters) {
  TempDir dir;
  const std::string sample = Sample("bmp-rgb-24.bmp");
  for (auto [alias, canonical] : {std::pair{"a.tiff", "a.tif"}, {"b.JPEG", "b.jpg"}, {"c.Tiff", "c.tif"}}) {
    ToolRun run = RunImagehost({"convert", sample, dir.file(alias)});
    ASSERT_EQ(run.exitCode, 0) << alias << ": " << run.err;
    EXPECT_NE(run.out.find(std::string(canonical).substr(2) == "tif" ? "wrtiff.DEL" : "wrjpeg.DEL"), std::string::npos);
    ASSERT_EQ(RunImagehost({"-q", "convert", sample, dir.file(canonical)}).exitCode, 0);
    EXPECT_TRUE(SameFiles(dir.file(alias), dir.file(canonical))) << alias;
  }
}

}  // namespace
}  // namespace hosttest
