// The host's own BMP input with the headers programs write today: V4 and V5
// headers and BI_BITFIELDS pixels, either row order. Files made here probe
// the masks and the refusals; files made by ImageMagick must convert to the
// pixels ImageMagick itself reads from them.
#include <gtest/gtest.h>

#include <cstring>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  Put16(out, at, v & 0xFFFF);
  Put16(out, at + 2, v >> 16);
}

struct BmpRecipe {
  uint32_t headerSize = 124;
  uint32_t bits = 16;
  uint32_t compression = 3;  // BI_BITFIELDS
  uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
  bool topDown = true;
};

// A 3 x 2 image: pixel (x, y) has the value x * 5 + y * 17 + 1 in every
// field's low bits, written as the recipe says; masks after a 40-byte header.
std::vector<uint8_t> MakeBmp(const BmpRecipe& r) {
  const uint32_t width = 3, height = 2;
  const uint32_t stride = (width * r.bits + 31) / 32 * 4;
  const uint32_t extra = r.headerSize == 40 && r.compression == 3 ? 12 : 0;
  const uint32_t offset = 14 + r.headerSize + extra;
  std::vector<uint8_t> out(offset + stride * height, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(out.size()));
  Put32(out, 10, offset);
  Put32(out, 14, r.headerSize);
  Put32(out, 18, width);
  Put32(out, 22, r.topDown ? static_cast<uint32_t>(-static_cast<int32_t>(height)) : height);
  Put16(out, 26, 1);
  Put16(out, 28, r.bits);
  Put32(out, 30, r.compression);
  for (int i = 0; i < 3; ++i) Put32(out, 54 + 4 * i, r.masks[i]);
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t fileRow = r.topDown ? y : height - 1 - y;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t v = x * 5 + y * 17 + 1;
      uint32_t pixel = 0;
      for (uint32_t mask : r.masks) {
        uint32_t shift = 0;
        while (mask != 0 && ((mask >> shift) & 1) == 0) ++shift;
        pixel |= (v << shift) & mask;
      }
      const size_t at = offset + fileRow * stride + x * (r.bits / 8);
      for (uint32_t byte = 0; byte < r.bits / 8; ++byte)
        out[at + byte] = static_cast<uint8_t>(pixel >> (8 * byte));
    }
  }
  return out;
}

TEST(HostBmpHeaders, BitfieldPixelsOfEveryHeaderSizeAndOrder) {
  TempDir dir;
  struct Case {
    BmpRecipe recipe;
    // Each field holds v in its low bits; the 8-bit value for v as the
    // field's width makes it.
    std::vector<int> widths;  // red, green, blue
  };
  const std::vector<Case> cases = {
      {{124, 16, 3, {0xF800, 0x07E0, 0x001F}, true}, {5, 6, 5}},
      {{108, 16, 3, {0x7C00, 0x03E0, 0x001F}, false}, {5, 5, 5}},
      {{40, 32, 3, {0xFF0000, 0xFF00, 0xFF}, true}, {8, 8, 8}},
      {{56, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF}, false}, {10, 10, 10}},
      {{40, 16, 0, {0x7C00, 0x03E0, 0x001F}, false}, {5, 5, 5}},  // BI_RGB: 5-5-5
  };
  auto eight = [](uint32_t v, int width) {
    if (width >= 8) return static_cast<uint8_t>(v >> (width - 8));
    uint32_t out = 0;
    for (int filled = 0; filled < 8; filled += width) {
      const int shift = 8 - filled - width;
      out |= shift >= 0 ? v << shift : v >> -shift;
    }
    return static_cast<uint8_t>(out);
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    WriteBytes(dir.file("in.bmp"), MakeBmp(c.recipe));
    ToolRun run = RunImagehost({"convert", dir.file("in.bmp"), dir.file("out.bmp"), "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << i << run.err;
    Pixels expected{3, 2, {}};
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 3; ++x)
        for (int channel = 0; channel < 3; ++channel) {
          const uint32_t v = (x * 5 + y * 17 + 1) & ((1u << c.widths[channel]) - 1);
          expected.rgb.push_back(eight(v, c.widths[channel]));
        }
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), expected) << i;
  }
}

TEST(HostBmpHeaders, MalformedHeadersAreRefusedWithTheirReason) {
  TempDir dir;
  struct Case {
    BmpRecipe recipe;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{124, 16, 3, {0xF800, 0x0FE0, 0x001F}, true}, "colour masks that overlap"},
      {{124, 16, 3, {0xF800, 0x0000, 0x001F}, true}, "a colour mask of no bits"},
      {{124, 16, 3, {0xF800, 0x0660, 0x001F}, true}, "not adjacent"},
      {{124, 16, 3, {0xF0000, 0x07E0, 0x001F}, true}, "beyond the pixel's 16 bits"},
      {{64, 16, 3, {0xF800, 0x07E0, 0x001F}, true}, "an info header of 64 bytes"},
      {{124, 24, 3, {0xF800, 0x07E0, 0x001F}, true}, "compression 3 with 24 bits"},
      {{124, 8, 1, {0, 0, 0}, true}, "compression 1 with 8 bits"},
  };
  for (const Case& c : cases) {
    WriteBytes(dir.file("in.bmp"), MakeBmp(c.recipe));
    ToolRun run = RunImagehost({"convert", dir.file("in.bmp"), dir.file("out.bmp"), "--quiet"});
    EXPECT_EQ(run.exitCode, 1) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(dir.file("out.bmp")));
  }
}

TEST(HostBmpHeaders, ImageMagicksBmpsConvertToThePixelsItReads) {
  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick not installed";
  TempDir dir;
  const std::vector<std::vector<std::string>> kinds = {
      {},                                   // its default: a 124-byte header, 24 bits
      {"-type", "Grayscale"},               // 8 bits with a palette
      {"-colors", "12"},                    // 4 bits
      {"-define", "bmp:subtype=RGB565"},    // 16-bit bit fields
      {"-define", "bmp:subtype=ARGB1555"},  // 16-bit with alpha
      {"-alpha", "set", "-channel", "A", "-evaluate", "set", "50%"},  // 32-bit bit fields
  };
  for (size_t i = 0; i < kinds.size(); ++i) {
    std::vector<std::string> make{"convert", "-seed", "3", "-size", "37x23", "plasma:fractal"};
    make.insert(make.end(), kinds[i].begin(), kinds[i].end());
    make.push_back(dir.file("in.bmp"));
    ASSERT_EQ(RunProgram(make).exitCode, 0) << i;
    ToolRun run = RunImagehost({"convert", dir.file("in.bmp"), dir.file("out.bmp"), "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << i << run.err;
    ASSERT_EQ(RunProgram({"convert", dir.file("in.bmp"), "-alpha", "off", "-depth", "8",
                          "ppm:" + dir.file("ref.ppm")})
                  .exitCode,
              0);
    EXPECT_EQ(DecodeBmp(ReadBytes(dir.file("out.bmp"))), DecodePnm(ReadBytes(dir.file("ref.ppm"))))
        << i;
  }
}

}  // namespace
}  // namespace hosttest
