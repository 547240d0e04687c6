// Results of the Photo CD library stand-in's operations (0 = success) and
// its test hook. The operations themselves are declared, with their
// ordinals, in rdpcd/pcd_library.h.
#pragma once

#include <cstdint>

namespace pcdlib {

enum Status : int16_t {
  kOk = 0,
  kBadArgument = -1,     // a null address where one is needed
  kCannotOpen = -2,      // the file cannot be opened or its size read
  kNotImagePac = -3,     // no Image Pac signature (an overview pack included)
  kTruncated = -4,       // the file ends before the Base image does
  kReadFailed = -5,      // reading the file failed
  kNoMemory = -6,        // the decoded picture cannot be held
  kBadHandle = -7,       // 0, closed or never issued
  kBadRectangle = -8,    // rows outside the picture, or columns wider than the stride
  kCancelled = -9,       // the progress routine answered 0
  kTooManyImages = -10,  // every image slot is in use
};

// Name of the test hook export: uint32_t () -> images open now.
inline constexpr char kOpenImagesExport[] = "pcdlib_test_open_images";
using OpenImagesFn = uint32_t (*)();

}  // namespace pcdlib
