// Thread-local slots: a fixed set of process-wide indexes, each with a
// generation that changes whenever the index is allocated. Every thread keeps
// {generation, value} per index and shows its value only while the generations
// match, so a new thread and a freshly allocated index both read 0 without
// the allocating thread having to visit every other thread.
#include "winport/tls.h"

#include <atomic>
#include <mutex>

namespace {

constexpr DWORD kSlotCount = 128;

// Slot state: bit 0 = allocated, the rest = generation.
std::atomic<uint32_t> slotStates[kSlotCount];
std::mutex allocationMutex;

struct ThreadValue {
  uint32_t generation;
  void* value;
};
thread_local ThreadValue threadValues[kSlotCount];

bool isAllocated(uint32_t state) { return (state & 1u) != 0; }

// The slot's generation if `index` is allocated; false otherwise (last error set).
bool allocatedGeneration(DWORD index, uint32_t* generation) {
  if (index >= kSlotCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  uint32_t state = slotStates[index].load(std::memory_order_acquire);
  if (!isAllocated(state)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *generation = state >> 1;
  return true;
}

}  // namespace

DWORD TlsAlloc() {
  std::lock_guard<std::mutex> lock(allocationMutex);
  for (DWORD index = 0; index < kSlotCount; ++index) {
    uint32_t state = slotStates[index].load(std::memory_order_relaxed);
    if (isAllocated(state)) continue;
    // Generation 0 is what an untouched thread holds, so skip it when wrapping.
    uint32_t generation = ((state >> 1) + 1) & 0x7FFFFFFFu;
    if (generation == 0) generation = 1;
    slotStates[index].store((generation << 1) | 1u, std::memory_order_release);
    return index;
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return TLS_OUT_OF_INDEXES;
}

BOOL TlsSetValue(DWORD index, void* value) {
  uint32_t generation = 0;
  if (!allocatedGeneration(index, &generation)) return FALSE;
  threadValues[index] = ThreadValue{generation, value};
  return TRUE;
}

void* TlsGetValue(DWORD index) {
  uint32_t generation = 0;
  if (!allocatedGeneration(index, &generation)) return nullptr;
  SetLastError(ERROR_SUCCESS);
  const ThreadValue& mine = threadValues[index];
  return mine.generation == generation ? mine.value : nullptr;
}

BOOL TlsFree(DWORD index) {
  std::lock_guard<std::mutex> lock(allocationMutex);
  if (index >= kSlotCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint32_t state = slotStates[index].load(std::memory_order_relaxed);
  if (!isAllocated(state)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  slotStates[index].store(state & ~1u, std::memory_order_release);
  return TRUE;
}
