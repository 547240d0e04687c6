// The row loop and row positioning behind OVDLread_rows and OVDLset_row.
#pragma once

#include <cstdint>

#include "frame_internal.h"

namespace reader::detail {

bool ReportProgress(ProgressRecord* progress, uint32_t amount, bool cancellable);

// Delivers `rows` rows from the current row on into `buffer` (bottom-up, one
// row per `stride` bytes, each taken from DIB byte `offset` of its row).
int32_t ReadRows(ImageBlockBase& image, uint8_t* buffer, uint32_t rows, uint32_t stride,
                 uint32_t offset, ProgressRecord* progress);

// Makes `row` the next row ReadRows delivers.
int32_t SetRow(ImageBlockBase& image, uint32_t row);

}  // namespace reader::detail
