// The document lying on the virtual scanner's bed: an image file or the built-in
// test chart, addressed in its own pixels at its own resolution.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "bmp_document.h"

namespace virtscan {

class Document {
 public:
  // The built-in chart covering a bed of the given size (1/300 inch).
  void useChart(uint16_t bedWidth, uint16_t bedHeight);
  // An image file: BMP, or any format the reader plug-ins in `readerFolder`
  // read (its first page); `dotsPerInch` 0 takes the file's own resolution in
  // each direction (300 where it states none), another value serves both.
  // False with the reason in `error` when the file cannot be read.
  bool loadFile(const std::string& path, uint32_t dotsPerInch, const std::string& readerFolder,
                std::string& error);

  uint32_t dotsPerInchX() const { return dotsPerInchX_; }
  uint32_t dotsPerInchY() const { return dotsPerInchY_; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

  // R, G, B of the pixels (columns[i], row) into out[3 i ...]; white outside the document.
  void sampleRow(uint32_t row, std::span<const uint32_t> columns, std::span<uint8_t> out) const;

 private:
  bool chart_ = true;
  uint32_t dotsPerInchX_ = 0;
  uint32_t dotsPerInchY_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  RgbImage image_;
};

// The chart's pixel (x, y) at its resolution (600 dpi) on a bed `width` x
// `height` pixels: a grey ramp, colour bars, red/green/blue ramps, line
// pairs of 1 to 8 pixels and a checkerboard, framed by a black border.
void chartPixel(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t rgb[3]);

// Replaces the first "%d" of `pattern` by `number` (other text stays as it is).
std::string documentNameForPage(const std::string& pattern, uint32_t number);

}  // namespace virtscan
