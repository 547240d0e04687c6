// The bytes of a scan as SANE frames them, made from the lines the scanner
// library delivers: one frame, grey or RGB interleaved; 1-bit line art and
// halftone with 1 = black (the device says 1 = bright); 8-bit samples as they
// come; 16-bit samples in host byte order (the device sends them little-endian).
#pragma once

#include <sane/sane.h>

#include <cstddef>
#include <cstdint>

namespace ferroxsane {

struct LineFormat {
  uint16_t dataType = 0;  // DATATYPE_*
  uint32_t pixelsPerLine = 0;
  uint32_t bytesPerLine = 0;
  uint32_t lineCount = 0;
};

SANE_Parameters ParametersOf(const LineFormat& format);
// Turns `length` bytes of whole delivered lines into SANE's layout, in place.
void FrameLines(uint16_t dataType, uint8_t* bytes, size_t length);

}  // namespace ferroxsane
