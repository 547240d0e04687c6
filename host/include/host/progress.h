// Progress of a conversion, as readers and writers report it, and the
// caller's way to stop it.
#pragma once

#include <cstdint>

namespace imagehost {

enum class ProgressPhase { kRead, kWrite };

// Called with a percentage (0–100) whenever a reader, a writer or the host's
// own BMP input reports one. Null `report`: no reporting.
//
// `stop` is asked between blocks and whenever a plug-in reports progress;
// when it answers true the host tells the plug-in to cancel (a progress
// callback answering 0) and the work ends with a failure. Null: never stop.
struct ProgressSink {
  void (*report)(void* context, ProgressPhase phase, uint32_t percent) = nullptr;
  void* context = nullptr;
  bool (*stop)(void* context) = nullptr;

  void operator()(ProgressPhase phase, uint32_t percent) const {
    if (report != nullptr) report(context, phase, percent > 100 ? 100 : percent);
  }
  bool stopRequested() const { return stop != nullptr && stop(context); }
};

}  // namespace imagehost
