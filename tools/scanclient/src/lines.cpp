#include "scanclient/lines.h"

#include <algorithm>

namespace scanclient {

namespace {

constexpr uint64_t kMinReadBuffer = 1u << 20;
constexpr uint64_t kMaxReadBuffer = 64u << 20;

}  // namespace

uint64_t ExpectedLineBytes(uint16_t dataType, uint32_t pixels) {
  switch (dataType) {
    case DATATYPE_LINEART:
    case DATATYPE_HALFTONE:
      return (uint64_t{pixels} + 7) / 8;
    case DATATYPE_GREY:
      return pixels;
    case DATATYPE_COLOUR:
      return uint64_t{pixels} * 3;
    case DATATYPE_COLOUR16:
      return uint64_t{pixels} * 6;
    default:
      return 0;
  }
}

uint64_t ReadBufferBytes(const ScanFrame& frame, const LimitsRecord& limits, uint64_t suggestion,
                         uint64_t outputLineBytes) {
  const uint32_t deviceDpi = std::min(frame.xResolution, limits.nativeHorizontal);
  const uint16_t deviceType = frame.dataType == DATATYPE_LINEART ? DATATYPE_GREY : frame.dataType;
  const uint64_t deviceLine = ExpectedLineBytes(
      deviceType, static_cast<uint32_t>(uint64_t{frame.width} * deviceDpi / 300 + 2));
  uint64_t bytes = std::min(std::max(kMinReadBuffer, suggestion), kMaxReadBuffer);
  return std::max({bytes, deviceLine, outputLineBytes});
}

}  // namespace scanclient
