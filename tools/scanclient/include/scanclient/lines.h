// The lines CMD_READ_LINES delivers, and the buffer they are read into.
//
// Lines are not padded: line art and halftone 1 bit per pixel, most
// significant bit first, 1 = bright; grey 1 byte; colour R, G, B bytes;
// colour with 16-bit samples three little-endian u16 R, G, B.
#pragma once

#include <cstdint>

#include "ferrox/driver.h"

namespace scanclient {

// The bytes of one delivered line of `dataType` with `pixels` pixels; 0 for an unknown type.
uint64_t ExpectedLineBytes(uint16_t dataType, uint32_t pixels);

// The line buffer handed to CMD_READ_LINES for a scan of `frame`: the driver's
// suggestion (`suggestion`, 0 when it gave none) kept within 1 MiB .. 64 MiB,
// and never less than one output line or one device line. In an enhanced
// scan the device lines (at the native resolution, line art as grey) pass
// through this buffer, so it must hold one of them too.
uint64_t ReadBufferBytes(const ScanFrame& frame, const LimitsRecord& limits, uint64_t suggestion,
                         uint64_t outputLineBytes);

}  // namespace scanclient
