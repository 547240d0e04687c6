// Modal dialogs from plain templates: the window table, the message queue of
// each running dialog and the modal loop. The user's button presses come
// through the same backends as the message boxes; in a window, the dialog is
// shown as the table holds it before every message.
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "dialog_backend.h"
#include "internal.h"

namespace winport::dialogs {

namespace {

constexpr HWND kDesktop = 0x10;
constexpr LONG kDesktopWidth = 1024;
constexpr LONG kDesktopHeight = 768;
constexpr size_t kMaxPostedMessages = 4096;

struct Window {
  HWND parent = 0;  // 0: a dialog
  int id = 0;
  WORD kind = 0;
  std::string text;
  RECT rect{};  // a dialog's on the desktop, a control's in its dialog's client area
  bool visible = true;
  Picture picture;  // what was painted into it (width 0: nothing)
};

struct Message {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

struct DialogState {
  std::deque<Message> posted;
  bool ended = false;
  INT_PTR result = 0;
};

struct WindowTable {
  std::mutex lock;
  std::map<HWND, Window> windows;  // in creation order: handles only grow
  std::map<HWND, DialogState> dialogs;
  HWND next = 0x10000;
};

WindowTable& table() {
  static WindowTable* instance = new WindowTable;  // outlives every module's detach
  return *instance;
}

RECT rectOf(LONG x, LONG y, LONG width, LONG height) { return RECT{x, y, x + width, y + height}; }

HWND createDialog(const DialogTemplate& dialog) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  HWND handle = windows.next++;
  Window& window = windows.windows[handle];
  window.text = dialog.title != nullptr ? dialog.title : "";
  window.rect = rectOf(dialog.x, dialog.y, dialog.width, dialog.height);
  for (WORD i = 0; dialog.items != nullptr && i < dialog.itemCount; ++i) {
    const DialogItemTemplate& item = dialog.items[i];
    Window& control = windows.windows[windows.next++];
    control.parent = handle;
    control.id = item.id;
    control.kind = item.kind;
    control.text = item.text != nullptr ? item.text : "";
    control.rect = rectOf(item.x, item.y, item.width, item.height);
  }
  windows.dialogs[handle];
  return handle;
}

void destroyDialog(HWND dialog) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  for (auto it = windows.windows.begin(); it != windows.windows.end();) {
    if (it->first == dialog || it->second.parent == dialog) {
      it = windows.windows.erase(it);
    } else {
      ++it;
    }
  }
  windows.dialogs.erase(dialog);
}

// How the text backends show a picture: "[picture W x H]"; "" for none.
std::string pictureLabel(const Picture& picture) {
  if (picture.width == 0) return "";
  return "[picture " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
         "]";
}

std::string buttonName(int id) {
  if (id == IDOK) return "OK";
  if (id == IDCANCEL) return "CANCEL";
  return std::to_string(id);
}

// The dialog as the user sees it now: its title, visible texts and buttons.
MessageBoxRequest describeDialog(HWND dialog) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  MessageBoxRequest request;
  request.kind = "dialog";
  request.icon = "none";
  request.caption = windows.windows[dialog].text;
  request.text = pictureLabel(windows.windows[dialog].picture);
  for (const auto& [handle, window] : windows.windows) {
    if (window.parent != dialog || !window.visible) continue;
    if (window.kind == DIALOG_CONTROL_TEXT || window.picture.width != 0) {
      if (!request.text.empty()) request.text += '\n';
      request.text += window.kind == DIALOG_CONTROL_TEXT ? window.text : pictureLabel(window.picture);
    } else if (window.kind == DIALOG_CONTROL_BUTTON) {
      std::string name = buttonName(window.id);
      request.buttons.push_back({name, window.text.empty() ? name : window.text, window.id});
    }
  }
  return request;
}

// What happens next in a running dialog: a posted message, or the end.
enum class Next { Message, Ended, Idle };

Next nextMessage(HWND dialog, Message& message) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  DialogState& state = windows.dialogs[dialog];
  if (state.ended) return Next::Ended;
  if (state.posted.empty()) return Next::Idle;
  message = state.posted.front();
  state.posted.pop_front();
  return Next::Message;
}

HWND controlOf(HWND dialog, int id) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  for (const auto& [handle, window] : windows.windows)
    if (window.parent == dialog && window.id == id) return handle;
  return 0;
}

// The dialog as a window shows it; owns every text and pixel it points to.
struct DialogSnapshot {
  std::string title;
  std::deque<Window> controls;  // copies, so that the pointers below stay valid
  std::vector<WinportGuiControl> items;
  WinportGuiDialog view{};
};

