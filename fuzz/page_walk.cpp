#include "page_walk.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "winport/windows.h"

namespace fuzzdriver {

namespace {

constexpr int32_t kMaxPages = 4;
constexpr uint64_t kMaxBufferBytes = 1u << 20;
constexpr uint32_t kMaxMiddleRow = 2048;

struct PageApi {
  OVDLinit_image_fn init;
  OVDLbuildDIBhead_fn buildHead;
  OVDLread_rows_fn readRows;
  OVDLset_row_fn setRow;
  OVDLset_page_fn setPage;
  OVDLget_page_fn getPage;
  OVDLclose_image_fn close;
};

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

PageApi Bind(const char* moduleFile, const char* folder) {
  const char* chosen = std::getenv("FUZZ_MODULE_DIR");
  std::string path = std::string(chosen != nullptr ? chosen : folder) + "/" + moduleFile;
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == 0) Broken(("cannot load " + path).c_str());
  auto bind = [&](const char* name) {
    FARPROC f = GetProcAddress(module, name);
    if (f == nullptr) Broken(name);
    return f;
  };
  return PageApi{
      reinterpret_cast<OVDLinit_image_fn>(bind("OVDLinit_image")),
      reinterpret_cast<OVDLbuildDIBhead_fn>(bind("OVDLbuildDIBhead")),
      reinterpret_cast<OVDLread_rows_fn>(bind("OVDLread_rows")),
      reinterpret_cast<OVDLset_row_fn>(bind("OVDLset_row")),
      reinterpret_cast<OVDLset_page_fn>(bind("OVDLset_page")),
      reinterpret_cast<OVDLget_page_fn>(bind("OVDLget_page")),
      reinterpret_cast<OVDLclose_image_fn>(bind("OVDLclose_image")),
  };
}

// Describes the current page and reads its first rows, then a row from the middle.
void ReadPage(const PageApi& a, HGLOBAL image) {
  ImageHeaderRecord record{};
  if (a.buildHead(image, &record) != kReaderOk) return;
  BITMAPINFOHEADER header;
  std::memcpy(&header, record.bitmapInfo, sizeof header);
  GlobalFree(GlobalHandle(record.bitmapInfo));
  if (header.biWidth <= 0 || header.biHeight <= 0) return;
  uint64_t stride = DibRowBytes(static_cast<uint32_t>(header.biWidth), header.biBitCount);
  if (stride == 0 || stride > kMaxBufferBytes) return;
  uint32_t rows = static_cast<uint32_t>(std::min<uint64_t>({8, static_cast<uint64_t>(header.biHeight),
                                                            kMaxBufferBytes / stride}));
  std::vector<uint8_t> buffer(static_cast<size_t>(stride) * rows);
  if (a.setRow(image, 0) == kReaderOk) {
    a.readRows(image, buffer.data(), rows, static_cast<uint32_t>(stride), 0, nullptr);
  }
  // A row from the middle, within the rows the shared driver reads at most
  // (positioning decodes every row before it).
  uint32_t middle = std::min<uint32_t>(static_cast<uint32_t>(header.biHeight) / 2, kMaxMiddleRow);
  if (a.setRow(image, middle) == kReaderOk) {
    a.readRows(image, buffer.data(), 1, static_cast<uint32_t>(stride), 0, nullptr);
  }
}

void WalkPages(const PageApi& a, const uint8_t* data, size_t size) {
  fuzzfiles::Reset(data, size);
  uint32_t blocksBefore = winport_test_live_global_blocks();
  HGLOBAL image = 0;
  if (a.init(fuzzfiles::kFileName, &image, fuzzfiles::Open(), 0, static_cast<uint32_t>(size),
             fuzzfiles::Table()) == kReaderOk) {
    ImageHeaderRecord record{};
    int32_t pages = 1;
    if (a.buildHead(image, &record) == kReaderOk) {
      pages = static_cast<int32_t>(std::min<uint32_t>(record.pageCount, kMaxPages));
      GlobalFree(GlobalHandle(record.bitmapInfo));
    }
    for (int32_t page = pages - 1; page >= 0; --page) {
      if (a.setPage(image, page) == kReaderOk) ReadPage(a, image);
    }
    if (a.setPage(image, pages + 100) != kReaderNoSuchPage) Broken("page beyond the count");
    int32_t current = -1;
    if (a.getPage(image, &current) != kReaderOk || current < 0 || current >= pages) {
      Broken("current page out of range");
    }
    if (a.close(image) != kReaderOk) Broken("close_image failed");
  }
  if (fuzzfiles::OpenHandles() != 0) Broken("file left open");
  if (winport_test_live_global_blocks() != blocksBefore) Broken("global block leaked");
}

}  // namespace

struct PageWalker::Api {
  PageApi calls;
};

PageWalker::PageWalker(const char* moduleFile, const char* folder)
    : api_(new Api{Bind(moduleFile, folder)}) {}

PageWalker::~PageWalker() { delete api_; }

void PageWalker::run(const uint8_t* data, size_t size) const { WalkPages(api_->calls, data, size); }

}  // namespace fuzzdriver
