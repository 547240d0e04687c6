#include "tone_curves.h"

#include <algorithm>
#include <cstring>

namespace ferrox {

namespace {

// 1/127 in single precision: the curve factors are computed in float.
constexpr float kOneOver127 = 0.007874016f;

uint32_t Get(const ToneMapView& map, uint32_t index) {
  if (map.bytesPerEntry == 1) return map.bytes[index];
  uint16_t value;
  std::memcpy(&value, map.bytes + size_t{index} * 2, sizeof(value));
  return value;
}

// Stores `value` clamped to what an entry can hold.
void Put(const ToneMapView& map, uint32_t index, int64_t value) {
  const int64_t top = map.bytesPerEntry == 1 ? 0xFF : 0xFFFF;
  const int64_t clamped = std::clamp<int64_t>(value, 0, top);
  if (map.bytesPerEntry == 1) {
    map.bytes[index] = static_cast<uint8_t>(clamped);
  } else {
    const auto narrow = static_cast<uint16_t>(clamped);
    std::memcpy(map.bytes + size_t{index} * 2, &narrow, sizeof(narrow));
  }
}

// Truncation toward zero of a finite value already known to lie in a small range.
int64_t Truncate(double value) { return static_cast<int64_t>(value); }

void ContrastUp(const ToneMapView& map, int k, int64_t floorValue, int64_t ceilingValue, int64_t M) {
  const float g = static_cast<float>(kCurveLimit - k) * kOneOver127;
  const int64_t t = Truncate(static_cast<float>(M) * g);
  const int64_t L = M - t;
  for (uint32_t i = 0; i < map.entryCount; ++i) {
    const int64_t v = Get(map, i);
    int64_t out;
    if (v <= L) {
      out = floorValue;
    } else if (v <= M) {
      out = std::max(floorValue, Truncate(static_cast<float>(v - L) / g + 0.5));
    } else if (v < M + t) {
      out = std::min(ceilingValue, M + Truncate(static_cast<float>(v - M) / g + 0.5));
    } else {
      out = ceilingValue;
    }
    Put(map, i, out);
  }
}

void ContrastDown(const ToneMapView& map, int k, int64_t floorValue, int64_t M) {
  const float e = static_cast<float>(kCurveLimit + k) * kOneOver127;
  for (uint32_t i = 0; i < map.entryCount; ++i) {
    const int64_t v = Get(map, i);
    int64_t out;
    if (v <= M) {
      out = std::max(floorValue, Truncate(static_cast<double>(M) - (static_cast<double>(M - v) + 0.5) * e));
    } else {
      out = std::max(floorValue, M + Truncate(static_cast<float>(v - M) * e + 0.5));
    }
    Put(map, i, out);
  }
}

}  // namespace

void ApplyBrightness(const ToneMapView& map, int k) {
  if (k == 0 || map.entryCount == 0) return;
  const int64_t entries = map.entryCount;
  const int64_t D = (int64_t{k < 0 ? -k : k} * (entries - 1)) / kCurveLimit;
  if (k > 0) {
    const int64_t top = Get(map, map.entryCount - 1);
    for (uint32_t i = 0; i < map.entryCount; ++i) {
      const int64_t v = Get(map, i);
      Put(map, i, (v < top && v + D < top) ? v + D : top);
    }
  } else {
    const int64_t bottom = Get(map, 0);
    for (uint32_t i = 0; i < map.entryCount; ++i) {
      const int64_t v = Get(map, i);
      Put(map, i, (v > bottom && v > D && v - D > bottom) ? v - D : bottom);
    }
  }
}

void ApplyContrast(const ToneMapView& map, int k) {
  if (k == 0 || map.entryCount == 0) return;
  const uint32_t half = map.entryCount / 2;
  const int64_t floorValue = Get(map, 0);
  const int64_t ceilingValue = Get(map, map.entryCount - 1);
  const int64_t M = map.bytesPerEntry == 1 ? 128 : half;
  if (k >= kCurveLimit) {
    for (uint32_t i = 0; i < map.entryCount; ++i) Put(map, i, i < half ? floorValue : ceilingValue);
  } else if (k <= -kCurveLimit) {
    const int64_t middle = Get(map, half);
    for (uint32_t i = 0; i < map.entryCount; ++i) Put(map, i, middle);
  } else if (k > 0) {
    ContrastUp(map, k, floorValue, ceilingValue, M);
  } else {
    ContrastDown(map, k, floorValue, M);
  }
}

void AdjustToneMap(const ToneMapView& map, int brightness, int contrast) {
  if (brightness != 0) ApplyBrightness(map, brightness);
  if (contrast != 0) ApplyContrast(map, contrast);
}

void MakeIdentity(const ToneMapView& map) {
  for (uint32_t i = 0; i < map.entryCount; ++i) Put(map, i, i);
}

void ReverseToneMap(const ToneMapView& map) {
  if (map.entryCount == 0) return;
  for (uint32_t low = 0, high = map.entryCount - 1; low < high; ++low, --high) {
    const uint32_t a = Get(map, low);
    const uint32_t b = Get(map, high);
    Put(map, low, b);
    Put(map, high, a);
  }
}

}  // namespace ferrox
