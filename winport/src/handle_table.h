// A table of objects named by 32-bit handles (global memory, files, modules,
// processes).
//
// Handle layout: bit 31 clear (so a file handle returned as an HFILE stays
// positive), bits 28-30 the table's kind, bits 18-27 the slot's generation,
// bits 0-17 the slot index. A handle is therefore never 0 and never
// INVALID_HANDLE_VALUE, a handle of one kind never names an object of
// another, and a freed handle stays invalid after its slot is reused until
// that slot's generation has wrapped (1024 reuses). Freed slots are reused
// only once many are waiting, so a stale handle meets a wrapped generation
// only after a very long run of frees.
//
// The table is not synchronised: its owner guards it with a mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace winport {

enum class HandleKind : uint32_t {
  kGlobalMemory = 1,
  kFile = 2,
  kModule = 3,
  kProcess = 4,
};

template <typename T>
class HandleTable {
 public:
  static constexpr uint32_t kIndexBits = 18;
  static constexpr uint32_t kGenerationBits = 10;
  static constexpr uint32_t kMaxSlots = 1u << kIndexBits;
  static constexpr size_t kReuseThreshold = 64;  // freed slots waiting before one is reused

  explicit HandleTable(HandleKind kind) : kind_(static_cast<uint32_t>(kind)) {}

  // Stores `value` and returns its handle; 0 when the table is full.
  // May throw std::bad_alloc (the table is then unchanged).
  uint32_t insert(T value) {
    uint32_t index = 0;
    bool reuse = !free_.empty() && (free_.size() >= kReuseThreshold || slots_.size() >= kMaxSlots);
    if (reuse) {
      index = free_.front();
      slots_[index].value.emplace(std::move(value));
      free_.pop_front();
    } else if (slots_.size() < kMaxSlots) {
      index = static_cast<uint32_t>(slots_.size());
      slots_.push_back(Slot{0, std::optional<T>(std::move(value))});
    } else {
      return 0;
    }
    ++live_;
    return encode(index, slots_[index].generation);
  }

  T* find(uint32_t handle) {
    Slot* slot = slotOf(handle);
    return slot != nullptr ? &*slot->value : nullptr;
  }

  const T* find(uint32_t handle) const { return const_cast<HandleTable*>(this)->find(handle); }

  // Destroys the object; false when the handle does not name a live one.
  bool erase(uint32_t handle) {
    Slot* slot = slotOf(handle);
    if (slot == nullptr) return false;
    slot->value.reset();
    slot->generation = (slot->generation + 1) & ((1u << kGenerationBits) - 1);
    --live_;
    try {
      free_.push_back(handle & (kMaxSlots - 1));
    } catch (...) {
      // Out of memory: the slot is simply never reused.
    }
    return true;
  }

  size_t size() const { return live_; }

  // Calls visit(handle, object) for every live object; returns the first
  // handle for which visit answers true, else 0. visit must not insert or erase.
  template <typename Visit>
  uint32_t findIf(Visit&& visit) {
    for (uint32_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = slots_[i];
      if (slot.value.has_value() && visit(*slot.value)) return encode(i, slot.generation);
    }
    return 0;
  }

 private:
  struct Slot {
    uint32_t generation;
    std::optional<T> value;
  };

  uint32_t encode(uint32_t index, uint32_t generation) const {
    return (kind_ << (kIndexBits + kGenerationBits)) | (generation << kIndexBits) | index;
  }

  Slot* slotOf(uint32_t handle) {
    if ((handle >> (kIndexBits + kGenerationBits)) != kind_) return nullptr;  // also rejects bit 31
    uint32_t index = handle & (kMaxSlots - 1);
    uint32_t generation = (handle >> kIndexBits) & ((1u << kGenerationBits) - 1);
    if (index >= slots_.size()) return nullptr;
    Slot& slot = slots_[index];
    if (!slot.value.has_value() || slot.generation != generation) return nullptr;
    return &slot;
  }

  uint32_t kind_;
  std::vector<Slot> slots_;
  std::deque<uint32_t> free_;
  size_t live_ = 0;
};

}  // namespace winport
