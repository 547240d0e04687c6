// Shared set-up of the rdfax tests: the loaded reader, fax files built from
// the documented layout around T.4 streams, leak checks.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fax_test_codec.h"
#include "reader_harness.h"
#include "tiff_builder.h"
#include "winport/windows.h"

namespace faxreadertest {

inline const readertest::ReaderApi& Fax() {
  static readertest::ReaderApi api("rdfax.DIL");
  return api;
}

using Rows = std::vector<std::vector<uint8_t>>;

// One page: the picture, its T.4 strips and the tags around them.
struct FaxPage {
  faxtest::Picture picture;
  uint32_t rowsPerStrip = 0;  // 0: one strip
  uint16_t compression = 3;
  uint16_t photometric = 0;
  uint16_t fillOrder = 1;
  faxtest::T4Options coding{true, true, false};
};

// The strips of a page: each strip a T.4 stream of its own rows.
inline std::vector<std::vector<uint8_t>> CodedStrips(const FaxPage& page) {
  const faxtest::Picture& p = page.picture;
  const uint32_t perStrip = page.rowsPerStrip == 0 ? p.height : page.rowsPerStrip;
  std::vector<std::vector<uint8_t>> strips;
  for (uint32_t first = 0; first < p.height; first += perStrip) {
    const uint32_t rows = std::min(perStrip, p.height - first);
    faxtest::Picture part{p.width, rows,
                          std::vector<uint8_t>(p.black.begin() + static_cast<ptrdiff_t>(first) * p.width,
                                               p.black.begin() + static_cast<ptrdiff_t>(first + rows) * p.width)};
    std::vector<uint8_t> coded = faxtest::EncodeT4(part, page.coding);
    strips.push_back(page.fillOrder == 2 ? faxtest::ReverseBits(coded) : coded);
  }
  return strips;
}

inline tifftest::Page TagsAround(const FaxPage& page, std::vector<std::vector<uint8_t>> strips) {
  const uint32_t perStrip = page.rowsPerStrip == 0 ? page.picture.height : page.rowsPerStrip;
  tifftest::Page tags =
      tifftest::SimplePage(page.picture.width, page.picture.height, 1, 1, page.photometric,
                           page.compression, perStrip, std::move(strips));
  if (page.fillOrder != 1) tags.entries.push_back({266, tifftest::kShort, {page.fillOrder}});
  return tags;
}

// A fax file: the TIFF layout in little-endian order, marked "FF".
inline std::vector<uint8_t> MarkedFax(std::vector<uint8_t> file) {
  file[0] = 'F';
  file[1] = 'F';
  return file;
}

inline std::vector<uint8_t> FaxFile(const std::vector<FaxPage>& pages) {
  std::vector<tifftest::Page> built;
  for (const FaxPage& page : pages) built.push_back(TagsAround(page, CodedStrips(page)));
  return MarkedFax(tifftest::Build(built));
}

inline uint32_t Stride(uint32_t width) { return static_cast<uint32_t>(DibRowBytes(width, 1)); }

// The rows the reader should deliver at `stride`: 1 = white, padding as the
// decoder leaves it (1 bits to the byte end), then the untouched fill.
inline Rows ExpectedRows(const faxtest::Picture& picture, uint32_t stride, uint8_t fill = 0xA5) {
  Rows rows;
  for (uint32_t y = 0; y < picture.height; ++y) {
    std::vector<uint8_t> row = faxtest::PackedRow(picture.row(y));
    row.resize(stride, fill);
    rows.push_back(row);
  }
  return rows;
}

class FaxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(Fax().module) << "rdfax.DIL not loaded from " << testsupport::binDir();
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    EXPECT_EQ(testsupport::MemoryFiles::instance().openHandles(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
  }

  // OVDLinit_image's result and the error text it left.
  std::pair<int32_t, std::string> OpenResult(const std::vector<uint8_t>& bytes) {
    readertest::OpenImage image(api, "t.vlf", bytes);
    return {image.initResult, image.initResult == 1 ? std::string() : api.lastError()};
  }

  const readertest::ReaderApi& api = Fax();
  uint32_t blocksBefore_ = 0;
};

}  // namespace faxreadertest
