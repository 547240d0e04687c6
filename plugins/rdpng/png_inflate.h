// The compressed image data: the run of IDAT chunks read through the host and
// inflated with zlib into the rows the unfilter stage asks for.
#pragma once

#include <cstdint>
#include <span>

#include "png_format.h"

namespace rdpng {

// Starts a fresh inflate stream at the first IDAT chunk (any earlier stream is
// released first). Failure: 6 with id 3.
int32_t StartStream(const ImageBlockHead& head, PngState& png);

// Releases the stream and every block zlib allocated for it; harmless when none.
void ReleaseStream(PngState& png);

// Fills `out` entirely with the next inflated bytes.
//   1: done;
//   3 with id 5: the IDAT data ended first; 3 with id 2: a host read failed;
//   10 (no id): the compressed data are corrupt or end early;
//   6 with id 3: zlib could not allocate.
int32_t InflateInto(const ImageBlockHead& head, PngState& png, std::span<uint8_t> out);

}  // namespace rdpng
