#include "host/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace imagehost {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Signals seen so far. Only the handler changes it, and the handler blocks
// all three signals while it runs, so it never races itself.
volatile sig_atomic_t g_signals = 0;

// A text the handler writes: the length is published after the bytes, and
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
    for (size_t done = 0; done < n;) {
      const ssize_t put = ::write(STDERR_FILENO, bytes + done, n - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
  }
};

HandlerText g_notice;
HandlerText g_abortMessage;

// Paths to unlink on the immediate exit. A slot is claimed (kFilling) before
// its path is written and only then armed, so the handler never reads a path
// being written.
enum SlotState : int { kFree, kFilling, kArmed };
struct RemovalSlot {
  std::atomic<int> state{kFree};
  char path[4096] = {};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<size_t>::is_always_lock_free,
              "the signal handler needs lock-free atomics");
RemovalSlot g_removals[8];

void OnSignal(int) {
  const int savedErrno = errno;
  if (g_signals == 0) {
    g_signals = 1;
    g_notice.write();
    errno = savedErrno;
    return;
  }
  for (RemovalSlot& slot : g_removals)
    if (slot.state.load() == kArmed) unlink(slot.path);
  g_abortMessage.write();
  _exit(kExitInterrupted);
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = 0;  // no SA_RESTART: a blocking call returns and its loop looks at the flag
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
}

bool Interrupted() { return g_signals != 0; }

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
