// Dialog templates on Windows. A module keeps its dialogs in the same table
// records as on Linux (positions and sizes in pixels); the build turns each
// one into a DIALOG statement of the module's resource script (module.h), so
// the system's own dialog manager runs them. Message boxes and the dialog
// calls themselves are the system's.
#pragma once

#include "winport/types.h"

inline constexpr WORD DIALOG_CONTROL_TEXT = 1;     // static text
inline constexpr WORD DIALOG_CONTROL_PICTURE = 2;  // an area the procedure paints
inline constexpr WORD DIALOG_CONTROL_BUTTON = 3;   // push button

struct DialogItemTemplate {
  WORD kind;  // DIALOG_CONTROL_*
  WORD id;
  LONG x, y, width, height;  // in the dialog's client area
  const char* text;          // may be null
};

struct DialogTemplate {
  const char* title;  // may be null
  LONG x, y, width, height;  // client area size; x, y on the desktop
  const DialogItemTemplate* items;
  WORD itemCount;
};
