// Bitmap resources of the test program (packed DIBs): a valid 3 x 2 24-bit
// picture, and one whose rows do not fit in the resource.
#pragma once

#include <cstdint>

namespace gditest {

inline constexpr uint16_t kPictureId = 135;
inline constexpr uint16_t kTruncatedId = 136;

// BITMAPINFOHEADER (40 bytes), then 2 rows of 3 pixels padded to 12 bytes.
inline constexpr uint8_t kPicture[40 + 24] = {
    40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,  // size, width 3, height 2, planes, bits
    0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // no compression, image size
    0, 0, 0, 0, 0, 0, 0, 0,                            // colours used, important
    255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0,          // bottom row
    9, 9, 9, 8, 8, 8, 7, 7, 7, 0, 0, 0,                // top row
};

inline constexpr uint8_t kTruncated[40 + 12] = {
    40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,
};

}  // namespace gditest
