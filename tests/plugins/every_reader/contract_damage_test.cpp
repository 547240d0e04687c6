// Damaged copies of each valid file: cut at several offsets (in the header,
// in the middle, in the last bytes) and with single bytes changed. Every call
// must answer one of the contract's results, leave the reader's own text
// when it stores one, and leave no file open and no memory block behind; a
// call that does not return within the watchdog's time fails the run.
#include <algorithm>
#include <random>

#include "contract_fixture.h"

namespace everyreader {
namespace {

struct Damaged {
  std::string what;
  Bytes bytes;
};

std::vector<Damaged> DamagedCopies(const Bytes& file) {
  std::vector<Damaged> copies;
  const size_t n = file.size();
  std::vector<size_t> cuts = {0, 1, 4, 8, 13, 32, 100, 300, n / 3, n / 2, n - n / 4, n - 16, n - 2, n - 1};
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  for (size_t cut : cuts) {
    if (cut >= n) continue;
    copies.push_back({"cut at " + std::to_string(cut), Bytes(file.begin(), file.begin() + static_cast<long>(cut))});
  }
  // Byte changes: in the first bytes (header fields) and spread over the rest.
  std::mt19937 rng(static_cast<uint32_t>(n));
  std::vector<size_t> positions = {2, 5, 9, 12, 18, 26};
  for (int k = 0; k < 6; ++k) positions.push_back(rng() % n);
  for (size_t at : positions) {
    if (at >= n) continue;
    for (uint8_t change : {uint8_t{0xFF}, uint8_t{0x80}}) {
      Bytes changed = file;
      changed[at] = static_cast<uint8_t>(changed[at] ^ change);
      copies.push_back({"byte " + std::to_string(at) + " xor " + std::to_string(change), changed});
    }
  }
  return copies;
}

// At most this many rows per page are read, and no read buffer exceeds
// kMaxBuffer bytes: a changed header may claim a picture of any size.
constexpr uint32_t kMaxRows = 4096;
constexpr uint64_t kMaxBuffer = 64u << 20;

class DamageTest : public ContractTest {
 protected:
  // Checks one answer; false once a call has failed (so reading stops).
  bool answered(int32_t result, const std::string& call) {
    // The answers the contract has for a reader's entry points; 0 is a
    // library reader's failure.
    static const int32_t kResults[] = {1, 2, 3, 4, 6, 8, 9, 10, 16};
    const bool known = std::find(std::begin(kResults), std::end(kResults), result) != std::end(kResults) ||
                       (result == 0 && traits->viaLibrary);
    EXPECT_TRUE(known) << call << " answered " << result;
    // Results 1 (success) and 10 (corrupt data) store no id; the others leave a text of the reader.
    if (result != 1 && result != 10) {
      const std::string text = lastError();
      EXPECT_TRUE(reader->ownTexts.count(text)) << call << " answered " << result << " with text '" << text << "'";
    }
    return result == 1;
  }

  // Reads the current page in calls of up to 7 rows, then again from row 0.
  void readPage(const readertest::OpenImage& image, const Geometry& g) {
    if (g.height == 0 || g.stride == 0) return;
    const uint32_t height = std::min(g.height, kMaxRows);
    uint32_t block = GetParam().wholeImageOnly ? height : 7;
    while (block > 1 && uint64_t{block} * g.stride > kMaxBuffer) block /= 2;
    if (uint64_t{block} * g.stride > kMaxBuffer) return;
    for (uint32_t done = 0; done < height;) {
      const uint32_t rows = std::min(block, height - done);
      if (traits->viaLibrary && !answered(api->setRow(image.handle, done), "OVDLset_row")) return;
      int32_t r = 0;
      image.read(rows, g.stride, 0, nullptr, &r);
      if (!answered(r, "OVDLread_rows at row " + std::to_string(done))) break;
      done += rows;
    }
    if (!answered(api->setRow(image.handle, 0), "OVDLset_row(0)")) return;
    int32_t r = 0;
    image.read(std::min(block, height), g.stride, 0, nullptr, &r);
    answered(r, "OVDLread_rows after OVDLset_row(0)");
  }

  void session(const Damaged& d) {
    SCOPED_TRACE(d.what);
    Watchdog watchdog(CaseName(GetParam()) + ", " + d.what, 120);
    const int32_t verify = api->verifyBytes(d.bytes);
    EXPECT_TRUE(verify == 0 || verify == traits->verifyAnswer) << "OVDLverify_img answered " << verify;
    auto image = open(d.bytes, "damaged");
    if (image->initResult != 1) {
      answered(image->initResult, "OVDLinit_image");
      EXPECT_EQ(image->handle, HGLOBAL{0}) << "a failed OVDLinit_image handed out a handle";
      image->handle = 0;
    } else {
      int32_t r = 0;
      Geometry g = head(*image, &r);
      if (answered(r, "OVDLbuildDIBhead")) readPage(*image, g);
      if (traits->pages && r == 1) {
        if (g.pages > 1 && answered(api->setPage(image->handle, 1), "OVDLset_page(1)")) {
          Geometry second = head(*image, &r);
          if (answered(r, "OVDLbuildDIBhead of page 1")) readPage(*image, second);
        }
        const int32_t beyond = api->setPage(image->handle, static_cast<int32_t>(std::max(g.pages, 1u)));
        answered(beyond, "OVDLset_page beyond the count");
        EXPECT_NE(beyond, 1) << "a page beyond the count was taken";
      }
      EXPECT_EQ(api->close(image->handle), 1);
      image->handle = 0;
    }
    EXPECT_EQ(openNow(), 0) << "files left open";
  }
};

TEST_P(DamageTest, DamagedCopiesAnswerWithinTheContract) {
  const uint32_t blocks = winport_test_live_global_blocks();
  for (const Damaged& d : DamagedCopies(file)) {
    session(d);
    EXPECT_EQ(winport_test_live_global_blocks(), blocks) << d.what << ": memory blocks left behind";
    if (HasFatalFailure()) return;
  }
}

// Host read errors part-way through (a failing disk rather than a short
// file) answer like short reads, leaving nothing behind.
TEST_P(DamageTest, HostReadErrorsAnswerWithinTheContract) {
  if (traits->viaLibrary) GTEST_SKIP() << "the library reads the file itself, not through the host";
  auto& files = testsupport::MemoryFiles::instance();
  for (int64_t after : {int64_t{0}, int64_t{6}, static_cast<int64_t>(file.size() / 2)}) {
    SCOPED_TRACE("reads fail after " + std::to_string(after) + " bytes");
    files.reset();
    const uint32_t blocks = winport_test_live_global_blocks();
    {
      files.readFailsAfterBytes = after;
      Watchdog watchdog(CaseName(GetParam()) + ", read errors", 120);
      auto image = open(file, "failing");
      if (image->initResult != 1) {
        answered(image->initResult, "OVDLinit_image");
      } else {
        int32_t r = 0;
        Geometry g = head(*image, &r);
        if (answered(r, "OVDLbuildDIBhead")) readPage(*image, g);
      }
    }
    files.readFailsAfterBytes = -1;
    EXPECT_EQ(openNow(), 0);
    EXPECT_EQ(winport_test_live_global_blocks(), blocks);
  }
}

EVERY_READER_CASES(DamageTest, Files());

}  // namespace
}  // namespace everyreader