void takeSnapshot(HWND dialog, DialogSnapshot& snapshot) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  const Window& own = windows.windows[dialog];
  snapshot.title = own.text;
  int closeAnswer = -1;
  for (const auto& [handle, window] : windows.windows) {
    if (window.parent != dialog) continue;
    const Window& copy = snapshot.controls.emplace_back(window);
    if (copy.kind == DIALOG_CONTROL_BUTTON && copy.visible && copy.id == IDCANCEL)
      closeAnswer = IDCANCEL;
    const Picture& picture = copy.picture;
    snapshot.items.push_back(WinportGuiControl{
        copy.kind, copy.id, static_cast<int>(copy.rect.left), static_cast<int>(copy.rect.top),
        static_cast<int>(copy.rect.right - copy.rect.left),
        static_cast<int>(copy.rect.bottom - copy.rect.top), copy.text.c_str(),
        copy.visible ? 1 : 0,
        WinportGuiPicture{static_cast<int>(picture.x), static_cast<int>(picture.y),
                          static_cast<int>(picture.width), static_cast<int>(picture.height),
                          picture.width != 0 ? picture.rgb.data() : nullptr}});
  }
  snapshot.view = WinportGuiDialog{snapshot.title.c_str(), static_cast<int>(own.rect.left),
                                   static_cast<int>(own.rect.top),
                                   static_cast<int>(own.rect.right - own.rect.left),
                                   static_cast<int>(own.rect.bottom - own.rect.top),
                                   snapshot.items.data(), static_cast<int>(snapshot.items.size()),
                                   closeAnswer};
}

// Where a running dialog appears: a window; the terminal, which prints it
// when it waits for the user and whenever it changes while working by itself;
// or the script, which shows nothing.
class DialogView {
 public:
  explicit DialogView(HWND dialog) : dialog_(dialog) {
    backend_ = chooseBackend();
    if (backend_ != Backend::Window) return;
    gui_ = windowBackend();
    DialogSnapshot snapshot;
    takeSnapshot(dialog_, snapshot);
    window_ = gui_->openDialog(&snapshot.view);
    if (window_ == nullptr) gui_ = nullptr;
  }
  ~DialogView() {
    if (window_ != nullptr) gui_->closeDialog(window_);
  }
  DialogView(const DialogView&) = delete;
  DialogView& operator=(const DialogView&) = delete;

  // Puts the dialog on the screen as it is now, before it handles a message
  // it posted itself (`working`) or waits for the user.
  void show(bool working) {
    if (backend_ == Backend::Terminal && working) {
      MessageBoxRequest request = describeDialog(dialog_);
      std::string shown = request.caption + '\n' + request.text;
      if (shown != lastPrinted_) showTerminal(request);
      lastPrinted_ = shown;
    }
    if (window_ == nullptr) return;
    DialogSnapshot snapshot;
    takeSnapshot(dialog_, snapshot);
    gui_->showDialog(window_, &snapshot.view);
  }

  // The id of the button the user presses; the dialog is logged with it.
  int ask(const MessageBoxRequest& request) {
    if (window_ == nullptr) return askUser(request);
    show(false);
    int id = gui_->waitForButton(window_);
    for (const Button& button : request.buttons) {
      if (button.id != id) continue;
      logShown(request, button.name.c_str());
      return id;
    }
    stopUnanswered(request, "the window was lost");
  }

 private:
  HWND dialog_;
  Backend backend_;
  std::string lastPrinted_;
  const WinportGuiBackend* gui_ = nullptr;
  void* window_ = nullptr;
};

INT_PTR runModal(const DialogTemplate& dialogTemplate, DLGPROC procedure, LPARAM parameter) {
  HWND dialog = createDialog(dialogTemplate);
  INT_PTR result = 0;
  {
    DialogView view(dialog);
    procedure(dialog, WM_INITDIALOG, 0, parameter);
    procedure(dialog, WM_PAINT, 0, 0);
    bool asked = false;
    for (;;) {
      Message message{};
      Next next = nextMessage(dialog, message);
      if (next == Next::Ended) break;
      if (next == Next::Message) view.show(true);
      if (next == Next::Idle) {
        MessageBoxRequest request = describeDialog(dialog);
        if (request.buttons.empty()) stopUnanswered(request, "the dialog shows no button");
        int id = view.ask(request);
        asked = true;
        message = {WM_COMMAND, static_cast<WPARAM>(id),
                   static_cast<LPARAM>(controlOf(dialog, id))};
      }
      procedure(dialog, message.message, message.wParam, message.lParam);
    }
    // A dialog that ran by itself is logged too, as it looked when it ended.
    if (!asked) logShown(describeDialog(dialog), "self");
  }  // the window closes as the dialog ends, before it is destroyed
  procedure(dialog, WM_DESTROY, 0, 0);
  {
    WindowTable& windows = table();
    std::lock_guard<std::mutex> guard(windows.lock);
    result = windows.dialogs[dialog].result;
  }
  destroyDialog(dialog);
  return result;
}

