// Driving wrjpeg.DEL through its exports into in-memory files, walking the
// marker segments of what it wrote, and decoding it with libjpeg-turbo's djpeg.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "memory_files.h"
#include "plugin/contract.h"
#include "plugin_loader.h"

namespace wrjpegtest {

// What the test program's OvgXOptBlkGet answers, and the errors reported to it.
std::map<std::string, std::string>& Options();
std::vector<int32_t>& Reports();

// A DIB: header and colour table, rows top first.
struct Dib {
  std::vector<uint8_t> info;
  std::vector<std::vector<uint8_t>> rows;
  BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(info.data()); }
  const BITMAPINFOHEADER* header() const { return reinterpret_cast<const BITMAPINFOHEADER*>(info.data()); }
  uint32_t stride() const;
  std::vector<uint8_t> rgb() const;  // R, G, B per pixel, top row first
};
// Smooth colour gradients with some texture (24 bits), or palette indices
// cycling through a table of distinct colours (1, 4, 8 bits).
Dib MakeDib(int32_t width, int32_t height, uint16_t bits);

struct Export {
  HGLOBAL handle = 0;
  int32_t flags = -1;
  std::vector<int32_t> blockResults;
  int32_t endResult = 0;
  ExportProgress progress{};
  std::vector<uint8_t> file;
};

class Writer {
 public:
  Writer();
  // Exports `dib` into the in-memory "out.jpg", `rowsPerCall` rows per call
  // (0: all at once), stopping after `rowsToDeliver` rows when not negative.
  Export run(const Dib& dib, uint32_t rowsPerCall = 0, int64_t rowsToDeliver = -1) const;
  testsupport::LoadedModule module{"wrjpeg.DEL"};
  OVXDLget_ext_fn getExt = nullptr;
  OVXDLbegin_write_fn begin = nullptr;
  OVXDLwrite_block_fn write = nullptr;
  OVXDLend_write_fn end = nullptr;
};

// One marker segment: its code and body (without the length), or for the
// scan the entropy-coded bytes up to the next marker.
struct Segment {
  uint8_t marker;
  std::vector<uint8_t> body;
};
// SOI, the segments up to SOS, the scan data as marker 0 and EOI; fails the
// test on a malformed stream.
std::vector<Segment> ParseJpeg(const std::vector<uint8_t>& file);
const Segment* Find(const std::vector<Segment>& segments, uint8_t marker, size_t nth = 0);

// RGB pixels from djpeg; empty (and a test failure) when it fails or warns.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& jpeg);
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
int RunCommand(const std::string& command, std::string* output = nullptr);

class WrjpegTest : public ::testing::Test {
 protected:
  void SetUp() override;
  Writer writer;
};

}  // namespace wrjpegtest
