#include "host/interrupt.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

#include "winport/windows.h"

namespace imagehost {

namespace {

// Ctrl events seen so far. The system runs the routine on a thread of its
// own while the work goes on, so everything the two share is atomic.
std::atomic<int> g_events{0};

// A text the routine writes: the length is published after the bytes, and
// withdrawn before they change.
struct HandlerText {
  std::atomic<size_t> length{0};
  char bytes[512] = {};

  void set(const std::string& text) {
    length.store(0);
    const size_t n = std::min(text.size(), sizeof bytes - 1);
    std::memcpy(bytes, text.data(), n);
    length.store(n);
  }
  void write() const {
    const size_t n = length.load();
    if (n == 0) return;
    DWORD put = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes, static_cast<DWORD>(n), &put, nullptr);
  }
};

HandlerText g_notice;
HandlerText g_abortMessage;

// Paths to delete on the immediate exit. A slot is claimed (kFilling) before
// its path is written and only then armed, so the routine never reads a path
// being written.
enum SlotState : int { kFree, kFilling, kArmed };
struct RemovalSlot {
  std::atomic<int> state{kFree};
  char path[4096] = {};
};
RemovalSlot g_removals[8];

// Deletes the armed paths, says so and ends the process.
[[noreturn]] void StopAtOnce() {
  for (RemovalSlot& slot : g_removals)
    if (slot.state.load() == kArmed) DeleteFileA(slot.path);
  g_abortMessage.write();
  ExitProcess(kExitInterrupted);
}

// Ctrl-C and Ctrl-Break (SIGINT, SIGTERM and SIGHUP on Linux): the first
// only raises the flag, the next ends the process at once. Closing the
// console, logging off and shutting down leave the process only moments
// before the system ends it, so they end it at once, cleaned up.
BOOL WINAPI OnCtrl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) StopAtOnce();
  if (g_events.fetch_add(1) == 0) {
    g_notice.write();
    return TRUE;
  }
  StopAtOnce();
}

}  // namespace

void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnCtrl, TRUE); }

bool Interrupted() { return g_events.load() != 0; }

void SetAbortMessage(const std::string& text) { g_abortMessage.set(text); }

void SetInterruptNotice(const std::string& text) { g_notice.set(text); }

void AbortRemoval::arm(const std::string& path) {
  disarm();
  if (path.empty() || path.size() >= sizeof(RemovalSlot::path)) return;
  for (int i = 0; i < static_cast<int>(std::size(g_removals)); ++i) {
    int expected = kFree;
    if (!g_removals[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(g_removals[i].path, path.c_str(), path.size() + 1);
    g_removals[i].state.store(kArmed);
    slot_ = i;
    return;
  }
}

void AbortRemoval::disarm() {
  if (slot_ < 0) return;
  g_removals[slot_].state.store(kFree);
  slot_ = -1;
}

}  // namespace imagehost
