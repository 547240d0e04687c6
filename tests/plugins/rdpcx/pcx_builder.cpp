#include "pcx_builder.h"

#include <random>

namespace pcxtest {

namespace {

void Put16(Bytes& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

uint32_t RowBytes(uint32_t width, uint32_t bits) {
  return (width * bits + 31) / 32 * 4;
}

}  // namespace

uint32_t Header::lineBytes() const {
  if (bytesPerLine != 0) return bytesPerLine;
  return (width() * bits + 15) / 16 * 2;
}

Bytes Header::bytes() const {
  Bytes out(128, 0);
  out[0] = manufacturer;
  out[1] = version;
  out[2] = encoding;
  out[3] = bits;
  Put16(out, 4, xMin);
  Put16(out, 6, yMin);
  Put16(out, 8, xMax);
  Put16(out, 10, yMax);
  Put16(out, 12, xDpi);
  Put16(out, 14, yDpi);
  for (size_t i = 0; i < 48; ++i) out[16 + i] = palette[i];
  out[65] = planes;
  Put16(out, 66, lineBytes());
  Put16(out, 68, 1);
  return out;
}

Header HeaderFor(uint32_t width, uint32_t height, uint8_t planes, uint8_t bits) {
  Header h;
  h.planes = planes;
  h.bits = bits;
  h.xMin = 3;  // the extent, not the origin, gives the size
  h.yMin = 5;
  h.xMax = static_cast<uint16_t>(3 + width - 1);
  h.yMax = static_cast<uint16_t>(5 + height - 1);
  for (size_t i = 0; i < 48; ++i) h.palette[i] = static_cast<uint8_t>(i * 5 + 1);
  return h;
}

Picture RandomPicture(uint32_t width, uint32_t height, uint32_t depth, uint32_t seed) {
  std::mt19937 rng(seed);
  Picture p{width, height, {}};
  const uint32_t mask = depth >= 24 ? 0xFFFFFF : (1u << depth) - 1;
  for (uint32_t y = 0; y < height; ++y) {
    std::vector<uint32_t> row(width);
    // Stretches of one value make runs; the rest is noise.
    uint32_t value = rng() & mask;
    for (uint32_t x = 0; x < width; ++x) {
      if (rng() % 4 == 0) value = rng() & mask;
      row[x] = value;
    }
    p.values.push_back(row);
  }
  return p;
}

Bytes PlaneLine(const Header& h, const Picture& picture, uint32_t y) {
  const uint32_t bpl = h.lineBytes();
  Bytes line(static_cast<size_t>(bpl) * h.planes, 0);
  const auto& row = picture.values[y];
  for (uint32_t x = 0; x < picture.width; ++x) {
    const uint32_t v = row[x];
    if (h.bits == 8 && h.planes >= 3) {
      if (x >= bpl) continue;
      line[x] = static_cast<uint8_t>(v >> 16);
      line[bpl + x] = static_cast<uint8_t>(v >> 8);
      line[2 * bpl + x] = static_cast<uint8_t>(v);
      if (h.planes == 4) line[3 * bpl + x] = 0x80;
    } else if (h.planes == 1) {
      const uint32_t bitPos = x * h.bits;
      if (bitPos / 8 >= bpl) continue;
      line[bitPos / 8] |= static_cast<uint8_t>(v << (8 - h.bits - bitPos % 8));
    } else {
      if (x / 8 >= bpl) continue;
      for (uint32_t p = 0; p < h.planes; ++p) {
        if ((v >> p) & 1) line[p * bpl + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return line;
}

Bytes Rle(const Bytes& line) {
  Bytes out;
  for (size_t i = 0; i < line.size();) {
    size_t run = 1;
    while (i + run < line.size() && run < 63 && line[i + run] == line[i]) ++run;
    if (run == 1 && line[i] < 0xC0) {
      out.push_back(line[i]);
    } else {
      out.push_back(static_cast<uint8_t>(0xC0 | run));
      out.push_back(line[i]);
    }
    i += run;
  }
  return out;
}

Bytes PcxFile(const Header& header, const Picture& picture, const Bytes* vga) {
  Bytes out = header.bytes();
  for (uint32_t y = 0; y < picture.height; ++y) {
    Bytes coded = Rle(PlaneLine(header, picture, y));
    out.insert(out.end(), coded.begin(), coded.end());
  }
  if (vga != nullptr) {
    out.push_back(12);
    out.insert(out.end(), vga->begin(), vga->end());
  }
  return out;
}

Bytes DcxFile(const std::vector<Bytes>& pages, bool compact) {
  const size_t slots = compact ? pages.size() + 1 : 1024;
  Bytes out(4 + 4 * slots, 0);
  Put16(out, 0, 987654321 & 0xFFFF);
  Put16(out, 2, 987654321 >> 16);
  for (size_t i = 0; i < pages.size(); ++i) {
    Put16(out, 4 + 4 * i, static_cast<uint32_t>(out.size()) & 0xFFFF);
    Put16(out, 6 + 4 * i, static_cast<uint32_t>(out.size()) >> 16);
    out.insert(out.end(), pages[i].begin(), pages[i].end());
  }
  return out;
}

uint32_t DibBits(const Header& h) {
  const uint32_t depth = h.planes * h.bits;
  if (depth == 1) return 1;
  if (depth < 8) return 4;
  if (depth < 24) return 8;
  return 24;
}

Bytes DibRow(const Header& h, const Picture& picture, uint32_t y) {
  const uint32_t bits = DibBits(h);
  Bytes row(RowBytes(picture.width, bits), 0);
  for (uint32_t x = 0; x < picture.width; ++x) {
    const uint32_t v = picture.values[y][x];
    if (bits == 24) {
      row[3 * x] = static_cast<uint8_t>(v);
      row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
    } else {
      const uint32_t bitPos = x * bits;
      row[bitPos / 8] |= static_cast<uint8_t>(v << (8 - bits - bitPos % 8));
    }
  }
  // One plane of 1, 4 or 8 bits: the line's padding bytes come through as well.
  if (h.planes == 1 && h.bits == bits) {
    Bytes line = PlaneLine(h, picture, y);
    for (size_t i = 0; i < line.size() && i < row.size(); ++i) row[i] = line[i];
  }
  return row;
}

}  // namespace pcxtest
