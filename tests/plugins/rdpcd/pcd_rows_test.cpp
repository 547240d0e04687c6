// rdpcd's rows: what the library delivers for the rectangle the reader
// builds, the current row that only OVDLset_row moves, and progress through
// the library (the whole chain through imagehost: pcd_imagehost_tools_test.cpp).
#include <cstring>

#include "pcd_fixture.h"

namespace pcdreadertest {
namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<std::vector<uint8_t>>;

TEST_F(PcdReaderTest, RowsStayPutUntilSetRowMovesThem) {
  auto image = openPattern();
  ASSERT_EQ(image->initResult, 1);
  const Rows expected = libraryRows(paths_.back(), {0, 0, 512, 767}, kStride);
  Rows first = image->read(3, kStride);
  EXPECT_EQ(first, Rows(expected.begin(), expected.begin() + 3));
  EXPECT_EQ(image->read(3, kStride), first);  // no set_row: the same rows again
  EXPECT_EQ(api.setRow(image->handle, 100), 1);
  EXPECT_EQ(image->read(2, kStride), Rows(expected.begin() + 100, expected.begin() + 102));
  EXPECT_EQ(api.setRow(image->handle, 0), 1);
  EXPECT_EQ(image->read(512, kStride), expected);
  // The last rows, then past the end: refused, the buffer untouched.
  EXPECT_EQ(api.setRow(image->handle, 510), 1);
  EXPECT_EQ(image->read(2, kStride), Rows(expected.begin() + 510, expected.end()));
  int32_t result = -1;
  Rows past = image->read(3, kStride, 0, nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  EXPECT_EQ(past[0], Bytes(kStride, 0xA5));
}

TEST_F(PcdReaderTest, OffsetAndStrideMakeTheColumns) {
  auto image = openPattern();
  const Rows expected = libraryRows(paths_.back(), {0, 0, 512, 767}, kStride);
  ASSERT_EQ(api.setRow(image->handle, 7), 1);
  // Offset 30, stride 60: columns 10 to 19 at the start of each row.
  Rows part = image->read(2, 60, 30);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(Bytes(part[k].begin(), part[k].begin() + 30),
              Bytes(expected[7 + k].begin() + 30, expected[7 + k].begin() + 60));
    EXPECT_EQ(Bytes(part[k].begin() + 30, part[k].end()), Bytes(30, 0xA5));
  }
  // A stride wider than the row: the bytes beyond it keep their content.
  Rows wide = image->read(1, kStride + 8);
  EXPECT_EQ(Bytes(wide[0].begin(), wide[0].begin() + kStride), expected[7]);
  EXPECT_EQ(Bytes(wide[0].begin() + kStride, wide[0].end()), Bytes(8, 0xA5));

  int32_t result = -1;
  image->read(0, 0, 0, nullptr, &result);
  EXPECT_EQ(result, 1);  // no rows: nothing to do
  // No whole pixel fits the stride; a null buffer; rows beyond 16-bit numbers.
  image->read(1, 2, 0, nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.readRows(image->handle, nullptr, 1, kStride, 0, nullptr), 0);
  EXPECT_EQ(api.setRow(image->handle, 65534), 1);
  image->read(2, kStride, 0, nullptr, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
}

struct Reports {
  std::vector<std::vector<uint32_t>> calls;
  int stopAt = 0;  // answer 0 on this call (1-based)
};
Reports* gReports = nullptr;

int32_t CALLBACK Record(uint32_t first, uint32_t percent, uint32_t third) {
  gReports->calls.push_back({first, percent, third});
  return static_cast<int>(gReports->calls.size()) == gReports->stopAt ? 0 : 1;
}

TEST_F(PcdReaderTest, ProgressGoesThroughTheLibrary) {
  auto image = openPattern();
  Reports reports;
  gReports = &reports;
  ProgressRecord progress{};
  progress.callback = Record;
  progress.firstArgument = 11;
  progress.thirdArgument = 33;
  image->read(4, kStride, 0, &progress);
  EXPECT_EQ(reports.calls, (std::vector<std::vector<uint32_t>>{
                               {11, 25, 33}, {11, 50, 33}, {11, 75, 33}, {11, 100, 33}}));
  EXPECT_EQ(progress.reported, 0u);  // the reader keeps no accounts of its own
  EXPECT_EQ(progress.pending, 0u);

  // Callback 0: no routine installed, and the earlier record is not used again.
  reports.calls.clear();
  ProgressRecord silent{};
  int32_t result = -1;
  image->read(4, kStride, 0, &silent, &result);
  EXPECT_EQ(result, 1);
  image->read(4, kStride, 0, nullptr, &result);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(reports.calls.empty());

  // A callback that asks to stop ends the read as a failed one.
  reports = Reports{{}, 2};
  Rows rows = image->read(4, kStride, 0, &progress, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  EXPECT_EQ(reports.calls.size(), 2u);
  EXPECT_EQ(rows[2], Bytes(kStride, 0xA5));
  gReports = nullptr;
}

}  // namespace
}  // namespace pcdreadertest
