// Builds PCX and DCX files for the rdpcx tests, independently of the reader:
// a picture of pixel values becomes plane lines, run-length coded, behind a
// header; the DIB rows the reader must deliver are worked out from the same
// picture.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace pcxtest {

using Bytes = std::vector<uint8_t>;

struct Header {
  uint8_t manufacturer = 10;
  uint8_t version = 5;
  uint8_t encoding = 1;
  uint8_t bits = 8;    // per plane
  uint8_t planes = 1;
  uint16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  uint16_t xDpi = 0, yDpi = 0;
  uint16_t bytesPerLine = 0;  // 0: the even number of bytes the width needs
  std::array<uint8_t, 48> palette{};
  Bytes bytes() const;
  uint32_t width() const { return static_cast<uint32_t>(xMax - xMin) + 1; }
  uint32_t height() const { return static_cast<uint32_t>(yMax - yMin) + 1; }
  uint32_t lineBytes() const;  // per plane
};

// Pixel values, top row first: palette indices (planes × bits ≤ 8), or
// 0xRRGGBB (three or four 8-bit planes; a fourth plane gets 0x80).
struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<std::vector<uint32_t>> values;
};
Picture RandomPicture(uint32_t width, uint32_t height, uint32_t depth, uint32_t seed);

Header HeaderFor(uint32_t width, uint32_t height, uint8_t planes, uint8_t bits);
// The scan line of picture row y as the file holds it before coding.
Bytes PlaneLine(const Header& header, const Picture& picture, uint32_t y);
// Codes one scan line: runs of up to 63, never crossing the line's end.
Bytes Rle(const Bytes& line);
// Header + coded lines (+ marker 12 and `vga` when given).
Bytes PcxFile(const Header& header, const Picture& picture, const Bytes* vga = nullptr);
// Magic, the page offsets, a 0 entry (the table padded to 1024 slots unless
// `compact`), then the pages.
Bytes DcxFile(const std::vector<Bytes>& pages, bool compact = false);

// The DIB row the reader delivers for row y (padded to 4 bytes with 0).
Bytes DibRow(const Header& header, const Picture& picture, uint32_t y);
uint32_t DibBits(const Header& header);

}  // namespace pcxtest
