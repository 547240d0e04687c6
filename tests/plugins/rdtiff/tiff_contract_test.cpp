// The reader contract as the TIFF reader answers it: fixed answers, strings,
// recognition, and failures of memory and of the host's reads.
#include <cstring>

#include "reader_failures.h"
#include "tiff_fixture.h"

namespace tifftest {
namespace {

TEST_F(TiffTest, FixedAnswersAndStrings) {
  EXPECT_STREQ(api.version(), "TIFF File Reader V1.2");
  EXPECT_EQ(api.print(0, 0, 0, 0), 5);
  EXPECT_EQ(api.lastError(), "Orvello Internal Error: Tried to print TIFF file from DLL.");
  EXPECT_EQ(api.escape(0, 0, 0, 0), 9);
  EXPECT_EQ(api.render(0, 0, 0, 0), 0);
  EXPECT_EQ(api.verifyBytes({'I', 'I', 42, 0}), 1);
  EXPECT_EQ(api.verifyBytes({'M', 'M', 0, 42}), 1);
  EXPECT_EQ(api.verifyBytes({'F', 'F', 42, 0}), 0);
  EXPECT_EQ(api.verifyBytes({'I', 'M'}), 0);
  char filter[64] = {};
  LoadStringA(api.module.handle(), 1000, filter, sizeof filter);
  EXPECT_STREQ(filter, "TIFF 5.0 Images~*.tif~");
  int32_t page = 0;
  EXPECT_EQ(api.getPage(0, &page), 8);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
}

// A file that allocates: strip-offset and colour-map arrays, PackBits input,
// a second page.
std::vector<uint8_t> AllocatingFile() {
  std::vector<uint32_t> map(3 * 256, 0x4000);
  std::vector<std::vector<uint8_t>> strips;
  for (uint8_t s = 0; s < 3; ++s) strips.push_back({0xFD, s, 0xFD, uint8_t(s + 1)});
  Page first = SimplePage(4, 6, 8, 1, 3, 32773, 2, strips);
  first.entries.push_back({320, kShort, map});
  Page second = SimplePage(8, 1, 1, 1, 1, 1, 1, {{0x3C}});
  return Build({first, second});
}

TEST_F(TiffTest, EveryAllocationFailureIsReportedAndLeavesNothingBehind) {
  const std::vector<uint8_t> bytes = AllocatingFile();
  readertest::ExpectEveryAllocationFailureReported(api, "alloc.tif", bytes, 12, [&](HGLOBAL h) {
    std::vector<uint8_t> buffer(6 * 4);
    int32_t result = api.readRows(h, buffer.data(), 6, 4, 0, nullptr);
    if (result == 1) result = api.setPage(h, 1);
    return result;
  });
}

TEST_F(TiffTest, HostReadErrorsAreReadFailures) {
  const std::vector<uint8_t> bytes = AllocatingFile();
  auto& files = testsupport::MemoryFiles::instance();
  files.readFailsAfterBytes = 4;  // the header itself fails
  auto [result, text] = OpenResult(bytes);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(text, "Error reading from file.");
  files.readFailsAfterBytes = -1;

  readertest::OpenImage image(api, "late.tif", bytes);
  ASSERT_EQ(image.initResult, 1);
  files.readFailsAfterBytes = 0;  // from now on every read fails
  int32_t rows = 0;
  image.read(6, 4, 0, nullptr, &rows);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(api.setPage(image.handle, 1), 3);
  int32_t page = -1;
  api.getPage(image.handle, &page);
  EXPECT_EQ(page, 0);
  files.readFailsAfterBytes = -1;
}

TEST_F(TiffTest, CancellationStopsAfterTheRowsDelivered) {
  readertest::OpenImage image(api, "cancel.tif", AllocatingFile());
  ASSERT_EQ(image.initResult, 1);
  ProgressRecord progress{};
  progress.callback = [](uint32_t, uint32_t, uint32_t) CALLBACK -> int32_t { return 0; };
  progress.step = 1;
  progress.total = 100;
  int32_t result = 0;
  image.read(6, 4, 0, &progress, &result);
  EXPECT_EQ(result, 23);
  // The next read continues at row 1.
  Rows rows = image.read(1, 4, 0, nullptr, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(rows[0], (std::vector<uint8_t>{1, 1, 1, 1}));
}

}  // namespace
}  // namespace tifftest
