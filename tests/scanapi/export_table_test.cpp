// The module itself: one export, by name and ordinal, and no other function.
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"
#include "winport/module.h"

namespace scantest {
namespace {

TEST(FerroxModule, ScannerCommanderIsTheOnlyExport) {
  Installation scanner;
  ASSERT_TRUE(scanner.load());
  const HMODULE module = GetModuleHandleA("FERROX.DLL");
  ASSERT_NE(module, 0u);
  const FARPROC byName = GetProcAddress(module, kScannerCommanderName);
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), byName);
  const WinportModuleInfo* info = winport_module_info_of(module);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->exportCount, 1u);
  EXPECT_STREQ(info->exports[0].name, kScannerCommanderName);

  const std::string command = "nm -D --defined-only '" + testsupport::binPath("FERROX.DLL") + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  ASSERT_EQ(pclose(pipe), 0) << output;
  std::set<std::string> functions;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name)) continue;
    const bool function = type == "T" || type == "W" || type == "i";
    if (function && name.rfind('_', 0) != 0) functions.insert(name);  // toolchain names start with '_'
  }
  EXPECT_EQ(functions, std::set<std::string>{kScannerCommanderName});
}

}  // namespace
}  // namespace scantest
