// imagehost on many files and pages: info on several files, several inputs
// merged into one TIFF, one file per page with %d, page ranges, and the
// progress log when stderr is not a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

class ImagehostManyFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // Three pages of different depths and sizes, merged by the tool itself.
    ToolRun merged = RunImagehost({"convert", rgb, grey, gem, book, "--quiet"});
    ASSERT_EQ(merged.exitCode, 0) << merged.err;
  }
  TempDir dir;
  const std::string rgb = Sample("bmp-rgb-24.bmp");
  const std::string grey = Sample("bmp-grey-8.bmp");
  const std::string gem = Sample("gem-mono-1.img");
  const std::string book = dir.file("book.tif");
};

TEST_F(ImagehostManyFiles, InfoGivesALinePerFileAndSelectedPage) {
  ToolRun all = RunImagehost({"info", book, "--all-pages"});
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_NE(all.out.find(book + "[0] rdtiff.DIL width=61 height=37 bits=24 pages=3"),
            std::string::npos)
      << all.out;
  EXPECT_NE(all.out.find(book + "[1] rdtiff.DIL width=61 height=37 bits=8 pages=3"),
            std::string::npos);
  EXPECT_NE(all.out.find(book + "[2] rdtiff.DIL width=203 height=64 bits=1 pages=3"),
            std::string::npos);

  // A file that cannot be read is reported; the others are still described.
  ToolRun mixed = RunImagehost({"info", gem, dir.file("missing.bmp"), book, "--page", "0"});
  EXPECT_EQ(mixed.exitCode, 1);
  EXPECT_NE(mixed.out.find(gem + "[0] rdgem.DIL width=203"), std::string::npos) << mixed.out;
  EXPECT_NE(mixed.out.find(book + "[0] rdtiff.DIL width=61"), std::string::npos) << mixed.out;
  // Pages are chosen in every file alike: one that lacks them is a failure.
  ToolRun beyond = RunImagehost({"info", book, gem, "--pages", "1-2"});
  EXPECT_EQ(beyond.exitCode, 1);
  EXPECT_NE(beyond.out.find(book + "[2] "), std::string::npos) << beyond.out;
  EXPECT_NE(beyond.err.find("has 1 page (0 to 0); page 2 does not exist"), std::string::npos)
      << beyond.err;
  EXPECT_NE(mixed.err.find("missing.bmp"), std::string::npos) << mixed.err;
}

TEST_F(ImagehostManyFiles, PageRangesAndPageFiles) {
  struct Case {
    std::vector<std::string> args;  // after convert BOOK
    std::vector<std::string> written;
    std::vector<uint32_t> widths;  // of the files written, in order
  };
  const std::vector<Case> cases = {
      {{dir.file("p-%d.bmp"), "--all-pages"}, {"p-0.bmp", "p-1.bmp", "p-2.bmp"}, {61, 61, 203}},
      {{dir.file("q%03d.bmp"), "--pages", "2,0"}, {"q000.bmp", "q001.bmp"}, {203, 61}},
      {{dir.file("r%d.pcx"), "--pages", "1-"}, {"r0.pcx", "r1.pcx"}, {61, 203}},
      {{dir.file("one-%d.bmp"), "--page", "2"}, {"one-0.bmp"}, {203}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"convert", book, "--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ToolRun run = RunImagehost(args);
    ASSERT_EQ(run.exitCode, 0) << c.args[0] << run.err;
    for (size_t i = 0; i < c.written.size(); ++i) {
      ToolRun info = RunImagehost({"info", dir.file(c.written[i])});
      EXPECT_NE(info.out.find("width=" + std::to_string(c.widths[i]) + " "), std::string::npos)
          << c.written[i] << ": " << info.out << info.err;
    }
  }
  ASSERT_EQ(RunImagehost({"convert", book, dir.file("sub.tif"), "--pages", "0,2", "-q"}).exitCode,
            0);
  EXPECT_NE(RunImagehost({"info", dir.file("sub.tif")}).out.find("pages=2"), std::string::npos);
}

TEST_F(ImagehostManyFiles, BadSelectionsAndOutputsAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  };
  const std::string out = dir.file("out.bmp");
  const std::vector<Case> cases = {
      {{"convert", book, out, "--pages", "2-1"}, 2, "--pages needs"},
      {{"convert", book, out, "--pages", "0,,1"}, 2, "--pages needs"},
      {{"convert", book, out, "--pages", "x"}, 2, "--pages needs"},
      {{"convert", book, out, "--pages", "1", "--page", "1"}, 2, "exclude each other"},
      {{"convert", book, out, "--pages", "0-5"}, 1, "page 5 does not exist"},
      {{"convert", rgb, grey, out}, 2, "several inputs need %d"},
      {{"convert", book, dir.file("a%d%d.bmp"), "--all-pages"}, 2, "more than one page number"},
      {{"convert", book, dir.file("a%d.tif"), "--append"}, 2, "--append adds to one file"},
      {{"convert", book, out, "--all-pages"}, 1, "put %d in the output name"},
      {{"list", "--pages", "1"}, 2, "--pages does not apply"},
  };
  for (const Case& c : cases) {
    ToolRun run = RunImagehost(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.message << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(out));
    EXPECT_FALSE(Exists(dir.file("a0.tif")));
  }
}

TEST_F(ImagehostManyFiles, ProgressIsALogWhenStderrIsNotATerminal) {
  ToolRun quiet = RunImagehost({"convert", gem, dir.file("g.bmp")});
  EXPECT_EQ(quiet.err, "");
  ToolRun logged = RunImagehost({"convert", gem, dir.file("g.bmp"), "--progress", "--quiet"});
  ASSERT_EQ(logged.exitCode, 0) << logged.err;
  // Each 10 % step at most once, ending at 100 %, one per line.
  EXPECT_NE(logged.err.find("imagehost: 100%\n"), std::string::npos) << logged.err;
  EXPECT_EQ(logged.err.find('\r'), std::string::npos);
  EXPECT_EQ(logged.err.find("imagehost: 100%\nimagehost: 100%"), std::string::npos);

  // One row per block: reading runs ahead on its own thread, and the two
  // threads' reports still come out as whole lines of rising steps.
  ToolRun ahead =
      RunImagehost({"convert", gem, dir.file("g.bmp"), "--progress", "--quiet", "--rows", "1"});
  ASSERT_EQ(ahead.exitCode, 0) << ahead.err;
  std::istringstream lines(ahead.err);
  int last = -1;
  for (std::string line; std::getline(lines, line);) {
    int step = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "imagehost: %d%%", &step), 1) << line;
    EXPECT_GT(step, last) << ahead.err;
    last = step;
  }
  EXPECT_EQ(last, 100) << ahead.err;
}

}  // namespace
}  // namespace hosttest
