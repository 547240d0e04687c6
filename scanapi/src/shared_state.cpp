#include <atomic>
#include <cstring>

#include "ferrox_state.h"
#include "winport/shared_section.h"

namespace ferrox {

namespace {

ProcessState g_process;

constexpr uint8_t kBuiltInHalftone[4][kHalftonePatternBytes] = {
    {165, 111, 26,  16,  19,  36,  89,  145, 103, 70, 48, 29, 33, 50, 65, 95,
     41,  52,  59,  130, 121, 72,  55,  45,  10,  38, 80, 190, 167, 114, 21, 13,
     18,  34,  86,  139, 152, 107, 25,  15,  31,  49, 63, 92, 99, 67, 47, 28,
     31,  76,  57,  46,  43,  53,  61,  134, 176, 117, 23, 13, 10, 40, 83, 208},
    {12, 88,  37,  24, 10, 80,  35,  21, 29, 208, 145, 72, 27, 173, 131, 65,
     45, 100, 118, 34, 40, 94,  107, 32, 15, 31,  57,  19, 13, 30,  50,  17,
     10, 75,  35,  20, 12, 85,  36,  23, 26, 156, 124, 62, 28, 191, 137, 68,
     39, 92,  103, 32, 42, 97,  112, 33, 13, 30,  47,  16, 14, 31,  53,  18},
    {208, 98, 19,  16, 72,  90, 20,  17, 59, 36, 13, 10, 53, 33, 14, 11,
     24,  18, 142, 78, 22,  218, 118, 70, 15, 12, 48, 30, 15, 12, 24, 26,
     155, 83, 20,  17, 190, 93, 19,  16, 50, 32, 14, 11, 56, 35, 13, 10,
     21,  18, 106, 64, 23,  18, 131, 73, 15, 12, 39, 25, 15, 12, 45, 28},
    {208, 77, 45, 19, 172, 70, 40, 18, 144, 66, 35, 16, 128, 62, 32, 15,
     114, 56, 29, 13, 101, 52, 26, 12, 90,  49, 24, 11, 84,  48, 22, 10,
     155, 68, 38, 17, 104, 74, 43, 18, 121, 59, 31, 14, 136, 64, 33, 16,
     95,  51, 25, 12, 108, 53, 28, 13, 81,  47, 21, 10, 87,  49, 23, 11},
};

// Other processes change the lock fields through the same memory: only
// lock-free atomics work across processes.
static_assert(std::atomic_ref<uint32_t>::is_always_lock_free &&
              std::atomic_ref<uint64_t>::is_always_lock_free);

SharedState InitialSharedState() {
  SharedState initial{};
  initial.lastSettingIndex = 0xFFFF;
  initial.product.found = kProductNotFound;
  initial.musicOpenRecord = MusicOpenRecord{0, 9, 1};
  std::memcpy(initial.halftone, kBuiltInHalftone, sizeof(initial.halftone));
  return initial;
}

std::atomic_ref<uint32_t> LockWord() { return std::atomic_ref<uint32_t>(g_process.shared->lockState); }

}  // namespace

ProcessState& Process() { return g_process; }
SharedState& Shared() { return *g_process.shared; }

bool MapSharedState() {
  static const SharedState initial = InitialSharedState();
  void* section = winport_shared_section_map("ferrox", sizeof(SharedState), &initial, sizeof(initial));
  g_process.shared = static_cast<SharedState*>(section);
  return section != nullptr;
}

void UnmapSharedState() {
  if (g_process.shared != nullptr) winport_shared_section_unmap(g_process.shared);
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
