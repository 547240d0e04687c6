// Interruption by the user (Ctrl-C and Ctrl-Break; SIGINT, SIGTERM and SIGHUP
// on Linux) for the programs built on the host library: imagehost and scanapp.
//
// The first event only sets a flag. The work looks at it at its next chance
// (between blocks, in the progress callbacks it hands plug-ins and the
// scanner library), stops, removes its partial output in order and exits
// with kExitInterrupted.
//
// A second event while the flag is set ends the process at once, for work
// stuck in a call that looks at no flag for a long time: the console's
// routine, on a thread of its own, deletes the files named beforehand through
// AbortRemoval (every OutputFile names its work file), writes the text
// prepared with SetAbortMessage, and ends the process. Closing the console,
// logging off and shutting down do the same at the first event.
#pragma once

#include <string>

#include "host/api.h"

namespace imagehost {

inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

// Takes the console's ctrl events for the rest of the process. On Linux the
// blocking system calls the signals interrupt are not restarted, so a wait
// returns and its loop can look at the flag.
HOST_API void InstallInterruptHandlers();
HOST_API bool Interrupted();

// The text written to stderr when a second event ends the process at once
// (cut to 511 bytes); empty: nothing is written.
HOST_API void SetAbortMessage(const std::string& text);
// The text written to stderr when the first event arrives, for a stretch of
// work that cannot look at the flag soon; empty (the default): nothing.
HOST_API void SetInterruptNotice(const std::string& text);

// While it lives, `path` is deleted if a second event ends the process. A
// path too long for the routine's table, or more paths at once than it
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
