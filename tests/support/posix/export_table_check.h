// The check every module's tests make of its export table: each entry is
// found by name and by ordinal at the same address, the table has the
// expected number of entries, and the built file exports exactly its names.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "text_files.h"
#include "winport/windows.h"

namespace testsupport {

inline void ExpectExportsAsTabled(HMODULE module, const std::string& path, size_t entries) {
  const WinportModuleInfo* info = winport_module_info_of(module);
  ASSERT_NE(info, nullptr);
  std::set<std::string> names;
  for (DWORD i = 0; i < info->exportCount; ++i) {
    const WinportExport& entry = info->exports[i];
    FARPROC byName = GetProcAddress(module, entry.name);
    EXPECT_NE(byName, nullptr) << entry.name;
    EXPECT_EQ(byName, GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal))) << entry.name;
    names.insert(entry.name);
  }
  EXPECT_EQ(names.size(), entries);
  ExportedSymbols exported = ExportedFunctions(path);
  ASSERT_TRUE(exported.listed) << exported.nmOutput;
  EXPECT_EQ(exported.functions, names) << exported.nmOutput;
}

}  // namespace testsupport
