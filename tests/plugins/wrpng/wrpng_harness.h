// Driving wrpng.DEL through its exports over in-memory files, and decoding
// what it wrote with libpng.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "writer_harness.h"

namespace wrpngtest {

using Bytes = std::vector<uint8_t>;
using testsupport::Dib;
using testsupport::ExportRun;
using testsupport::Options;
using testsupport::ReportedIds;
using testsupport::Reports;

// Write calls (0-based, counted from the start of each run) to cut one byte short.
inline std::set<size_t>& ShortWrites() { return testsupport::RecordingFiles::instance().shortWrites; }

// Random rows; a random colour table, or with `greyRamp` the black-to-white ramp.
Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed = 1, bool greyRamp = false);

struct Writer : testsupport::WriterModule {
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
