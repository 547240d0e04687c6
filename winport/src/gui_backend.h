// The windowed backend's interface: a plain C table that the platform layer
// finds in libwinport_fltk.so, loaded beside libwinport.so only when a box
// or dialog is shown with a display present. Programs that never show one,
// and every plug-in, therefore never load a GUI toolkit.
#pragma once

#include <cstdint>

extern "C" {

inline constexpr int WINPORT_GUI_VERSION = 1;
inline constexpr char WINPORT_GUI_LIBRARY[] = "libwinport_fltk.so";
inline constexpr char WINPORT_GUI_ENTRY[] = "winport_gui_backend";

struct WinportGuiButton {
  const char* label;
  int id;
};

// A message box: answered with the index of the button pressed.
struct WinportGuiBox {
  const char* caption;
  const char* text;
  const char* icon;  // none, error, question, warning, information
  const WinportGuiButton* buttons;
  int buttonCount;
  int closeAnswer;  // the index that closing the window means; -1: closing is refused
};

// A picture painted into a control: top-down RGB, 3 bytes a pixel.
struct WinportGuiPicture {
  int x, y, width, height;  // in the control
  const uint8_t* rgb;       // null: nothing painted
};

struct WinportGuiControl {
  int kind;  // DIALOG_CONTROL_*
  int id;
  int x, y, width, height;  // in the dialog's client area
  const char* text;
  int visible;
  WinportGuiPicture picture;
};

struct WinportGuiDialog {
  const char* title;
  int x, y, width, height;  // client area on the desktop
  const WinportGuiControl* controls;
  int controlCount;
  int closeAnswer;  // the button id that closing the window means; -1: refused
};

struct WinportGuiBackend {
  int version;  // WINPORT_GUI_VERSION
  // The size of the screen the windows appear on.
  void (*desktopSize)(int* width, int* height);
  int (*messageBox)(const WinportGuiBox* box);
  // Dialogs: opened, then shown as they are now (as often as they change;
  // the call returns once the window is on the screen), waited on for a
  // button (its id), and closed.
  void* (*openDialog)(const WinportGuiDialog* dialog);
  void (*showDialog)(void* window, const WinportGuiDialog* dialog);
  int (*waitForButton)(void* window);
  void (*closeDialog)(void* window);
};

// Exported by the backend library: the table when the display can be
// opened, else null (with the reason in `why`, `whySize` bytes).
using WinportGuiEntry = const WinportGuiBackend* (*)(char* why, int whySize);
}
