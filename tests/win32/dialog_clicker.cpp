// dlgclick: answers the dialogs and message boxes of the program under test
// as a user would, for the tests that run Windows programs on a virtual
// display. Every wait ends after its timeout.
//
//   dlgclick find CAPTION [TIMEOUT_MS]
//       waits for a visible dialog or message box titled CAPTION and prints
//       its place on the screen ("rect: LEFT TOP WIDTH HEIGHT"), the size of
//       its client area ("client: WIDTH HEIGHT") and its visible texts ("text:
//       ..." and "button: ..." lines, each button followed by "place: ID LEFT
//       TOP WIDTH HEIGHT" in the client area).
//   dlgclick press CAPTION BUTTON [TIMEOUT_MS]
//       the same, then presses the visible, enabled button BUTTON (its label
//       without '&', in any case, or its id in decimal) and waits for the
//       window to go.
//   dlgclick close CAPTION [TIMEOUT_MS]
//       waits for the window and asks it to close, as its close box does;
//       then waits a second for it to go.
//   dlgclick (no arguments, started as setup.exe)
//       appends the line "started" to setup.exe.log beside itself: the setup
//       program stand-in, which the shell starts with no arguments.
// Exit status: 0 done; 1 no such window in time; 2 bad arguments; 3 the
// window stayed open; 4 no such button.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kDefaultTimeout = 15000;
constexpr DWORD kPoll = 50;
constexpr DWORD kCloseWait = 1000;
constexpr int kNotFound = 1, kUsage = 2, kStillOpen = 3, kNoButton = 4;

std::string TextOf(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A label as compared: without its '&' markers, in lower case.
std::string Plain(const std::string& label) {
  std::string plain;
  for (char c : label)
    if (c != '&') plain += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return plain;
}

HWND WaitForDialog(const char* caption, DWORD timeout) {
  for (DWORD waited = 0;; waited += kPoll) {
    HWND window = FindWindowA("#32770", caption);
    if (window != nullptr && IsWindowVisible(window)) return window;
    if (waited >= timeout) return nullptr;
    Sleep(kPoll);
  }
}

bool WaitGone(HWND window, DWORD timeout) {
  for (DWORD waited = 0; IsWindow(window) && IsWindowVisible(window); waited += kPoll) {
    if (waited >= timeout) return false;
    Sleep(kPoll);
  }
  return true;
}

struct Search {
  HWND dialog = nullptr;
  std::string wanted;  // a plain label, or an id in decimal
  HWND found = nullptr;
};

// Where `control` lies in the client area of `dialog`.
void PrintPlace(HWND dialog, HWND control) {
  RECT place{};
  GetWindowRect(control, &place);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&place), 2);
  std::printf("place: %d %ld %ld %ld %ld\n", GetDlgCtrlID(control), place.left, place.top,
              place.right - place.left, place.bottom - place.top);
}

BOOL CALLBACK PrintAndFind(HWND child, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (!IsWindowVisible(child)) return TRUE;
  const std::string text = TextOf(child);
  const bool button = Plain(ClassOf(child)) == "button";
  if (!button && text.empty()) return TRUE;
  std::printf("%s: %s\n", button ? "button" : "text", text.c_str());
  if (button) PrintPlace(search->dialog, child);
  const std::string id = std::to_string(GetDlgCtrlID(child));
  if (button && IsWindowEnabled(child) && (Plain(text) == search->wanted || id == search->wanted))
    search->found = child;
  return TRUE;
}

// Waits for the dialog, prints it and looks for `button` (may be empty).
HWND Describe(const char* caption, const char* button, DWORD timeout, Search& search) {
  HWND dialog = WaitForDialog(caption, timeout);
  if (dialog == nullptr) {
    std::fprintf(stderr, "dlgclick: no window \"%s\" within %lu ms\n", caption, timeout);
    return nullptr;
  }
  search.dialog = dialog;
  search.wanted = Plain(button);
  RECT place{}, client{};
  GetWindowRect(dialog, &place);
  GetClientRect(dialog, &client);
  std::printf("title: %s\nrect: %ld %ld %ld %ld\nclient: %ld %ld\n", TextOf(dialog).c_str(),
              place.left, place.top, place.right - place.left, place.bottom - place.top,
              client.right, client.bottom);
  EnumChildWindows(dialog, PrintAndFind, reinterpret_cast<LPARAM>(&search));
  std::fflush(stdout);
  return dialog;
}

int Find(const char* caption, DWORD timeout) {
  Search search;
  return Describe(caption, "", timeout, search) != nullptr ? 0 : kNotFound;
}

int Press(const char* caption, const char* button, DWORD timeout) {
  Search search;
  HWND dialog = Describe(caption, button, timeout, search);
  if (dialog == nullptr) return kNotFound;
  if (search.found == nullptr) {
    std::fprintf(stderr, "dlgclick: \"%s\" has no button \"%s\"\n", caption, button);
    return kNoButton;
  }
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(search.found, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, timeout, &ignored);
  return WaitGone(dialog, timeout) ? 0 : kStillOpen;
}

int Close(const char* caption, DWORD timeout) {
  HWND dialog = WaitForDialog(caption, timeout);
  if (dialog == nullptr) return kNotFound;
  PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  return WaitGone(dialog, kCloseWait) ? 0 : kStillOpen;
}

// The setup stand-in: notes its start beside itself.
int NoteStart() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH - 5);
  std::string log = std::string(path, length) + ".log";
  FILE* out = std::fopen(log.c_str(), "a");
  if (out == nullptr) return kUsage;
  std::fputs("started\n", out);
  std::fclose(out);
  return 0;
}

DWORD TimeoutArgument(int argc, char** argv, int at) {
  return argc > at ? static_cast<DWORD>(std::strtoul(argv[at], nullptr, 10)) : kDefaultTimeout;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "find" && argc >= 3) return Find(argv[2], TimeoutArgument(argc, argv, 3));
  if (command == "press" && argc >= 4) return Press(argv[2], argv[3], TimeoutArgument(argc, argv, 4));
  if (command == "close" && argc >= 3) return Close(argv[2], TimeoutArgument(argc, argv, 3));
  if (argc == 1) return NoteStart();
  std::fputs("usage: dlgclick find CAPTION [TIMEOUT_MS] | press CAPTION BUTTON [TIMEOUT_MS] | close CAPTION [TIMEOUT_MS]\n",
             stderr);
  return kUsage;
}
