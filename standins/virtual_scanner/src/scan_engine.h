// Turns the document into scan lines for a frame, resolutions and data type,
// through the downloaded tone maps and halftone pattern.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "document.h"
#include "ferrox/driver.h"

namespace virtscan {

// The header of a ScanGeometry for `frame`; false for a data type above 4.
struct LineGeometry {
  uint32_t pixelsPerLine = 0;
  uint32_t bytesPerLine = 0;
  uint32_t lineCount = 0;
};
bool geometryOf(const ScanFrame& frame, LineGeometry& geometry);

// The maps the device applies, widened to lookup tables from 8-bit document
// samples: one per channel, each giving 8-bit and 16-bit output.
class ToneTables {
 public:
  ToneTables();
  // Identity tables.
  void reset();
  // Takes one map (applied to every channel) or three from `maps`, laid out as
  // `entryCount` entries of `bytesPerEntry` bytes up to `largest`.
  void download(const uint8_t* maps, bool threeMaps, uint32_t entryCount, uint16_t bytesPerEntry,
                uint32_t largest);
  uint8_t out8(int channel, uint8_t v) const { return eight_[channel][v]; }
  uint16_t out16(int channel, uint8_t v) const { return sixteen_[channel][v]; }

 private:
  std::array<std::array<uint8_t, 256>, 3> eight_{};
  std::array<std::array<uint16_t, 256>, 3> sixteen_{};
};

// One scan in progress: lines are made one at a time from the top.
class ScanSession {
 public:
  // `negative`: the film holds the document's negative.
  ScanSession(const Document& document, const ScanFrame& frame, const ToneTables& tables,
              const std::array<uint8_t, 64>& halftone, bool negative);

  const LineGeometry& geometry() const { return geometry_; }
  // Writes line `line` (0 = top) of the scan, geometry().bytesPerLine bytes.
  void makeLine(uint32_t line, std::span<uint8_t> out);

 private:
  const Document& document_;
  ScanFrame frame_;
  const ToneTables& tables_;
  std::array<uint8_t, 64> halftone_;
  bool negative_;
  LineGeometry geometry_;
  std::vector<uint32_t> columns_;  // document column of each output pixel
  std::vector<uint8_t> rgb_;       // the sampled line
};

// Document row or column of output pixel `index`, for a frame edge `origin`
// (1/300 inch) at `resolution` dpi on a document of `documentDpi`.
uint32_t documentCoordinate(uint32_t origin, uint32_t index, uint32_t resolution,
                            uint32_t documentDpi);

}  // namespace virtscan
