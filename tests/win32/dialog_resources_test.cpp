// The calibration program's resource library and the setup launcher under the
// system's loader: quorel.dll's strings, its picture as a real bitmap and its
// two dialog templates as real DIALOG resources with the controls the
// calibration program addresses, at about the pixel size of the tables;
// mendle.dll's fnRun and string table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "winport/windows.h"

namespace {

std::string BinFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  folder.erase(folder.find_last_of("\\/"));
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + "bin\\";
}

class Library {
 public:
  explicit Library(const char* file) : module_(LoadLibraryA((BinFolder() + file).c_str())) {}
  ~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

std::string StringOf(HMODULE module, UINT id) {
  char text[1024] = {};
  LoadStringA(module, id, text, sizeof text);
  return text;
}

INT_PTR CALLBACK QuietProcedure(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

struct Control {
  int id;
  const char* windowClass;
  const char* text;
  bool picture;  // an owner-drawn static the program paints
};

struct DialogCase {
  WORD id;
  LONG clientWidth, clientHeight;  // the table's pixels
  std::vector<Control> controls;
};

TEST(Quorel, StringsFitTheCallersBuffersAndThePictureIsABitmap) {
  Library quorel("quorel.dll");
  ASSERT_NE(quorel.get(), nullptr) << GetLastError();
  for (UINT id = 1; id <= 9; ++id) {
    const std::string text = StringOf(quorel.get(), id);
    EXPECT_FALSE(text.empty()) << "string " << id;
    // Captions (4, 5) go into 80 characters, the instructions (7, 9) into 260.
    const size_t limit = id == 4 || id == 5 ? 80 : 260;
    EXPECT_LE(text.size(), limit) << "string " << id;
  }
  HBITMAP picture = LoadBitmapA(quorel.get(), MAKEINTRESOURCEA(135));
  ASSERT_NE(picture, nullptr);
  BITMAP size{};
  ASSERT_EQ(GetObjectA(picture, sizeof size, &size), static_cast<int>(sizeof size));
  EXPECT_EQ(size.bmWidth, 32);
  EXPECT_EQ(size.bmHeight, 32);
  DeleteObject(picture);
}

TEST(Quorel, DialogTemplatesHoldTheControlsTheProgramAddresses) {
  Library quorel("quorel.dll");
  ASSERT_NE(quorel.get(), nullptr);
  const DialogCase cases[] = {
      {133, 360, 88,
       {{1082, "Static", "", true}, {1079, "Static", "", false}, {1080, "Static", "", false}}},
      {136, 360, 122,
       {{1083, "Static", "", true},
        {1084, "Static", "", false},
        {1085, "Button", "Continue", false},
        {IDCANCEL, "Button", "Cancel", false}}},
  };
  for (const DialogCase& dialogCase : cases) {
    SCOPED_TRACE(dialogCase.id);
    HRSRC found = FindResourceA(quorel.get(), MAKEINTRESOURCEA(dialogCase.id),
                                MAKEINTRESOURCEA(RT_DIALOG));
    ASSERT_NE(found, nullptr);
    auto dialogTemplate = static_cast<LPCDLGTEMPLATEA>(LockResource(LoadResource(quorel.get(), found)));
    ASSERT_NE(dialogTemplate, nullptr);
    // With the program's instance. The template is WS_VISIBLE: a modal run
    // shows the dialog before the messages it posts itself in WM_INITDIALOG.
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), dialogTemplate, nullptr,
                                             QuietProcedure, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    EXPECT_TRUE(IsWindowVisible(dialog));
    RECT client{};
    GetClientRect(dialog, &client);
    // Dialog units depend on the font the system finds: within a fifth.
    EXPECT_NEAR(client.right, dialogCase.clientWidth, dialogCase.clientWidth / 5);
    EXPECT_NEAR(client.bottom, dialogCase.clientHeight, dialogCase.clientHeight / 5);
    for (const Control& control : dialogCase.controls) {
      SCOPED_TRACE(control.id);
      HWND item = GetDlgItem(dialog, control.id);
      ASSERT_NE(item, nullptr);
      char name[64] = {}, text[64] = {};
      GetClassNameA(item, name, sizeof name);
      GetWindowTextA(item, text, sizeof text);
      EXPECT_STRCASEEQ(name, control.windowClass);
      EXPECT_STREQ(text, control.text);
      EXPECT_TRUE(IsWindowVisible(item) || !IsWindowVisible(dialog));
      const LONG_PTR style = GetWindowLongPtrA(item, GWL_STYLE);
      EXPECT_EQ((style & SS_TYPEMASK) == SS_OWNERDRAW, control.picture);
    }
    DestroyWindow(dialog);
  }
}

TEST(Mendle, ExportsFnRunAndCarriesItsStrings) {
  Library mendle("mendle.dll");
  ASSERT_NE(mendle.get(), nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(mendle.get(), "fnRun"), nullptr);
  EXPECT_EQ(StringOf(mendle.get(), 1), "USB Scanner Setup");
  EXPECT_EQ(StringOf(mendle.get(), 2),
            "Please insert the Norvik USB Scanner Setup / Application CD-ROM into your CD-ROM "
            "drive.");
}

}  // namespace
