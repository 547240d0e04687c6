// Message boxes and dialogs.
//
// Where a box appears is chosen at run time, once per box:
// - a window, when a display is present (DISPLAY): the windowed backend,
//   libwinport_fltk.so beside libwinport.so, loaded on first use. Closing a
//   box's window answers Cancel, or the only button; closing is refused
//   otherwise. When it cannot be loaded or the display cannot be opened, the
//   reason is printed once and the terminal is used;
// - the scripted backend, for tests, when WINPORT_DIALOG_SCRIPT (answers
//   separated by commas) or WINPORT_DIALOG_SCRIPT_FILE (one answer a line,
//   blank lines and lines starting with '#' skipped) is set. An answer is a
//   button name (OK, CANCEL, ABORT, RETRY, IGNORE, YES, NO; any case),
//   optionally followed by " touch PATH": the file PATH is created before the
//   box returns, so a test can change the world between two boxes;
//   (a script wins over a display);
// - the terminal otherwise: the box is printed on stderr with its buttons and
//   the answer is read from stdin (the first letter of a button, or an empty
//   line for the first button).
// WINPORT_DIALOG_BACKEND=script|terminal|fltk forces a backend.
//
// A box that nobody can answer never returns: when stdin is closed, or the
// script has no answer left (or names a button the box does not have), the box
// is printed with the reason on stderr and the program ends with status
// WINPORT_UNANSWERED_EXIT_STATUS. A program that shows boxes in a retry loop
// therefore never spins unattended.
//
// WINPORT_DIALOG_LOG names a file to which every box shown is appended, one
// line each, whatever the backend:
//   messagebox caption="..." text="..." icon=error buttons=OK,CANCEL answer=OK
// (in the quoted texts '\' '"' and the line breaks are escaped as \\ \" \n;
// icon is none, error, question, warning or information; answer=none when the
// box stopped the program).
#pragma once

#include "winport/types.h"

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// The exit status of a program stopped by a box that nobody can answer.
inline constexpr int WINPORT_UNANSWERED_EXIT_STATUS = 3;

// Shows a box and returns the id of the button pressed. The owner is ignored
// (every box is top-level); a button set other than the six above counts as MB_OK.
WINPORT_API int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// ---- Dialogs run modally from plain templates ----
//
// A dialog template is a resource of type RT_DIALOG (5) whose data is a
// DialogTemplate record; positions and sizes are in pixels. A modal run:
// WM_INITDIALOG (lParam: the caller's parameter), one WM_PAINT, then the
// posted messages in order; when none is waiting, the user presses one of the
// visible buttons (WM_COMMAND with the button's id in wParam, from the
// backend: a script answer is the button's id in decimal, its label, or OK /
// CANCEL for ids 1 and 2). After EndDialog the procedure gets WM_DESTROY and
// the run returns the EndDialog result. The log line of a dialog starts with
// "dialog", its text holds the visible static texts, one a line; a dialog
// that ended without asking the user is logged once as it ended, with
// answer=self. In a window, the dialog is on the screen (drawn) before each
// message is handled, so a dialog that works by posting itself commands shows
// while it works; closing its window presses its visible Cancel button, and is
// refused when there is none. The text backends show no pictures and have a
// 1024 x 768 desktop; a window's desktop is its screen.

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using INT_PTR = intptr_t;

inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_NORMAL = 1;
inline constexpr int SW_SHOW = 5;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

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

using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs `dialogTemplate` modally; -1 when it is null or has no procedure.
WINPORT_API INT_PTR DialogBoxIndirectParamA(HINSTANCE instance,
                                            const DialogTemplate* dialogTemplate, HWND owner,
                                            DLGPROC procedure, LPARAM parameter);
// Ends the running dialog after the current message; its run returns `result`.
WINPORT_API BOOL EndDialog(HWND dialog, INT_PTR result);
// Queues a message for a running dialog.
WINPORT_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
WINPORT_API HWND GetDlgItem(HWND dialog, int id);
WINPORT_API BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
WINPORT_API BOOL SetWindowTextA(HWND window, const char* text);
// SW_HIDE hides a window, any other state shows it; returns whether it was visible.
WINPORT_API BOOL ShowWindow(HWND window, int state);
// Paints what is waiting to be painted now. The backends draw a dialog before
// each message it handles, so this only checks the handle (FALSE: no window).
WINPORT_API BOOL UpdateWindow(HWND window);
// A control moves within its dialog's client area, a dialog on the desktop.
WINPORT_API BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
// The client area: (0, 0, width, height).
WINPORT_API BOOL GetClientRect(HWND window, RECT* rect);
// On the desktop (a control: its dialog's position plus its own).
WINPORT_API BOOL GetWindowRect(HWND window, RECT* rect);
WINPORT_API HWND GetDesktopWindow();
