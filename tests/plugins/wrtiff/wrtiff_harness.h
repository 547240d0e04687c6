// Driving wrtiff.DEL through its exports: DIBs to export, the host's option
// getter, runs into the in-memory files, a small reader for the directories
// of the files made, and libtiff (through ImageMagick's and libtiff's tools)
// as the independent decoder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "text_files.h"
#include "writer_harness.h"

namespace wrtifftest {

using testsupport::Dib;
using testsupport::Options;
using testsupport::Reports;
using RunResult = testsupport::ExportRun;
using testsupport::RunCommand;

// A blank (all-zero rows) DIB; 1-bit images get black, white unless
// `inverted` (white, black); 4 and 8 bits a ramp of distinct colours.
Dib MakeDib(int32_t width, int32_t height, uint16_t bits, bool inverted = false);
// Patterned content: text-like blocks for 1 bit, gradients otherwise.
Dib MakePatterned(int32_t width, int32_t height, uint16_t bits, bool inverted = false);
// Sets pixel (x, y) of a 1-bit DIB to the palette index `index`.
void SetBit(Dib& dib, uint32_t x, uint32_t y, uint32_t index);

struct RunPlan {
  uint32_t rowsPerCall = 0;  // 0: all rows in one call
  std::string fileName = "out.tif";
  uint32_t extraRows = 0;    // rows delivered beyond biHeight (repeats of the last)
};

// wrtiff.DEL with its exports resolved and connected to this host.
struct Writer : testsupport::WriterModule {
  Writer();
  // Begins an export of `dib` into the in-memory file, delivers its rows top
  // first and ends it.
  RunResult run(const Dib& dib, const RunPlan& plan = {}) const;
};

// One directory entry as found in a file.
struct Entry {
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint32_t> values;  // SHORT/LONG/BYTE values; RATIONAL as num, den pairs
  std::string text;              // ASCII, as stored (NULs included)
};
struct Page {
  std::map<uint16_t, Entry> entries;
  uint32_t value(uint16_t tag, size_t i = 0) const;
  bool has(uint16_t tag) const { return entries.count(tag) != 0; }
};
struct ParsedTiff {
  bool intel = true;
  std::vector<Page> pages;
};
// Parses every directory (fails the test on a malformed file).
ParsedTiff ParseTiff(const std::vector<uint8_t>& file);
// The bytes of strip `strip` of `page`.
std::vector<uint8_t> StripBytes(const std::vector<uint8_t>& file, const Page& page, size_t strip);

// libtiff's view of page `page`: RGB pixels, top row first (ImageMagick on
// libtiff). Empty when the tool failed.
std::vector<uint8_t> DecodeWithLibtiff(const std::vector<uint8_t>& file, uint32_t page = 0);
bool HaveTool(const std::string& name);
// Writes bytes to a file.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

class WrtiffTest : public ::testing::Test {
 protected:
  void SetUp() override;
  Writer writer;
};

}  // namespace wrtifftest
