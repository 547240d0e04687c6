// imagehost.dll as writers meet it: the option lookup exported by name and as
// ordinal 1, both the same __stdcall function, answering from a real block.
#include <windows.h>

#include <gtest/gtest.h>

#include "host/options.h"
#include "plugin/contract.h"

namespace {

TEST(HostLibrary, TheOptionLookupIsExportedByNameAndOrdinal) {
  HMODULE host = GetModuleHandleA("imagehost.dll");
  ASSERT_NE(host, nullptr);
  auto byName = reinterpret_cast<OvgXOptBlkGet_fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(host, "OvgXOptBlkGet")));
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(reinterpret_cast<void (*)()>(GetProcAddress(host, MAKEINTRESOURCEA(1))),
            reinterpret_cast<void (*)()>(byName));
  imagehost::OptionList options;
  ASSERT_TRUE(options.add("TIFF_COMPRESS=GROUP4"));
  HGLOBAL block = options.buildBlock();
  ASSERT_NE(block, nullptr);
  char value[kOptionValueSize] = {};
  EXPECT_EQ(byName(block, "TIFF_COMPRESS", value), 0);
  EXPECT_STREQ(value, "GROUP4");
  EXPECT_NE(byName(block, "COMPRESS", value), 0);
  GlobalFree(block);
}

}  // namespace
