#include <atomic>

#include "ferrox_state.h"
#include "shared_section.h"

namespace ferrox {

namespace {

ProcessState g_process;

// Other processes change the lock fields through the same memory: only
// lock-free atomics work across processes.
static_assert(std::atomic_ref<uint32_t>::is_always_lock_free &&
              std::atomic_ref<uint64_t>::is_always_lock_free);

std::atomic_ref<uint32_t> LockWord() { return std::atomic_ref<uint32_t>(g_process.shared->lockState); }

}  // namespace

ProcessState& Process() { return g_process; }
SharedState& Shared() { return *g_process.shared; }

bool MapSharedState() {
  g_process.shared = MapSharedSection();
  return g_process.shared != nullptr;
}

void UnmapSharedState() {
  if (g_process.shared != nullptr) UnmapSharedSection(g_process.shared);
  g_process.shared = nullptr;
}

uint32_t LoadLockState() { return LockWord().load(); }
void StoreLockState(uint32_t value) { LockWord().store(value); }
void SetLockBits(uint32_t bits) { LockWord().fetch_or(bits); }
void ClearLockBits(uint32_t bits) { LockWord().fetch_and(~bits); }

uint16_t LoadLockHandle() {
  return std::atomic_ref<uint16_t>(g_process.shared->currentLockHandle).load();
}
void StoreLockHandle(uint16_t handle) {
  std::atomic_ref<uint16_t>(g_process.shared->currentLockHandle).store(handle);
}

uint64_t LoadLockOwner() { return std::atomic_ref<uint64_t>(g_process.shared->lockOwner).load(); }
bool CompareExchangeLockOwner(uint64_t& expected, uint64_t desired) {
  return std::atomic_ref<uint64_t>(g_process.shared->lockOwner).compare_exchange_strong(expected, desired);
}

}  // namespace ferrox
