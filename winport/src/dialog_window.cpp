// Choosing a backend for each box, and loading the windowed one: the library
// beside libwinport.so, loaded on first use and only with a display present.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "dialog_backend.h"

namespace winport::dialogs {

namespace {

constexpr char kNoDisplay[] = "no display is set (DISPLAY)";

bool hasDisplay() {
  const char* display = std::getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

// The folder this library was loaded from, with its trailing slash.
std::string ownFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&windowBackend), &info) == 0 || info.dli_fname == nullptr)
    return "";
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

const WinportGuiBackend* loadBackend(std::string& why) {
  std::string path = ownFolder() + WINPORT_GUI_LIBRARY;
  // Kept loaded for the life of the process: toolkits keep state of their own.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = dlerror();
    why = error != nullptr ? error : "cannot load " + path;
    return nullptr;
  }
  auto entry = reinterpret_cast<WinportGuiEntry>(dlsym(library, WINPORT_GUI_ENTRY));
  if (entry == nullptr) {
    why = path + " has no " + WINPORT_GUI_ENTRY;
    return nullptr;
  }
  char reason[256] = "";
  const WinportGuiBackend* backend = entry(reason, sizeof reason);
  if (backend == nullptr) {
    why = reason;
  } else if (backend->version != WINPORT_GUI_VERSION) {
    why = path + " is of another version";
    backend = nullptr;
  }
  return backend;
}

struct WindowBackendState {
  std::mutex lock;
  bool tried = false;
  const WinportGuiBackend* backend = nullptr;
};

WindowBackendState& state() {
  static WindowBackendState* instance = new WindowBackendState;  // outlives every detach
  return *instance;
}

}  // namespace

const WinportGuiBackend* windowBackend() {
  WindowBackendState& window = state();
  std::lock_guard<std::mutex> guard(window.lock);
  if (!window.tried) {
    window.tried = true;
    std::string why = kNoDisplay;
    if (hasDisplay()) window.backend = loadBackend(why);
    if (window.backend == nullptr && (hasDisplay() || std::getenv("WINPORT_DIALOG_BACKEND")))
      std::fprintf(stderr, "No window can be opened (%s); boxes are shown in the terminal.\n",
                   why.c_str());
  }
  return window.backend;
}

Backend chooseBackend() {
  const char* forced = std::getenv("WINPORT_DIALOG_BACKEND");
  if (forced != nullptr && *forced != '\0') {
    if (std::strcmp(forced, "script") == 0) return Backend::Script;
    if (std::strcmp(forced, "fltk") == 0 && windowBackend() != nullptr) return Backend::Window;
    return Backend::Terminal;
  }
  if (std::getenv("WINPORT_DIALOG_SCRIPT") != nullptr ||
      std::getenv("WINPORT_DIALOG_SCRIPT_FILE") != nullptr)
    return Backend::Script;
  if (hasDisplay() && windowBackend() != nullptr) return Backend::Window;
  return Backend::Terminal;
}

int closeAnswerOf(const MessageBoxRequest& request) {
  for (size_t i = 0; i < request.buttons.size(); ++i)
    if (request.buttons[i].id == IDCANCEL) return static_cast<int>(i);
  return request.buttons.size() == 1 ? 0 : -1;
}

int askWindow(const WinportGuiBackend& gui, const MessageBoxRequest& request) {
  std::vector<WinportGuiButton> buttons;
  for (const Button& button : request.buttons) buttons.push_back({button.label.c_str(), button.id});
  WinportGuiBox box{request.caption.c_str(), request.text.c_str(), request.icon, buttons.data(),
                    static_cast<int>(buttons.size()), closeAnswerOf(request)};
  int chosen = gui.messageBox(&box);
  if (chosen < 0 || chosen >= static_cast<int>(buttons.size()))
    stopUnanswered(request, "the window was lost");
  return chosen;
}

}  // namespace winport::dialogs
