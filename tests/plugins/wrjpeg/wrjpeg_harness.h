// Driving wrjpeg.DEL through its exports into in-memory files, walking the
// marker segments of what it wrote, and decoding it with libjpeg-turbo's djpeg.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "text_files.h"
#include "writer_harness.h"

namespace wrjpegtest {

using testsupport::Dib;
using testsupport::Options;
using testsupport::ReportedIds;
using testsupport::Reports;
using Export = testsupport::ExportRun;
using testsupport::RunCommand;

// Smooth colour gradients with some texture (24 bits), or palette indices
// cycling through a table of distinct colours (1, 4, 8 bits).
Dib MakeDib(int32_t width, int32_t height, uint16_t bits);

struct Writer : testsupport::WriterModule {
  Writer();
  // Exports `dib` into the in-memory "out.jpg", `rowsPerCall` rows per call
  // (0: all at once), stopping after `rowsToDeliver` rows when not negative.
  Export run(const Dib& dib, uint32_t rowsPerCall = 0, int64_t rowsToDeliver = -1) const;
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

class WrjpegTest : public ::testing::Test {
 protected:
  void SetUp() override;
  Writer writer;
};

}  // namespace wrjpegtest
