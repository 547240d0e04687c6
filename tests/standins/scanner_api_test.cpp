// The virtual scanner and the music stand-in under the scanner API library in
// build/bin, as an application drives them: a whole scan checked against the
// document, the calls both stand-ins see in order, and the feeder running out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "ferrox/scanner_command.h"
#include "standin_fixture.h"
#include "virtscan/virtscan.h"

namespace {

using namespace standin_test;

class StandInsUnderScannerApi : public ::testing::Test {
 protected:
  // The build's registry file with `extra` value lines added to its scanner key.
  void install(const std::string& extra) {
    std::string text = readFile(testsupport::binPath("registry.reg"));
    text += "\n[HKEY_LOCAL_MACHINE\\Software\\Duzizaziz\\Ridezodu\\Scanners\\Virtual Scanner]\n" +
            extra;
    const std::string path = dir_.file("registry.reg");
    writeFile(path, text);
    chmod(path.c_str(), 0644);
    env_.set("WINPORT_REGISTRY", path);
    env_.set("WINPORT_SHM_NAMESPACE",
             "standins-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    env_.set(virtscan::kEnvTrace, dir_.file("trace.txt"));
    module_ = std::make_unique<testsupport::LoadedModule>("FERROX.DLL");
    ASSERT_TRUE(*module_);
    commander_ = module_->get<ScannerCommanderFn>(kScannerCommanderName);
    ASSERT_NE(commander_, nullptr);
  }
  int16_t run(uint16_t code, void* data = nullptr, uint32_t value = 0) {
    command_.code = code;
    command_.data = data;
    command_.value = value;
    commander_(&command_);
    return command_.status;
  }
  void TearDown() override {
    module_.reset();  // the library unmaps its section first
    testsupport::RemoveSharedSections(
        "standins-" + std::to_string(getpid()) + "-" +
        ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  std::string file(const char* name) const { return dir_.file(name); }
  std::vector<std::string> trace() const { return readLines(dir_.file("trace.txt")); }

  ScannerCommand command_{};

 private:
  Environment env_;
  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::LoadedModule> module_;
  ScannerCommanderFn commander_ = nullptr;
};

ScanParameters parametersFor(const ScanFrame& frame) {
  ScanParameters parameters{};
  parameters.frame = frame;
  parameters.mapMode = MAP_MODE_BUILT_IN;
  return parameters;
}

// Index of the first line at or after `from` that starts with `prefix`; -1 when none.
int findLine(const std::vector<std::string>& lines, const std::string& prefix, int from = 0) {
  for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i) {
    if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

TEST_F(StandInsUnderScannerApi, ColourScanMatchesTheDocumentAndMusicFollowsTheScan) {
  const Picture picture = patternPicture(200, 150);
  writeBytes(file("document.bmp"), bmp24(picture, 300));
  install("\"Document\"=\"" + file("document.bmp") + "\"\n");
  ASSERT_EQ(run(CMD_OPEN), 0);
  ASSERT_EQ(run(CMD_LOCK), 0);
  ScanParameters parameters =
      parametersFor(makeFrame(10, 20, 40, 30, 300, DATATYPE_COLOUR, SCANFLAG_MUSIC));
  ASSERT_EQ(run(CMD_SET_PARAMETERS, &parameters), 0);
  ASSERT_EQ(run(CMD_START_SCAN), 0);
  std::vector<uint8_t> image;
  std::vector<uint8_t> buffer(120 * 7);
  for (int guard = 0; guard < 100; ++guard) {
    const int16_t status = run(CMD_READ_LINES, buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (status != 0 || command_.result == 0) break;
    image.insert(image.end(), buffer.begin(), buffer.begin() + command_.result * 120);
  }
  EXPECT_EQ(run(CMD_END_SCAN), 0);
  EXPECT_EQ(run(CMD_UNLOCK), 0);
  EXPECT_EQ(run(CMD_CLOSE), 0);
  ASSERT_EQ(image.size(), 40u * 30 * 3);
  for (uint32_t j = 0; j < 30; ++j) {
    for (uint32_t i = 0; i < 40; ++i) {
      ASSERT_EQ(0, std::memcmp(&image[(j * 40 + i) * 3], picture.at(10 + i, 20 + j), 3))
          << i << "," << j;
    }
  }
  // The scan tune starts after the scan has started; the end tune after the scan end.
  const std::vector<std::string> lines = trace();
  const int start = findLine(lines, "op=15 ");
  const int scanTune = findLine(lines, "music slot=3 play mode=0", start);
  const int end = findLine(lines, "op=17 ", scanTune);
  const int stop = findLine(lines, "music slot=4 stop", end);
  const int endTune = findLine(lines, "music slot=3 play mode=1", stop);
  EXPECT_GE(start, 0);
  EXPECT_GT(scanTune, start);
  EXPECT_GT(end, scanTune);
  EXPECT_GT(endTune, stop);
  EXPECT_GE(findLine(lines, "music slot=1 close", endTune), 0);
}

TEST_F(StandInsUnderScannerApi, EmptyFeederStatusReachesTheApplication) {
  install("\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000001\n");
  ASSERT_EQ(run(CMD_OPEN), 0);
  ASSERT_EQ(run(CMD_LOCK), 0);
  ScanParameters parameters =
      parametersFor(makeFrame(0, 0, 300, 300, 100, DATATYPE_GREY, SCANFLAG_ADF));
  ASSERT_EQ(run(CMD_SET_PARAMETERS, &parameters), 0);
  ASSERT_EQ(run(CMD_START_SCAN), 0);
  EXPECT_EQ(run(CMD_END_SCAN), 0);
  EXPECT_EQ(run(CMD_START_SCAN), virtscan::kStatusFeederEmpty);
  EXPECT_EQ(run(CMD_UNLOCK), 0);
  EXPECT_EQ(run(CMD_CLOSE), 0);
}

TEST_F(StandInsUnderScannerApi, NegativeFilmScanGivesThePositiveBack) {
  // The film holds the document's negative; the reversed maps turn it back.
  const Picture picture = patternPicture(60, 60);
  writeBytes(file("document.bmp"), bmp24(picture, 300));
  install("\"Document\"=\"" + file("document.bmp") + "\"\n\"Capabilities\"=dword:00000040\n");
  ASSERT_EQ(run(CMD_OPEN), 0);
  ASSERT_EQ(run(CMD_LOCK), 0);
  ScanParameters parameters =
      parametersFor(makeFrame(0, 0, 20, 10, 300, DATATYPE_GREY, SCANFLAG_NEGATIVE));
  ASSERT_EQ(run(CMD_SET_PARAMETERS, &parameters), 0);
  ASSERT_EQ(run(CMD_START_SCAN), 0);
  std::vector<uint8_t> image(200);
  ASSERT_EQ(run(CMD_READ_LINES, image.data(), 200), 0);
  ASSERT_EQ(command_.result, 10u);
  for (uint32_t i = 0; i < 200; ++i) {
    ASSERT_EQ(image[i], greyOf(picture.at(i % 20, i / 20))) << i;
  }
  EXPECT_EQ(run(CMD_END_SCAN), 0);
  EXPECT_EQ(run(CMD_UNLOCK), 0);
  EXPECT_EQ(run(CMD_CLOSE), 0);
}

}  // namespace
