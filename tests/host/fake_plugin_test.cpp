// The host against plug-ins that misbehave on request (tests/host/fakes):
// readers whose headers lie, readers that refuse blocks or fail with odd
// results, multi-page readers, and a bottom-first writer that is not the BMP
// writer and reports errors.
#include <gtest/gtest.h>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

const std::string kFakes = FAKE_PLUGINS_DIR;

std::string FakeImage(const TempDir& dir, const std::string& header) {
  std::string path = dir.file("in.fak");
  std::string text = "FAKEIMG " + header + "\n";
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
  return path;
}

// Reads the fake reader's images, writes with `writer` (a file name in build/bin or a path).
ToolRun ConvertFake(const std::string& in, const std::string& out,
                    std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"convert",   in,     out,        "--quiet",
                                "--plugins", kFakes, "--writer", testsupport::binPath("wrbmp.DEL")};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunImagehost(args);
}

// The fake reader's pixels: 8-bit grey, (x + 3y + 17 page) mod 256.
Pixels FakePixels(uint32_t width, uint32_t height, uint32_t page) {
  Pixels pixels{width, height, {}};
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t v = static_cast<uint8_t>(x + 3 * y + 17 * page);
      pixels.rgb.insert(pixels.rgb.end(), {v, v, v});
    }
  return pixels;
}

TEST(HostWithFakePlugins, AReaderThatRefusesBlocksIsReadWholeOnce) {
  TempDir dir;
  std::string in = FakeImage(dir, "refuse-blocks 23 50 8 1");
  for (const char* rows : {"1", "7", "50"}) {
    ToolRun run = ConvertFake(in, dir.file("out.bmp"), {"--rows", rows});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), FakePixels(23, 50, 0)) << rows;
  }
}

// The host reads ahead for one-byte reads; reads and seeks still see the
// position the reader is at.
TEST(HostWithFakePlugins, OneByteReadsKeepThePositionOfReadsAndSeeks) {
  TempDir dir;
  ToolRun run = RunImagehost({"info", FakeImage(dir, "byte-reads 4 4 8 1"), "--plugins", kFakes});
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST(HostWithFakePlugins, HeadersTheHostCannotTrustAreRefused) {
  TempDir dir;
  struct Case {
    const char* header;
    const char* expected;
  } cases[] = {
      {"plain 0 5 8 1", "invalid size 0 x 5"},
      {"plain 5 0 8 1", "invalid size 5 x 0"},
      {"plain -5 5 8 1", "invalid size"},
      {"plain 2147483647 2147483647 24 1", "image too large"},
      {"plain 70000 70000 24 1", "image too large"},
      {"plain 10 10 3 1", "unsupported bit count 3"},
      {"plain 10 10 0 1", "unsupported bit count 0"},
      {"short-palette 10 10 8 1", "colour table has 1 entries, 256 needed"},
      {"no-header-block 10 10 8 1", "no header block"},
      {"mismatch 10 10 8 1", "the header record says 11 x 10"},
  };
  for (const Case& c : cases) {
    ToolRun run = ConvertFake(FakeImage(dir, c.header), dir.file("out.bmp"));
    EXPECT_EQ(run.exitCode, 1) << c.header;
    EXPECT_NE(run.err.find("fakeread.DIL: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(dir.file("out.bmp")));
  }
}

TEST(HostWithFakePlugins, EveryReaderResultButOneIsAFailure) {
  TempDir dir;
  struct Case {
    const char* header;
    const char* expected;
  } cases[] = {
      {"fail-init 10 10 8 1", "fakeread.DIL: Error reading from file."},
      {"fail-read-77 10 10 8 1", "fakeread.DIL: Fake failure 77."},
      {"fail-read-10 10 10 8 1", "fakeread.DIL: the compressed data are corrupt (result 10)"},
  };
  // In blocks of one row the rows are read ahead on a second thread: the
  // reader's own message must still be the one reported.
  const std::vector<std::string> blocks[] = {{}, {"--rows", "1"}};
  for (const Case& c : cases) {
    for (const auto& rows : blocks) {
      ToolRun run = ConvertFake(FakeImage(dir, c.header), dir.file("out.bmp"), rows);
      EXPECT_EQ(run.exitCode, 1) << c.header;
      EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
      EXPECT_FALSE(Exists(dir.file("out.bmp")));
    }
  }
}

TEST(HostWithFakePlugins, PagesAreChosenByNumberAndAMissingOneIsTheReadersFailure) {
  TempDir dir;
  std::string in = FakeImage(dir, "plain 16 9 8 3");
  ToolRun info = RunImagehost({"--plugins", kFakes, "info", in, "--page", "2"});
  EXPECT_EQ(info.out, "fakeread.DIL width=16 height=9 bits=8 pages=3 xppm=0 yppm=0 colors=256\n");

  ASSERT_EQ(ConvertFake(in, dir.file("p2.bmp"), {"--page", "2"}).exitCode, 0);
  EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("p2.bmp"))), FakePixels(16, 9, 2));

  ToolRun beyond = ConvertFake(in, dir.file("p3.bmp"), {"--page", "3"});
  EXPECT_EQ(beyond.exitCode, 1);
  EXPECT_NE(beyond.err.find("fakeread.DIL: Seek to non-existent page."), std::string::npos)
      << beyond.err;

  ToolRun all = ConvertFake(in, dir.file("all.bmp"), {"--all-pages"});
  EXPECT_EQ(all.exitCode, 1);
  EXPECT_NE(all.err.find("has 3 pages, and wrbmp.DEL writes one page per file"), std::string::npos)
      << all.err;
  EXPECT_FALSE(Exists(dir.file("all.bmp")));
}

