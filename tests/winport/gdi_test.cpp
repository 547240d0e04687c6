// Bitmap resources sized and painted into dialog controls (noted by the text backends).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gdi_test_bitmaps.h"
#include "plugin_loader.h"
#include "winport/windows.h"

namespace {

const DialogItemTemplate kItems[] = {
    {DIALOG_CONTROL_PICTURE, 1082, 10, 10, 2, 2, nullptr},
    {DIALOG_CONTROL_TEXT, 1079, 20, 10, 100, 20, "Working"},
    {DIALOG_CONTROL_BUTTON, IDOK, 20, 40, 60, 20, "OK"},
};
const DialogTemplate kDialog{"Pictures", 0, 0, 200, 100, kItems, 3};

HBITMAP picture = 0;

// Paints the picture at its natural size into control 1082 on WM_PAINT.
INT_PTR paintingProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_PAINT) {
    BITMAP size{};
    EXPECT_EQ(GetObjectA(picture, sizeof size, &size), static_cast<int>(sizeof size));
    HWND area = GetDlgItem(dialog, 1082);
    HDC target = GetDC(area);
    HDC memory = CreateCompatibleDC(target);
    EXPECT_EQ(SelectObject(memory, picture), 0u);
    EXPECT_TRUE(BitBlt(target, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY));
    DeleteDC(memory);
    ReleaseDC(area, target);
  } else if (message == WM_COMMAND && wParam == IDOK) {
    EndDialog(dialog, IDOK);
  }
  return 0;
}

TEST(Bitmap, LoadedFromResourcesWithItsSize) {
  HBITMAP bitmap = LoadBitmapA(0, MAKEINTRESOURCEA(gditest::kPictureId));
  ASSERT_NE(bitmap, 0u);
  BITMAP size{};
  EXPECT_EQ(GetObjectA(bitmap, sizeof size, &size), static_cast<int>(sizeof size));
  EXPECT_EQ(size.bmWidth, 3);
  EXPECT_EQ(size.bmHeight, 2);
  EXPECT_EQ(size.bmBitsPixel, 24);
  EXPECT_EQ(size.bmWidthBytes, 12);
  EXPECT_EQ(GetObjectA(bitmap, sizeof size - 1, &size), 0);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(GetObjectA(bitmap, sizeof size, &size), 0);

  EXPECT_EQ(LoadBitmapA(0, MAKEINTRESOURCEA(gditest::kTruncatedId)), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(LoadBitmapA(0, MAKEINTRESOURCEA(999)), 0u);
}

TEST(Bitmap, PaintedIntoADialogControlShowsInTheDialog) {
  testsupport::TempDir dir;
  setenv("WINPORT_DIALOG_LOG", dir.file("log").c_str(), 1);
  setenv("WINPORT_DIALOG_SCRIPT", "OK", 1);
  picture = LoadBitmapA(0, MAKEINTRESOURCEA(gditest::kPictureId));
  EXPECT_EQ(DialogBoxIndirectParamA(0, &kDialog, 0, paintingProcedure, 0), IDOK);
  DeleteObject(picture);
  unsetenv("WINPORT_DIALOG_SCRIPT");
  unsetenv("WINPORT_DIALOG_LOG");
  std::ifstream in(dir.file("log"));
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_EQ(log.str(),
            "dialog caption=\"Pictures\" text=\"[picture 3 x 2]\\nWorking\" icon=none buttons=OK "
            "answer=OK\n");
}

}  // namespace
