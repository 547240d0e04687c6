// The backend as SANE's scanimage loads it from build/sane, against the
// virtual scanner: listing, options, scans in every mode and format compared
// pixel by pixel with the document, feeder batches, and the failures a user
// meets (scanner busy, driver faults, no driver, Ctrl-C).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ferrox/scanner_command.h"
#include "sane_fixture.h"

namespace sanetest {
namespace {

using standin_test::Picture;

// The document and the area every small scan takes of it: at 300 dpi one
// pixel per frame unit, corners on multiples of 8 so that a halftone pattern
// starts the same way in the frame and on the page.
constexpr uint32_t kLeft = 48, kTop = 24, kWidth = 72, kHeight = 48;

std::string Mm(uint32_t units) { return std::to_string(units * 25.4 / 300); }

class Scanimage : public SaneTest {
 protected:
  void SetUp() override {
    if (!HaveScanimage()) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
  }
  std::vector<std::string> smallArea() const {
    return {"--resolution", "300", "-l",       Mm(kLeft), "-t",
            Mm(kTop),       "-x",  Mm(kWidth), "-y",      Mm(kHeight)};
  }
  // The 64 thresholds of halftone pattern `number`, as the library hands them out.
  static std::vector<uint8_t> halftone(uint16_t number) {
    std::vector<uint8_t> pattern(64);
    testsupport::LoadedModule library("FERROX.DLL");
    ScannerCommand command{};
    command.code = CMD_GET_HALFTONE;
    command.data = pattern.data();
    command.value = number;
    library.get<ScannerCommanderFn>(kScannerCommanderName)(&command);
    EXPECT_EQ(command.status, SCAN_OK);
    return pattern;
  }
};

TEST_F(Scanimage, ListsTheConfiguredScannerAndEveryOptionWithItsRange) {
  install("\"Capabilities\"=dword:00000001\n");
  hosttest::ToolRun run = scanimage({"-L"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("device `ferrox:scanner' is a Virtual Flatbed Scanner flatbed scanner"),
            std::string::npos)
      << run.out;
  run = scanimage({"-d", "ferrox:scanner", "-A"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err.find("invalid option"), std::string::npos) << run.err;
  // Lists and ranges the device tells: data types up to 16-bit colour, the
  // feeder, 2400 dpi, the A4-long bed of 2550 x 3508 units, four patterns.
  for (const char* expected :
       {"--mode Lineart|Halftone|Gray|Color [Color]", "--depth 8|16bit [8]",
        "--source Flatbed|ADF [Flatbed]", "--resolution 25..2400dpi", "-x 0..215.9mm [215.9]",
        "-y 0..297.011mm", "--brightness -127..127", "--contrast -127..127",
        "--halftone-pattern Pattern 1|Pattern 2|Pattern 3|Pattern 4 [inactive]",
        "--x-resolution 25..2400dpi", "--preview[=(yes|no)] [no]", "--calibrate [advanced]",
        "--clean [advanced]"})
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
}

TEST_F(Scanimage, EveryModeInEveryFormatIsTheDocumentsArea) {
  const Picture picture = standin_test::patternPicture(130, 90);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  const std::vector<uint8_t> pattern = halftone(1);
  for (const char* mode : {"Lineart", "Halftone", "Gray", "Color"}) {
    for (const char* format : {"png", "tiff", "pnm"}) {
      SCOPED_TRACE(std::string(mode) + " " + format);
      const std::string out = file(std::string("scan-") + mode + "." + format);
      std::vector<std::string> args = smallArea();
      args.insert(args.end(), {"--mode", mode, "--format", format, "-o", out});
      if (std::string(mode) == "Halftone")
        args.insert(args.end(), {"--halftone-pattern", "Pattern 2"});
      hosttest::ToolRun run = scanimage(args);
      ASSERT_EQ(run.exitCode, 0) << run.err;
      const hosttest::Pixels image = imagePixels(out);
      hosttest::Pixels expected = std::string(mode) == "Color"
                                      ? scanapptest::Cut(picture, kLeft, kTop, kWidth, kHeight)
                                      : scanapptest::CutGrey(picture, kLeft, kTop, kWidth, kHeight);
      if (std::string(mode) == "Lineart" || std::string(mode) == "Halftone") {
        for (uint32_t y = 0; y < kHeight; ++y) {
          for (uint32_t x = 0; x < kWidth; ++x) {
            const uint8_t threshold =
                std::string(mode) == "Lineart" ? 128 : pattern[(y % 8) * 8 + x % 8];
            uint8_t* pixel = &expected.rgb[(uint64_t{y} * kWidth + x) * 3];
            const uint8_t level = pixel[0] >= threshold ? 255 : 0;
            pixel[0] = pixel[1] = pixel[2] = level;
          }
        }
      }
      EXPECT_EQ(image, expected);
    }
  }
}

TEST_F(Scanimage, SixteenBitColourCarriesEverySampleWhole) {
  const Picture picture = standin_test::patternPicture(130, 90);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  std::vector<std::string> args = smallArea();
  args.insert(args.end(), {"--mode", "Color", "--depth", "16", "--format", "pnm"});
  hosttest::ToolRun run = scanimage(args, file("deep.ppm"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // ImageMagick's reading of the file, as raw big-endian 16-bit R, G, B.
  run = hosttest::RunProgram(
      {"convert", file("deep.ppm"), "-endian", "MSB", "-depth", "16", "rgb:" + file("deep.raw")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<uint8_t> raw = hosttest::ReadBytes(file("deep.raw"));
  ASSERT_EQ(raw.size(), size_t{kWidth} * kHeight * 6);
  const hosttest::Pixels expected = scanapptest::Cut(picture, kLeft, kTop, kWidth, kHeight);
  // With identity maps the device spreads an 8-bit level v over 16 bits as v * 257.
  for (size_t i = 0; i < expected.rgb.size(); ++i)
    ASSERT_EQ(raw[2 * i] << 8 | raw[2 * i + 1], expected.rgb[i] * 257) << "sample " << i;
}

// Other resolutions (below the native one, and above it, where the library
// interpolates) give what scanapp gives for the same area through the same library.
TEST_F(Scanimage, AreaAndResolutionMatchScanapp) {
  const Picture picture = standin_test::patternPicture(130, 90);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  struct Case {
    const char* dpi;
    uint32_t left, top, width, height;
  };
  for (const Case& c : {Case{"150", 30, 12, 90, 60}, Case{"700", 24, 24, 24, 18}}) {
    SCOPED_TRACE(c.dpi);
    hosttest::ToolRun run =
        scanimage({"--resolution", c.dpi, "-l", Mm(c.left), "-t", Mm(c.top), "-x", Mm(c.width),
                   "-y", Mm(c.height), "--format", "png", "-o", file("sane.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string area = std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                             std::to_string(c.width) + "," + std::to_string(c.height);
    run = scanapp(
        {"scan", "-o", file("scanapp.bmp"), "--resolution", c.dpi, "--area", area, "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const hosttest::Pixels sane = imagePixels(file("sane.png"));
    EXPECT_EQ(sane.width, static_cast<uint32_t>(c.width * std::stoul(c.dpi) / 300));
    EXPECT_EQ(sane, bmpPixels("scanapp.bmp"));
  }
}

TEST_F(Scanimage, FeederBatchScansEveryPageThenStopsWithNoDocuments) {
  for (uint32_t page = 1; page <= 3; ++page)
    writeDocument("page" + std::to_string(page) + ".bmp", scanapptest::PagePicture(130, 90, page));
  install("\"Document\"=\"" + file("page%d.bmp") +
          "\"\n\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000003\n");
  std::vector<std::string> args = smallArea();
  args.insert(args.end(), {"--source", "ADF", "--format", "pnm", "--batch=" + file("out%d.pnm")});
  hosttest::ToolRun run = scanimage(args);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("Document feeder out of documents"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("3 pages scanned"), std::string::npos) << run.err;
  for (uint32_t page = 1; page <= 3; ++page) {
    const hosttest::Pixels image = imagePixels(file("out" + std::to_string(page) + ".pnm"));
    const hosttest::Pixels expected =
        scanapptest::Cut(scanapptest::PagePicture(130, 90, page), kLeft, kTop, kWidth, kHeight);
    EXPECT_EQ(image, expected) << "page " << page << ": " << int(image.rgb[0]) << " "
                               << int(expected.rgb[0]);
  }
  EXPECT_FALSE(hosttest::Exists(file("out4.pnm")));
  EXPECT_TRUE(scannerFree());
}

TEST_F(Scanimage, ScannerHeldByAnotherApplicationIsBusy) {
  install();
  std::vector<std::string> args = smallArea();
  args.insert(args.end(), {"--format", "pnm", "-o", file("busy.pnm")});
  {
    LockHolder other;
    ASSERT_TRUE(other.held());
    hosttest::ToolRun run = scanimage(args);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("sane_start: Device busy"), std::string::npos) << run.err;
  }
  hosttest::ToolRun run = scanimage(args);
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

// Each failure reaches scanimage as its error, with the reason in the debug
// output, and leaves the scanner free.
TEST_F(Scanimage, FailuresReachScanimageWithTheirReason) {
  struct Case {
    const char* faults;
    const char* registry;  // extra values of the scanner key
    const char* scanimageSays;
    const char* debugSays;
  };
  const Case cases[] = {
      {"15:1:-5", "", "sane_start: Error during device I/O", "starting the scan"},
      {"16:1:-33", "", "sane_read: Error during device I/O", "reading the scan"},
      {"", "\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000000\n",
       "sane_start: Document feeder out of documents", "the document feeder is empty"},
      {"0:*:-5", "", "open of device ferrox:scanner failed: Error during device I/O",
       "could not open the device"},
      {"", "\"Driver Pathname\"=\"/nonexistent/driver.dll\"\n",
       "open of device ferrox:scanner failed: Error during device I/O",
       "no scanner driver is bound"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scanimageSays);
    install(c.registry);
    setVariable("VIRTSCAN_FAULTS", c.faults);
    std::vector<std::string> args = {"-d", "ferrox:scanner"};
    const std::vector<std::string> area = smallArea();
    args.insert(args.end(), area.begin(), area.end());
    if (std::string(c.registry).find("ADF") != std::string::npos)
      args.insert(args.end(), {"--source", "ADF"});
    args.insert(args.end(), {"--format", "pnm", "-o", file("failed.pnm")});
    hosttest::ToolRun run = scanimage(args);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find(c.scanimageSays), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.debugSays), std::string::npos) << run.err;
    setVariable("VIRTSCAN_FAULTS", "");
    install();  // the scanner key as the build writes it, with a driver that loads
    EXPECT_TRUE(scannerFree());
  }
}

bool TraceHas(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

// Ctrl-C while the scan is starting (the device warming up): the scan is
// ended in the driver and the lock given back before scanimage exits.
TEST_F(Scanimage, InterruptedScanLeavesTheScannerFree) {
  install();
  setVariable("VIRTSCAN_NOT_READY_MS", "1500");
  std::vector<std::string> args = smallArea();
  args.insert(args.end(), {"--format", "pnm"});
  const pid_t pid = spawn(command("scanimage", args), file("int.pnm"), file("int.err"));
  ASSERT_GT(pid, 0);
  // Wait for the readiness polling, then interrupt.
  for (int i = 0; i < 200 && !TraceHas(trace(), "op=22 "); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(TraceHas(trace(), "op=22 ")) << "the scan never started";
  kill(pid, SIGINT);
  EXPECT_NE(ScanappTest::waitFor(pid), 0);
  EXPECT_NE(standin_test::readFile(file("int.err")).find("sane_start: Operation was canceled"),
            std::string::npos)
      << standin_test::readFile(file("int.err"));
  const std::vector<std::string> lines = trace();
  EXPECT_TRUE(TraceHas(lines, "op=17 ")) << "the scan was not ended in the driver";
  EXPECT_TRUE(TraceHas(lines, "op=3 ")) << "the lock was not given back";
  EXPECT_FALSE(TraceHas(lines, "op=16 ")) << "no line is read after the interrupt";
  EXPECT_TRUE(scannerFree());
}

}  // namespace
}  // namespace sanetest
