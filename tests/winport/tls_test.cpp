#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "winport/windows.h"

namespace {

TEST(ThreadLocalSlots, EachThreadSeesItsOwnValueStartingAtZero) {
  DWORD slot = TlsAlloc();
  ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
  SetLastError(99);
  EXPECT_EQ(TlsGetValue(slot), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  int mine = 0;
  ASSERT_TRUE(TlsSetValue(slot, &mine));

  int theirs = 0;
  void* seenFirst = &theirs;
  void* seenAfterSet = nullptr;
  std::thread other([&] {
    seenFirst = TlsGetValue(slot);
    TlsSetValue(slot, &theirs);
    seenAfterSet = TlsGetValue(slot);
  });
  other.join();
  EXPECT_EQ(seenFirst, nullptr);
  EXPECT_EQ(seenAfterSet, &theirs);
  EXPECT_EQ(TlsGetValue(slot), &mine);
  EXPECT_TRUE(TlsFree(slot));
}

TEST(ThreadLocalSlots, ReallocatedIndexShowsNoOldValueInAnyThread) {
  DWORD slot = TlsAlloc();
  ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
  int old = 0;
  TlsSetValue(slot, &old);

  // A second thread that set the slot too and stays alive across the reuse.
  std::promise<void> slotReused;
  std::promise<void> valueSet;
  void* seenAfterReuse = &old;
  std::thread other([&] {
    TlsSetValue(slot, &old);
    valueSet.set_value();
    slotReused.get_future().wait();
    seenAfterReuse = TlsGetValue(slot);
  });
  valueSet.get_future().wait();

  ASSERT_TRUE(TlsFree(slot));
  // The lowest free index is handed out first, so this allocation gets `slot` back.
  std::vector<DWORD> taken;
  DWORD again = TLS_OUT_OF_INDEXES;
  while ((again = TlsAlloc()) != slot && again != TLS_OUT_OF_INDEXES) taken.push_back(again);
  ASSERT_EQ(again, slot);
  EXPECT_EQ(TlsGetValue(slot), nullptr);
  slotReused.set_value();
  other.join();
  EXPECT_EQ(seenAfterReuse, nullptr);

  TlsFree(slot);
  for (DWORD index : taken) TlsFree(index);
}

TEST(ThreadLocalSlots, InvalidIndexesAndExhaustion) {
  SetLastError(0);
  EXPECT_FALSE(TlsSetValue(100000, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(TlsGetValue(TLS_OUT_OF_INDEXES), nullptr);
  EXPECT_FALSE(TlsFree(TLS_OUT_OF_INDEXES));

  std::vector<DWORD> slots;
  for (DWORD slot; (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;) {
    slots.push_back(slot);
    ASSERT_LE(slots.size(), 1000u) << "TlsAlloc never runs out";
  }
  EXPECT_FALSE(slots.empty());
  DWORD freed = slots.back();
  slots.pop_back();
  ASSERT_TRUE(TlsFree(freed));
  EXPECT_FALSE(TlsFree(freed));  // twice
  SetLastError(0);
  EXPECT_EQ(TlsGetValue(freed), nullptr);  // not allocated any more
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(TlsSetValue(freed, &freed));
  EXPECT_EQ(TlsAlloc(), freed);
  EXPECT_TRUE(TlsFree(freed));
  for (DWORD slot : slots) EXPECT_TRUE(TlsFree(slot));
}

}  // namespace
