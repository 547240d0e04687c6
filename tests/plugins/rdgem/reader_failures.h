// The allocation-failure check the readers' tests share: the n-th allocation
// fails, for every n up to a bound, while an image is opened and exercised.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "reader_harness.h"
#include "winport/memory.h"

namespace readertest {

// `exercise` works on the opened image and returns 1 when all it did
// succeeded. Each failure must be 6 with the allocation text, a failed
// init must leave no handle, no file may stay open, and at least one of
// the attempts 1 .. attempts - 1 must fail.
inline void ExpectEveryAllocationFailureReported(const ReaderApi& api, const std::string& name,
                                                 const std::vector<uint8_t>& bytes,
                                                 uint32_t attempts,
                                                 const std::function<int32_t(HGLOBAL)>& exercise) {
  auto& files = testsupport::MemoryFiles::instance();
  bool sawFailure = false;
  for (uint32_t nth = 1; nth < attempts; ++nth) {
    SCOPED_TRACE(nth);
    files.put(name, bytes);
    uint32_t file = files.openForRead(name);
    winport_test_fail_allocation(nth);
    HGLOBAL handle = 0;
    int32_t result = api.init(name.c_str(), &handle, file, 0, 0, files.table());
    if (result == 1) {
      result = exercise(handle);
      EXPECT_EQ(api.close(handle), 1);
    } else {
      EXPECT_EQ(handle, HGLOBAL{});
    }
    winport_test_fail_allocation(0);
    if (result != 1) {
      sawFailure = true;
      EXPECT_EQ(result, 6);
      EXPECT_EQ(api.lastError(), "Unable to allocate memory for image.");
    }
    EXPECT_EQ(files.openHandles(), 0);
  }
  EXPECT_TRUE(sawFailure);
}

// Builds the DIB header (freeing its block) and reads `rows` rows at `stride`.
inline int32_t BuildHeadAndRead(const ReaderApi& api, HGLOBAL handle, uint32_t rows,
                                uint32_t stride) {
  ImageHeaderRecord record{};
  int32_t result = api.buildHead(handle, &record);
  if (result != 1) return result;
  GlobalFree(GlobalHandle(record.bitmapInfo));
  std::vector<uint8_t> buffer(static_cast<size_t>(rows) * stride);
  return api.readRows(handle, buffer.data(), rows, stride, 0, nullptr);
}

}  // namespace readertest
