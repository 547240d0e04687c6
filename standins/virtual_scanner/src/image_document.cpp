#include "image_document.h"

#include <cmath>
#include <memory>
#include <vector>

#include "host/source.h"

namespace virtscan {

namespace {

// Pixels per metre as dots per inch, rounded; 0 for none.
uint32_t DotsPerInch(int32_t pixelsPerMetre) {
  return pixelsPerMetre > 0 ? static_cast<uint32_t>(std::lround(pixelsPerMetre * 0.0254)) : 0;
}

// One DIB row (1, 4, 8 bits with the palette, or 24 bits B, G, R) as R, G, B.
void RowToRgb(const imagehost::DibImage& dib, const uint8_t* row, uint8_t* out) {
  const uint32_t bits = dib.bits();
  const std::vector<RGBQUAD>& palette = dib.palette();
  for (uint32_t x = 0; x < dib.width(); ++x, out += 3) {
    if (bits == 24) {
      out[0] = row[3 * x + 2];
      out[1] = row[3 * x + 1];
      out[2] = row[3 * x];
      continue;
    }
    const uint32_t perByte = 8 / bits;
    const uint32_t shift = 8 - bits * (x % perByte + 1);
    const uint32_t index = (row[x / perByte] >> shift) & ((1u << bits) - 1);
    const RGBQUAD entry = index < palette.size() ? palette[index] : RGBQUAD{};
    out[0] = entry.rgbRed;
    out[1] = entry.rgbGreen;
    out[2] = entry.rgbBlue;
  }
}

}  // namespace

bool readImageFile(const std::string& path, const std::string& readerFolder, RgbImage& image,
                   std::string& error) {
  imagehost::PluginSet plugins;
  // A folder that cannot be read leaves the host's own BMP input.
  (void)plugins.load(readerFolder);
  std::unique_ptr<imagehost::RowSource> source;
  if (imagehost::Status opened = imagehost::OpenSource(plugins, path, {}, source); !opened) {
    error = opened.message();
    return false;
  }
  const imagehost::DibImage& dib = source->image();
  const uint32_t height = dib.height();
  const uint32_t stride = dib.stride();
  const uint32_t blockRows = imagehost::BlockRows(0, stride, height);
  std::vector<uint8_t> block(uint64_t{blockRows} * stride);
  image.width = dib.width();
  image.height = height;
  image.dotsPerInchX = DotsPerInch(dib.header().biXPelsPerMeter);
  image.dotsPerInchY = DotsPerInch(dib.header().biYPelsPerMeter);
  image.rgb.assign(uint64_t{image.width} * height * 3, 0);
  // Top-down blocks suit every source; each block holds its top row last.
  for (uint32_t top = 0; top < height; top += blockRows) {
    const uint32_t rows = std::min(blockRows, height - top);
    if (imagehost::Status read = source->readRows(top, rows, block); !read) {
      error = read.message();
      return false;
    }
    for (uint32_t j = 0; j < rows; ++j)
      RowToRgb(dib, block.data() + uint64_t{rows - 1 - j} * stride,
               image.rgb.data() + (uint64_t{top} + j) * image.width * 3);
  }
  return true;
}

}  // namespace virtscan
