// ImageMagick's reading of an Image Pac, the reference of the library's and
// the reader's pixels (Linux only: it runs ImageMagick).
#include "pcdlib_fixture.h"
#include "tool_runner.h"

namespace pcdtest {

std::vector<std::vector<uint8_t>> ImageMagickRows(const std::string& pcd, uint32_t* width,
                                                  uint32_t* height) {
  if (!hosttest::HaveProgram("convert")) return {};
  const std::string ppm = pcd + ".ppm";
  auto run = hosttest::RunProgram({"convert", pcd, "-colorspace", "sRGB", "-depth", "8", ppm});
  if (run.exitCode != 0) return {};
  hosttest::Pixels pixels = hosttest::DecodePnm(hosttest::ReadBytes(ppm));
  *width = pixels.width;
  *height = pixels.height;
  std::vector<std::vector<uint8_t>> rows(pixels.height);
  for (uint32_t y = 0; y < pixels.height; ++y) {
    for (uint32_t x = 0; x < pixels.width; ++x) {
      const uint8_t* rgb = &pixels.rgb[(static_cast<size_t>(y) * pixels.width + x) * 3];
      rows[y].insert(rows[y].end(), {rgb[2], rgb[1], rgb[0]});
    }
  }
  return rows;
}

}  // namespace pcdtest
