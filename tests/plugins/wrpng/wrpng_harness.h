// Driving wrpng.DEL through its exports over in-memory files, and decoding
// what it wrote with libpng.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "memory_files.h"
#include "plugin/contract.h"
#include "plugin_loader.h"

namespace wrpngtest {

using Bytes = std::vector<uint8_t>;

// The options the stand-in OvgXOptBlkGet answers with; error ids reported.
std::map<std::string, std::string>& Options();
std::vector<int32_t>& Reports();
// Write calls (0-based) to cut one byte short.
std::set<size_t>& ShortWrites();

// A DIB: header and full colour table, rows top first at the padded length.
struct Dib {
  Bytes info;
  std::vector<Bytes> rows;
  const BITMAPINFOHEADER* header() const { return reinterpret_cast<const BITMAPINFOHEADER*>(info.data()); }
  BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(info.data()); }
  uint32_t stride() const;
  // Pixel (x, y) as red, green, blue: 8-bit samples, or 16-bit at 48 bits.
  std::vector<uint16_t> pixel(uint32_t x, uint32_t y) const;
};
// Random rows; a random colour table, or with `greyRamp` the black-to-white ramp.
Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed = 1, bool greyRamp = false);

struct ExportRun {
  HGLOBAL handle = 0;
  int32_t flags = -1;
  std::vector<int32_t> blockResults;
  int32_t endResult = 0;
  ExportProgress progress{};
  Bytes file;
};

struct Writer {
  testsupport::LoadedModule module{"wrpng.DEL"};
  OVXDLget_ext_fn getExt = nullptr;
  OVXDLbegin_write_fn beginWrite = nullptr;
  OVXDLwrite_block_fn writeBlock = nullptr;
  OVXDLend_write_fn endWrite = nullptr;
  const char* extension = nullptr;
  int32_t hostFlags = 0;
  Writer();
  // Exports `dib` top row first in blocks of `rowsPerCall` rows (0: all).
  ExportRun run(const Dib& dib, uint32_t rowsPerCall = 0, const std::string& name = "out.png") const;
};

// A PNG as libpng sees it: every pixel expanded to red, green, blue.
struct Decoded {
  bool ok = false;
  std::string error;
  uint32_t width = 0, height = 0;
  int depth = 0, colourType = 0;
  bool hasPhys = false;
  uint32_t xPerMetre = 0, yPerMetre = 0;
  std::vector<std::vector<uint16_t>> pixels;  // per row: width × 3 samples
};
Decoded DecodePng(const Bytes& file);

// True when every pixel of `png` is the DIB's.
::testing::AssertionResult SamePixels(const Dib& dib, const Decoded& png);

}  // namespace wrpngtest
