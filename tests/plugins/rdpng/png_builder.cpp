#include "png_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>

namespace pngtest {
namespace {

constexpr uint32_t kStartRow[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint32_t kStartCol[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t kRowStep[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr uint32_t kColStep[7] = {8, 8, 4, 4, 2, 2, 1};

void Put32(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

uint32_t PixelBytesRounded(const Picture& p) {
  return std::max<uint32_t>(1, PixelBits(p) / 8);
}

// The packed row of pixels x = start, start + step, ... of source row y.
Bytes PassRow(const Picture& p, uint32_t y, uint32_t start, uint32_t step) {
  const uint32_t bits = PixelBits(p);
  Bytes row;
  uint32_t k = 0;
  for (uint32_t x = start; x < p.width; x += step, ++k) {
    uint64_t from = static_cast<uint64_t>(x) * bits;
    uint64_t to = static_cast<uint64_t>(k) * bits;
    row.resize((to + bits + 7) / 8, 0);
    if (bits >= 8) {
      for (uint32_t b = 0; b < bits / 8; ++b) row[to / 8 + b] = p.rows[y][from / 8 + b];
    } else {
      uint32_t v = (p.rows[y][from / 8] >> (8 - bits - from % 8)) & ((1u << bits) - 1);
      row[to / 8] = static_cast<uint8_t>(row[to / 8] | v << (8 - bits - to % 8));
    }
  }
  return row;
}

int PaethPredictor(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

Bytes Filter(uint8_t type, const Bytes& row, const Bytes& above, uint32_t unit) {
  Bytes out{type};
  for (size_t i = 0; i < row.size(); ++i) {
    int a = i >= unit ? row[i - unit] : 0;
    int b = above.empty() ? 0 : above[i];
    int c = (i >= unit && !above.empty()) ? above[i - unit] : 0;
    int predicted = 0;
    switch (type) {
      case 1: predicted = a; break;
      case 2: predicted = b; break;
      case 3: predicted = (a + b) / 2; break;
      case 4: predicted = PaethPredictor(a, b, c); break;
      default: predicted = 0; break;
    }
    out.push_back(static_cast<uint8_t>(row[i] - predicted));
  }
  return out;
}

}  // namespace

uint32_t Channels(uint8_t colourType) {
  switch (colourType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

uint32_t PixelBits(const Picture& p) {
  return Channels(p.colourType) * p.depth;
}

Picture Noise(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, uint32_t seed,
              uint32_t paletteSize) {
  Picture p{width, height, depth, colourType, {}};
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  const uint32_t bits = PixelBits(p);
  for (uint32_t y = 0; y < height; ++y) {
    Bytes row((static_cast<uint64_t>(width) * bits + 7) / 8, 0);
    for (uint32_t x = 0; x < width; ++x) {
      if (colourType == 3 || bits < 8) {
        uint32_t limit = colourType == 3 ? std::min(paletteSize, 1u << depth) : 1u << depth;
        uint32_t v = next() % limit;
        uint64_t bit = static_cast<uint64_t>(x) * bits;
        row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | v << (8 - bits - bit % 8));
      } else {
        for (uint32_t b = 0; b < bits / 8; ++b) row[x * (bits / 8) + b] = static_cast<uint8_t>(next());
      }
    }
    p.rows.push_back(row);
  }
  return p;
}

uint32_t Sample(const Picture& p, uint32_t x, uint32_t y, uint32_t channel) {
  const Bytes& row = p.rows[y];
  if (p.depth < 8) {
    uint32_t bit = x * p.depth;
    return (row[bit / 8] >> (8 - p.depth - bit % 8)) & ((1u << p.depth) - 1);
  }
  uint32_t sampleBytes = p.depth / 8;
  size_t at = (static_cast<size_t>(x) * Channels(p.colourType) + channel) * sampleBytes;
  return sampleBytes == 1 ? row[at] : (static_cast<uint32_t>(row[at]) << 8 | row[at + 1]);
}

Bytes Chunk(const std::string& type, const Bytes& data) {
  Bytes out;
  Put32(out, static_cast<uint32_t>(data.size()));
  Bytes typed(type.begin(), type.end());
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  Put32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
  return out;
}

Bytes Signature() {
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
}

Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, uint8_t interlace,
           uint8_t compression, uint8_t filter) {
  Bytes data;
  Put32(data, width);
  Put32(data, height);
  data.insert(data.end(), {depth, colourType, compression, filter, interlace});
  return Chunk("IHDR", data);
}

Bytes Iend() {
  return Chunk("IEND", {});
}

Bytes Phys(uint32_t x, uint32_t y, uint8_t unit) {
  Bytes data;
  Put32(data, x);
  Put32(data, y);
  data.push_back(unit);
  return Chunk("pHYs", data);
}

Bytes Plte(uint32_t entries, uint32_t seed) {
  Bytes data;
  for (uint32_t i = 0; i < entries; ++i) {
    data.insert(data.end(), {uint8_t(i * 37 + seed), uint8_t(i * 11 + 3 * seed), uint8_t(255 - i * 5)});
  }
  return Chunk("PLTE", data);
}

Bytes FilteredData(const Picture& p, bool interlaced, const std::vector<uint8_t>& filters) {
  Bytes out;
  size_t k = 0;
  const uint32_t unit = PixelBytesRounded(p);
  for (uint32_t pass = 0; pass < (interlaced ? 7u : 1u); ++pass) {
    uint32_t r0 = interlaced ? kStartRow[pass] : 0, rs = interlaced ? kRowStep[pass] : 1;
    uint32_t c0 = interlaced ? kStartCol[pass] : 0, cs = interlaced ? kColStep[pass] : 1;
    if (c0 >= p.width) continue;  // an empty pass has no rows at all
    Bytes above;
    for (uint32_t y = r0; y < p.height; y += rs) {
      Bytes row = PassRow(p, y, c0, cs);
      Bytes filtered = Filter(filters[k++ % filters.size()], row, above, unit);
      out.insert(out.end(), filtered.begin(), filtered.end());
      above = row;
    }
  }
  return out;
}

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9);
  out.resize(size);
  return out;
}

Bytes Idats(const Bytes& deflated, size_t piece) {
  Bytes out;
  for (size_t at = 0; at < deflated.size(); at += piece) {
    size_t n = std::min(piece, deflated.size() - at);
    Bytes c = Chunk("IDAT", Bytes(deflated.begin() + static_cast<long>(at),
                                  deflated.begin() + static_cast<long>(at + n)));
    out.insert(out.end(), c.begin(), c.end());
  }
  return out;
}

Bytes File(const Picture& p, const Options& options) {
  Bytes out = Signature();
  auto append = [&out](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
  append(Ihdr(p.width, p.height, p.depth, p.colourType, options.interlaced ? 1 : 0));
  if (p.colourType == 3) append(Plte(1u << p.depth));
  append(options.beforeIdat);
  append(Idats(Deflate(FilteredData(p, options.interlaced, options.filters)), options.idatPiece));
  append(Iend());
  return out;
}

}  // namespace pngtest
