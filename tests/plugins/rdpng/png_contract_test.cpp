// The reader contract as the PNG reader answers it: fixed answers, strings,
// invalid handles, interlaced reads in part, memory and host read failures,
// cancellation.
#include <cstring>

#include "reader_failures.h"
#include "png_fixture.h"

namespace pngtest {
namespace {

TEST_F(PngTest, FixedAnswersAndStrings) {
  EXPECT_STREQ(api.version(), "PNG File Reader V1.0");
  char filter[64] = {};
  LoadStringA(api.module.handle(), 1000, filter, sizeof filter);
  EXPECT_STREQ(filter, "PNG Images~*.png~");
  EXPECT_EQ(api.setPage, nullptr);  // a single-image reader
  EXPECT_EQ(api.getPage, nullptr);
  EXPECT_EQ(api.escape(0, 0, 0, 0), 9);
  EXPECT_EQ(api.render(0, 0, 0, 0), 0);
  EXPECT_EQ(api.setExt(3, "png"), 1);
  // Printing is refused without storing a text: the previous one stays.
  EXPECT_EQ(api.imgName(0, 0), 8);
  EXPECT_EQ(api.print(0, 0, 0, 0), 5);
  EXPECT_EQ(api.lastError(), "Invalid image handle.");
  const std::pair<UINT, const char*> texts[] = {
      {5, "Unexpected End of PNG File reached."},
      {6, "Orvello Internal Error: Tried to print PNG file from DLL."},
      {7, "Invalid PNG header information."},
      {8, "Unsupported PNG version."},
      {9, "Error - unable to read a portion of an interlaced PNG file."},
  };
  for (const auto& [id, text] : texts) {
    char loaded[80] = {};
    LoadStringA(api.module.handle(), id, loaded, sizeof loaded);
    EXPECT_STREQ(loaded, text);
  }
}

TEST_F(PngTest, EveryCallWithAnInvalidHandleAnswers8) {
  readertest::OpenImage image(api, "h.png", File(Noise(3, 3, 8, 0, 1)));
  ASSERT_EQ(image.initResult, 1);
  HGLOBAL stale = image.handle;
  EXPECT_EQ(api.close(stale), 1);
  image.handle = 0;
  uint8_t row[4];
  ImageHeaderRecord record{};
  for (HGLOBAL bad : {HGLOBAL(0), stale}) {
    EXPECT_EQ(api.readRows(bad, row, 1, 4, 0, nullptr), 8);
    EXPECT_EQ(api.setRow(bad, 0), 8);
    EXPECT_EQ(api.buildHead(bad, &record), 8);
    EXPECT_EQ(api.open(bad, 0), 8);
    EXPECT_EQ(api.closeKeep(bad), 8);
    EXPECT_EQ(api.close(bad), 8);
    EXPECT_EQ(api.imgName(bad, 0), 8);
    EXPECT_EQ(api.lastError(), "Invalid image handle.");
  }
}

TEST_F(PngTest, AnInterlacedImageIsReadWholeOnly) {
  Picture p = Noise(11, 9, 4, 3, 2);
  Options options;
  options.interlaced = true;
  readertest::OpenImage image(api, "i.png", File(p, options));
  const uint32_t stride = Stride(p);
  int32_t result = 0;
  Rows part = image.read(4, stride, 0, nullptr, &result);
  EXPECT_EQ(result, 8);
  EXPECT_EQ(api.lastError(), "Error - unable to read a portion of an interlaced PNG file.");
  EXPECT_EQ(part[0], Bytes(stride, 0xA5));
  // Whole, into rows that were not zeroed, twice over.
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(api.setRow(image.handle, 0), 1);
    EXPECT_EQ(image.read(9, stride, 0, nullptr, &result, 0xFF), ExpectedRows(p, stride, 0xFF));
    EXPECT_EQ(result, 1);
  }
}

TEST_F(PngTest, EveryAllocationFailureIsReportedAndLeavesNothingBehind) {
  Options options;
  options.interlaced = true;
  const Bytes bytes = File(Noise(19, 13, 8, 6, 3), options);
  readertest::ExpectEveryAllocationFailureReported(api, "alloc.png", bytes, 16, [&](HGLOBAL h) {
    return readertest::BuildHeadAndRead(api, h, 13, 60);
  });
}

TEST_F(PngTest, HostReadErrorsAreReadFailures) {
  Picture p = Noise(30, 40, 8, 2, 5);
  const Bytes bytes = File(p);
  auto& files = testsupport::MemoryFiles::instance();
  files.readFailsAfterBytes = 20;  // inside the chunk walk
  auto [result, text] = OpenResult(bytes);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(text, "Error reading from file.");
  files.readFailsAfterBytes = -1;

  readertest::OpenImage image(api, "late.png", bytes);
  ASSERT_EQ(image.initResult, 1);
  files.readFailsAfterBytes = 0;  // from now on every read fails
  int32_t rows = 0;
  image.read(40, Stride(p), 0, nullptr, &rows);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(api.lastError(), "Error reading from file.");
  files.readFailsAfterBytes = -1;
  // Once the host reads again, the image reads again from the current row.
  Rows again = image.read(40, Stride(p), 0, nullptr, &rows);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(again, ExpectedRows(p, Stride(p)));
}

TEST_F(PngTest, CancellationStopsAfterTheRowsDelivered) {
  Picture p = Noise(8, 6, 8, 0, 7);
  const uint32_t stride = Stride(p);
  readertest::OpenImage image(api, "cancel.png", File(p));
  ProgressRecord progress{};
  progress.callback = [](uint32_t, uint32_t, uint32_t) CALLBACK -> int32_t { return 0; };
  progress.step = 1;
  progress.total = 100;
  int32_t result = 0;
  image.read(6, stride, 0, &progress, &result);
  EXPECT_EQ(result, 23);
  Rows rows = image.read(1, stride, 0, nullptr, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(rows[0], ExpectedRows(p, stride)[1]);
  // Without a callback the amounts only accumulate.
  ProgressRecord quiet{};
  quiet.step = 1;
  quiet.total = 100;
  image.read(2, stride, 0, &quiet, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(quiet.pending, 2 * stride);
  EXPECT_EQ(quiet.reported, 0u);
}

}  // namespace
}  // namespace pngtest
