// quorel.dll holds every resource the calibration program takes from it,
// with the controls at their ids.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "plugin_loader.h"
#include "winport/windows.h"

namespace {

const DialogTemplate* dialogOf(HMODULE module, WORD id) {
  const WinportResource* resource = winport_find_resource(module, RT_DIALOG, id);
  if (resource == nullptr || resource->size != sizeof(DialogTemplate)) return nullptr;
  return static_cast<const DialogTemplate*>(resource->data);
}

// The kind of control `id` in `dialog`; 0 when it has none.
WORD controlKind(const DialogTemplate& dialog, WORD id) {
  for (WORD i = 0; i < dialog.itemCount; ++i)
    if (dialog.items[i].id == id) return dialog.items[i].kind;
  return 0;
}

TEST(Quorel, StringsOneToNineEachWithItsOwnText) {
  testsupport::LoadedModule quorel("quorel.dll");
  ASSERT_TRUE(quorel);
  std::set<std::string> texts;
  char text[300];
  for (UINT id = 1; id <= 9; ++id) {
    int length = LoadStringA(quorel.handle(), id, text, sizeof text);
    EXPECT_GT(length, 0) << id;
    EXPECT_LE(length, id == 4 || id == 5 ? 80 : 259) << id;  // the program's buffers
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 9u);
  EXPECT_EQ(LoadStringA(quorel.handle(), 10, text, sizeof text), 0);
}

TEST(Quorel, DialogsHaveTheirControlsAndThePictureLoads) {
  testsupport::LoadedModule quorel("quorel.dll");
  ASSERT_TRUE(quorel);
  const DialogTemplate* progress = dialogOf(quorel.handle(), 133);
  const DialogTemplate* prompt = dialogOf(quorel.handle(), 136);
  ASSERT_NE(progress, nullptr);
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(controlKind(*progress, 1079), DIALOG_CONTROL_TEXT);
  EXPECT_EQ(controlKind(*progress, 1080), DIALOG_CONTROL_TEXT);
  EXPECT_EQ(controlKind(*progress, 1082), DIALOG_CONTROL_PICTURE);
  EXPECT_EQ(controlKind(*prompt, 1083), DIALOG_CONTROL_PICTURE);
  EXPECT_EQ(controlKind(*prompt, 1084), DIALOG_CONTROL_TEXT);
  EXPECT_EQ(controlKind(*prompt, 1085), DIALOG_CONTROL_BUTTON);
  EXPECT_EQ(controlKind(*prompt, IDCANCEL), DIALOG_CONTROL_BUTTON);

  HBITMAP picture = LoadBitmapA(quorel.handle(), MAKEINTRESOURCEA(135));
  ASSERT_NE(picture, 0u);
  BITMAP size{};
  ASSERT_EQ(GetObjectA(picture, sizeof size, &size), static_cast<int>(sizeof size));
  EXPECT_EQ(size.bmWidth, 32);
  EXPECT_EQ(size.bmHeight, 32);
  DeleteObject(picture);
}

TEST(Quorel, ExportsNoCode) {
  testsupport::LoadedModule quorel("quorel.dll");
  ASSERT_TRUE(quorel);
  const WinportModuleInfo* info = winport_module_info_of(quorel.handle());
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->exportCount, 0u);
  EXPECT_EQ(GetProcAddress(quorel.handle(), "DllMain"), nullptr);
}

}  // namespace
