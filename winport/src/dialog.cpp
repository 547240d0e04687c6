// MessageBoxA: describes the box, picks the backend for it and keeps the log.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dialog_backend.h"
#include "internal.h"

namespace winport::dialogs {

namespace {

constexpr UINT kButtonMask = 0xF;
constexpr UINT kIconMask = 0xF0;

const Button kOk{"OK", "OK", IDOK};
const Button kCancel{"CANCEL", "Cancel", IDCANCEL};
const Button kAbort{"ABORT", "Abort", IDABORT};
const Button kRetry{"RETRY", "Retry", IDRETRY};
const Button kIgnore{"IGNORE", "Ignore", IDIGNORE};
const Button kYes{"YES", "Yes", IDYES};
const Button kNo{"NO", "No", IDNO};

std::vector<Button> buttonsOf(UINT type) {
  switch (type & kButtonMask) {
    case MB_OKCANCEL: return {kOk, kCancel};
    case MB_ABORTRETRYIGNORE: return {kAbort, kRetry, kIgnore};
    case MB_YESNOCANCEL: return {kYes, kNo, kCancel};
    case MB_YESNO: return {kYes, kNo};
    case MB_RETRYCANCEL: return {kRetry, kCancel};
    default: return {kOk};
  }
}

const char* iconOf(UINT type) {
  switch (type & kIconMask) {
    case MB_ICONERROR: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "none";
  }
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  size_t length = b.size();
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

MessageBoxRequest describeMessageBox(const char* text, const char* caption, UINT type) {
  MessageBoxRequest request;
  request.caption = caption != nullptr ? caption : "Error";
  request.text = text != nullptr ? text : "";
  request.icon = iconOf(type);
  request.buttons = buttonsOf(type);
  return request;
}

int findButton(const MessageBoxRequest& request, const std::string& answer) {
  for (size_t i = 0; i < request.buttons.size(); ++i) {
    if (sameIgnoringCase(answer, request.buttons[i].name) ||
        sameIgnoringCase(answer, request.buttons[i].label))
      return static_cast<int>(i);
  }
  if (answer.size() != 1) return -1;
  for (size_t i = 0; i < request.buttons.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(answer[0])) == request.buttons[i].name[0])
      return static_cast<int>(i);
  }
  return -1;
}

void logShown(const MessageBoxRequest& request, const char* answer) {
  const char* path = std::getenv("WINPORT_DIALOG_LOG");
  if (path == nullptr || *path == '\0') return;
  std::string line = std::string(request.kind) + " caption=\"" + escaped(request.caption) +
                     "\" text=\"" +
                     escaped(request.text) + "\" icon=" + request.icon + " buttons=";
  for (size_t i = 0; i < request.buttons.size(); ++i) {
    if (i != 0) line += ',';
    line += request.buttons[i].name;
  }
  line += " answer=";
  line += answer != nullptr ? answer : "none";
  line += '\n';
  // One write per line with O_APPEND, so lines from several processes never mix.
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  ssize_t written = write(fd, line.data(), line.size());
  (void)written;  // the log is a diagnostic: a full disk must not change the answer
  close(fd);
}

void stopUnanswered(const MessageBoxRequest& request, const std::string& reason) {
  logShown(request, nullptr);
  std::fprintf(stderr,
               "A %s waits for an answer that nobody can give (%s):\n"
               "  caption: %s\n  text: %s\nThe program stops.\n",
               std::strcmp(request.kind, "dialog") == 0 ? "dialog" : "message box", reason.c_str(),
               request.caption.c_str(), request.text.c_str());
  std::fflush(nullptr);
  // _exit: the box may be shown from deep inside a module; running the static
  // destructors and detach routines under that call would be unsafe.
  _exit(WINPORT_UNANSWERED_EXIT_STATUS);
}

int askUser(const MessageBoxRequest& request) {
  int chosen = 0;
  switch (chooseBackend()) {
    case Backend::Script: chosen = askScript(request); break;
    case Backend::Window: chosen = askWindow(*windowBackend(), request); break;
    case Backend::Terminal: chosen = askTerminal(request); break;
  }
  const Button& button = request.buttons[static_cast<size_t>(chosen)];
  logShown(request, button.name.c_str());
  return button.id;
}

}  // namespace winport::dialogs

int MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT type) {
  using namespace winport::dialogs;
  return winport::guarded(0, [&] { return askUser(describeMessageBox(text, caption, type)); });
}
