#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "child_test_run.h"
#include "winport/windows.h"

namespace {

TEST(GlobalMemory, LockCountsAddressAndHandle) {
  HGLOBAL block = GlobalAlloc(GHND, 100);
  ASSERT_NE(block, 0u);
  EXPECT_EQ(GlobalSize(block), 100u);
  auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(bytes[i], 0) << "GMEM_ZEROINIT at " << i;
  EXPECT_EQ(GlobalLock(block), bytes);
  EXPECT_EQ(GlobalLockCount(block), 2u);
  EXPECT_EQ(GlobalHandle(bytes), block);

  EXPECT_TRUE(GlobalUnlock(block));  // still locked once
  SetLastError(1234);
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(GlobalLockCount(block), 0u);

  // One unlock too many leaves the count at 0.
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
  EXPECT_EQ(GlobalLockCount(block), 0u);
  EXPECT_EQ(GlobalFree(block), 0u);
}

TEST(GlobalMemory, ZeroFreedAndForeignHandlesFail) {
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 8);
  ASSERT_NE(freed, 0u);
  ASSERT_EQ(GlobalFree(freed), 0u);
  HANDLE file = CreateFileA("/proc/self/exe", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);

  for (HGLOBAL bad : {HGLOBAL{0}, freed, HGLOBAL{0x12345678}, HGLOBAL{0xFFFFFFFF}, HGLOBAL{file}}) {
    SCOPED_TRACE(bad);
    SetLastError(0);
    EXPECT_EQ(GlobalLock(bad), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GlobalUnlock(bad));
    EXPECT_EQ(GlobalSize(bad), 0u);
    EXPECT_EQ(GlobalLockCount(bad), 0u);
    EXPECT_EQ(GlobalReAlloc(bad, 16, 0), 0u);
    SetLastError(0);
    EXPECT_EQ(GlobalFree(bad), bad);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_TRUE(CloseHandle(file));
  int local = 0;
  EXPECT_EQ(GlobalHandle(&local), 0u);
  EXPECT_EQ(GlobalHandle(nullptr), 0u);
}

TEST(GlobalMemory, FreedHandlesStayInvalidWhenSlotsAreReused) {
  // Enough frees that the table starts reusing slots.
  std::vector<HGLOBAL> first;
  for (int i = 0; i < 300; ++i) first.push_back(GlobalAlloc(0, 4));
  for (HGLOBAL block : first) ASSERT_EQ(GlobalFree(block), 0u);
  std::vector<HGLOBAL> second;
  for (int i = 0; i < 300; ++i) second.push_back(GlobalAlloc(0, 4));
  for (HGLOBAL old : first) {
    EXPECT_EQ(GlobalLock(old), nullptr);
    for (HGLOBAL fresh : second) ASSERT_NE(old, fresh);
  }
  for (HGLOBAL block : second) {
    EXPECT_NE(GlobalLock(block), nullptr);
    EXPECT_EQ(GlobalFree(block), 0u);
  }
}

TEST(GlobalMemory, FreeWhileLockedAndZeroSizedBlocks) {
  HGLOBAL locked = GlobalAlloc(0, 32);
  void* address = GlobalLock(locked);
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(GlobalFree(locked), 0u);
  EXPECT_EQ(GlobalHandle(address), 0u);

  HGLOBAL empty1 = GlobalAlloc(GHND, 0);
  HGLOBAL empty2 = GlobalAlloc(GHND, 0);
  ASSERT_NE(empty1, 0u);
  ASSERT_NE(empty2, 0u);
  EXPECT_EQ(GlobalSize(empty1), 0u);
  void* a = GlobalLock(empty1);
  void* b = GlobalLock(empty2);
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);  // every block has its own address, so GlobalHandle stays unambiguous
  EXPECT_EQ(GlobalHandle(b), empty2);
  GlobalFree(empty1);
  GlobalFree(empty2);
}

TEST(GlobalMemory, ReAllocUnlockedKeepsContentAndZeroFillsGrowth) {
  HGLOBAL block = GlobalAlloc(0, 16);
  std::memset(GlobalLock(block), 0x5A, 16);
  GlobalUnlock(block);
  ASSERT_EQ(GlobalReAlloc(block, 1 << 20, GMEM_ZEROINIT), block);
  EXPECT_EQ(GlobalSize(block), 1u << 20);
  auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
  EXPECT_EQ(GlobalHandle(bytes), block);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(bytes[i], 0x5A);
  for (int i = 16; i < (1 << 20); ++i) ASSERT_EQ(bytes[i], 0) << i;
  GlobalUnlock(block);
  // Shrinking an unlocked block keeps its content too.
  ASSERT_EQ(GlobalReAlloc(block, 8, 0), block);
  bytes = static_cast<uint8_t*>(GlobalLock(block));
  EXPECT_EQ(GlobalHandle(bytes), block);
  for (int i = 0; i < 8; ++i) ASSERT_EQ(bytes[i], 0x5A);
  GlobalFree(block);
}

