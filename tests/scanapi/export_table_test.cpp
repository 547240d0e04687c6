// The module itself: one export, by name and ordinal, and no other function.
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"
#include "plugin_loader.h"
#include "text_files.h"
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

  const testsupport::ExportedSymbols exported =
      testsupport::ExportedFunctions(testsupport::binPath("FERROX.DLL"));
  ASSERT_TRUE(exported.listed) << exported.nmOutput;
  const std::set<std::string>& functions = exported.functions;
  EXPECT_EQ(functions, std::set<std::string>{kScannerCommanderName});
}

}  // namespace
}  // namespace scantest
