// Process identity from /proc/<pid>/stat: a process is its id together with
// its start time (field 22, clock ticks since boot), so that an id reused by
// a newer process is told apart from the one a handle was opened on.
#include "winport/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "handle_table.h"
#include "internal.h"
#include "process_internal.h"

namespace {

struct ProcessEntry {
  pid_t pid;
  unsigned long long startTicks;
};

struct ProcessState {
  std::mutex mutex;
  winport::HandleTable<ProcessEntry> table{winport::HandleKind::kProcess};
};

// Never destroyed: modules may close handles from their finalisers at exit.
ProcessState& state() {
  static ProcessState* processes = new ProcessState;
  return *processes;
}

struct StatLine {
  char state = '?';
  unsigned long long startTicks = 0;
};

// Reads the state letter and the start time of `pid`; false when the entry
// is missing or unreadable. The command name (field 2) may hold spaces and
// parentheses, so the fields are counted from its last ')'.
bool readStat(pid_t pid, StatLine& line) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  char text[1024];
  const size_t length = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[length] = '\0';
  const char* close = std::strrchr(text, ')');
  if (close == nullptr || close[1] != ' ' || close[2] == '\0') return false;
  line.state = close[2];
  const char* field = close + 3;  // field 4 onwards
  for (int number = 4; number < 22; ++number) {
    field = std::strchr(field, ' ');
    if (field == nullptr) return false;
    ++field;
  }
  char* end = nullptr;
  errno = 0;
  line.startTicks = std::strtoull(field, &end, 10);
  return end != field && errno == 0;
}

bool ended(const StatLine& line) { return line.state == 'Z' || line.state == 'X' || line.state == 'x'; }

// Whether `pid` exists although its /proc entry cannot be read (a /proc
// mounted to hide other users' processes, say).
bool existsUnseen(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

bool entryOf(HANDLE handle, ProcessEntry& entry) {
  ProcessState& processes = state();
  std::lock_guard<std::mutex> lock(processes.mutex);
  const ProcessEntry* found = processes.table.find(handle);
  if (found == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  entry = *found;
  return true;
}

void setFileTime(FILETIME* time, unsigned long long value) {
  if (time == nullptr) return;
  time->dwLowDateTime = static_cast<DWORD>(value);
  time->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

void ExitProcess(UINT exitCode) { _exit(static_cast<int>(exitCode & 0xFF)); }

HANDLE OpenProcess(DWORD /*access*/, BOOL /*inheritHandle*/, DWORD processId) {
  return winport::guarded<HANDLE>(0, [&]() -> HANDLE {
    const auto pid = static_cast<pid_t>(processId);
    StatLine line;
    if (pid <= 0 || !readStat(pid, line)) {
      SetLastError(pid > 0 && existsUnseen(pid) ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
      return 0;
    }
    ProcessState& processes = state();
    std::lock_guard<std::mutex> lock(processes.mutex);
    const HANDLE handle = processes.table.insert(ProcessEntry{pid, line.startTicks});
    if (handle == 0) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
  });
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  ProcessEntry entry{};
  if (!entryOf(process, entry)) return FALSE;
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  StatLine line;
  const bool running = readStat(entry.pid, line) && !ended(line) && line.startTicks == entry.startTicks;
  *exitCode = running ? STILL_ACTIVE : 0;
  return TRUE;
}

BOOL GetProcessTimes(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
                     FILETIME* user) {
  ProcessEntry entry{};
  if (!entryOf(process, entry)) return FALSE;
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  const unsigned long long perTick =
      ticksPerSecond > 0 ? 10000000ull / static_cast<unsigned long long>(ticksPerSecond) : 100000ull;
  setFileTime(creation, entry.startTicks * perTick);
  setFileTime(exit, 0);
  setFileTime(kernel, 0);
  setFileTime(user, 0);
  return TRUE;
}

namespace winport {

bool closeProcessHandle(HANDLE handle) {
  ProcessState& processes = state();
  std::lock_guard<std::mutex> lock(processes.mutex);
  return processes.table.erase(handle);
}

}  // namespace winport
