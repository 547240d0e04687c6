// Brightness and contrast curves applied in place to one tone map.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ferrox {

// One map: `entryCount` entries of 1 byte (unsigned) or 2 bytes (u16, machine order).
struct ToneMapView {
  uint8_t* bytes;
  uint32_t entryCount;
  uint16_t bytesPerEntry;
};

inline constexpr int kCurveLimit = 127;  // brightness and contrast lie in -127..127

// Brightness k (k != 0): raises (k > 0) or lowers every entry by
// floor(|k| x (E - 1) / 127), never past the last (first) entry's value.
void ApplyBrightness(const ToneMapView& map, int k);
// Contrast k (k != 0): steepens (k > 0) or flattens the curve about the middle.
void ApplyContrast(const ToneMapView& map, int k);
// Brightness first, then contrast, each only when not 0. Both in -127..127.
void AdjustToneMap(const ToneMapView& map, int brightness, int contrast);

void MakeIdentity(const ToneMapView& map);
// Entry i takes the value of entry E - 1 - i.
void ReverseToneMap(const ToneMapView& map);

}  // namespace ferrox
