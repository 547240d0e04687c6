// Picture rows out of MCU rows: upsampling, conversion, positioning.
#pragma once

#include <cstdint>

#include "jpeg_format.h"

namespace rdjpeg {

// True when the component has fewer blocks per MCU than the frame's maxima.
bool NeedsUpsampling(const JpegFrameInfo& info, const JpegComponent& c);
// Replicates every subsampled component's block plane into its full-size plane.
void Upsample(JpegFrameInfo& info);
// Converts row `y` (0 .. RowsPerMcuRow − 1) of the planes into `out`: width
// grey bytes, or width BGR pixels from the three YCbCr components.
void ConvertRow(const JpegFrameInfo& info, int32_t y, uint8_t* out);

}  // namespace rdjpeg
