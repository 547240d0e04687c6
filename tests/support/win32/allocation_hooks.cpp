#include "allocation_hooks.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::atomic<uint32_t> gFailCountdown{0};
std::atomic<uint32_t> gLiveBlocks{0};

// The size each live block was asked for, which the test program sees as
// its GlobalSize (the modules under test see the system's larger one).
std::mutex gSizesMutex;
std::map<HGLOBAL, size_t>& RequestedSizes() {
  static std::map<HGLOBAL, size_t> sizes;
  return sizes;
}

void Remember(HGLOBAL handle, size_t bytes) {
  std::lock_guard lock(gSizesMutex);
  RequestedSizes()[handle] = bytes;
}

void Forget(HGLOBAL handle) {
  std::lock_guard lock(gSizesMutex);
  RequestedSizes().erase(handle);
}

bool ShouldFail() {
  uint32_t left = gFailCountdown.load();
  while (left != 0) {
    if (gFailCountdown.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

// The system's own functions, taken before any import table is patched.
struct Originals {
  decltype(&GlobalAlloc) globalAlloc;
  decltype(&GlobalReAlloc) globalReAlloc;
  decltype(&GlobalFree) globalFree;
  decltype(&LocalAlloc) localAlloc;
  decltype(&GlobalSize) globalSize;
};

template <typename F>
F Resolve(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)));
}

const Originals& System() {
  static const Originals originals{
      Resolve<decltype(&GlobalAlloc)>("GlobalAlloc"), Resolve<decltype(&GlobalReAlloc)>("GlobalReAlloc"),
      Resolve<decltype(&GlobalFree)>("GlobalFree"), Resolve<decltype(&LocalAlloc)>("LocalAlloc"),
      Resolve<decltype(&GlobalSize)>("GlobalSize")};
  return originals;
}

size_t Rounded(size_t bytes) {
  const size_t granule = testsupport::kGlobalSizeGranule;
  return (bytes / granule + 1) * granule;
}

HGLOBAL WINAPI CountingGlobalAlloc(UINT flags, SIZE_T bytes) {
  if (ShouldFail()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  HGLOBAL handle = System().globalAlloc(flags, Rounded(bytes));
  if (handle != 0) {
    ++gLiveBlocks;
    Remember(handle, bytes);
  }
  return handle;
}

HGLOBAL WINAPI CountingGlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
  if (ShouldFail()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if ((flags & GMEM_MODIFY) != 0) return System().globalReAlloc(handle, bytes, flags);
  HGLOBAL resized = System().globalReAlloc(handle, Rounded(bytes), flags);
  if (resized != 0) {
    Forget(handle);
    Remember(resized, bytes);
  }
  return resized;
}

HGLOBAL WINAPI CountingGlobalFree(HGLOBAL handle) {
  HGLOBAL left = System().globalFree(handle);
  if (handle != 0 && left == 0) {
    --gLiveBlocks;
    Forget(handle);
  }
  return left;
}

HLOCAL WINAPI CountingLocalAlloc(UINT flags, SIZE_T bytes) {
  if (ShouldFail()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  return System().localAlloc(flags, bytes);
}

SIZE_T WINAPI RequestedGlobalSize(HGLOBAL handle) {
  {
    std::lock_guard lock(gSizesMutex);
    auto found = RequestedSizes().find(handle);
    if (found != RequestedSizes().end()) return found->second;
  }
  return System().globalSize(handle);
}

struct Hook {
  const char* name;
  void* replacement;
};

const Hook kHooks[] = {
    {"GlobalAlloc", reinterpret_cast<void*>(&CountingGlobalAlloc)},
    {"GlobalReAlloc", reinterpret_cast<void*>(&CountingGlobalReAlloc)},
    {"GlobalFree", reinterpret_cast<void*>(&CountingGlobalFree)},
    {"LocalAlloc", reinterpret_cast<void*>(&CountingLocalAlloc)},
};

// The test program alone sees the requested sizes.
const Hook kProgramHooks[] = {
    {"GlobalSize", reinterpret_cast<void*>(&RequestedGlobalSize)},
};

// The replacement for the import `name`, or null.
void* ReplacementFor(const char* name, bool program) {
  if (program) {
    for (const Hook& hook : kProgramHooks) {
      if (std::strcmp(hook.name, name) == 0) return hook.replacement;
    }
  }
  for (const Hook& hook : kHooks) {
    if (std::strcmp(hook.name, name) == 0) return hook.replacement;
  }
  return nullptr;
}

void PatchSlot(void** slot, void* replacement) {
  DWORD protection = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return;
  *slot = replacement;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

void PatchImports(HMODULE module, bool program) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  System();
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), "kernel32.dll") != 0) continue;
    if (entry->OriginalFirstThunk == 0) continue;  // no names to go by
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slots = reinterpret_cast<void**>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (void* replacement = ReplacementFor(reinterpret_cast<const char*>(byName->Name), program)) {
        PatchSlot(slots, replacement);
      }
    }
  }
}

}  // namespace

void winport_test_fail_allocation(uint32_t nth) {
  gFailCountdown = nth;
}

uint32_t winport_test_live_global_blocks() {
  testsupport::HookAllocations(GetModuleHandleA(nullptr));
  return gLiveBlocks;
}

namespace testsupport {

void HookAllocations(HMODULE module) {
  static const bool programHooked = (PatchImports(GetModuleHandleA(nullptr), true), true);
  (void)programHooked;
  if (module != GetModuleHandleA(nullptr)) PatchImports(module, false);
}

}  // namespace testsupport
