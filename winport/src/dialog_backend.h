// The backends behind MessageBoxA: what a box is, and the services every
// backend shares (the log of boxes shown, stopping when nobody can answer).
#pragma once

#include <string>
#include <vector>

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

// Asks through the backend chosen for this box, logs it and returns the id
// of the button pressed (never returns when nobody can answer).
int askUser(const MessageBoxRequest& request);

// Notes that a picture of width x height was copied into `window` at (x, y)
// (the text backends show it as a line of the dialog); false when there is no
// such window.
bool notePicture(HWND window, long x, long y, long width, long height);

// The index in request.buttons of the answer, each backend its own way; it
// calls stopUnanswered when it has no answer.
int askTerminal(const MessageBoxRequest& request);
int askScript(const MessageBoxRequest& request);

// Appends the box and its answer (nullptr: none) to WINPORT_DIALOG_LOG when set.
void logShown(const MessageBoxRequest& request, const char* answer);

// Logs the box without an answer, prints it with `reason` on stderr and ends
// the program with WINPORT_UNANSWERED_EXIT_STATUS.
[[noreturn]] void stopUnanswered(const MessageBoxRequest& request, const std::string& reason);

// The button whose name or label matches `answer` (case ignored; a single
// letter matches the first button starting with it); -1 when none does.
int findButton(const MessageBoxRequest& request, const std::string& answer);

}  // namespace winport::dialogs
