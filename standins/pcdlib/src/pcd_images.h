// The stand-in's open images and its five operations (see rdpcd/pcd_library.h).
#pragma once

#include <cstdint>

#include "pcdlib/pcdlib_status.h"
#include "rdpcd/pcd_library.h"

namespace pcdlib {

// Opens the Image Pac whose path `fileReference` is (a NUL-terminated text):
// checks the signature and that the file holds the Base image. The picture
// itself is decoded at the first read.
int16_t OpenImage(const void* fileReference, ImageHandle* image);
int16_t CloseImage(ImageHandle image);
// size[0] = size[1] = 0, size[kSizeHeight] = height, size[kSizeWidth] = width,
// in display orientation.
int16_t ImageSize(ImageHandle image, int16_t* size);
// A null routine removes the one installed.
int16_t SetProgress(ImageHandle image, ProgressRoutine routine, void* user);
// Delivers the rectangle's rows bottom-up (its first row in the last buffer
// row, rows `stride` bytes apart), each as blue-green-red pixels of the
// columns from firstColumn to lastColumn (clamped to the picture's last
// column) at the start of its buffer row; nothing else of the buffer is
// written. Refused before anything is written: rows beyond the picture, an
// end before the start, columns that do not fit the stride. The progress
// routine, when installed, is called after every row; its 0 stops the read.
int16_t ReadRows(ImageHandle image, const RowRect* rect, uint8_t* buffer, uint32_t stride);
// Images open now (test hook).
uint32_t OpenImageCount();

}  // namespace pcdlib
