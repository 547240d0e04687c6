// scanapp in the conventions of scanimage's users: exit statuses a script can
// tell apart, -A, writer options and their shorthands, batches counted,
// numbered and prompted, documents in other formats and the example
// registries the build writes.
#include <gtest/gtest.h>

#include "scanapp_fixture.h"
#include "virtscan/virtscan.h"

namespace scanapptest {
namespace {

using standin_test::Picture;

class ScanappConventions : public ScanappTest {};

TEST_F(ScanappConventions, DeviceFaultsHaveTheirOwnExitStatus) {
  install();
  struct Case {
    std::string faults;
    int exitCode;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"read:2:io-error", 9,
       "reading the scan: the scanner driver reported a failure (status -36)"},
      {"16:2:-36", 9, "(status -36)"},
      {"read:2:jammed", 6, "the scanner stopped the scan (status 7) after"},
      {"open:1:-5", 9, "the scanner driver could not open the device"},
      {"start:1:not-ready-final", 9, "the scanner is not ready"},
  };
  const std::vector<std::string> scan = {"scan", "-o", file("out.bmp"), "--resolution", "100"};
  for (const Case& c : cases) {
    setVariable(virtscan::kEnvFaults, c.faults);
    hosttest::ToolRun run = scanapp(scan);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.faults << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.faults << run.err;
    EXPECT_FALSE(hosttest::Exists(file("out.bmp")));
  }
  hosttest::ToolRun help = scanapp({"--help"});
  EXPECT_NE(help.out.find("3 scanner busy"), std::string::npos);
  EXPECT_NE(help.out.find("9 I/O or driver error"), std::string::npos);
}

TEST_F(ScanappConventions, AllOptionsListTheDeviceInTheOptionsTerms) {
  installRegistryText(standin_test::readFile(testsupport::binPath("registry-feeder.reg")));
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-A"}, {"info", "--options"}}) {
    hosttest::ToolRun run = scanapp(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* text :
         {"Options of Virtual Flatbed Scanner:\n",
          "--mode       lineart (1 bit), halftone (1 bit), gray (8 bits), color (24 bits), "
          "color16 (48 bits) [color]",
          "--source     flatbed 215.9 x 297.0 mm\n               adf 215.9 x 297.0 mm",
          "--resolution 1..2400 dpi [300]: native up to 600 x 600 dpi"})
      EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
  }
  EXPECT_EQ(scanapp({"scan", "-A", "-o", file("x.bmp")}).exitCode, 2);
  hosttest::ToolRun info = scanapp({"info"});
  EXPECT_NE(info.out.find("units.resolution=dpi\n"), std::string::npos) << info.out;
}

