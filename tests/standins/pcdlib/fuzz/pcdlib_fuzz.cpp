// Fuzz harness for the Photo CD library stand-in: opens a file built from
// the input and reads one rectangle of it through the library's operations.
//
// Input: 13 parameter bytes, then the file's seed.
//   0-7   the rectangle (first row, first column, end row, last column; u16 LE)
//   8-9   the stride (u16 LE)
//   10-12 the file's length (u24 LE, at most the Base image's end + 2 sectors)
//   13-   the seed, repeated to that length (zeros without one)
// A 2048-byte seed that begins "PCD_IPI" therefore makes an Image Pac of any
// length, so header checks, truncation and rectangles are all reached.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_pac.h"
#include "pcd_images.h"

namespace {

uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

// The one scratch file of the process, removed when it ends.
struct ScratchFile {
  std::string path;
  ScratchFile() {
    const char* folder = std::getenv("TMPDIR");
    path = std::string(folder != nullptr ? folder : "/tmp") + "/pcdlib_fuzz_" +
           std::to_string(getpid()) + ".pcd";
  }
  ~ScratchFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kParams = 13;
  if (size < kParams) return 0;
  const pcdlib::RowRect rect{static_cast<uint16_t>(Le(data, 2)), static_cast<uint16_t>(Le(data + 2, 2)),
                             static_cast<uint16_t>(Le(data + 4, 2)),
                             static_cast<uint16_t>(Le(data + 6, 2))};
  const uint32_t stride = Le(data + 8, 2);
  const size_t length = std::min<size_t>(Le(data + 10, 3), pcdlib::kMinimumFileBytes + 4096);
  std::vector<uint8_t> file(length, 0);
  const size_t seed = size - kParams;
  if (seed > 0)
    for (size_t i = 0; i < length; ++i) file[i] = data[kParams + i % seed];

  static const ScratchFile scratch;
  const std::string& path = scratch.path;
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
  } else {
    return 0;
  }
  pcdlib::ImageHandle image = 0;
  if (pcdlib::OpenImage(path.c_str(), &image) == pcdlib::kOk) {
    int16_t sizes[4];
    pcdlib::ImageSize(image, sizes);
    const uint64_t rows = rect.endRow > rect.firstRow ? rect.endRow - rect.firstRow : 1;
    if (rows * stride <= (8u << 20)) {
      // Exactly the rows' bytes, so ASan sees any write past them.
      std::vector<uint8_t> buffer(std::max<uint64_t>(rows * stride, 1));
      pcdlib::ReadRows(image, &rect, buffer.data(), stride);
    }
    pcdlib::CloseImage(image);
  }
  return 0;
}
