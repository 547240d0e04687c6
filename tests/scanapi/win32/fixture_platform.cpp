// The installations on Windows: the scanner keys go into the system's
// registry (and are removed again), the folders lie in the system's temporary
// folder. Each installation copies the library file anew, and the system
// gives each file a shared section of its own.
#include "fixture_platform.h"

#include <atomic>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "winport/windows.h"

namespace scantest::platform {

namespace {

std::vector<std::string> g_createdKeys;  // under HKEY_LOCAL_MACHINE, deepest last

// A path of the build (a Linux path: Wine shows the root as drive Z:).
std::string BuildPath(const char* folder, const std::string& fileName) {
  std::string path = std::string("Z:") + folder + "\\" + fileName;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

void RemoveCreatedKeys() {
  for (auto it = g_createdKeys.rbegin(); it != g_createdKeys.rend(); ++it)
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, it->c_str());
  g_createdKeys.clear();
}

// The text of a quoted .reg string starting at `text[at]` (after the quote).
std::string Unquote(const std::string& text, size_t& at) {
  std::string out;
  for (; at < text.size() && text[at] != '"'; ++at) {
    if (text[at] == '\\' && at + 1 < text.size()) ++at;
    out += text[at];
  }
  ++at;
  return out;
}

// One `"name"=...` line: a string or a dword value.
void SetValue(HKEY key, const std::string& line) {
  size_t at = 1;
  const std::string name = Unquote(line, at);
  if (line.compare(at, 1, "=") != 0) throw std::runtime_error("bad value line: " + line);
  ++at;
  if (line.compare(at, 6, "dword:") == 0) {
    const DWORD value = std::stoul(line.substr(at + 6), nullptr, 16);
    RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  } else {
    ++at;
    const std::string value = Unquote(line, at);
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
}

}  // namespace

// Process ids come round again soon (under Wine at every run): a folder a
// killed run left behind is passed over.
std::string MakeFolder() {
  static std::atomic<int> counter{0};
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof(temp), temp);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string folder = std::string(temp) + "ferrox-test-" +
                               std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    if (CreateDirectoryA(folder.c_str(), nullptr)) return folder + "\\";
  }
  throw std::runtime_error("no test folder in " + std::string(temp));
}

void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

std::string BinPath(const std::string& fileName) { return BuildPath(SUITE_BIN_DIR, fileName); }
std::string TestModulePath(const std::string& fileName) {
  return BuildPath(SUITE_TEST_MODULES_DIR, fileName);
}

std::string ShortFolder(const std::string& folder) {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(folder.c_str(), buffer, sizeof(buffer));
  if (length == 0 || length >= sizeof(buffer)) throw std::runtime_error("no short path of " + folder);
  std::string path = buffer;
  return path.back() == '\\' ? path : path + "\\";
}

// GetTempPathA takes TMP first; its value before the first change comes back.
void UseTemporaryFolder(const std::string& folder) {
  static const std::string usual = [] {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("TMP", value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value) : std::string();
  }();
  const std::string& chosen = folder.empty() ? usual : folder;
  SetEnvironmentVariableA("TMP", chosen.empty() ? nullptr : chosen.c_str());
}

// A file opened for nobody else to share refuses every other opening.
bool HeldOpen(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, 0);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

const bool kOpenSpoolKeepsItsName = true;

void BeginInstallation(const std::string&) {}

void EndInstallation() { RemoveCreatedKeys(); }

void ApplyRegistry(const std::string& text) {
  RemoveCreatedKeys();
  constexpr char kRoot[] = "[HKEY_LOCAL_MACHINE\\";
  std::istringstream lines(text);
  HKEY key = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(kRoot, 0) == 0) {
      if (key != 0) RegCloseKey(key);
      const std::string path = line.substr(sizeof(kRoot) - 1, line.size() - sizeof(kRoot));
      if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + path);
      g_createdKeys.push_back(path);
    } else if (!line.empty() && line[0] == '"' && key != 0) {
      SetValue(key, line);
    }
  }
  if (key != 0) RegCloseKey(key);
}

}  // namespace scantest::platform
