// Shared set-up of the Photo CD reader's tests: the reader from build/bin,
// the library it binds (for its count of open images and for direct reads),
// and Image Pac files on disk (the library opens them by path).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image_pac_builder.h"
#include "pcdlib_fixture.h"
#include "reader_harness.h"
#include "winport/windows.h"

namespace pcdreadertest {

inline const readertest::ReaderApi& Reader() {
  static readertest::ReaderApi api("rdpcd.DIL");
  return api;
}

inline constexpr uint32_t kStride = 768 * 3;

class PcdReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::MemoryFiles::instance().reset();
    ASSERT_TRUE(api.module) << "rdpcd.DIL not loaded from " << testsupport::binDir();
    ASSERT_TRUE(library.complete());
    blocksBefore_ = winport_test_live_global_blocks();
  }
  void TearDown() override {
    winport_test_fail_allocation(0);
    EXPECT_EQ(library.openImages(), 0u) << "library images left open";
    EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_) << "global blocks leaked";
    // The reader never touches the host's file: only the harness opened it.
    EXPECT_EQ(testsupport::MemoryFiles::instance().closes, 0);
  }

  // An image opened through the reader from `bytes`, written to disk under `name`.
  std::unique_ptr<readertest::OpenImage> open(const std::string& name,
                                              const std::vector<uint8_t>& bytes) {
    pcdtest::WriteFile(dir.file(name), bytes);
    paths_.push_back(dir.file(name));
    return std::make_unique<readertest::OpenImage>(api, paths_.back(), bytes);
  }
  std::unique_ptr<readertest::OpenImage> openPattern(uint32_t turns = 0) {
    return open("pattern" + std::to_string(turns) + ".pcd",
                pcdtest::BuildImagePac(pcdtest::LumaPattern(), turns));
  }
  // Rows as the library delivers them, top first, read directly.
  std::vector<std::vector<uint8_t>> libraryRows(const std::string& path, pcdlib::RowRect rect,
                                                uint32_t stride) {
    pcdlib::ImageHandle image = 0;
    EXPECT_EQ(library.open(path.c_str(), &image), 0);
    auto rows = pcdtest::ReadRect(image, rect, stride);
    library.close(image);
    return rows;
  }

  const readertest::ReaderApi& api = Reader();
  const pcdtest::PcdLibraryApi& library = pcdtest::Pcd();
  testsupport::TempDir dir;
  std::vector<std::string> paths_;  // FileReferences: alive as long as the test

 private:
  uint32_t blocksBefore_ = 0;
};

}  // namespace pcdreadertest
