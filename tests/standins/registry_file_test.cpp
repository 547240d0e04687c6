// The registry file the build writes beside the deliverables: the scanner key
// that names the virtual scanner and the music settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ferrox/music.h"
#include "standin_fixture.h"
#include "virtscan/virtscan.h"
#include "winport/module.h"
#include "winport/registry.h"

namespace {

using namespace standin_test;

std::string queryString(HKEY key, const char* name) {
  char buffer[MAX_PATH];
  DWORD size = sizeof buffer;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return "<missing>";
  }
  return buffer;
}

TEST(BuildRegistryFile, NamesTheVirtualScannerInTheBinFolder) {
  Environment env;
  const std::string file = testsupport::binPath("registry.reg");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  env.set("WINPORT_REGISTRY", file);

  char canonical[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(testsupport::binDir().c_str(), canonical, sizeof canonical), 0u);
  HKEY key = 0;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Duzizaziz\\Ridezodu\\Scanners\\Virtual Scanner",
                    0, KEY_READ, &key),
      ERROR_SUCCESS);
  EXPECT_EQ(queryString(key, "System Directory"), std::string(canonical) + "/");
  EXPECT_EQ(queryString(key, "Driver Pathname"), std::string(canonical) + "/virtscan.dll");
  EXPECT_NE(queryString(key, "Product Name"), "<missing>");
  HKEY music = 0;
  ASSERT_EQ(RegOpenKeyExA(key, kMusicKeyName, 0, KEY_READ, &music), ERROR_SUCCESS);
  DWORD play = 0;
  DWORD size = sizeof play;
  EXPECT_EQ(RegQueryValueExA(music, kMusicPlayValue, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&play), &size),
            ERROR_SUCCESS);
  EXPECT_NE(queryString(music, kMusicScanPathValue), "<missing>");
  RegCloseKey(music);
  RegCloseKey(key);
}

TEST(BuildRegistryFile, TheDriverFindsItsKeyThere) {
  Environment env;
  testsupport::TempDir dir;
  // The build's key with a setting count added: the driver reads it from there.
  std::string text = readFile(testsupport::binPath("registry.reg"));
  text +=
      "\n[HKEY_LOCAL_MACHINE\\Software\\Duzizaziz\\Ridezodu\\Scanners\\Virtual Scanner]\n"
      "\"Setting Count\"=dword:00000004\n";
  const std::string file = dir.file("registry.reg");
  writeFile(file, text);
  chmod(file.c_str(), 0644);
  env.set("WINPORT_REGISTRY", file);
  Driver driver;
  ASSERT_TRUE(driver);
  ASSERT_EQ(driver.call(DRV_OPEN_DEVICE), 0);
  DeviceRecord record{};
  ASSERT_EQ(driver.call(DRV_GET_DEVICE_RECORD, 0, &record), 0);
  EXPECT_EQ(record.settingCount, 4);
}

}  // namespace
