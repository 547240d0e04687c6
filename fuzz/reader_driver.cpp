#include "reader_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_files.h"
#include "winport/windows.h"

namespace fuzzdriver {

struct ReaderDriver::Api {
  OVDLverify_img_fn verify;
  OVDLinit_image_fn init;
  OVDLbuildDIBhead_fn buildHead;
  OVDLread_rows_fn readRows;
  OVDLset_row_fn setRow;
  OVDLclose_keep_fn closeKeep;
  OVDLopen_fn open;
  OVDLclose_image_fn close;
  OVDLerror_string_fn errorString;
};

namespace {

constexpr uint64_t kMaxBufferBytes = 4u << 20;  // bounds the work per input
constexpr uint32_t kMaxRows = 2048;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

template <typename F>
F Bind(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  if (address == nullptr) Broken(name);
  return reinterpret_cast<F>(address);
}

int32_t KeepGoing(uint32_t, uint32_t, uint32_t) {
  return 1;
}

// Choices taken from the input's last bytes (they are image data too).
struct Choices {
  explicit Choices(const uint8_t* data, size_t size)
      : a(size > 0 ? data[size - 1] : 0), b(size > 1 ? data[size - 2] : 0) {}
  uint32_t block(uint32_t call) const {
    static constexpr uint32_t kBlocks[] = {1, 7, 64, 3, 255};
    return call % 2 == 0 ? kBlocks[a % 5] : 1 + (b + call) % 13;
  }
  uint8_t a, b;
};

}  // namespace

ReaderDriver::ReaderDriver(const char* moduleFile, const char* folder) {
  const char* chosen = std::getenv("FUZZ_MODULE_DIR");
  std::string path = std::string(chosen != nullptr ? chosen : folder) + "/" + moduleFile;
  module_ = LoadLibraryA(path.c_str());
  if (module_ == 0) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    std::exit(2);
  }
  auto* api = new Api{
      Bind<OVDLverify_img_fn>(module_, "OVDLverify_img"),
      Bind<OVDLinit_image_fn>(module_, "OVDLinit_image"),
      Bind<OVDLbuildDIBhead_fn>(module_, "OVDLbuildDIBhead"),
      Bind<OVDLread_rows_fn>(module_, "OVDLread_rows"),
      Bind<OVDLset_row_fn>(module_, "OVDLset_row"),
      Bind<OVDLclose_keep_fn>(module_, "OVDLclose_keep"),
      Bind<OVDLopen_fn>(module_, "OVDLopen"),
      Bind<OVDLclose_image_fn>(module_, "OVDLclose_image"),
      Bind<OVDLerror_string_fn>(module_, "OVDLerror_string"),
  };
  api_ = api;
}

const ReaderDriver::Api& ReaderDriver::api() const {
  return *static_cast<const Api*>(api_);
}

void ReaderDriver::readRows(HGLOBAL image, const uint8_t* data, size_t size, uint32_t width,
                            uint32_t height, uint32_t bits) const {
  const Api& a = api();
  const Choices choose(data, size);
  uint64_t stride = DibRowBytes(width, bits);
  uint64_t rows = std::min<uint64_t>(height, kMaxRows);
  if (stride > 0) rows = std::min<uint64_t>(rows, kMaxBufferBytes / stride);
  if (rows == 0 || stride == 0 || stride > kMaxBufferBytes) return;
  const auto n = static_cast<uint32_t>(rows);
  const auto s = static_cast<uint32_t>(stride);

  // All rows in one call, then again in blocks: the rows must agree.
  std::vector<uint8_t> whole(static_cast<size_t>(rows * stride), 0x5A);
  int32_t wholeResult = a.readRows(image, whole.data(), n, s, 0, nullptr);
  std::vector<uint8_t> blocks(whole.size(), 0x5A);
  int32_t blockResult = a.setRow(image, 0);
  for (uint32_t done = 0, call = 0; done < n && blockResult == 1; ++call) {
    uint32_t count = std::min(choose.block(call), n - done);
    // Block k holds rows done..done+count-1; in the whole buffer they sit bottom-up.
    std::vector<uint8_t> part(static_cast<size_t>(count) * s, 0x5A);
    blockResult = a.readRows(image, part.data(), count, s, 0, nullptr);
    for (uint32_t k = 0; k < count && blockResult == 1; ++k) {
      std::memcpy(&blocks[static_cast<size_t>(n - 1 - done - k) * s], &part[static_cast<size_t>(count - 1 - k) * s], s);
    }
    done += count;
  }
  if (wholeResult == 1 && blockResult == 1 && whole != blocks) Broken("rows differ by block size");

  // A narrower, offset read from an input-chosen row, with progress.
  ProgressRecord progress{KeepGoing, choose.b, s * n, 0, 0, 0, 0};
  uint32_t row = choose.a % n;
  uint32_t narrow = s / 2 + 1;
  std::vector<uint8_t> small(static_cast<size_t>(narrow) * 3);
  if (a.setRow(image, row) == 1) {
    a.readRows(image, small.data(), std::min<uint32_t>(3, n - row), narrow, choose.b % 7, &progress);
  }
  // Hand the file back and take it again; the next row must still come.
  a.closeKeep(image);
  if (a.readRows(image, small.data(), 1, narrow, 0, nullptr) != kReaderReadFailed) {
    Broken("read from a closed file");
  }
  if (a.open(image, 0) == 1) a.readRows(image, small.data(), 1, narrow, 0, nullptr);
}

int ReaderDriver::run(const uint8_t* data, size_t size) {
  const Api& a = api();
  fuzzfiles::Reset(data, size);
  uint32_t blocksBefore = winport_test_live_global_blocks();

  uint8_t first[kVerifyBytes] = {};
  if (size > 0) std::memcpy(first, data, std::min(size, sizeof first));
  a.verify(first, 0, 0);

  HGLOBAL image = 0;
  int32_t result = a.init(fuzzfiles::kFileName, &image, fuzzfiles::Open(), 0,
                          static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX)), fuzzfiles::Table());
  if (result == kReaderOk) {
    ImageHeaderRecord record{};
    if (a.buildHead(image, &record) == kReaderOk) {
      BITMAPINFOHEADER header;
      std::memcpy(&header, record.bitmapInfo, sizeof header);
      GlobalFree(GlobalHandle(record.bitmapInfo));
      if (header.biWidth > 0 && header.biHeight > 0) {
        readRows(image, data, size, static_cast<uint32_t>(header.biWidth),
                 static_cast<uint32_t>(header.biHeight), header.biBitCount);
      }
    }
    if (a.close(image) != kReaderOk) Broken("close_image failed");
  } else if (image != 0) {
    Broken("a failed init left a handle");
  }
  char text[128];
  a.errorString(text, sizeof text);
  if (fuzzfiles::OpenHandles() != 0) Broken("file left open");
  if (winport_test_live_global_blocks() != blocksBefore) Broken("global block leaked");
  return 0;
}

}  // namespace fuzzdriver
