#include "image_pac_builder.h"

#include <cstring>
#include <fstream>

namespace pcdtest {

YccPlanes Flat(uint8_t luma, uint8_t c1, uint8_t c2) {
  YccPlanes planes;
  planes.luma.assign(planes.luma.size(), luma);
  planes.c1.assign(planes.c1.size(), c1);
  planes.c2.assign(planes.c2.size(), c2);
  return planes;
}

YccPlanes LumaPattern() {
  YccPlanes planes = Flat(0, 156, 137);
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      planes.luma[y * kWidth + x] = static_cast<uint8_t>(16 + (x * 7 + y * 3) % 160);
  return planes;
}

std::vector<uint8_t> BuildImagePac(const YccPlanes& planes, uint32_t quarterTurns) {
  const uint32_t baseBytes = kWidth * kHeight * 3 / 2;
  std::vector<uint8_t> file(kBaseOffset + baseBytes + kSector, 0);
  std::memcpy(file.data() + kSector, "PCD_IPI", 7);
  file[0x0E02] = static_cast<uint8_t>(quarterTurns & 3);
  uint8_t* out = file.data() + kBaseOffset;
  for (uint32_t pair = 0; pair < kHeight / 2; ++pair) {
    std::memcpy(out, &planes.luma[2 * pair * kWidth], 2 * kWidth);
    out += 2 * kWidth;
    std::memcpy(out, &planes.c1[pair * kWidth / 2], kWidth / 2);
    out += kWidth / 2;
    std::memcpy(out, &planes.c2[pair * kWidth / 2], kWidth / 2);
    out += kWidth / 2;
  }
  return file;
}

std::vector<uint8_t> BuildOverview() {
  std::vector<uint8_t> file = BuildImagePac(Flat(100, 156, 137));
  std::memcpy(file.data(), "PCD_OPA", 7);
  return file;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace pcdtest
