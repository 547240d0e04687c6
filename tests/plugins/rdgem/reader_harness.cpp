#include "reader_harness.h"

#include <cstring>

#include "winport/windows.h"

namespace readertest {

ReaderApi::ReaderApi(const std::string& fileName) : module(fileName) {
  if (!module) return;
  setExt = module.get<OVDLset_ext_fn>("OVDLset_ext");
  init = module.get<OVDLinit_image_fn>("OVDLinit_image");
  close = module.get<OVDLclose_image_fn>("OVDLclose_image");
  open = module.get<OVDLopen_fn>("OVDLopen");
  closeKeep = module.get<OVDLclose_keep_fn>("OVDLclose_keep");
  readRows = module.get<OVDLread_rows_fn>("OVDLread_rows");
  setRow = module.get<OVDLset_row_fn>("OVDLset_row");
  buildHead = module.get<OVDLbuildDIBhead_fn>("OVDLbuildDIBhead");
  print = module.get<OVDLprint_fn>("OVDLprint");
  render = module.get<OVDLrender_fn>("OVDLrender");
  errorString = module.get<OVDLerror_string_fn>("OVDLerror_string");
  version = module.get<OVDLget_ver_fn>("OVDLget_ver");
  imgName = module.get<OVDLimg_name_fn>("OVDLimg_name");
  escape = module.get<OVDLescape_fn>("OVDLescape");
  setPage = module.get<OVDLset_page_fn>("OVDLset_page");
  getPage = module.get<OVDLget_page_fn>("OVDLget_page");
  verify = module.get<OVDLverify_img_fn>("OVDLverify_img");
  wep = module.get<ReaderWEP_fn>("WEP");
}

std::string ReaderApi::lastError() const {
  char text[256] = "unchanged";
  errorString(text, sizeof text);
  return text;
}

int32_t ReaderApi::verifyBytes(const std::vector<uint8_t>& bytes) const {
  std::vector<uint8_t> first(kVerifyBytes, 0);
  if (!bytes.empty()) std::memcpy(first.data(), bytes.data(), std::min(bytes.size(), first.size()));
  return verify(first.data(), 0, 0);
}

OpenImage::OpenImage(const ReaderApi& api, const std::string& name, std::vector<uint8_t> bytes)
    : api_(api), name_(name) {
  auto& files = testsupport::MemoryFiles::instance();
  files.put(name_, std::move(bytes));
  uint32_t file = files.openForRead(name_);
  initResult = api_.init(name_.c_str(), &handle, file, 0, 0, testsupport::MemoryFiles::table());
}

OpenImage::~OpenImage() {
  if (handle != 0) api_.close(handle);
}

int32_t OpenImage::buildHead(ImageHeaderRecord& record, std::vector<uint8_t>* info) const {
  int32_t result = api_.buildHead(handle, &record);
  if (result != 1 || record.bitmapInfo == nullptr) return result;
  HGLOBAL block = GlobalHandle(record.bitmapInfo);
  if (info != nullptr) {
    auto* bytes = reinterpret_cast<const uint8_t*>(record.bitmapInfo);
    info->assign(bytes, bytes + GlobalSize(block));
  }
  GlobalFree(block);
  return result;
}

std::vector<std::vector<uint8_t>> OpenImage::read(uint32_t rows, uint32_t stride, uint32_t offset,
                                                  ProgressRecord* progress, int32_t* result,
                                                  uint8_t fill) const {
  std::vector<uint8_t> buffer(static_cast<size_t>(rows) * stride + 1, fill);
  int32_t r = api_.readRows(handle, buffer.data(), rows, stride, offset, progress);
  if (result != nullptr) *result = r;
  std::vector<std::vector<uint8_t>> topFirst;
  for (uint32_t k = 0; k < rows; ++k) {
    auto begin = buffer.begin() + static_cast<long>(static_cast<size_t>(rows - 1 - k) * stride);
    topFirst.emplace_back(begin, begin + stride);
  }
  return topFirst;
}

std::vector<std::vector<uint8_t>> OpenImage::readInBlocks(uint32_t total, uint32_t block,
                                                          uint32_t stride, int32_t* result) const {
  std::vector<std::vector<uint8_t>> all;
  int32_t r = 1;
  for (uint32_t done = 0; done < total && r == 1; done += block) {
    uint32_t rows = std::min(block, total - done);
    auto part = read(rows, stride, 0, nullptr, &r);
    all.insert(all.end(), part.begin(), part.end());
  }
  if (result != nullptr) *result = r;
  return all;
}

}  // namespace readertest