TEST(GlobalMemory, ReAllocOfLockedBlockNeverMovesIt) {
  HGLOBAL block = GlobalAlloc(0, 100);
  auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
  std::memset(bytes, 0xAA, 100);

  ASSERT_EQ(GlobalReAlloc(block, 10, 0), block);
  EXPECT_EQ(GlobalSize(block), 10u);
  EXPECT_EQ(GlobalLock(block), bytes);
  GlobalUnlock(block);
  // Growing back within the old allocation: in place, growth zero-filled, no stale bytes.
  ASSERT_EQ(GlobalReAlloc(block, 100, GMEM_ZEROINIT), block);
  EXPECT_EQ(GlobalLock(block), bytes);
  GlobalUnlock(block);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(bytes[i], 0xAA);
  for (int i = 10; i < 100; ++i) ASSERT_EQ(bytes[i], 0) << i;

  // Growing beyond it would move the block: refused, block intact.
  SetLastError(0);
  EXPECT_EQ(GlobalReAlloc(block, 1 << 20, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GlobalSize(block), 100u);
  EXPECT_EQ(GlobalLock(block), bytes);
  GlobalUnlock(block);
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_EQ(GlobalReAlloc(block, 1 << 20, 0), block);  // unlocked now: may move
  GlobalFree(block);
}

TEST(GlobalMemory, HugeRequestsFailCleanly) {
  SetLastError(0);
  EXPECT_EQ(GlobalAlloc(0, SIZE_MAX), 0u);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GlobalAlloc(GHND, size_t{1} << 40), 0u);
  EXPECT_EQ(LocalAlloc(LPTR, SIZE_MAX), nullptr);
  HGLOBAL block = GlobalAlloc(0, 4);
  EXPECT_EQ(GlobalReAlloc(block, SIZE_MAX, 0), 0u);
  EXPECT_EQ(GlobalSize(block), 4u);
  GlobalFree(block);
}

TEST(AllocationFailure, FailsOnlyTheNthAllocatingCall) {
  uint32_t before = winport_test_live_global_blocks();
  HGLOBAL block = GlobalAlloc(0, 8);
  winport_test_fail_allocation(3);
  void* local = LocalAlloc(LPTR, 8);   // 1st
  HGLOBAL second = GlobalAlloc(0, 8);  // 2nd
  SetLastError(0);
  EXPECT_EQ(GlobalReAlloc(block, 64, 0), 0u);  // 3rd fails...
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GlobalSize(block), 8u);    // ...leaving the block as it was
  HGLOBAL fourth = GlobalAlloc(0, 8);  // and the countdown is spent
  EXPECT_NE(local, nullptr);
  EXPECT_NE(second, 0u);
  EXPECT_NE(fourth, 0u);

  winport_test_fail_allocation(1);
  EXPECT_EQ(GlobalAlloc(0, 8), 0u);
  winport_test_fail_allocation(1);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, 8), nullptr);
  winport_test_fail_allocation(2);
  winport_test_fail_allocation(0);  // disabled again
  HGLOBAL fifth = GlobalAlloc(0, 8);
  EXPECT_NE(fifth, 0u);

  for (HGLOBAL h : {block, second, fourth, fifth}) GlobalFree(h);
  LocalFree(local);
  EXPECT_EQ(winport_test_live_global_blocks(), before);
}

// Run by the next test in a child process with WINPORT_FAIL_ALLOC=2.
TEST(AllocationFailure, EnvironmentChild) {
  if (!winporttest::inChild()) GTEST_SKIP() << "runs in a child process only";
  HGLOBAL first = GlobalAlloc(0, 8);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(GlobalAlloc(0, 8), 0u);
  EXPECT_NE(GlobalAlloc(0, 8), 0u);
}

TEST(AllocationFailure, EnvironmentVariableCountsFromProcessStart) {
  if (winporttest::inChild()) GTEST_SKIP();
  auto run =
      winporttest::runTestInChild("AllocationFailure.EnvironmentChild", {"WINPORT_FAIL_ALLOC=2"});
  EXPECT_TRUE(run.passed("AllocationFailure.EnvironmentChild")) << run.output;
}

TEST(LocalMemory, FixedBuffersAndForeignPointers) {
  auto* zeroed = static_cast<uint8_t*>(LocalAlloc(LPTR, 64));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(zeroed[i], 0);
  EXPECT_EQ(LocalFree(zeroed), nullptr);

  // Freeing twice or freeing what LocalAlloc never gave is refused, not a crash.
  EXPECT_EQ(LocalFree(zeroed), zeroed);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  int onStack = 0;
  EXPECT_EQ(LocalFree(&onStack), &onStack);
  EXPECT_EQ(LocalFree(nullptr), nullptr);

  SetLastError(0);
  EXPECT_EQ(LocalAlloc(0x0002 /* LMEM_MOVEABLE */, 8), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
