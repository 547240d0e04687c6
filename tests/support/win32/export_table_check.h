// The check every module's tests make of its export table, on Windows from the
// module's own export directory as the system's loader sees it: each name is
// found by name and by its ordinal at the same address, and the module exports
// exactly the expected number of names.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "winport/windows.h"

namespace testsupport {

inline void ExpectExportsAsTabled(HMODULE module, const std::string& /*path*/, size_t entries) {
  ASSERT_NE(module, nullptr);
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(directory.VirtualAddress, 0u) << "no export directory";
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  std::set<std::string> seen;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const char* name = reinterpret_cast<const char*>(base + names[i]);
    const WORD ordinal = static_cast<WORD>(exports->Base + ordinals[i]);
    FARPROC byName = GetProcAddress(module, name);
    EXPECT_NE(byName, nullptr) << name;
    EXPECT_EQ(byName, GetProcAddress(module, MAKEINTRESOURCEA(ordinal))) << name;
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), entries);
}

}  // namespace testsupport
