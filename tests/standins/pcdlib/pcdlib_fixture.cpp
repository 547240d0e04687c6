#include "pcdlib_fixture.h"

#include <algorithm>
#include <cstdlib>

#include "winport/windows.h"

namespace pcdtest {

template <typename F>
F Bound(const testsupport::LoadedModule& module, WORD ordinal) {
  return reinterpret_cast<F>(
      reinterpret_cast<void (*)()>(GetProcAddress(module.handle(), MAKEINTRESOURCEA(ordinal))));
}

PcdLibraryApi::PcdLibraryApi() : module(pcdlib::kLibraryFileName) {
  if (!module) return;
  open = Bound<pcdlib::OpenFn>(module, pcdlib::kOrdOpen);
  close = Bound<pcdlib::CloseFn>(module, pcdlib::kOrdClose);
  imageSize = Bound<pcdlib::ImageSizeFn>(module, pcdlib::kOrdImageSize);
  setProgress = Bound<pcdlib::SetProgressFn>(module, pcdlib::kOrdSetProgress);
  readRows = Bound<pcdlib::ReadRowsFn>(module, pcdlib::kOrdReadRows);
  openImages = module.get<pcdlib::OpenImagesFn>(pcdlib::kOpenImagesExport);
}

bool PcdLibraryApi::complete() const {
  return open && close && imageSize && setProgress && readRows && openImages;
}

const PcdLibraryApi& Pcd() {
  static PcdLibraryApi api;
  return api;
}

std::vector<std::vector<uint8_t>> ReadRect(pcdlib::ImageHandle image, pcdlib::RowRect rect,
                                           uint32_t stride, int16_t* result, uint8_t fill) {
  const uint32_t rows = rect.endRow >= rect.firstRow ? rect.endRow - rect.firstRow : 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(rows) * stride + 1, fill);
  int16_t r = Pcd().readRows(image, &rect, buffer.data(), stride);
  if (result != nullptr) *result = r;
  EXPECT_EQ(buffer.back(), fill) << "written past the rows";
  std::vector<std::vector<uint8_t>> topFirst;
  for (uint32_t k = 0; k < rows; ++k) {
    auto begin = buffer.begin() + static_cast<long>(static_cast<size_t>(rows - 1 - k) * stride);
    topFirst.emplace_back(begin, begin + stride);
  }
  return topFirst;
}

int MaxDifferenceFromImageMagick(const std::vector<std::vector<uint8_t>>& ours,
                                 const std::vector<std::vector<uint8_t>>& theirs) {
  if (ours.size() != theirs.size()) return 256;
  int worst = 0;
  for (size_t y = 0; y < ours.size(); ++y) {
    if (ours[y].size() < theirs[y].size()) return 256;
    for (size_t i = 0; i < theirs[y].size(); ++i) {
      const int expected = std::min(255, static_cast<int>(theirs[y][i] * 1.3584 + 0.5));
      worst = std::max(worst, std::abs(expected - ours[y][i]));
    }
  }
  return worst;
}

void PcdLibraryTest::SetUp() {
  ASSERT_TRUE(api.complete()) << "PCDLIB32.dll or one of its ordinals missing in "
                              << testsupport::binDir();
  ASSERT_EQ(api.openImages(), 0u);
}

void PcdLibraryTest::TearDown() {
  if (api.complete()) {
    EXPECT_EQ(api.openImages(), 0u) << "images left open";
  }
}

std::string PcdLibraryTest::put(const std::string& name, const std::vector<uint8_t>& bytes) {
  WriteFile(dir.file(name), bytes);
  return dir.file(name);
}

pcdlib::ImageHandle PcdLibraryTest::openImage(const std::string& path) {
  pcdlib::ImageHandle image = 0;
  EXPECT_EQ(api.open(path.c_str(), &image), pcdlib::kOk) << path;
  return image;
}

}  // namespace pcdtest
