// Progress reporting through the host's ProgressRecord.
#include <cstdint>

#include "row_loop.h"

namespace reader::detail {

// Adds `amount` to the pending count (saturating). When a callback is set, the
// step and the total are not 0 and more than a step is pending, the pending
// amount moves to the reported one (clamped to the total) and the callback
// gets reported × 100 / total, computed in 64 bits. Returns false when the
// callback asked to stop and the reader can be cancelled (the pending amount
// then stays); a reader that cannot be cancelled ignores the answer.
bool ReportProgress(ProgressRecord* progress, uint32_t amount, bool cancellable) {
  if (progress == nullptr) return true;
  uint64_t pending = static_cast<uint64_t>(progress->pending) + amount;
  progress->pending = pending > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(pending);
  if (progress->callback == nullptr || progress->step == 0 || progress->total == 0) return true;
  if (progress->pending <= progress->step) return true;

  uint64_t reported = static_cast<uint64_t>(progress->reported) + progress->pending;
  if (reported > progress->total) reported = progress->total;
  progress->reported = static_cast<uint32_t>(reported);
  uint32_t percent = static_cast<uint32_t>(reported * 100 / progress->total);
  int32_t goOn = progress->callback(progress->firstArgument, percent, progress->thirdArgument);
  if (goOn == 0 && cancellable) return false;
  progress->pending %= progress->step;
  return true;
}

}  // namespace reader::detail
