// The launcher's steps: command line, installed driver, setup information,
// the medium prompt loop and the start of the setup program.
#include "launcher.h"

#include <cstdio>
#include <cstring>

namespace mendle {

namespace {

constexpr char kParameterMessage[] = "Please Check the Parameters!!!";
constexpr char kErrorCaption[] = "Error";
constexpr DWORD kPathSize = MAX_PATH;     // registry paths are shorter than this
constexpr DWORD kKeyNameSize = MAX_PATH;  // "Software\<token>[\Inf_Info]"
constexpr DWORD kPromptSize = 1024;

struct CommandTokens {
  char* product = nullptr;  // first token: the product key
  char* driver = nullptr;   // second token: the driver key
};

struct SetupInfo {
  char program[kPathSize] = {};
  char mediumFile[kPathSize] = {};  // empty: no medium check can succeed
  char caption[kPathSize] = {};
  char prompt[kPromptSize] = {};
};

// The next comma-separated token of `cursor`, cut in place; runs of commas
// count as one separator and leading commas are skipped. nullptr at the end.
char* nextToken(char*& cursor) {
  while (*cursor == ',') ++cursor;
  if (*cursor == '\0') return nullptr;
  char* token = cursor;
  while (*cursor != '\0' && *cursor != ',') ++cursor;
  if (*cursor == ',') *cursor++ = '\0';
  return token;
}

// The runner hands over the rest of its own command line as typed, so the
// documented form `fnRun "Product,Driver"` arrives with its quotes: one pair
// around the whole line is dropped (key names hold no quotes). Cut in place.
char* unquote(char* commandLine) {
  while (*commandLine == ' ' || *commandLine == '\t') ++commandLine;
  if (*commandLine != '"') return commandLine;
  ++commandLine;
  char* end = commandLine + std::strlen(commandLine);
  while (end > commandLine && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (end > commandLine && end[-1] == '"') --end;
  *end = '\0';
  return commandLine;
}

CommandTokens splitCommandLine(char* commandLine) {
  CommandTokens tokens;
  if (commandLine == nullptr) return tokens;
  char* cursor = unquote(commandLine);
  tokens.product = nextToken(cursor);
  if (tokens.product != nullptr) tokens.driver = nextToken(cursor);
  return tokens;
}

// Formats a key name into `out`; false when it does not fit (the token is then
// refused like a missing one).
bool formatKeyName(char (&out)[kKeyNameSize], const char* pattern, const char* token) {
  int length = std::snprintf(out, sizeof out, pattern, token);
  return length >= 0 && static_cast<DWORD>(length) < sizeof out;
}

// A string value that fits `size` with its terminator; false otherwise.
bool readString(HKEY key, const char* name, char* buffer, DWORD size) {
  DWORD type = REG_NONE;
  DWORD got = size;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &got) !=
      ERROR_SUCCESS) {
    buffer[0] = '\0';
    return false;
  }
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || got == 0) {
    buffer[0] = '\0';
    return false;
  }
  buffer[got < size ? got : size - 1] = '\0';  // a stored text may lack its terminator
  return true;
}

bool fileExists(const char* path) {
  if (path[0] == '\0') return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool driverInstalled(const char* driverKeyName) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, driverKeyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  char driverPath[kPathSize];
  bool installed = readString(key, "DRIVER PATHNAME", driverPath, sizeof driverPath) &&
                   fileExists(driverPath);
  RegCloseKey(key);
  return installed;
}

bool readSetupInfo(const char* infKeyName, SetupInfo& info) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, infKeyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  if (!readString(key, "SetupProgram", info.program, sizeof info.program)) {
    RegCloseKey(key);
    return false;
  }
  readString(key, "SetupExist", info.mediumFile, sizeof info.mediumFile);
  if (!readString(key, "SetupCaption", info.caption, sizeof info.caption))
    LoadStringA(moduleInstance, kDefaultCaptionId, info.caption, sizeof info.caption);
  if (!readString(key, "SetupErrorExist", info.prompt, sizeof info.prompt))
    LoadStringA(moduleInstance, kDefaultPromptId, info.prompt, sizeof info.prompt);
  RegCloseKey(key);
  return true;
}

// Asks for the medium until the setup program and the medium file both exist
// (then starts the program) or the user cancels.
void waitForMediumAndStart(const SetupInfo& info) {
  while (!(fileExists(info.program) && fileExists(info.mediumFile))) {
    if (MessageBoxA(0, info.prompt, info.caption, MB_OKCANCEL) == IDCANCEL) return;
  }
  ShellExecuteA(0, nullptr, info.program, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

void runLauncher(char* commandLine) {
  CommandTokens tokens = splitCommandLine(commandLine);
  char driverKeyName[kKeyNameSize];
  char infKeyName[kKeyNameSize];
  if (tokens.product == nullptr || tokens.driver == nullptr ||
      !formatKeyName(driverKeyName, "Software\\%s", tokens.driver) ||
      !formatKeyName(infKeyName, "Software\\%s\\Inf_Info", tokens.product)) {
    MessageBoxA(0, kParameterMessage, kErrorCaption, MB_OK);
    return;
  }
  if (driverInstalled(driverKeyName)) return;
  SetupInfo info;
  if (!readSetupInfo(infKeyName, info)) return;
  waitForMediumAndStart(info);
}

}  // namespace mendle
