#include "trace.h"

#include <cstdlib>

#include "winport/file.h"

namespace standins {

void appendTraceLine(const std::string& path, const std::string& line) {
  if (path.empty()) return;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) return;
  LONG high = 0;
  if (SetFilePointer(file, 0, &high, FILE_END) != INVALID_SET_FILE_POINTER ||
      GetLastError() == ERROR_SUCCESS) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  CloseHandle(file);
}

std::string environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace standins
