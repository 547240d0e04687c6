// Image Pac files for tests: the header sectors with the signature and the
// display turns, blank lower resolutions, the Base image from YCC planes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pcdtest {

inline constexpr uint32_t kWidth = 768;
inline constexpr uint32_t kHeight = 512;
inline constexpr uint32_t kSector = 2048;
inline constexpr uint32_t kBaseOffset = 96 * kSector;

// The Base image's planes: luma 768 x 512, each chroma channel 384 x 256.
struct YccPlanes {
  std::vector<uint8_t> luma = std::vector<uint8_t>(kWidth * kHeight);
  std::vector<uint8_t> c1 = std::vector<uint8_t>(kWidth * kHeight / 4);
  std::vector<uint8_t> c2 = std::vector<uint8_t>(kWidth * kHeight / 4);
};

YccPlanes Flat(uint8_t luma, uint8_t c1, uint8_t c2);
// Neutral chroma, luma varying with position (distinct values along both axes).
YccPlanes LumaPattern();

// The whole file: 3 header sectors, 93 blank ones, the Base image, one more sector.
std::vector<uint8_t> BuildImagePac(const YccPlanes& planes, uint32_t quarterTurns = 0);
// An overview pack's first sectors (signature "PCD_OPA" at byte 0).
std::vector<uint8_t> BuildOverview();

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace pcdtest
