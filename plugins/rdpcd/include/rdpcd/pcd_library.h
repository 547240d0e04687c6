// The Photo CD library "PCDLIB32.dll" as the Photo CD reader uses it: five
// operations, imported by ordinal. Every operation answers a signed 16-bit
// result, 0 for success; the caller removes the arguments.
//
// What the reader relies on:
//   open        0 and the image handle written
//   close       nothing
//   image size  the fourth value is the width, the third the height
//   progress    nothing (the routine is called back with rows done, rows in
//               the request and the value given when it was installed)
//   read rows   0 = the rectangle's rows delivered as 24-bit pixels at the stride
#pragma once

#include <cstdint>

#include "winport/types.h"

namespace pcdlib {

inline constexpr char kLibraryFileName[] = "PCDLIB32.dll";

inline constexpr WORD kOrdReadRows = 2;
inline constexpr WORD kOrdSetProgress = 4;
inline constexpr WORD kOrdOpen = 5;
inline constexpr WORD kOrdClose = 6;
inline constexpr WORD kOrdImageSize = 16;

// The library's image handle; 0 is never a valid one.
using ImageHandle = uint32_t;

// The part of the image one read delivers: rows firstRow up to (not
// including) endRow, columns firstColumn up to and including lastColumn.
struct RowRect {
  uint16_t firstRow;
  uint16_t firstColumn;
  uint16_t endRow;
  uint16_t lastColumn;
};
static_assert(sizeof(RowRect) == 8);

// Indices into the four values the image-size operation writes.
inline constexpr int kSizeHeight = 2;
inline constexpr int kSizeWidth = 3;

// (rows done, rows in the request, the value given at install) -> nonzero to
// go on, 0 to stop.
using ProgressRoutine = int32_t (*)(int16_t done, int16_t total, void* user);

using OpenFn = int16_t (*)(const void* fileReference, ImageHandle* image);
using CloseFn = int16_t (*)(ImageHandle image);
using ImageSizeFn = int16_t (*)(ImageHandle image, int16_t* size);  // four values
using SetProgressFn = int16_t (*)(ImageHandle image, ProgressRoutine routine, void* user);
using ReadRowsFn = int16_t (*)(ImageHandle image, const RowRect* rect, uint8_t* buffer,
                               uint32_t stride);

}  // namespace pcdlib
