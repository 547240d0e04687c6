// Driving wrbmp.DEL through its exports: the loaded module, DIBs to export,
// option blocks, a recording file table over the in-memory files, and a
// reference BMP built independently of the writer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "writer_harness.h"

namespace wrbmptest {

inline constexpr uint32_t kFlagsTopFirst = 248;
inline constexpr uint32_t kFlagsBottomFirst = 249;
inline constexpr const char* kModuleName = "OVGwrbmp.DEL";

using testsupport::ErrorReport;
using testsupport::RecordError;
using testsupport::RecordingFiles;
using testsupport::ReportedIds;
using testsupport::Reports;

// A DIB to export: header + colour table, rows bottom-up with padded stride.
struct Dib {
  std::vector<uint8_t> info;  // BITMAPINFOHEADER followed by the colour table
  std::vector<uint8_t> rows;  // bottom row first
  uint32_t rowBytes = 0;
  BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(info.data()); }
  const BITMAPINFOHEADER* header() const {
    return reinterpret_cast<const BITMAPINFOHEADER*>(info.data());
  }
  uint32_t height() const { return static_cast<uint32_t>(header()->biHeight); }
  uint32_t colours() const;
  const RGBQUAD& colour(uint32_t index) const;
  // Palette index (1, 4, 8 bits) or packed BGR (24 bits) of pixel (x, y), y from the top.
  uint32_t pixel(uint32_t x, uint32_t y) const;
};
// A patterned image; every colour table entry distinct.
Dib MakeDib(int32_t width, int32_t height, uint16_t bits);
// The BMP file the writer must produce for `dib`, built here byte by byte.
std::vector<uint8_t> ExpectedBmp(const Dib& dib);

// A GlobalAlloc'ed OptionBlock: `signature`, padding to byte 12, then `lines`.
class OptionBlock {
 public:
  OptionBlock(std::string_view signature, std::string_view lines);
  ~OptionBlock();
  OptionBlock(const OptionBlock&) = delete;
  OptionBlock& operator=(const OptionBlock&) = delete;
  HGLOBAL handle() const { return handle_; }

 private:
  HGLOBAL handle_ = 0;
};

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset);

// wrbmp.DEL with its exports resolved.
struct Writer : testsupport::WriterModule {
  Writer() : WriterModule("wrbmp.DEL") {}
  bool complete() const { return loaded() && getVer && wep; }
};

struct RunPlan {
  std::vector<uint32_t> blocks;  // rows per call, in delivery order; empty: all at once
  HGLOBAL options = 0;
  uint32_t stride = 0;           // 0: the padded row
  ExportProgress progress{};     // its flags are set from begin
  bool withProgress = true;      // false: null ExportProgress pointers
  const HostFileTable* files = nullptr;  // null: RecordingFiles
  std::string fileName;                  // empty: kOutName
};

using RunResult = testsupport::ExportRun;  // file: the in-memory file (RecordingFiles only)

inline const std::string kOutName = "out.bmp";

// Begins an export of `dib` (to kOutName by default), delivers the blocks in the order the
// flags ask for (rows taken from the DIB accordingly) and ends it.
RunResult RunExport(const Writer& writer, const Dib& dib, const RunPlan& plan = {});

// Loads the writer and resets files and reports; registers RecordError.
class WrbmpTest : public ::testing::Test {
 protected:
  void SetUp() override;
  Writer writer;
};

}  // namespace wrbmptest
