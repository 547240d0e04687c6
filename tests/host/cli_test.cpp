// The imagehost command line: list, info, help, version, usage errors.
#include <gtest/gtest.h>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

TEST(ImagehostCli, ListNamesEveryPluginWithKindVersionAndFileTypes) {
  ToolRun run = RunImagehost({"list"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("rdgem.DIL\treader\tIMG File Reader V1.0\tGEM/Ventura IMG~*.img~\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("wrbmp.DEL\twriter\t1.00\tBMP;Windows Bitmap (*.bmp)\n"),
            std::string::npos)
      << run.out;

  ToolRun fakes = RunImagehost({"--plugins", FAKE_PLUGINS_DIR, "list"});
  EXPECT_EQ(fakes.exitCode, 0) << fakes.err;
  EXPECT_EQ(fakes.out,
            "fakeread.DIL\treader\tFake Reader V0.1\tFake images~*.fak~\n"
            "fakewrite.DEL\twriter\t0.1\tFAK;Fake rows (*.fak)\n");
}

TEST(ImagehostCli, InfoNamesTheReaderAndTheImageKeys) {
  ToolRun gem = RunImagehost({"info", Sample("gem-mono-1.img")});
  EXPECT_EQ(gem.exitCode, 0) << gem.err;
  EXPECT_EQ(gem.out, "rdgem.DIL width=203 height=64 bits=1 pages=1 xppm=0 yppm=0 colors=2\n");

  ToolRun bmp = RunImagehost({"info", Sample("bmp-palette-4-topdown.bmp")});
  EXPECT_EQ(bmp.exitCode, 0) << bmp.err;
  EXPECT_EQ(bmp.out,
            "native-bmp width=61 height=37 bits=4 pages=1 xppm=2835 yppm=2835 colors=16\n");
}

TEST(ImagehostCli, HelpAndVersionSucceed) {
  ToolRun help = RunImagehost({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: imagehost", 0), 0u) << help.out;
  ToolRun version = RunImagehost({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "imagehost 0.1.0\n");
}

// The programs look for libraries only beside themselves and where the
// system keeps them, never in the folder they are started from.
TEST(ImagehostCli, LibrariesPlantedInTheCurrentFolderAreNotLoaded) {
  testsupport::TempDir dir;
  for (const char* name : {"libc.so.6", "libwinport.so", "libimagehost.so", "libm.so.6"})
    WriteBytes(dir.file(name), {'n', 'o', 't', ' ', 'E', 'L', 'F'});
  for (const char* program : {"imagehost", "scanapp"}) {
    ToolRun run = RunProgram({"sh", "-c", "cd \"$1\" && exec \"$0\" --version",
                              testsupport::binPath(program), dir.path()});
    EXPECT_EQ(run.exitCode, 0) << program << ": " << run.err;
  }
}

TEST(ImagehostCli, UsageErrorsExitWithTwoAndSayWhy) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"list", "extra"},
      {"info"},
      {"convert", "in.img"},
      {"convert", "a.img", "b.bmp", "c.bmp"},
      {"--bogus", "list"},
      {"convert", "a.img", "b.bmp", "--rows", "0"},
      {"convert", "a.img", "b.bmp", "--rows"},
      {"convert", "a.img", "b.bmp", "--page", "one"},
      {"convert", "a.img", "b.bmp", "--page", "99999999999"},
      {"convert", "a.img", "b.bmp", "--page", "1", "--all-pages"},
      {"convert", "a.img", "b.bmp", "-O", "NOVALUE"},
      {"convert", "a.img", "b.bmp", "-O", "BAD KEY=1"},
      {"info", "a.img", "--rows", "4"},
      {"info", "a.img", "-O", "FORWARD=ON"},
      {"list", "--page", "1"},
      {"info", "a.img", "--append"},
      {"--quiet=yes", "list"},
  };
  for (const auto& args : cases) {
    ToolRun run = RunImagehost(args);
    std::string shown;
    for (const auto& arg : args) shown += arg + " ";
    EXPECT_EQ(run.exitCode, 2) << shown;
    EXPECT_NE(run.err.find("imagehost: "), std::string::npos) << shown;
    EXPECT_EQ(run.out, "") << shown;
  }
}

TEST(ImagehostCli, MissingInputFailsWithTheSystemsReason) {
  ToolRun info = RunImagehost({"info", "/nonexistent/in.img"});
  EXPECT_EQ(info.exitCode, 1);
  EXPECT_NE(info.err.find("cannot open /nonexistent/in.img: No such file or directory"),
            std::string::npos)
      << info.err;
}

}  // namespace
}  // namespace hosttest
