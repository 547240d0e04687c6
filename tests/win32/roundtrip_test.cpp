// Writers and readers under the system's own API, through a HostFileTable over
// Win32 files: each writer turns one 24-bit image into a file whose size it
// reports exactly, and the lossless formats read back through their readers
// to the very rows written (the JPEG one to its size).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/contract.h"

namespace {

// ---------------------------------------------------------------------------
// The host's file functions over CreateFileA and friends (the reference is a path).

uint32_t AsHandle(HANDLE file) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(file)); }
HANDLE AsFile(uint32_t handle) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)); }

int32_t CALLBACK Open(FileReference file, int32_t mode, uint32_t* handle) {
  const char* path = static_cast<const char*>(file);
  if (mode & kOpenExist) return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
  const bool create = (mode & kOpenCreate) != 0;
  const DWORD access = GENERIC_READ | (create || (mode & 3) != 0 ? GENERIC_WRITE : 0);
  HANDLE opened = CreateFileA(path, access, FILE_SHARE_READ, nullptr,
                              create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return 0;
  *handle = AsHandle(opened);
  return 1;
}
int32_t CALLBACK Close(uint32_t handle) { return CloseHandle(AsFile(handle)) ? 1 : 0; }
int32_t CALLBACK Read(uint32_t handle, void* buffer, uint32_t count) {
  DWORD done = 0;
  return ReadFile(AsFile(handle), buffer, count, &done, nullptr) ? static_cast<int32_t>(done) : -1;
}
int32_t CALLBACK Write(uint32_t handle, const void* buffer, uint32_t count) {
  DWORD done = 0;
  return WriteFile(AsFile(handle), buffer, count, &done, nullptr) ? static_cast<int32_t>(done) : -1;
}
int32_t CALLBACK Seek(uint32_t handle, int32_t offset, int32_t origin) {
  const DWORD position = SetFilePointer(AsFile(handle), offset, nullptr, static_cast<DWORD>(origin));
  return position == INVALID_SET_FILE_POINTER ? -1 : static_cast<int32_t>(position);
}
int32_t CALLBACK ReadByte(uint32_t handle) {
  uint8_t byte = 0;
  return Read(handle, &byte, 1) == 1 ? byte : -1;
}
const HostFileTable kFiles = {Open, Close, Read, Write, Seek, ReadByte};

// ---------------------------------------------------------------------------

constexpr int32_t kWidth = 13;  // odd: rows carry padding
constexpr int32_t kHeight = 6;
constexpr uint32_t kStride = (kWidth * 3 + 3) / 4 * 4;

std::string BinFolder() {
  char path[MAX_PATH] = {};
  std::string folder(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  folder.erase(folder.find_last_of("\\/"));
  return folder.erase(folder.find_last_of("\\/") + 1) + "bin\\";
}

template <typename F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Bottom-up 24-bit rows, padding zero.
std::vector<uint8_t> Pixels() {
  std::vector<uint8_t> rows(kStride * kHeight, 0);
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth * 3; ++x) rows[y * kStride + x] = static_cast<uint8_t>(x * 7 + y * 31);
  }
  return rows;
}

struct RoundTrip {
  const char* writer;
  const char* reader;  // null: no reader checks the file
  bool lossless;
  const char* extension;
};

class RoundTripTest : public testing::TestWithParam<RoundTrip> {
 protected:
  void SetUp() override {
    char folder[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
    path_ = std::string(folder) + "win32-roundtrip-" + std::to_string(GetCurrentProcessId()) + "." +
            GetParam().extension;
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }

  // Writes Pixels() to path_; returns the size the writer reported.
  uint32_t WriteImage() {
    HMODULE module = LoadLibraryA((BinFolder() + GetParam().writer).c_str());
    EXPECT_NE(module, nullptr);
    if (module == nullptr) return 0;
    ExportHostInfo host{};
    Export<OVXDLget_ext_fn>(module, "OVXDLget_ext")(&host);
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    int32_t flags = 0;
    HGLOBAL block = Export<OVXDLbegin_write_fn>(module, "OVXDLbegin_write")(
        path_.c_str(), &kFiles, path_.c_str(), &header, nullptr, &flags);
    EXPECT_NE(block, nullptr);
    ExportProgress progress{};
    progress.bytesTotal = kStride * kHeight;
    progress.interval = 1u << 30;
    const std::vector<uint8_t> rows = Pixels();
    if (block != nullptr) {
      EXPECT_EQ(Export<OVXDLwrite_block_fn>(module, "OVXDLwrite_block")(block, kHeight, kStride,
                                                                        rows.data(), &progress),
                kWriterOk);
      EXPECT_EQ(Export<OVXDLend_write_fn>(module, "OVXDLend_write")(block, &progress), kWriterOk);
    }
    FreeLibrary(module);
    return progress.fileSize;
  }

  std::string path_;
};

TEST_P(RoundTripTest, WrittenFileReadsBackThroughItsReader) {
  const uint32_t reported = WriteImage();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(reported, data.nFileSizeLow);
  if (GetParam().reader == nullptr) return;

  HMODULE module = LoadLibraryA((BinFolder() + GetParam().reader).c_str());
  ASSERT_NE(module, nullptr);
  uint8_t first[kVerifyBytes] = {};
  uint32_t file = 0;
  ASSERT_EQ(Open(path_.c_str(), 0, &file), 1);
  Read(file, first, sizeof first);
  Seek(file, 0, 0);
  EXPECT_EQ(Export<OVDLverify_img_fn>(module, "OVDLverify_img")(first, 0, 0), kReaderOk);
  HGLOBAL image = nullptr;
  ASSERT_EQ(Export<OVDLinit_image_fn>(module, "OVDLinit_image")(path_.c_str(), &image, file, 0, 0,
                                                                 &kFiles),
            kReaderOk);
  ImageHeaderRecord record{};
  ASSERT_EQ(Export<OVDLbuildDIBhead_fn>(module, "OVDLbuildDIBhead")(image, &record), kReaderOk);
  EXPECT_EQ(record.width, static_cast<uint32_t>(kWidth));
  EXPECT_EQ(record.height, static_cast<uint32_t>(kHeight));
  ASSERT_NE(record.bitmapInfo, nullptr);
  EXPECT_EQ(record.bitmapInfo->bmiHeader.biBitCount, 24);
  std::vector<uint8_t> rows(kStride * kHeight, 0);
  EXPECT_EQ(Export<OVDLread_rows_fn>(module, "OVDLread_rows")(image, rows.data(), kHeight, kStride,
                                                               0, nullptr),
            kReaderOk);
  if (GetParam().lossless) {
    EXPECT_EQ(rows, Pixels());
  }
  EXPECT_EQ(Export<OVDLclose_image_fn>(module, "OVDLclose_image")(image), kReaderOk);
  HGLOBAL info = GlobalHandle(record.bitmapInfo);  // the host owns the header block
  GlobalUnlock(info);
  EXPECT_EQ(GlobalFree(info), nullptr);
  FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, RoundTripTest,
                         testing::Values(RoundTrip{"wrtiff.DEL", "rdtiff.DIL", true, "tif"},
                                         RoundTrip{"wrpcx.DEL", "rdpcx.DIL", true, "pcx"},
                                         RoundTrip{"wrjpeg.DEL", "rdjpeg.DIL", false, "jpg"},
                                         RoundTrip{"wrbmp.DEL", nullptr, true, "bmp"},
                                         RoundTrip{"wrpng.DEL", "rdpng.DIL", true, "png"}),
                         [](const testing::TestParamInfo<RoundTrip>& info) {
                           return std::string(info.param.extension);
                         });

}  // namespace
