// Handles that are not live images of the reader, pages that do not exist,
// and the error texts failures leave.
#include "contract_fixture.h"

namespace everyreader {
namespace {

using HandlesTest = ContractTest;

using GetRawStripDataFn = HGLOBAL(WINAPI*)(HGLOBAL image, DWORD* byteCount);
using GetTiffHeaderFn = int32_t(WINAPI*)(HGLOBAL image, void* destination);

// Every call that takes an image handle refuses 0, a freed image, a live
// block that is not an image, and a value never issued: 8 with the reader's
// "Invalid image handle.".
TEST_P(HandlesTest, HandlesThatAreNoImageAreRefused) {
  HGLOBAL freed = 0;
  {
    auto image = open(file);
    ASSERT_EQ(image->initResult, 1) << lastError();
    freed = image->handle;
  }
  EXPECT_EQ(reader->text(4), "Invalid image handle.");
  HGLOBAL foreign = GlobalAlloc(GHND, 4096);
  auto rawStrips = api->module.get<GetRawStripDataFn>("GetRawStripData");
  auto tiffHeader = api->module.get<GetTiffHeaderFn>("GetTiffHeader");
  for (HGLOBAL bad : {HGLOBAL{0}, freed, foreign, testsupport::HandleFromNumber(0xDEADBEEF)}) {
    SCOPED_TRACE("handle " + std::to_string(testsupport::NumberOf(bad)));
    uint8_t buffer[64] = {};
    ImageHeaderRecord record{};
    auto check = [&](int32_t result, const char* call) {
      EXPECT_EQ(result, 8) << call;
      EXPECT_EQ(lastError(), "Invalid image handle.") << call;
    };
    // A failed open stores another id first, so each check sees its own call's id.
    auto prime = [&] {
      HGLOBAL unused = 0;
      api->init("no such file", &unused, 0, 0, 0, testsupport::MemoryFiles::table());
    };
    prime(), check(api->close(bad), "OVDLclose_image");
    prime(), check(api->open(bad, 0), "OVDLopen");
    prime(), check(api->closeKeep(bad), "OVDLclose_keep");
    prime(), check(api->readRows(bad, buffer, 1, 16, 0, nullptr), "OVDLread_rows");
    prime(), check(api->setRow(bad, 0), "OVDLset_row");
    prime(), check(api->buildHead(bad, &record), "OVDLbuildDIBhead");
    prime(), check(api->imgName(bad, 0), "OVDLimg_name");
    EXPECT_EQ(record.bitmapInfo, nullptr);
    if (traits->pages) {
      int32_t page = -7;
      prime(), check(api->setPage(bad, 0), "OVDLset_page");
      prime(), check(api->getPage(bad, &page), "OVDLget_page");
      EXPECT_EQ(page, -7);
    }
    if (tiffHeader != nullptr) prime(), check(tiffHeader(bad, buffer), "GetTiffHeader");
    if (rawStrips != nullptr) {
      DWORD count = 0;
      EXPECT_EQ(rawStrips(bad, &count), HGLOBAL{0}) << "GetRawStripData";
    }
  }
  GlobalFree(foreign);
}

// The failures of the calls out of order leave the reader's own texts.
TEST_P(HandlesTest, FailuresLeaveTheReadersOwnText) {
  auto image = open(file);
  ASSERT_EQ(image->initResult, 1) << lastError();
  const Geometry g = head(*image);
  ASSERT_GT(g.height, 0u);
  ASSERT_EQ(api->closeKeep(image->handle), 1);
  std::vector<uint8_t> row(g.stride);
  EXPECT_NE(api->readRows(image->handle, row.data(), 1, g.stride, 0, nullptr), 1);
  const std::string closed = lastError();
  EXPECT_FALSE(closed.empty());
  EXPECT_TRUE(reader->ownTexts.count(closed)) << closed;
  ASSERT_EQ(api->open(image->handle, 0), 1);
  api->imgName(image->handle, 0);  // a success stores nothing
  EXPECT_EQ(lastError(), closed);
  EXPECT_EQ(api->imgName(0, 0), 8);
  EXPECT_EQ(lastError(), reader->text(4));
  // A text that does not fit is cut, with its terminator.
  char small[6] = "xxxxx";
  EXPECT_EQ(api->errorString(small, sizeof small), 1);
  EXPECT_EQ(std::string(small), reader->text(4).substr(0, sizeof small - 1));
}

using PagesTest = ContractTest;

// A page beyond the count is refused with the reader's text; the page that
// was current stays current and reads as before.
TEST_P(PagesTest, APageBeyondTheCountIsRefusedAndTheCurrentPageStays) {
  auto image = open(file);
  ASSERT_EQ(image->initResult, 1) << lastError();
  Geometry g = head(*image);
  ASSERT_GE(g.pages, 1u);
  const int32_t last = static_cast<int32_t>(g.pages) - 1;
  for (int32_t current : {0, last}) {
    SCOPED_TRACE("current page " + std::to_string(current));
    int32_t r = api->setPage(image->handle, current);
    EXPECT_EQ(r, 1) << lastError();
    ASSERT_EQ(api->setRow(image->handle, 0), 1);  // the page that is current already keeps its row
    g = head(*image);
    ASSERT_GT(g.height, 0u);
    const Rows before = readAll(*image, g, g.height, &r);
    ASSERT_EQ(r, 1) << lastError();
    ASSERT_EQ(api->setRow(image->handle, 1 < g.height ? 1 : 0), 1);
    // A reader whose table has a text for a missing page stores it; one
    // without (PCX/DCX) stores nothing, so the text of the last failure stays.
    const std::string noSuchPage = reader->text(15);
    for (int32_t beyond : {static_cast<int32_t>(g.pages), static_cast<int32_t>(g.pages) + 5, -1}) {
      EXPECT_EQ(api->imgName(0, 0), 8);  // stores id 4 first
      EXPECT_EQ(api->setPage(image->handle, beyond), 16) << "page " << beyond;
      EXPECT_EQ(lastError(), noSuchPage.empty() ? reader->text(4) : noSuchPage);
      int32_t page = -1;
      EXPECT_EQ(api->getPage(image->handle, &page), 1);
      EXPECT_EQ(page, current);
    }
    // Nothing changed: the header is the page's and reading goes on from row 1.
    Geometry again = head(*image);
    EXPECT_EQ(again.width, g.width);
    EXPECT_EQ(again.height, g.height);
    if (g.height > 1) {
      Rows rest = image->read(g.height - 1, g.stride, 0, nullptr, &r);
      EXPECT_EQ(r, 1) << lastError();
      EXPECT_TRUE(SameRows(rest, Rows(before.begin() + 1, before.end())));
    }
    ASSERT_EQ(api->setRow(image->handle, 0), 1);
    EXPECT_TRUE(SameRows(readAll(*image, g, g.height, &r), before));
  }
}

EVERY_READER_CASES(HandlesTest, Files());
EVERY_READER_CASES(PagesTest, PagedFiles());

}  // namespace
}  // namespace everyreader
