// The test program declares itself a module, as a program with its own
// string table does: module handle 0 then means this program.
#include <gtest/gtest.h>

#include "gdi_test_bitmaps.h"
#include "winport/windows.h"

namespace {

constexpr char kProgramTitle[] = "Platform layer tests";

const WinportResource kProgramResources[] = {
    {RT_STRING, 5, kProgramTitle, sizeof kProgramTitle - 1},
    {RT_BITMAP, gditest::kPictureId, gditest::kPicture, sizeof gditest::kPicture},
    {RT_BITMAP, gditest::kTruncatedId, gditest::kTruncated, sizeof gditest::kTruncated},
};

}  // namespace

WINPORT_MODULE(nullptr, 0, kProgramResources, 3, nullptr)

namespace {

TEST(ProgramModule, HandleZeroMeansTheRunningProgram) {
  HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, 0u);
  EXPECT_EQ(winport_module_info_of(program), &winport_module_info);
  EXPECT_EQ(winport_module_info_of(0), &winport_module_info);

  char buffer[64];
  EXPECT_EQ(LoadStringA(0, 5, buffer, sizeof buffer), static_cast<int>(sizeof kProgramTitle - 1));
  EXPECT_STREQ(buffer, kProgramTitle);
  EXPECT_EQ(LoadStringA(program, 5, buffer, sizeof buffer),
            static_cast<int>(sizeof kProgramTitle - 1));

  char viaZero[4096];
  char viaHandle[4096];
  ASSERT_GT(GetModuleFileNameA(0, viaZero, sizeof viaZero), 0u);
  ASSERT_GT(GetModuleFileNameA(program, viaHandle, sizeof viaHandle), 0u);
  EXPECT_STREQ(viaZero, viaHandle);
  EXPECT_FALSE(FreeLibrary(program));  // never loaded with LoadLibraryA
}

}  // namespace
