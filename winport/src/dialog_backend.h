// The backends behind MessageBoxA and the dialogs: what a box is, which
// backend shows it, and the services every backend shares (the log of boxes
// shown, stopping when nobody can answer).
#pragma once

#include <string>
#include <vector>

#include "gui_backend.h"
#include "winport/dialog.h"

namespace winport::dialogs {

struct Button {
  std::string name;   // upper case, as a script names it
  std::string label;  // as the user sees it
  int id;
};

struct MessageBoxRequest {
  const char* kind = "messagebox";  // or "dialog"
  std::string caption;
  std::string text;
  const char* icon;  // none, error, question, warning, information
  std::vector<Button> buttons;  // never empty
};

MessageBoxRequest describeMessageBox(const char* text, const char* caption, UINT type);

// Where the next box or dialog appears: WINPORT_DIALOG_BACKEND when set
// (script, terminal, or fltk, which falls back to the terminal when no window
// can be opened), else the script when one is given, else a window when a
// display is present, else the terminal.
enum class Backend { Script, Terminal, Window };
Backend chooseBackend();

// The windowed backend, loaded on first use; null when there is no display
// or it cannot be loaded (the reason is printed once).
const WinportGuiBackend* windowBackend();

// The index of the button that closing a box's window means (Cancel, or
// the only button); -1 when closing it is refused.
int closeAnswerOf(const MessageBoxRequest& request);

// Asks through a text backend (script or terminal) or, for a message box, a
// window; logs the box and returns the id of the button pressed (never
// returns when nobody can answer).
int askUser(const MessageBoxRequest& request);

// A picture copied into a window: where and how large, top-down RGB pixels.
struct Picture {
  long x = 0, y = 0, width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Keeps `picture` on `window` (painted into a dialog, it goes to the picture
// control under its top-left corner); false when there is no such window.
bool notePicture(HWND window, Picture picture);

// The index in request.buttons of the answer, each backend its own way; it
// calls stopUnanswered when it has no answer.
int askTerminal(const MessageBoxRequest& request);
int askScript(const MessageBoxRequest& request);
int askWindow(const WinportGuiBackend& gui, const MessageBoxRequest& request);

// Prints a dialog that is working by itself, without asking anything.
void showTerminal(const MessageBoxRequest& request);

// Appends the box and its answer (nullptr: none) to WINPORT_DIALOG_LOG when set.
void logShown(const MessageBoxRequest& request, const char* answer);

// Logs the box without an answer, prints it with `reason` on stderr and ends
// the program with WINPORT_UNANSWERED_EXIT_STATUS.
[[noreturn]] void stopUnanswered(const MessageBoxRequest& request, const std::string& reason);

// The button whose name or label matches `answer` (case ignored; a single
// letter matches the first button starting with it); -1 when none does.
int findButton(const MessageBoxRequest& request, const std::string& answer);

}  // namespace winport::dialogs
