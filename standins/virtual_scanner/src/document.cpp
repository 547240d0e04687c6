#include "document.h"

#include <string>

#include "image_document.h"
#include "virtscan/virtscan.h"

namespace virtscan {

namespace {

void setGrey(uint8_t rgb[3], uint32_t v) { rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(v); }

void setRgb(uint8_t rgb[3], uint8_t r, uint8_t g, uint8_t b) {
  rgb[0] = r;
  rgb[1] = g;
  rgb[2] = b;
}

// White, yellow, cyan, green, magenta, red, blue, black.
constexpr uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                 {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

}  // namespace

void chartPixel(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t rgb[3]) {
  const uint32_t inch = kChartDpi;
  const uint32_t border = inch / 20;
  if (x < border || y < border || x + border >= width || y + border >= height) {
    setGrey(rgb, 0);
    return;
  }
  const uint64_t span = width > 1 ? width - 1 : 1;
  const auto ramp = static_cast<uint32_t>(uint64_t{x} * 255 / span);
  const uint32_t band = y / inch;
  if (band == 0) {
    setGrey(rgb, ramp);
  } else if (band == 1) {
    const uint8_t* bar = kBars[uint64_t{x} * 8 / width];
    setRgb(rgb, bar[0], bar[1], bar[2]);
  } else if (band == 2) {
    const uint32_t third = (y % inch) * 3 / inch;
    setRgb(rgb, third == 0 ? ramp : 0, third == 1 ? ramp : 0, third == 2 ? ramp : 0);
  } else if (band == 3) {
    // Groups of line pairs, each line 1, 2, 4 or 8 pixels wide.
    const uint32_t lineWidth = 1u << (x * 4 / width);
    setGrey(rgb, (x / lineWidth) % 2 == 0 ? 0 : 255);
  } else {
    const bool dark = ((x / (inch / 2)) + (y / (inch / 2))) % 2 == 0;
    const bool diagonal = x / 4 == y / 4;
    setGrey(rgb, diagonal ? 0 : dark ? 96 : 192);
  }
}

std::string documentNameForPage(const std::string& pattern, uint32_t number) {
  const size_t at = pattern.find("%d");
  if (at == std::string::npos) return pattern;
  return pattern.substr(0, at) + std::to_string(number) + pattern.substr(at + 2);
}

void Document::useChart(uint16_t bedWidth, uint16_t bedHeight) {
  chart_ = true;
  image_ = RgbImage{};
  dotsPerInchX_ = dotsPerInchY_ = kChartDpi;
  width_ = uint32_t{bedWidth} * kChartDpi / 300;
  height_ = uint32_t{bedHeight} * kChartDpi / 300;
}

bool Document::loadFile(const std::string& path, uint32_t dotsPerInch,
                        const std::string& readerFolder, std::string& error) {
  RgbImage image;
  // BMP files the driver reads itself (every BMP variant); any other through
  // the reader plug-ins, whose failure names the problem.
  if (!readBmpFile(path, image) && !readImageFile(path, readerFolder, image, error)) return false;
  chart_ = false;
  image_ = std::move(image);
  width_ = image_.width;
  height_ = image_.height;
  auto pick = [dotsPerInch](uint32_t stated) {
    return dotsPerInch != 0 ? dotsPerInch : stated != 0 ? stated : kDefaultDocumentDpi;
  };
  dotsPerInchX_ = pick(image_.dotsPerInchX);
  dotsPerInchY_ = pick(image_.dotsPerInchY);
  return true;
}

void Document::sampleRow(uint32_t row, std::span<const uint32_t> columns,
                         std::span<uint8_t> out) const {
  for (size_t i = 0; i < columns.size() && 3 * i + 2 < out.size(); ++i) {
    uint8_t* pixel = &out[3 * i];
    const uint32_t x = columns[i];
    if (row >= height_ || x >= width_) {
      setGrey(pixel, 255);
    } else if (chart_) {
      chartPixel(x, row, width_, height_, pixel);
    } else {
      const uint8_t* source = &image_.rgb[(uint64_t{row} * width_ + x) * 3];
      setRgb(pixel, source[0], source[1], source[2]);
    }
  }
}

}  // namespace virtscan
