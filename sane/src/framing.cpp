#include "framing.h"

#include <cstring>

#include "ferrox/driver.h"

namespace ferroxsane {

SANE_Parameters ParametersOf(const LineFormat& format) {
  SANE_Parameters p{};
  p.last_frame = SANE_TRUE;
  p.format = format.dataType >= DATATYPE_COLOUR ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
  p.depth = format.dataType <= DATATYPE_HALFTONE   ? 1
            : format.dataType == DATATYPE_COLOUR16 ? 16
                                                   : 8;
  p.pixels_per_line = static_cast<SANE_Int>(format.pixelsPerLine);
  p.bytes_per_line = static_cast<SANE_Int>(format.bytesPerLine);
  p.lines = static_cast<SANE_Int>(format.lineCount);
  return p;
}

void FrameLines(uint16_t dataType, uint8_t* bytes, size_t length) {
  if (dataType <= DATATYPE_HALFTONE) {
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
  } else if (dataType == DATATYPE_COLOUR16) {
    for (size_t i = 0; i + 1 < length; i += 2) {
      const uint16_t sample = static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8));
      std::memcpy(bytes + i, &sample, sizeof sample);
    }
  }
}

}  // namespace ferroxsane
