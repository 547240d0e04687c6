#include "scan_engine.h"

#include <cstring>

namespace virtscan {

namespace {

uint8_t luminance(const uint8_t* rgb) {
  return static_cast<uint8_t>((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500) / 1000);
}

uint32_t bytesFor(uint64_t pixels, uint16_t dataType) {
  uint64_t bytes = 0;
  switch (dataType) {
    case DATATYPE_LINEART:
    case DATATYPE_HALFTONE:
      bytes = (pixels + 7) / 8;
      break;
    case DATATYPE_GREY:
      bytes = pixels;
      break;
    case DATATYPE_COLOUR:
      bytes = pixels * 3;
      break;
    default:
      bytes = pixels * 6;
      break;
  }
  return static_cast<uint32_t>(bytes);
}

}  // namespace

bool geometryOf(const ScanFrame& frame, LineGeometry& geometry) {
  if (frame.dataType > DATATYPE_COLOUR16) return false;
  // At most 65535 x 65535 / 300: every product below fits 32 bits.
  const uint64_t pixels = uint64_t{frame.width} * frame.xResolution / 300;
  geometry.pixelsPerLine = static_cast<uint32_t>(pixels);
  geometry.bytesPerLine = bytesFor(pixels, frame.dataType);
  geometry.lineCount = static_cast<uint32_t>(uint64_t{frame.height} * frame.yResolution / 300);
  return true;
}

uint32_t documentCoordinate(uint32_t origin, uint32_t index, uint32_t resolution,
                            uint32_t documentDpi) {
  // The pixel's leading edge lies origin / 300 + index / resolution inches in.
  const uint64_t numerator = (uint64_t{origin} * resolution + uint64_t{300} * index) * documentDpi;
  const uint64_t position = numerator / (uint64_t{300} * resolution);
  return position > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(position);
}

ToneTables::ToneTables() { reset(); }

void ToneTables::reset() {
  for (int c = 0; c < 3; ++c) {
    for (uint32_t v = 0; v < 256; ++v) {
      eight_[c][v] = static_cast<uint8_t>(v);
      sixteen_[c][v] = static_cast<uint16_t>(v * 257);
    }
  }
}

void ToneTables::download(const uint8_t* maps, bool threeMaps, uint32_t entryCount,
                          uint16_t bytesPerEntry, uint32_t largest) {
  if (entryCount == 0 || largest == 0) return;
  const uint64_t mapBytes = uint64_t{entryCount} * bytesPerEntry;
  for (int c = 0; c < 3; ++c) {
    const uint8_t* map = maps + (threeMaps ? c * mapBytes : 0);
    for (uint32_t v = 0; v < 256; ++v) {
      const uint64_t index = uint64_t{v} * (entryCount - 1) / 255;
      uint32_t value = 0;
      if (bytesPerEntry == 1) {
        value = map[index];
      } else {
        uint16_t entry = 0;
        std::memcpy(&entry, map + 2 * index, 2);
        value = entry;
      }
      if (value > largest) value = largest;
      eight_[c][v] = static_cast<uint8_t>((uint64_t{value} * 255 + largest / 2) / largest);
      sixteen_[c][v] = static_cast<uint16_t>((uint64_t{value} * 65535 + largest / 2) / largest);
    }
  }
}

ScanSession::ScanSession(const Document& document, const ScanFrame& frame, const ToneTables& tables,
                         const std::array<uint8_t, 64>& halftone, bool negative)
    : document_(document),
      frame_(frame),
      tables_(tables),
      halftone_(halftone),
      negative_(negative) {
  geometryOf(frame_, geometry_);
  columns_.resize(geometry_.pixelsPerLine);
  for (uint32_t i = 0; i < geometry_.pixelsPerLine; ++i) {
    columns_[i] = documentCoordinate(frame_.left, i, frame_.xResolution, document_.dotsPerInchX());
  }
  rgb_.resize(uint64_t{geometry_.pixelsPerLine} * 3);
}

void ScanSession::makeLine(uint32_t line, std::span<uint8_t> out) {
  const uint32_t row =
      documentCoordinate(frame_.top, line, frame_.yResolution, document_.dotsPerInchY());
  document_.sampleRow(row, columns_, rgb_);
  if (negative_) {
    for (uint8_t& v : rgb_) v = static_cast<uint8_t>(255 - v);
  }
  const uint32_t pixels = geometry_.pixelsPerLine;
  const uint16_t type = frame_.dataType;
  if (type == DATATYPE_COLOUR || type == DATATYPE_COLOUR16) {
    for (uint64_t i = 0; i < uint64_t{pixels} * 3; ++i) {
      const int channel = static_cast<int>(i % 3);
      if (type == DATATYPE_COLOUR) {
        out[i] = tables_.out8(channel, rgb_[i]);
      } else {
        const uint16_t v = tables_.out16(channel, rgb_[i]);
        out[2 * i] = static_cast<uint8_t>(v);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
    }
    return;
  }
  if (type == DATATYPE_GREY) {
    for (uint32_t i = 0; i < pixels; ++i) out[i] = tables_.out8(0, luminance(&rgb_[3 * i]));
    return;
  }
  // Line art against a fixed threshold, halftone against the pattern cell.
  std::memset(out.data(), 0, geometry_.bytesPerLine);
  for (uint32_t i = 0; i < pixels; ++i) {
    const uint8_t grey = tables_.out8(0, luminance(&rgb_[3 * i]));
    const uint8_t threshold = type == DATATYPE_LINEART ? 128 : halftone_[(line % 8) * 8 + i % 8];
    if (grey >= threshold) out[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
  }
}

}  // namespace virtscan
