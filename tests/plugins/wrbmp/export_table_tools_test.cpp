// The module itself: its export table, what the shared object exports, its
// string table.
#include <cstdio>
#include <set>
#include <sstream>

#include "plugin/writer_module.h"
#include "text_files.h"
#include "wrbmp_harness.h"

namespace wrbmptest {
namespace {

TEST_F(WrbmpTest, EveryExportResolvesByNameAndOrdinalToTheSameAddress) {
  const HMODULE module = writer.module.handle();
  for (const WinportExport& entry : writer::kWriterExports) {
    SCOPED_TRACE(entry.name);
    const FARPROC byName = GetProcAddress(module, entry.name);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal)), byName);
  }
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(6)), nullptr);
  EXPECT_EQ(GetProcAddress(module, "OVDLinit_image"), nullptr);

  const WinportModuleInfo* info = winport_module_info_of(module);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->exportCount, std::size(writer::kWriterExports));
  for (DWORD i = 0; i < info->exportCount; ++i) {
    EXPECT_STREQ(info->exports[i].name, writer::kWriterExports[i].name);
    EXPECT_EQ(info->exports[i].ordinal, writer::kWriterExports[i].ordinal);
  }
  const std::set<WORD> ordinals = {1, 2, 3, 4, 5, 100};
  std::set<WORD> seen;
  for (const WinportExport& entry : writer::kWriterExports) seen.insert(entry.ordinal);
  EXPECT_EQ(seen, ordinals);
}

// The functions the shared object exports are exactly those of the table.
TEST_F(WrbmpTest, SharedObjectExportsNoOtherFunctions) {
  const testsupport::ExportedSymbols exported =
      testsupport::ExportedFunctions(testsupport::binPath("wrbmp.DEL"));
  ASSERT_TRUE(exported.listed) << exported.nmOutput;
  const std::set<std::string>& functions = exported.functions;
  const std::string& output = exported.nmOutput;
  std::set<std::string> expected;
  for (const WinportExport& entry : writer::kWriterExports) expected.insert(entry.name);
  EXPECT_EQ(functions, expected) << output;
}

TEST_F(WrbmpTest, StringTableHoldsTheThreeMessages) {
  const HINSTANCE module = writer.module.handle();
  char text[128];
  EXPECT_GT(LoadStringA(module, 1, text, sizeof text), 0);
  EXPECT_STREQ(text, "Unable to open file.");
  EXPECT_GT(LoadStringA(module, 2, text, sizeof text), 0);
  EXPECT_STREQ(text, "Error writing export file header.");
  EXPECT_GT(LoadStringA(module, 3, text, sizeof text), 0);
  EXPECT_STREQ(text, "Error writing export file.");
  EXPECT_EQ(LoadStringA(module, 4, text, sizeof text), 0);
}

}  // namespace
}  // namespace wrbmptest
