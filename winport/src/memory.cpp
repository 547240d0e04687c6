// Movable global memory over one process-wide handle table, fixed local
// buffers, and the allocation-failure countdown used by tests.
#include "winport/memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "handle_table.h"
#include "internal.h"

namespace {

// Larger requests are refused outright: the 32-bit address space the
// components were written for could never hold them, and a size read from a
// hostile file must not turn into a multi-gigabyte allocation.
constexpr size_t kMaxBlockBytes = size_t{1} << 30;

struct Block {
  void* data;
  size_t size;      // what the caller asked for
  size_t capacity;  // what is allocated (a locked block shrinks in place)
  uint32_t locks;
};

struct MemoryState {
  std::mutex mutex;
  winport::HandleTable<Block> blocks{winport::HandleKind::kGlobalMemory};
  std::unordered_map<const void*, HGLOBAL> handleOfAddress;
  std::unordered_set<void*> localBlocks;
};

// Never destroyed: modules may free blocks while the process exits.
MemoryState& state() {
  static MemoryState* memory = new MemoryState;
  return *memory;
}

std::atomic<uint32_t> failCountdown{0};

uint32_t countdownFromEnvironment() {
  const char* text = std::getenv("WINPORT_FAIL_ALLOC");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  return (*end == '\0' && value <= 0xFFFFFFFFul) ? static_cast<uint32_t>(value) : 0;
}

// Read once when the library is loaded, before any module can allocate.
const bool countdownInitialised = [] {
  failCountdown.store(countdownFromEnvironment());
  return true;
}();

// A fresh allocation of `bytes` (at least 1, so every block has its own address).
void* allocateBytes(size_t bytes, bool zero) {
  size_t real = bytes == 0 ? 1 : bytes;
  return zero ? std::calloc(1, real) : std::malloc(real);
}

bool failAllocation() {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return false;
}

// Resizes `block` (mutex held). Keeps the address when the new size fits the
// allocation; moves an unlocked block otherwise; refuses to move a locked one.
bool resizeBlock(MemoryState& memory, Block& block, size_t bytes, bool zero) {
  bool fits = bytes <= block.capacity;
  bool worthShrinking = block.locks == 0 && bytes < block.capacity / 2;
  if (!fits || worthShrinking) {
    if (block.locks > 0) return failAllocation();
    void* moved = std::realloc(block.data, bytes == 0 ? 1 : bytes);
    if (moved == nullptr) return failAllocation();
    // Re-key the address map without allocating (node handles), so nothing can fail now.
    auto node = memory.handleOfAddress.extract(block.data);
    block.data = moved;
    block.capacity = bytes == 0 ? 1 : bytes;
    if (!node.empty()) {
      node.key() = moved;
      memory.handleOfAddress.insert(std::move(node));
    }
  }
  if (zero && bytes > block.size) {
    std::memset(static_cast<char*>(block.data) + block.size, 0, bytes - block.size);
  }
  block.size = bytes;
  return true;
}

}  // namespace

namespace winport {

bool allocationShouldFail() {
  uint32_t remaining = failCountdown.load();
  while (remaining != 0) {
    if (failCountdown.compare_exchange_weak(remaining, remaining - 1)) return remaining == 1;
  }
  return false;
}

}  // namespace winport

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
  return winport::guarded<HGLOBAL>(0, [&]() -> HGLOBAL {
    if (winport::allocationShouldFail() || bytes > kMaxBlockBytes) return failAllocation();
    void* data = allocateBytes(bytes, (flags & GMEM_ZEROINIT) != 0);
    if (data == nullptr) return failAllocation();
    MemoryState& memory = state();
    std::lock_guard<std::mutex> lock(memory.mutex);
    HGLOBAL handle = 0;
    try {
      handle = memory.blocks.insert(Block{data, bytes, bytes == 0 ? 1 : bytes, 0});
      if (handle != 0) memory.handleOfAddress.emplace(data, handle);
    } catch (...) {
      if (handle != 0) memory.blocks.erase(handle);
      handle = 0;
    }
    if (handle == 0) {
      std::free(data);
      return failAllocation();
    }
    return handle;
  });
}

