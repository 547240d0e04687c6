// Message boxes on the terminal until a window backend exists: the caption
// and text go to stderr; a box with a Cancel button asks on a terminal and
// answers Cancel when nobody can be asked.
#include "winport/dialog.h"

#include <unistd.h>

#include <cstdio>

namespace {

constexpr UINT kButtonMask = 0xF;
constexpr UINT kYesNoCancel = 0x3;
constexpr UINT kRetryCancel = 0x5;

bool hasCancelButton(UINT type) {
  UINT buttons = type & kButtonMask;
  return buttons == MB_OKCANCEL || buttons == kYesNoCancel || buttons == kRetryCancel;
}

// Reads one answer line from the terminal: OK when it starts with o/O.
int askOnTerminal() {
  std::fputs("[O]K or [C]ancel? ", stderr);
  std::fflush(stderr);
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return IDCANCEL;
  switch (line[0]) {
    case 'o':
    case 'O':
      return IDOK;
    default:
      return IDCANCEL;
  }
}

}  // namespace

int MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT type) {
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error",
               text != nullptr ? text : "");
  std::fflush(stderr);
  if (!hasCancelButton(type)) return IDOK;
  // Only OK/Cancel can be asked for now; the other boxes with Cancel answer it.
  bool canAsk = (type & kButtonMask) == MB_OKCANCEL && isatty(STDIN_FILENO);
  return canAsk ? askOnTerminal() : IDCANCEL;
}