// The fake writer's file: its first line, then the rows bottom row first.
struct FakeRows {
  std::string firstLine;
  std::vector<uint8_t> rows;
};

FakeRows ReadFakeRows(const std::string& path) {
  std::vector<uint8_t> bytes = ReadBytes(path);
  auto newline = std::find(bytes.begin(), bytes.end(), '\n');
  if (newline == bytes.end()) return {};
  return {std::string(bytes.begin(), newline), std::vector<uint8_t>(newline + 1, bytes.end())};
}

// The pixel array of a bottom-up BMP file.
std::vector<uint8_t> BmpPixelArray(const std::string& path) {
  std::vector<uint8_t> bytes = ReadBytes(path);
  uint32_t offset = bytes[10] | bytes[11] << 8 | bytes[12] << 16 | uint32_t{bytes[13]} << 24;
  return std::vector<uint8_t>(bytes.begin() + offset, bytes.end());
}

TEST(HostWithFakePlugins, ABottomFirstWriterGetsTheRowsInItsOrderFromAnySource) {
  TempDir dir;
  const std::string writer = kFakes + "/fakewrite.DEL";
  for (const char* name : {"gem-mono-1.img", "bmp-rgb-24-topdown.bmp", "bmp-palette-4.bmp"}) {
    ASSERT_EQ(RunImagehost({"convert", Sample(name), dir.file("ref.bmp"), "--quiet"}).exitCode, 0);
    for (const char* rows : {"1", "7", "1000"}) {
      ToolRun run = RunImagehost({"convert", Sample(name), dir.file("out.fak"), "--quiet",
                                  "--writer", writer, "--rows", rows, "-O", "echo=hello world"});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      FakeRows written = ReadFakeRows(dir.file("out.fak"));
      EXPECT_NE(written.firstLine.find(" echo=hello world"), std::string::npos)
          << written.firstLine;
      EXPECT_EQ(written.rows, BmpPixelArray(dir.file("ref.bmp"))) << name << " rows " << rows;
    }
  }
}

TEST(HostWithFakePlugins, WriterFailuresShowTheWritersOwnStringAndLeaveNoFile) {
  TempDir dir;
  const std::string writer = kFakes + "/fakewrite.DEL";
  struct Case {
    const char* option;
    const char* expected;
  } cases[] = {
      {"FAIL=begin", "fakewrite.DEL: Unable to open file."},
      {"FAIL=report", "fakewrite.DEL: Fake write failure."},
      {"FAIL=result", "fakewrite.DEL: writing rows failed (result 204)"},
      {"FAIL=end", "fakewrite.DEL: finishing the file failed (result 204)"},
  };
  for (const Case& c : cases) {
    for (const char* input : {"gem-mono-1.img", "bmp-mono-1.bmp"}) {
      ToolRun run = RunImagehost(
          {"convert", Sample(input), dir.file("out.fak"), "--writer", writer, "-O", c.option});
      EXPECT_EQ(run.exitCode, 1) << c.option;
      EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
      EXPECT_FALSE(Exists(dir.file("out.fak")));
      EXPECT_FALSE(Exists(dir.file("out.fak.part")));
    }
  }
}

// A file system that stops taking bytes part-way (a file size limit, with
// its signal ignored): whether the writer hands over the host's rows as they
// are, which the host gathers into one write per block, or bytes of its own,
// the conversion fails with the system's reason and leaves no file.
TEST(HostWithFakePlugins, AFileThatStopsGrowingFailsTheConversionWithEveryWriter) {
  TempDir dir;
  const std::string in = FakeImage(dir, "plain 1000 400 8 1");
  for (const char* writer : {"wrbmp.DEL", "wrpcx.DEL", "wrtiff.DEL"}) {
    for (const char* rows : {"1000", "7"}) {
      const std::string out = dir.file("out.img");
      ToolRun run = RunProgram({"sh", "-c", "ulimit -f 100; trap '' XFSZ; exec \"$0\" \"$@\"",
                                testsupport::binPath("imagehost"), "convert", in, out, "--quiet",
                                "--plugins", kFakes, "--writer", testsupport::binPath(writer),
                                "--rows", rows});
      EXPECT_EQ(run.exitCode, 1) << writer << " rows " << rows << ": " << run.err;
      EXPECT_NE(run.err.find("(No space left on device)"), std::string::npos) << run.err;
      EXPECT_FALSE(Exists(out));
      EXPECT_FALSE(Exists(out + ".part"));
    }
  }
}

}  // namespace
}  // namespace hosttest
