// The scripted backend: answers taken in turn from WINPORT_DIALOG_SCRIPT
// (separated by commas) or from the lines of WINPORT_DIALOG_SCRIPT_FILE.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "dialog_backend.h"

namespace winport::dialogs {

namespace {

constexpr size_t kMaxScriptBytes = 1 << 16;
constexpr const char* kTouch = " touch ";

struct ScriptEntry {
  std::string answer;
  std::string touchPath;  // empty: no file to create
};

struct ScriptState {
  std::mutex lock;
  std::string source;  // what the script was read from; a change starts it again
  std::vector<ScriptEntry> entries;
  size_t next = 0;
};

ScriptState& state() {
  static ScriptState* instance = new ScriptState;  // outlives every module's detach
  return *instance;
}

ScriptEntry parseEntry(const std::string& text) {
  ScriptEntry entry;
  size_t touch = text.find(kTouch);
  entry.answer = text.substr(0, touch);
  if (touch != std::string::npos) entry.touchPath = text.substr(touch + std::string(kTouch).size());
  size_t end = entry.answer.find_last_not_of(" \t\r");
  entry.answer.erase(end == std::string::npos ? 0 : end + 1);
  size_t start = entry.answer.find_first_not_of(" \t");
  entry.answer.erase(0, start == std::string::npos ? entry.answer.size() : start);
  return entry;
}

std::vector<ScriptEntry> splitEntries(const std::string& text, char separator, bool comments) {
  std::vector<ScriptEntry> entries;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    start = end + 1;
    size_t first = item.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    if (comments && item[first] == '#') continue;
    entries.push_back(parseEntry(item));
  }
  return entries;
}

std::string readScriptFile(const std::string& path) {
  std::string text;
  FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return text;
  char chunk[4096];
  size_t got = 0;
  while (text.size() < kMaxScriptBytes && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    text.append(chunk, got);
  std::fclose(file);
  return text;
}

// Reloads the script when its variable changed since the last box.
void refresh(ScriptState& script) {
  const char* inline_ = std::getenv("WINPORT_DIALOG_SCRIPT");
  const char* file = std::getenv("WINPORT_DIALOG_SCRIPT_FILE");
  std::string source = inline_ != nullptr ? std::string("inline:") + inline_
                       : file != nullptr  ? std::string("file:") + file
                                          : std::string();
  if (source == script.source) return;
  script.source = source;
  script.next = 0;
  if (inline_ != nullptr) {
    script.entries = splitEntries(inline_, ',', false);
  } else if (file != nullptr) {
    script.entries = splitEntries(readScriptFile(file), '\n', true);
  } else {
    script.entries.clear();
  }
}

void touch(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) close(fd);
}

}  // namespace

int askScript(const MessageBoxRequest& request) {
  ScriptEntry entry;
  {
    ScriptState& script = state();
    std::lock_guard<std::mutex> guard(script.lock);
    refresh(script);
    if (script.next >= script.entries.size()) {
      std::fprintf(stderr, "(dialog script: %zu answers given)\n", script.entries.size());
      stopUnanswered(request, "the dialog script has no answer left");
    }
    entry = script.entries[script.next++];
  }
  int chosen = findButton(request, entry.answer);
  if (chosen < 0) stopUnanswered(request, "the dialog script answers \"" + entry.answer + "\"");
  if (!entry.touchPath.empty()) touch(entry.touchPath);
  return chosen;
}

}  // namespace winport::dialogs
