#include "gif_builder.h"

#include <algorithm>
#include <cstddef>
#include <map>

namespace giftest {

GifPicture MakePicture(uint16_t width, uint16_t height, uint32_t bits, uint32_t seed) {
  GifPicture p{width, height, {}};
  uint32_t state = seed * 2654435761u + 7;
  auto next = [&] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  uint8_t value = 0;
  for (uint32_t i = 0; i < uint32_t{width} * height; ++i) {
    if (next() % 4 == 0) value = static_cast<uint8_t>(next() & ((1u << bits) - 1));
    p.pixels.push_back(value);
  }
  return p;
}

std::vector<std::pair<uint32_t, uint32_t>> LzwCodes(const Bytes& indices, uint8_t codeSize,
                                                    bool deferredClear) {
  const uint32_t clear = 1u << codeSize;
  std::vector<std::pair<uint32_t, uint32_t>> codes;
  std::map<std::pair<uint32_t, uint8_t>, uint32_t> table;
  uint32_t width = codeSize + 1u;
  uint32_t next = clear + 2;
  codes.push_back({clear, width});
  if (indices.empty()) {
    codes.push_back({clear + 1, width});
    return codes;
  }
  uint32_t current = indices[0];
  for (size_t i = 1; i < indices.size(); ++i) {
    auto found = table.find(std::pair<uint32_t, uint8_t>(current, indices[i]));
    if (found != table.end()) {
      current = found->second;
      continue;
    }
    codes.push_back({current, width});
    if (next < 4096) {
      table[std::pair<uint32_t, uint8_t>(current, indices[i])] = next++;
      if (next > (1u << width) && width < 12) ++width;
    }
    if (next == 4096 && !deferredClear) {
      codes.push_back({clear, width});
      table.clear();
      width = codeSize + 1u;
      next = clear + 2;
    }
    current = indices[i];
  }
  codes.push_back({current, width});
  if (next < 4096) {
    ++next;  // the decoder makes an entry for this last code too
    if (next > (1u << width) && width < 12) ++width;
  }
  codes.push_back({clear + 1, width});
  return codes;
}

Bytes PackCodes(const std::vector<std::pair<uint32_t, uint32_t>>& codes) {
  Bytes stream;
  uint32_t buffer = 0, count = 0;
  for (auto [code, width] : codes) {
    buffer |= code << count;
    count += width;
    while (count >= 8) {
      stream.push_back(static_cast<uint8_t>(buffer));
      buffer >>= 8;
      count -= 8;
    }
  }
  if (count > 0) stream.push_back(static_cast<uint8_t>(buffer));
  Bytes out;
  for (size_t at = 0; at < stream.size(); at += 255) {
    size_t n = std::min<size_t>(255, stream.size() - at);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), stream.begin() + at, stream.begin() + at + n);
  }
  out.push_back(0);
  return out;
}

Bytes TableColour(uint32_t index, uint32_t seed) {
  return {static_cast<uint8_t>(index * 3 + seed), static_cast<uint8_t>(255 - index),
          static_cast<uint8_t>(index * 7 * seed)};
}

Bytes InterlaceOrder(const GifPicture& p) {
  Bytes out;
  const uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (uint32_t y = start[pass]; y < p.height; y += step[pass]) {
      out.insert(out.end(), p.pixels.begin() + y * p.width, p.pixels.begin() + (y + 1) * p.width);
    }
  }
  return out;
}

namespace {

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutTable(Bytes& out, int bits, uint32_t seed) {
  for (uint32_t i = 0; i < (1u << bits); ++i) {
    Bytes c = TableColour(i, seed);
    out.insert(out.end(), c.begin(), c.end());
  }
}

}  // namespace

Bytes EncodeGif(const GifPicture& picture, const GifOptions& o, const Bytes& data) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(out, picture.width);
  Put16(out, picture.height);
  uint8_t packed = static_cast<uint8_t>(((o.colourResolution - 1) & 7) << 4);
  if (o.globalBits > 0) packed |= static_cast<uint8_t>(0x80 | (o.globalBits - 1));
  out.push_back(packed);
  out.push_back(0);
  out.push_back(0);
  if (o.globalBits > 0) PutTable(out, o.globalBits, 1);
  out.insert(out.end(), o.beforeImage.begin(), o.beforeImage.end());
  out.push_back(0x2C);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, picture.width);
  Put16(out, picture.height);
  uint8_t flags = o.interlaced ? 0x40 : 0;
  if (o.localBits > 0) flags |= static_cast<uint8_t>(0x80 | (o.localBits - 1));
  out.push_back(flags);
  if (o.localBits > 0) PutTable(out, o.localBits, 2);
  out.push_back(o.codeSize);
  Bytes encoded = data;
  if (encoded.empty()) {
    encoded = PackCodes(LzwCodes(o.interlaced ? InterlaceOrder(picture) : picture.pixels, o.codeSize,
                                 o.deferredClear));
  }
  out.insert(out.end(), encoded.begin(), encoded.end());
  out.push_back(0x3B);
  return out;
}

}  // namespace giftest