TEST_F(ScanappConventions, WriterOptionsAreCheckedBeforeTheScannerIsTouched) {
  install();
  hosttest::ToolRun unknown = scanapp({"scan", "-o", file("x.tif"), "-O", "COMPRESSION=lzw"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("has no option COMPRESSION"), std::string::npos) << unknown.err;
  EXPECT_EQ(scanapp({"scan", "-o", file("x.bmp"), "--quality", "50"}).exitCode, 2);
  EXPECT_EQ(scanapp({"info", "--compress", "g4"}).exitCode, 2);
  EXPECT_TRUE(trace().empty());

  hosttest::ToolRun warned =
      scanapp({"scan", "-o", file("x.jpg"), "-O", "LOSSY_QUALITY=150", "-x", "5", "-y", "5"});
  EXPECT_EQ(warned.exitCode, 0) << warned.err;
  EXPECT_NE(warned.err.find("scanapp: warning: LOSSY_QUALITY=150"), std::string::npos);

  // A line-art A4 page: Group 4 against the uncompressed bitmap.
  const std::vector<std::string> a4 = {"--mode", "lineart", "--resolution", "300", "-q"};
  std::vector<std::string> g4 = {"scan", "-o", file("a4.tif"), "--compress", "g4"};
  std::vector<std::string> bmp = {"scan", "-o", file("a4.bmp")};
  g4.insert(g4.end(), a4.begin(), a4.end());
  bmp.insert(bmp.end(), a4.begin(), a4.end());
  ASSERT_EQ(scanapp(g4).exitCode, 0);
  ASSERT_EQ(scanapp(bmp).exitCode, 0);
  EXPECT_LT(hosttest::ReadBytes(file("a4.tif")).size(), 100u * 1024);
  EXPECT_GT(hosttest::ReadBytes(file("a4.bmp")).size(), 1000u * 1024);
}

TEST_F(ScanappConventions, BatchesAreCountedNumberedAndPrompted) {
  install();
  const std::vector<std::string> small = {"--resolution", "50", "-x", "10", "-y", "10", "-q"};
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> written;
    std::string notWritten;
  };
  const std::vector<Case> cases = {
      {{"--batch-count", "3", "--batch-start", "5", "-o", file("a%d.bmp")},
       {"a5.bmp", "a6.bmp", "a7.bmp"},
       "a8.bmp"},
      // Standard input at its end: the prompt before the second page ends the batch.
      {{"--batch-prompt", "-o", file("b%02d.bmp")}, {"b01.bmp"}, "b02.bmp"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"scan"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), small.begin(), small.end());
    hosttest::ToolRun run = scanapp(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& name : c.written) EXPECT_TRUE(hosttest::Exists(file(name))) << name;
    EXPECT_FALSE(hosttest::Exists(file(c.notWritten)));
  }
  // Two lines of input: three pages, each after the first asked for.
  std::string command = "printf '\\n\\n' | '" + testsupport::binPath("scanapp") +
                        "' scan --batch-prompt -o '" + file("c%d.bmp") + "'";
  for (const std::string& arg : small) command += " " + arg;
  hosttest::ToolRun prompted = hosttest::RunProgram({"sh", "-c", command});
  ASSERT_EQ(prompted.exitCode, 0) << prompted.err;
  EXPECT_TRUE(hosttest::Exists(file("c3.bmp")));
  EXPECT_FALSE(hosttest::Exists(file("c4.bmp")));
  EXPECT_NE(prompted.err.find("place page 3 on the scanner and press Enter"), std::string::npos);

  EXPECT_EQ(scanapp({"scan", "--batch", "-o", file("d%d.bmp")}).exitCode, 2)
      << "a flatbed batch needs a count or a prompt";
  EXPECT_EQ(scanapp({"scan", "--batch-count", "0", "-o", file("d%d.bmp")}).exitCode, 2);

  // The feeder example registry: three pages, of which --batch-count takes two.
  installRegistryText(standin_test::readFile(testsupport::binPath("registry-feeder.reg")));
  ASSERT_EQ(scanapp({"scan", "--source", "adf", "--batch-count", "2", "-o", file("e%d.bmp"),
                     "--resolution", "50", "-q"})
                .exitCode,
            0);
  EXPECT_TRUE(hosttest::Exists(file("e2.bmp")));
  EXPECT_FALSE(hosttest::Exists(file("e3.bmp")));
}

TEST_F(ScanappConventions, DocumentsInOtherFormatsAndWrongFilesNamed) {
  const Picture picture = standin_test::patternPicture(64, 40);
  writeDocument("document.bmp", picture);
  hosttest::ToolRun made =
      hosttest::RunProgram({testsupport::binPath("imagehost"), "convert", file("document.bmp"),
                            file("document.tif"), "--quiet"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  install("\"Document\"=\"" + file("document.tif") + "\"\n");
  hosttest::ToolRun run =
      scanapp({"scan", "-o", file("out.bmp"), "--resolution", "300", "--area", "0,0,64,40", "-q"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(bmpPixels("out.bmp"), Cut(picture, 0, 0, 64, 40));

  standin_test::writeFile(file("notes.png"), "not an image\n");
  install("\"Document\"=\"" + file("notes.png") + "\"\n");
  hosttest::ToolRun wrong = scanapp({"scan", "-o", file("out2.bmp"), "-q"});
  EXPECT_EQ(wrong.exitCode, 9);
  EXPECT_NE(wrong.err.find("virtscan: cannot read " + file("notes.png") +
                           ": not an image file any reader recognises"),
            std::string::npos)
      << wrong.err;
  EXPECT_FALSE(hosttest::Exists(file("out2.bmp")));
}

}  // namespace
}  // namespace scanapptest
