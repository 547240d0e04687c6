// Interruption by the user (Ctrl-C, SIGTERM, SIGHUP) for the programs built
// on the host library: imagehost and scanapp.
//
// The first signal only sets a flag. The work looks at it at its next chance
// (between blocks, in the progress callbacks it hands plug-ins and the
// scanner library), stops, removes its partial output in order and exits
// with kExitInterrupted.
//
// A second signal while the flag is set ends the process at once, for work
// stuck in a call that looks at no flag for a long time. The handler then
// does only what is safe inside a signal handler: it unlinks the files named
// beforehand through AbortRemoval (every OutputFile names its work file),
// writes the text prepared with SetAbortMessage, and calls _exit.
#pragma once

#include <string>

#include "host/api.h"

namespace imagehost {

inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

// Catches SIGINT, SIGTERM and SIGHUP for the rest of the process. Blocking
// system calls are not restarted after them, so a wait returns and its loop
// can look at the flag.
HOST_API void InstallInterruptHandlers();
HOST_API bool Interrupted();

// The text written to stderr when a second signal ends the process at once
// (cut to 511 bytes); empty: nothing is written.
HOST_API void SetAbortMessage(const std::string& text);
// The text written to stderr when the first signal arrives, for a stretch of
// work that cannot look at the flag soon; empty (the default): nothing.
HOST_API void SetInterruptNotice(const std::string& text);

// While it lives, `path` is unlinked if a second signal ends the process. A
// path too long for the handler's table, or more paths at once than it
// holds (8), is silently not covered.
class HOST_API AbortRemoval {
 public:
  AbortRemoval() = default;
  explicit AbortRemoval(const std::string& path) { arm(path); }
  ~AbortRemoval() { disarm(); }
  AbortRemoval(const AbortRemoval&) = delete;
  AbortRemoval& operator=(const AbortRemoval&) = delete;

  void arm(const std::string& path);
  void disarm();

 private:
  int slot_ = -1;
};

}  // namespace imagehost
