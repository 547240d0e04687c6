// Progress of a conversion, as readers and writers report it.
#pragma once

#include <cstdint>

namespace imagehost {

enum class ProgressPhase { kRead, kWrite };

// Called with a percentage (0–100) whenever a reader, a writer or the host's
// own BMP input reports one. Null `report`: no reporting.
struct ProgressSink {
  void (*report)(void* context, ProgressPhase phase, uint32_t percent) = nullptr;
  void* context = nullptr;

  void operator()(ProgressPhase phase, uint32_t percent) const {
    if (report != nullptr) report(context, phase, percent > 100 ? 100 : percent);
  }
};

}  // namespace imagehost
