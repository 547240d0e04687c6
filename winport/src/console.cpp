// The console over the standard descriptors and signals. The signal handler
// only writes the signal's number into a pipe (safe in a handler); a thread
// of the layer's own reads it and runs the registered routines, so a routine
// may do anything a thread may: take locks, write, delete files, end the
// process.
#include "winport/console.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "file_internal.h"
#include "internal.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct ConsoleState {
  std::mutex mutex;
  std::vector<PHANDLER_ROUTINE> routines;  // in the order registered
  bool ignoreCtrlC = false;
  bool catching = false;
  int pipe[2] = {-1, -1};
};

// Never destroyed: a signal may come while static objects are destroyed.
ConsoleState& state() {
  static ConsoleState* console = new ConsoleState;
  return *console;
}

int g_signalPipe = -1;  // written by the handler; set before any signal is caught

void OnSignal(int signal) {
  const int savedErrno = errno;
  const char number = static_cast<char>(signal);
  ssize_t put;
  do {
    put = write(g_signalPipe, &number, 1);
  } while (put < 0 && errno == EINTR);
  errno = savedErrno;
}

// Runs the routines for one signal; with none answering TRUE, the signal's
// own action (ending the process) is taken.
void Dispatch(int signal) {
  const DWORD type = signal == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
  std::vector<PHANDLER_ROUTINE> routines;
  {
    ConsoleState& console = state();
    std::lock_guard<std::mutex> lock(console.mutex);
    if (type == CTRL_C_EVENT && console.ignoreCtrlC) return;
    routines.assign(console.routines.rbegin(), console.routines.rend());
  }
  for (PHANDLER_ROUTINE routine : routines)
    if (routine(type)) return;
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void DispatchLoop(int readEnd) {
  for (;;) {
    char number = 0;
    const ssize_t got = read(readEnd, &number, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    Dispatch(number);
  }
}

// Starts the dispatching thread and catches the signals; the caller holds
// the state's lock. The thread never takes the signals itself, so they
// interrupt the program's own threads as they did before.
bool StartCatching(ConsoleState& console) {
  if (pipe2(console.pipe, O_CLOEXEC) != 0) return false;
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  for (int signal : kSignals) sigaddset(&blocked, signal);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  try {
    std::thread(DispatchLoop, console.pipe[0]).detach();
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(console.pipe[0]);
    close(console.pipe[1]);
    return false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  g_signalPipe = console.pipe[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_mask = blocked;
  action.sa_flags = 0;  // no SA_RESTART: a blocking call returns and its loop looks again
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
  console.catching = true;
  return true;
}

}  // namespace

HANDLE GetStdHandle(DWORD which) {
  switch (which) {
    case STD_INPUT_HANDLE:
      return winport::standardHandle(0);
    case STD_OUTPUT_HANDLE:
      return winport::standardHandle(1);
    case STD_ERROR_HANDLE:
      return winport::standardHandle(2);
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
}

BOOL GetConsoleMode(HANDLE handle, DWORD* mode) {
  if (mode == nullptr || !winport::isTerminal(handle)) {
    SetLastError(mode == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *mode = 0;
  return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  return winport::guarded<BOOL>(FALSE, [&]() -> BOOL {
    ConsoleState& console = state();
    std::lock_guard<std::mutex> lock(console.mutex);
    if (routine == nullptr) {
      console.ignoreCtrlC = add != FALSE;
    } else if (add) {
      console.routines.push_back(routine);
    } else {
      auto found = std::find(console.routines.rbegin(), console.routines.rend(), routine);
      if (found == console.routines.rend()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      console.routines.erase(std::next(found).base());
    }
    if (!console.catching && !StartCatching(console)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    return TRUE;
  });
}
