// The rdfax.DIL fuzz harness (libFuzzer, or replay_main.cpp for the corpus):
// the shared reader driver, then the fax reader's own exports on every page
// (GetTiffHeader, GetRawStripData, rows after it without repositioning).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "reader_driver.h"
#include "winport/windows.h"

namespace {

using GetRawStripDataFn = HGLOBAL (*)(HGLOBAL image, DWORD* byteCount);
using GetTiffHeaderFn = int32_t (*)(HGLOBAL image, void* destination);

struct FaxExtras {
  OVDLinit_image_fn init;
  OVDLclose_image_fn close;
  OVDLset_page_fn setPage;
  OVDLget_page_fn getPage;
  OVDLread_rows_fn readRows;
  GetRawStripDataFn rawStrips;
  GetTiffHeaderFn tiffHeader;
};

template <typename F>
F Bind(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  if (address == nullptr) {
    std::fprintf(stderr, "missing export %s\n", name);
    std::abort();
  }
  return reinterpret_cast<F>(address);
}

const FaxExtras& Extras() {
  static const FaxExtras extras = [] {
    const char* chosen = std::getenv("FUZZ_MODULE_DIR");
    std::string path = std::string(chosen != nullptr ? chosen : FUZZ_DEFAULT_MODULE_DIR) + "/rdfax.DIL";
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == 0) std::abort();
    return FaxExtras{Bind<OVDLinit_image_fn>(module, "OVDLinit_image"),
                     Bind<OVDLclose_image_fn>(module, "OVDLclose_image"),
                     Bind<OVDLset_page_fn>(module, "OVDLset_page"),
                     Bind<OVDLget_page_fn>(module, "OVDLget_page"),
                     Bind<OVDLread_rows_fn>(module, "OVDLread_rows"),
                     Bind<GetRawStripDataFn>(module, "GetRawStripData"),
                     Bind<GetTiffHeaderFn>(module, "GetTiffHeader")};
  }();
  return extras;
}

constexpr uint32_t kMaxPages = 4;
constexpr uint32_t kRowBytes = 1 << 16;

void ExercisePage(const FaxExtras& x, HGLOBAL image) {
  uint8_t header[160];
  if (x.tiffHeader(image, header) != kReaderOk) std::abort();
  DWORD count = 0;
  if (HGLOBAL raw = x.rawStrips(image, &count); raw != 0) {
    if (GlobalSize(raw) != count) std::abort();
    GlobalFree(raw);
  }
  // A few rows after the raw copy, into a row that may be narrower than the page's.
  std::vector<uint8_t> rows(3 * static_cast<size_t>(kRowBytes));
  x.readRows(image, rows.data(), 3, kRowBytes, 0, nullptr);
}

void RunExtras(const uint8_t* data, size_t size) {
  const FaxExtras& x = Extras();
  fuzzfiles::Reset(data, size);
  HGLOBAL image = 0;
  if (x.init(fuzzfiles::kFileName, &image, fuzzfiles::Open(), 0,
             static_cast<uint32_t>(size), fuzzfiles::Table()) != kReaderOk) {
    return;
  }
  uint32_t pages = 0;
  uint8_t header[160];
  if (x.tiffHeader(image, header) == kReaderOk) std::memcpy(&pages, header + 144, sizeof pages);
  for (uint32_t page = 0; page < pages && page < kMaxPages; ++page) {
    if (page > 0 && x.setPage(image, static_cast<int32_t>(page)) != kReaderOk) continue;
    ExercisePage(x, image);
  }
  if (x.close(image) != kReaderOk) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzdriver::ReaderDriver driver("rdfax.DIL", FUZZ_DEFAULT_MODULE_DIR);
  const uint32_t blocksBefore = winport_test_live_global_blocks();
  driver.run(data, size);
  RunExtras(data, size);
  if (fuzzfiles::OpenHandles() != 0) std::abort();
  if (winport_test_live_global_blocks() != blocksBefore) std::abort();
  return 0;
}
