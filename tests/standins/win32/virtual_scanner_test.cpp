// The virtual scanner and the music library under FERROX.DLL on Windows: as
// the build's registry file installs them (imported into the prefix), and
// with a document, a feeder and a fault of a test's own.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ferrox/driver.h"
#include "ferrox_fixture.h"
#include "fixture_platform.h"
#include "virtscan/virtscan.h"

namespace scantest {
namespace {

// A 24-bit BMP, bottom-up, whose pixel (x, y) is R = 7x, G = 5y, B = 3(x + y).
std::vector<uint8_t> PatternBmp(uint32_t width, uint32_t height) {
  const uint32_t stride = (width * 3 + 3) & ~3u;
  std::vector<uint8_t> file(54 + stride * height);
  auto put = [&file](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(0, 0x4D42, 2), put(2, static_cast<uint32_t>(file.size()), 4), put(10, 54, 4);
  put(14, 40, 4), put(18, width, 4), put(22, height, 4), put(26, 1, 2), put(28, 24, 2);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = &file[54 + (height - 1 - y) * stride];
    for (uint32_t x = 0; x < width; ++x) {
      row[x * 3] = static_cast<uint8_t>(3 * (x + y));
      row[x * 3 + 1] = static_cast<uint8_t>(5 * y);
      row[x * 3 + 2] = static_cast<uint8_t>(7 * x);
    }
  }
  return file;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One session through a ScannerCommander: a scan of `frame` read whole.
struct Session {
  ScannerCommanderFn commander;
  ScannerCommand command{};

  int16_t run(uint16_t code, void* data = nullptr, uint32_t value = 0) {
    command.code = code;
    command.data = data;
    command.value = value;
    commander(&command);
    return command.status;
  }
  // Lines of `bytesPerLine` until the device has no more; empty on a failure.
  std::vector<uint8_t> scan(const ScanFrame& frame, uint32_t bytesPerLine) {
    ScanParameters parameters{};
    parameters.frame = frame;
    parameters.mapMode = MAP_MODE_BUILT_IN;
    std::vector<uint8_t> image, buffer(bytesPerLine * 16);
    if (run(CMD_OPEN) != SCAN_OK || run(CMD_LOCK) != SCAN_OK ||
        run(CMD_SET_PARAMETERS, &parameters) != SCAN_OK || run(CMD_START_SCAN) != SCAN_OK)
      return {};
    for (int guard = 0; guard < 1000; ++guard) {
      if (run(CMD_READ_LINES, buffer.data(), static_cast<uint32_t>(buffer.size())) != SCAN_OK ||
          command.result == 0)
        break;
      image.insert(image.end(), buffer.begin(), buffer.begin() + command.result * bytesPerLine);
    }
    run(CMD_END_SCAN);
    run(CMD_UNLOCK);
    run(CMD_CLOSE);
    return image;
  }
};

class VirtualScannerOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_ = folder_ + "trace.txt";
    _putenv_s(virtscan::kEnvTrace, trace_.c_str());
  }
  void TearDown() override {
    for (const char* name : {virtscan::kEnvTrace, virtscan::kEnvKey, virtscan::kEnvFaults})
      _putenv_s(name, "");
    platform::RemoveFolder(folder_);
  }
  std::string folder_ = platform::MakeFolder();
  std::string trace_;
};

// bin/FERROX.DLL finds the imported key by the short form of its folder, binds
// the virtual scanner and Music.dll there, and scans the built-in chart.
TEST_F(VirtualScannerOnWindows, BuildRegistryInstallsTheScannerBesideTheLibrary) {
  HMODULE library = LoadLibraryA(platform::BinPath("FERROX.DLL").c_str());
  ASSERT_NE(library, nullptr);
  Session session{reinterpret_cast<ScannerCommanderFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, kScannerCommanderName)))};
  ProductRecord product{};
  EXPECT_EQ(session.run(CMD_GET_PRODUCT_INFO, &product), SCAN_OK);
  EXPECT_STREQ(product.productName, "Virtual Flatbed Scanner");
  const std::vector<uint8_t> image =
      session.scan(ScanFrame{SCANFLAG_MUSIC, 0, 0, 300, 150, 300, 300, DATATYPE_GREY, 0, 0}, 300);
  EXPECT_EQ(image.size(), 300u * 150);
  FreeLibrary(library);
  const std::string trace = ReadText(trace_);
  EXPECT_NE(trace.find("op=15 "), std::string::npos) << trace;
  EXPECT_NE(trace.find("music slot=3 play mode=0 path=" + platform::BinPath("scan-tune.wav")),
            std::string::npos)
      << trace;
}

