// One DIB row into one PNG row: sample order, then the row filter.
#pragma once

#include <cstdint>
#include <span>

#include "png_layout.h"

namespace wrpng {

// The row's samples in file order into `out` (layout.rowBytes bytes): palette
// and grey bytes as they are, 24-bit blue-green-red as red-green-blue, 48-bit
// little-endian samples as big-endian ones, red first. Reads only the first
// layout.rowBytes bytes of `dibRow`.
void FileRow(const PngLayout& layout, const uint8_t* dibRow, uint8_t* out);

// Filters `row` against `previous` (all zero for the first row) into `out`,
// which receives the filter type byte and layout.rowBytes bytes. Palette and
// sub-byte images and `adaptive` false use no filter; otherwise the filter
// with the least sum of absolute differences is chosen per row. `scratch`
// holds rowBytes + 1 bytes.
void FilterRow(const PngLayout& layout, bool adaptive, const uint8_t* row, const uint8_t* previous,
               uint8_t* out, uint8_t* scratch);

}  // namespace wrpng
