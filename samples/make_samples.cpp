// Writes the bundled sample images into the folder named on the command line:
// a few GEM IMG files and BMP files of 1, 4, 8 and 24 bits in both row orders.
// Every pixel comes from the formulas below.
#include <cstdio>
#include <fstream>
#include <string>

#include "samples/sample_images.h"

namespace {

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Blocky letter-like strokes on white with a frame: long white runs, short black ones.
samples::MonoImage TextLike(uint32_t width, uint32_t height) {
  samples::MonoImage image = samples::BlankMono(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const bool frame = x < 2 || y < 2 || x + 2 >= width || y + 2 >= height;
      const uint32_t cx = x % 12, cy = y % 16;
      const bool stroke =
          cy >= 3 && cy < 13 && (cx == 2 || cx == 3 || (cy == 7 && cx < 9) || (cx + cy) % 9 == 0);
      if (frame || (stroke && (x / 12 + y / 16) % 3 != 2)) image.setBlack(x, y);
    }
  }
  return image;
}

// Dither-like repeating patterns, bands of repeated lines and solid blocks.
samples::MonoImage Patterns(uint32_t width, uint32_t height) {
  samples::MonoImage image = samples::BlankMono(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t band = y / 8;
      bool black = false;
      if (band % 4 == 0)
        black = (x / 8) % 2 == 0;  // byte stripes, the same each line
      else if (band % 4 == 1)
        black = (x + y) % 2 == 0;  // checkerboard
      else if (band % 4 == 2)
        black = x < width / 3;  // a solid black block
      else
        black = (x * 7 + y * 3) % 11 < 4;  // irregular
      if (black) image.setBlack(x, y);
    }
  }
  return image;
}

uint32_t PixelIndex(uint16_t bits, uint32_t x, uint32_t y) {
  const uint32_t entries = 1u << bits;
  return ((x / 3) + (y / 2) * 5 + x * y / 7) % entries;
}

uint32_t PixelRgb(uint32_t x, uint32_t y) {
  const uint32_t blue = (x * 4) & 0xFF, green = (y * 6) & 0xFF, red = ((x + y) * 3) & 0xFF;
  return blue | (green << 8) | (red << 16);
}

bool WriteBmpSample(const std::string& folder, const std::string& name, uint16_t bits,
                    bool topDown) {
  samples::BmpFormat format;
  format.width = 61;
  format.height = 37;
  format.bits = bits;
  format.topDown = topDown;
  if (bits == 1)
    format.palette = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  else if (bits == 4)
    format.palette = samples::ColourPalette(16);
  else if (bits == 8)
    format.palette = samples::GreyPalette(8);
  return samples::WriteBmp(folder + "/" + name, format, [&](uint32_t y, std::span<uint8_t> row) {
    for (uint32_t x = 0; x < format.width; ++x)
      samples::SetPixel(row, bits, x, bits == 24 ? PixelRgb(x, y) : PixelIndex(bits, x, y));
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  bool ok = Save(folder + "/gem-mono-1.img", samples::EncodeGem(TextLike(203, 64)));
  ok = Save(folder + "/gem-mono-1-patterns.img", samples::EncodeGem(Patterns(96, 48))) && ok;
  samples::GemOptions plain;
  plain.patternRuns = false;
  plain.replicate = false;
  ok = Save(folder + "/gem-mono-1-plain.img", samples::EncodeGem(TextLike(37, 29), plain)) && ok;
  const struct {
    const char* name;
    uint16_t bits;
  } kBmps[] = {{"bmp-mono-1", 1}, {"bmp-palette-4", 4}, {"bmp-grey-8", 8}, {"bmp-rgb-24", 24}};
  for (const auto& bmp : kBmps) {
    ok = WriteBmpSample(folder, std::string(bmp.name) + ".bmp", bmp.bits, false) && ok;
    ok = WriteBmpSample(folder, std::string(bmp.name) + "-topdown.bmp", bmp.bits, true) && ok;
  }
  if (!ok) std::fprintf(stderr, "make_samples: cannot write into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