// A key of the test's own (named to the driver by VIRTSCAN_KEY) with extra values.
TEST_F(VirtualScannerOnWindows, DocumentFeederAndFaultsReachTheApplication) {
  std::ofstream(folder_ + "page.bmp", std::ios::binary).write(
      reinterpret_cast<const char*>(PatternBmp(60, 50).data()), 54 + 180 * 50);
  const std::string document = "\"Document\"=\"" + folder_ + "page.bmp\"\n";
  std::string escaped;
  for (char c : document) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  struct Case {
    const char* name;
    std::string values;
    const char* faults;
    int16_t secondStart;  // status of a second scan start on the same lock
  };
  const Case cases[] = {
      {"document", escaped + "\"Document Resolution\"=dword:0000012c\n", "", SCAN_OK},
      {"feeder", escaped + "\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000001\n", "",
       virtscan::kStatusFeederEmpty},
      {"fault", escaped, "15:2:-5", -5},
  };
  for (const Case& c : cases) {
    Installation scanner;
    ScannerKey key;
    key.driverPath = platform::BinPath("virtscan.dll");
    key.music = false;
    key.extraValues = c.values;
    scanner.writeRegistry({key});
    _putenv_s(virtscan::kEnvKey, (key.parent + "\\" + key.name).c_str());
    _putenv_s(virtscan::kEnvFaults, c.faults);
    ASSERT_TRUE(scanner.load()) << c.name;
    const uint32_t flags = c.secondStart == virtscan::kStatusFeederEmpty ? SCANFLAG_ADF : 0;
    scanner.openAndLock();
    ScanParameters parameters{};
    parameters.frame = ScanFrame{flags, 10, 20, 40, 30, 300, 300, DATATYPE_COLOUR, 0, 0};
    parameters.mapMode = MAP_MODE_BUILT_IN;
    ASSERT_EQ(scanner.send(CMD_SET_PARAMETERS, &parameters).status, SCAN_OK) << c.name;
    ASSERT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK) << c.name;
    std::vector<uint8_t> image(40 * 30 * 3);
    const ScannerCommand read = scanner.send(CMD_READ_LINES, image.data(), static_cast<uint32_t>(image.size()));
    ASSERT_EQ(read.status, SCAN_OK) << c.name;
    ASSERT_EQ(read.result, 30u) << c.name;
    for (uint32_t i = 0; i < 40 * 30; ++i) {
      const uint32_t x = 10 + i % 40, y = 20 + i / 40;
      const uint8_t expected[3] = {static_cast<uint8_t>(7 * x), static_cast<uint8_t>(5 * y),
                                   static_cast<uint8_t>(3 * (x + y))};
      ASSERT_EQ(std::memcmp(&image[i * 3], expected, 3), 0) << c.name << ": pixel " << x << "," << y;
    }
    EXPECT_EQ(scanner.send(CMD_END_SCAN).status, SCAN_OK) << c.name;
    EXPECT_EQ(scanner.send(CMD_START_SCAN).status, c.secondStart) << c.name;
  }
}

// The spool file of an enhanced scan lies in the system's temporary folder and
// goes with the process that made it, also when that process is killed.
TEST_F(VirtualScannerOnWindows, SpoolFileGoesWithItsProcess) {
  Installation scanner;
  ScannerKey key;
  key.driverPath = platform::BinPath("virtscan.dll");
  key.music = false;
  scanner.writeRegistry({key});
  _putenv_s(virtscan::kEnvKey, (key.parent + "\\" + key.name).c_str());
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof(temp), temp);
  const std::string spool = std::string(temp) + "NVKTEMP.TMP";
  ASSERT_EQ(GetFileAttributesA(spool.c_str()), INVALID_FILE_ATTRIBUTES) << "a spool file left over";
  const std::string tag = "ferrox-spool-" + std::to_string(GetCurrentProcessId());
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (tag + "-ready-0").c_str());
  std::string line = "\"" + platform::TestModulePath("lock_contender.exe") + "\" \"" + scanner.libraryPath() +
                     "\" " + tag + " 0 spool";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  CloseHandle(info.hThread);
  const bool spooling = WaitForSingleObject(ready, 20000) == WAIT_OBJECT_0;
  EXPECT_TRUE(spooling);
  EXPECT_NE(GetFileAttributesA(spool.c_str()), INVALID_FILE_ATTRIBUTES) << "no spool file while scanning";
  TerminateProcess(info.hProcess, 1);
  WaitForSingleObject(info.hProcess, 20000);
  CloseHandle(info.hProcess);
  CloseHandle(ready);
  EXPECT_EQ(GetFileAttributesA(spool.c_str()), INVALID_FILE_ATTRIBUTES) << "the spool file outlived its process";
}

}  // namespace
}  // namespace scantest