void* GlobalLock(HGLOBAL handle) {
  MemoryState& memory = state();
  std::lock_guard<std::mutex> lock(memory.mutex);
  Block* block = memory.blocks.find(handle);
  if (block == nullptr || block->locks == UINT32_MAX) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ++block->locks;
  return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
  MemoryState& memory = state();
  std::lock_guard<std::mutex> lock(memory.mutex);
  Block* block = memory.blocks.find(handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (block->locks == 0) {  // unlocking more often than locking: the count stays at 0
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  if (--block->locks > 0) return TRUE;
  SetLastError(ERROR_SUCCESS);
  return FALSE;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  MemoryState& memory = state();
  void* data = nullptr;
  {
    std::lock_guard<std::mutex> lock(memory.mutex);
    Block* block = memory.blocks.find(handle);
    if (block == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return handle;
    }
    data = block->data;
    memory.handleOfAddress.erase(data);
    memory.blocks.erase(handle);
  }
  std::free(data);
  return 0;
}

HGLOBAL GlobalHandle(const void* address) {
  MemoryState& memory = state();
  std::lock_guard<std::mutex> lock(memory.mutex);
  auto found = memory.handleOfAddress.find(address);
  if (found == memory.handleOfAddress.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return found->second;
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, size_t bytes, UINT flags) {
  MemoryState& memory = state();
  std::lock_guard<std::mutex> lock(memory.mutex);
  Block* block = memory.blocks.find(handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (winport::allocationShouldFail() || bytes > kMaxBlockBytes) return failAllocation();
  return resizeBlock(memory, *block, bytes, (flags & GMEM_ZEROINIT) != 0) ? handle : 0;
}

size_t GlobalSize(HGLOBAL handle) {
  MemoryState& memory = state();
  std::lock_guard<std::mutex> lock(memory.mutex);
  const Block* block = memory.blocks.find(handle);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return block->size;
}

UINT GlobalLockCount(HGLOBAL handle) {
  MemoryState& memory = state();
  std::lock_guard<std::mutex> lock(memory.mutex);
  const Block* block = memory.blocks.find(handle);
  return block != nullptr ? block->locks : 0;
}

void* LocalAlloc(UINT flags, size_t bytes) {
  if ((flags & ~LMEM_ZEROINIT) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (winport::allocationShouldFail() || bytes > kMaxBlockBytes) {
    failAllocation();
    return nullptr;
  }
  void* data = allocateBytes(bytes, (flags & LMEM_ZEROINIT) != 0);
  if (data == nullptr) {
    failAllocation();
    return nullptr;
  }
  MemoryState& memory = state();
  bool recorded = winport::guarded(false, [&] {
    std::lock_guard<std::mutex> lock(memory.mutex);
    memory.localBlocks.insert(data);
    return true;
  });
  if (!recorded) {
    std::free(data);
    return nullptr;
  }
  return data;
}

void* LocalFree(void* block) {
  if (block == nullptr) return nullptr;
  MemoryState& memory = state();
  {
    std::lock_guard<std::mutex> lock(memory.mutex);
    if (memory.localBlocks.erase(block) == 0) {  // not ours: never hand it to free()
      SetLastError(ERROR_INVALID_HANDLE);
      return block;
    }
  }
  std::free(block);
  return nullptr;
}

void winport_test_fail_allocation(uint32_t nth) {
  (void)countdownInitialised;
  failCountdown.store(nth);
}

uint32_t winport_test_live_global_blocks() {
  MemoryState& memory = state();
  std::lock_guard<std::mutex> lock(memory.mutex);
  return static_cast<uint32_t>(memory.blocks.size());
}
