// imagehost convert --append: pages are added to an existing TIFF only when
// asked, an output is otherwise replaced (--all-pages included), a writer
// without an append path refuses --append before touching anything, and a
// file the TIFF writer cannot extend is left as it was. Pages are counted by
// libtiff's tiffinfo.
#include <gtest/gtest.h>
#include <unistd.h>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

// Directories libtiff finds in `path`; -1 when tiffinfo fails.
int TiffPages(const std::string& path) {
  ToolRun run = RunProgram({"tiffinfo", path});
  if (run.exitCode != 0) return -1;
  int pages = 0;
  for (size_t at = run.out.find("TIFF Directory at offset"); at != std::string::npos;
       at = run.out.find("TIFF Directory at offset", at + 1))
    ++pages;
  return pages;
}

class ImagehostAppend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("tiffinfo")) GTEST_SKIP() << "tiffinfo (libtiff-tools) is not installed";
    const std::string text = "FAKEIMG plain 16 9 8 3\n";  // three pages
    WriteBytes(threePages, std::vector<uint8_t>(text.begin(), text.end()));
  }
  // imagehost convert IN OUT ARGS... --quiet
  ToolRun convert(const std::string& in, const std::string& out,
                  std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"convert", in, out, "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunImagehost(args);
  }
  // The fake reader's pages into a TIFF.
  std::vector<std::string> fakeToTiff(std::vector<std::string> extra) {
    extra.insert(extra.end(),
                 {"--plugins", FAKE_PLUGINS_DIR, "--writer", testsupport::binPath("wrtiff.DEL")});
    return extra;
  }

  TempDir dir;
  const std::string threePages = dir.file("three.fak");
};

// One book, one command after another: the page count after each.
TEST_F(ImagehostAppend, PagesAreAddedOnlyWithAppend) {
  const std::string book = dir.file("book.tif");
  const std::string rgb = Sample("bmp-rgb-24.bmp");
  const std::string grey = Sample("bmp-grey-8.bmp");
  struct Step {
    std::string in;
    std::vector<std::string> extra;
    int pages;
  };
  const Step steps[] = {
      {rgb, {"--append"}, 1},  // a missing output is created
      {rgb, {}, 1},            // without --append the output is replaced
      {grey, {"--append"}, 2},
      {threePages, fakeToTiff({"--append", "--all-pages"}), 5},
      {threePages, fakeToTiff({"--all-pages"}), 3},  // replaced, not doubled
      {threePages, fakeToTiff({"--all-pages"}), 3},
      {threePages, fakeToTiff({"--append", "--page", "2"}), 4},
  };
  for (const Step& step : steps) {
    std::string shown = step.in;
    for (const std::string& arg : step.extra) shown += " " + arg;
    ToolRun run = convert(step.in, book, step.extra);
    ASSERT_EQ(run.exitCode, 0) << shown << "\n" << run.err;
    EXPECT_EQ(TiffPages(book), step.pages) << shown;
    EXPECT_FALSE(Exists(book + ".part")) << shown;
  }
  // The page added last is the fake's page 2 again, behind the three pages.
  std::vector<Pixels> pages;
  for (const char* page : {"1", "2", "3"}) {
    ToolRun run = convert(book, dir.file("page.bmp"), {"--page", page});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    pages.push_back(DecodeBmp(ReadBytes(dir.file("page.bmp"))));
  }
  EXPECT_EQ(pages[2], pages[1]);
  EXPECT_NE(pages[0], pages[1]);
}

// Every refusal leaves the existing output byte for byte and no work file.
TEST_F(ImagehostAppend, RefusalsTouchNothing) {
  const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  const std::string grey = Sample("bmp-grey-8.bmp");
  struct Case {
    std::string out;
    bool exists;
    std::vector<std::string> extra;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {"page.bmp", true, {"--append"}, 2, "--append: wrbmp.DEL writes one page per file"},
      {"new.bmp", false, {"--append"}, 2, "cannot add one to"},
      {"page.pcx", true, {"--append", "--all-pages"}, 2, "--append: wrpcx.DEL"},
      {"plain.tif", true, {"--append"}, 1, "plain.tif: wrtiff.DEL: Unable to open file."},
  };
  for (const Case& c : cases) {
    const std::string out = dir.file(c.out);
    if (c.exists) WriteBytes(out, earlier);
    ToolRun run = convert(grey, out, c.extra);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.out << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.out << "\n" << run.err;
    if (c.exists)
      EXPECT_EQ(ReadBytes(out), earlier) << c.out;
    else
      EXPECT_FALSE(Exists(out)) << c.out;
    EXPECT_FALSE(Exists(out + ".part")) << c.out;
  }
  // A link at the output is not appended through: the rename would replace it.
  const std::string book = dir.file("book.tif");
  ASSERT_EQ(convert(grey, book).exitCode, 0);
  ASSERT_EQ(symlink(book.c_str(), dir.file("link.tif").c_str()), 0);
  ToolRun linked = convert(grey, dir.file("link.tif"), {"--append"});
  EXPECT_EQ(linked.exitCode, 1);
  EXPECT_NE(linked.err.find("cannot append to " + dir.file("link.tif") + ": not a regular file"),
            std::string::npos)
      << linked.err;
  EXPECT_EQ(TiffPages(book), 1);
}

}  // namespace
}  // namespace hosttest