// Runs `change` on the window under the table's lock; false when there is none.
template <typename Change>
BOOL withWindow(HWND handle, Change&& change) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  auto found = windows.windows.find(handle);
  if (found == windows.windows.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return change(windows, found->second);
}

}  // namespace

bool notePicture(HWND window, Picture picture) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  auto found = windows.windows.find(window);
  if (found == windows.windows.end()) return false;
  // Painted into a dialog: the picture control under the top-left corner takes it.
  Window* target = &found->second;
  for (auto& [handle, control] : windows.windows) {
    if (control.parent == window && control.kind == DIALOG_CONTROL_PICTURE &&
        picture.x >= control.rect.left && picture.x < control.rect.right &&
        picture.y >= control.rect.top && picture.y < control.rect.bottom) {
      picture.x -= control.rect.left;
      picture.y -= control.rect.top;
      target = &control;
      break;
    }
  }
  target->picture = std::move(picture);
  return true;
}

}  // namespace winport::dialogs

using namespace winport::dialogs;

INT_PTR DialogBoxIndirectParamA(HINSTANCE /*instance*/, const DialogTemplate* dialogTemplate,
                                HWND /*owner*/, DLGPROC procedure, LPARAM parameter) {
  if (dialogTemplate == nullptr || procedure == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  return winport::guarded<INT_PTR>(
      -1, [&] { return runModal(*dialogTemplate, procedure, parameter); });
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  WindowTable& windows = table();
  std::lock_guard<std::mutex> guard(windows.lock);
  auto found = windows.dialogs.find(dialog);
  if (found == windows.dialogs.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  found->second.ended = true;
  found->second.result = result;
  return TRUE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return winport::guarded<BOOL>(FALSE, [&] {
    WindowTable& windows = table();
    std::lock_guard<std::mutex> guard(windows.lock);
    auto found = windows.dialogs.find(window);
    if (found == windows.dialogs.end() || found->second.posted.size() >= kMaxPostedMessages) {
      SetLastError(found == windows.dialogs.end() ? ERROR_INVALID_HANDLE : ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    found->second.posted.push_back({message, wParam, lParam});
    return TRUE;
  });
}

HWND GetDlgItem(HWND dialog, int id) { return controlOf(dialog, id); }

BOOL SetWindowTextA(HWND window, const char* text) {
  return winport::guarded<BOOL>(FALSE, [&] {
    return withWindow(window, [&](WindowTable&, Window& found) {
      found.text = text != nullptr ? text : "";
      return TRUE;
    });
  });
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
  return SetWindowTextA(controlOf(dialog, id), text);
}

BOOL ShowWindow(HWND window, int state) {
  BOOL wasVisible = FALSE;
  withWindow(window, [&](WindowTable&, Window& found) {
    wasVisible = found.visible ? TRUE : FALSE;
    found.visible = state != SW_HIDE;
    return TRUE;
  });
  return wasVisible;
}

BOOL UpdateWindow(HWND window) {
  // A dialog is already drawn before each message it handles.
  return withWindow(window, [](WindowTable&, Window&) { return TRUE; });
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL /*repaint*/) {
  return withWindow(window, [&](WindowTable&, Window& found) {
    found.rect = rectOf(x, y, width, height);
    return TRUE;
  });
}

BOOL GetClientRect(HWND window, RECT* rect) {
  if (rect == nullptr) return FALSE;
  if (window == kDesktop) {
    int width = kDesktopWidth, height = kDesktopHeight;
    if (chooseBackend() == Backend::Window) windowBackend()->desktopSize(&width, &height);
    *rect = rectOf(0, 0, width, height);
    return TRUE;
  }
  return withWindow(window, [&](WindowTable&, Window& found) {
    *rect = rectOf(0, 0, found.rect.right - found.rect.left, found.rect.bottom - found.rect.top);
    return TRUE;
  });
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  if (rect == nullptr) return FALSE;
  if (window == kDesktop) return GetClientRect(window, rect);
  return withWindow(window, [&](WindowTable& windows, Window& found) {
    *rect = found.rect;
    auto parent = windows.windows.find(found.parent);
    if (found.parent != 0 && parent != windows.windows.end()) {
      rect->left += parent->second.rect.left;
      rect->right += parent->second.rect.left;
      rect->top += parent->second.rect.top;
      rect->bottom += parent->second.rect.top;
    }
    return TRUE;
  });
}

HWND GetDesktopWindow() { return kDesktop; }
