#include "tga_builder.h"

#include <cstring>

namespace tgatest {
namespace {

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Patch32(Bytes& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TgaPicture MakePicture(uint16_t width, uint16_t height, uint8_t depth, uint32_t seed) {
  TgaPicture p{width, height, depth, {}};
  const uint32_t bytes = (depth + 7u) / 8u;
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&] {
    state = state * 1103515245u + 12345u;
    return static_cast<uint8_t>(state >> 16);
  };
  for (uint32_t y = 0; y < height; ++y) {
    Bytes row;
    Bytes pixel(bytes);
    for (uint32_t x = 0; x < width; ++x) {
      if (x == 0 || next() % 3 != 0) {  // a new pixel, else a repeat of the last
        for (auto& b : pixel) b = next();
      }
      row.insert(row.end(), pixel.begin(), pixel.end());
    }
    p.rows.push_back(row);
  }
  return p;
}

Bytes EncodeRunLengthRow(const Bytes& row, uint32_t pixelBytes, bool literalsOnly) {
  Bytes out;
  const size_t count = row.size() / pixelBytes;
  auto same = [&](size_t a, size_t b) {
    return std::memcmp(&row[a * pixelBytes], &row[b * pixelBytes], pixelBytes) == 0;
  };
  size_t x = 0;
  while (x < count) {
    size_t run = 1;
    while (!literalsOnly && x + run < count && run < 128 && same(x, x + run)) ++run;
    if (run > 1) {
      out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
      out.insert(out.end(), row.begin() + x * pixelBytes, row.begin() + (x + 1) * pixelBytes);
      x += run;
      continue;
    }
    size_t literal = 1;
    while (x + literal < count && literal < 128 &&
           (literalsOnly || x + literal + 1 >= count || !same(x + literal, x + literal + 1))) {
      ++literal;
    }
    out.push_back(static_cast<uint8_t>(literal - 1));
    out.insert(out.end(), row.begin() + x * pixelBytes, row.begin() + (x + literal) * pixelBytes);
    x += literal;
  }
  return out;
}

Bytes EncodeTga(const TgaPicture& picture, const TgaOptions& o) {
  const uint32_t entryBytes = (o.mapEntryBits + 7u) / 8u;
  const uint32_t mapLength = o.mapLength != 0 ? o.mapLength : (entryBytes ? o.map.size() / entryBytes : 0);
  Bytes out;
  out.push_back(static_cast<uint8_t>(o.id.size()));
  out.push_back(o.mapType);
  out.push_back(o.imageType);
  Put16(out, o.firstIndex);
  Put16(out, mapLength);
  out.push_back(o.mapEntryBits);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, picture.width);
  Put16(out, picture.height);
  out.push_back(picture.depth);
  out.push_back(static_cast<uint8_t>((o.topDown ? 0x20 : 0x00) | (o.rightToLeft ? 0x10 : 0x00)));
  out.insert(out.end(), o.id.begin(), o.id.end());
  out.insert(out.end(), o.map.begin(), o.map.end());

  const uint32_t pixelBytes = (picture.depth + 7u) / 8u;
  const bool rle = o.imageType >= 9;
  std::vector<uint32_t> offsets;
  Bytes stream;  // crossRows: every stored row, encoded at the end as one
  for (uint32_t s = 0; s < picture.height; ++s) {
    Bytes row = picture.rows[o.topDown ? s : picture.height - 1 - s];
    if (o.rightToLeft) row = Reversed(row, picture.width, picture.depth);
    offsets.push_back(static_cast<uint32_t>(out.size()));
    if (rle && o.crossRows) {
      stream.insert(stream.end(), row.begin(), row.end());
      continue;
    }
    Bytes stored = rle ? EncodeRunLengthRow(row, pixelBytes, o.literalsOnly) : row;
    out.insert(out.end(), stored.begin(), stored.end());
  }
  if (!stream.empty()) {
    Bytes packets = EncodeRunLengthRow(stream, pixelBytes, o.literalsOnly);
    out.insert(out.end(), packets.begin(), packets.end());
  }
  if (!o.footer) return out;
  uint32_t table = 0;
  if (o.scanTable) {
    table = static_cast<uint32_t>(out.size());
    for (uint32_t offset : offsets) Put32(out, offset);
  }
  const uint32_t extension = static_cast<uint32_t>(out.size());
  Bytes area(495, 0);
  area[0] = 0xEF;  // extension size 495
  area[1] = 0x01;
  out.insert(out.end(), area.begin(), area.end());
  Patch32(out, extension + 490, table);
  Put32(out, extension);
  Put32(out, 0);
  const char signature[] = "TRUEVISION-XFILE.";
  out.insert(out.end(), signature, signature + 17);
  out.push_back(0);
  return out;
}

Bytes DibRow(const Bytes& fileRow, uint8_t depth, bool grey) {
  if (depth != 16 && depth != 15 && depth != 32) return fileRow;
  Bytes out;
  if (grey && depth == 16) {
    for (size_t i = 0; i + 1 < fileRow.size(); i += 2) out.push_back(fileRow[i]);
    return out;
  }
  const uint32_t bytes = depth == 32 ? 4 : 2;
  for (size_t i = 0; i + bytes <= fileRow.size(); i += bytes) {
    if (bytes == 4) {
      out.insert(out.end(), fileRow.begin() + i, fileRow.begin() + i + 3);
    } else {
      uint32_t v = fileRow[i] | fileRow[i + 1] << 8;
      out.push_back(static_cast<uint8_t>((v & 0x1F) << 3));
      out.push_back(static_cast<uint8_t>(((v >> 5) & 0x1F) << 3));
      out.push_back(static_cast<uint8_t>(((v >> 10) & 0x1F) << 3));
    }
  }
  return out;
}

Bytes Reversed(const Bytes& row, uint32_t width, uint8_t depth) {
  Bytes out(row.size(), 0);
  if (depth == 1) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t from = width - 1 - x;
      if ((row[from / 8] >> (7 - from % 8)) & 1) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    return out;
  }
  const uint32_t n = (depth + 7u) / 8u;
  for (uint32_t x = 0; x < width; ++x) {
    std::memcpy(&out[x * n], &row[(width - 1 - x) * n], n);
  }
  return out;
}

}  // namespace tgatest
