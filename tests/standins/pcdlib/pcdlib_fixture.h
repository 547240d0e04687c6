// The Photo CD library stand-in loaded from build/bin and bound by ordinal,
// as the reader binds it, with helpers for files and reads.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_pac_builder.h"
#include "pcdlib/pcdlib_status.h"
#include "plugin_loader.h"
#include "rdpcd/pcd_library.h"

namespace pcdtest {

struct PcdLibraryApi {
  PcdLibraryApi();
  testsupport::LoadedModule module;
  pcdlib::OpenFn open = nullptr;
  pcdlib::CloseFn close = nullptr;
  pcdlib::ImageSizeFn imageSize = nullptr;
  pcdlib::SetProgressFn setProgress = nullptr;
  pcdlib::ReadRowsFn readRows = nullptr;
  pcdlib::OpenImagesFn openImages = nullptr;
  bool complete() const;
};

const PcdLibraryApi& Pcd();

// `rows` rows of `stride` bytes filled with `fill`, read with one library call;
// returned top row first (the buffer is filled bottom-up).
std::vector<std::vector<uint8_t>> ReadRect(pcdlib::ImageHandle image, pcdlib::RowRect rect,
                                           uint32_t stride, int16_t* result = nullptr,
                                           uint8_t fill = 0xA5);

// Runs ImageMagick on `pcd`; the decoded picture as BGR rows top first (empty
// when ImageMagick is missing or fails).
std::vector<std::vector<uint8_t>> ImageMagickRows(const std::string& pcd, uint32_t* width,
                                                  uint32_t* height);

// Largest difference between our pixels and ImageMagick's, whose Photo YCC
// conversion leaves out the luma scale of 1.3584 (its white is our 188).
int MaxDifferenceFromImageMagick(const std::vector<std::vector<uint8_t>>& ours,
                                 const std::vector<std::vector<uint8_t>>& theirs);

class PcdLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes `bytes` to a file of the test's folder; its path.
  std::string put(const std::string& name, const std::vector<uint8_t>& bytes);
  pcdlib::ImageHandle openImage(const std::string& path);

  const PcdLibraryApi& api = Pcd();
  testsupport::TempDir dir;
};

}  // namespace pcdtest
