// Drives a reader module through its exports, as the host does: files from
// the in-memory file table, rows read into bottom-up buffers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "memory_files.h"
#include "plugin/contract.h"
#include "plugin_loader.h"

namespace readertest {

struct ReaderApi {
  explicit ReaderApi(const std::string& fileName);

  testsupport::LoadedModule module;
  OVDLset_ext_fn setExt = nullptr;
  OVDLinit_image_fn init = nullptr;
  OVDLclose_image_fn close = nullptr;
  OVDLopen_fn open = nullptr;
  OVDLclose_keep_fn closeKeep = nullptr;
  OVDLread_rows_fn readRows = nullptr;
  OVDLset_row_fn setRow = nullptr;
  OVDLbuildDIBhead_fn buildHead = nullptr;
  OVDLprint_fn print = nullptr;
  OVDLrender_fn render = nullptr;
  OVDLerror_string_fn errorString = nullptr;
  OVDLget_ver_fn version = nullptr;
  OVDLimg_name_fn imgName = nullptr;
  OVDLescape_fn escape = nullptr;
  OVDLset_page_fn setPage = nullptr;  // null for single-image readers
  OVDLget_page_fn getPage = nullptr;
  OVDLverify_img_fn verify = nullptr;
  ReaderWEP_fn wep = nullptr;

  // The text of the calling thread's last error.
  std::string lastError() const;
  // OVDLverify_img on the first bytes of `bytes`, zero-filled to 512 bytes.
  int32_t verifyBytes(const std::vector<uint8_t>& bytes) const;
};

// One image opened from bytes put into the memory file table under `name`.
class OpenImage {
 public:
  OpenImage(const ReaderApi& api, const std::string& name, std::vector<uint8_t> bytes);
  ~OpenImage();
  OpenImage(const OpenImage&) = delete;
  OpenImage& operator=(const OpenImage&) = delete;

  int32_t initResult = 0;
  HGLOBAL handle = 0;

  // OVDLbuildDIBhead; the BITMAPINFO block is copied out and freed.
  int32_t buildHead(ImageHeaderRecord& record, std::vector<uint8_t>* info = nullptr) const;

  // One OVDLread_rows of `rows` rows at `stride` into a buffer filled with
  // `fill`; returns the buffer's rows top row first (the call fills it bottom-up).
  std::vector<std::vector<uint8_t>> read(uint32_t rows, uint32_t stride, uint32_t offset = 0,
                                         ProgressRecord* progress = nullptr,
                                         int32_t* result = nullptr, uint8_t fill = 0xA5) const;

  // Reads `total` rows in calls of `block` rows, top row first.
  std::vector<std::vector<uint8_t>> readInBlocks(uint32_t total, uint32_t block, uint32_t stride,
                                                 int32_t* result = nullptr) const;

 private:
  const ReaderApi& api_;
  std::string name_;
};

}  // namespace readertest
