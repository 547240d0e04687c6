// Uncompressed BMP files: file header, BITMAPINFOHEADER, colour table, rows
// (bottom row first, or top row first for a negative height).
#include <cstdio>
#include <cstring>
#include <memory>

#include "samples/sample_images.h"

namespace samples {

namespace {

std::vector<uint8_t> Headers(const BmpFormat& format) {
  const uint32_t tableBytes = static_cast<uint32_t>(format.palette.size() * sizeof(RGBQUAD));
  const uint32_t pixelOffset = 14 + 40 + tableBytes;
  const uint64_t imageBytes = uint64_t{format.stride()} * format.height;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfSize = static_cast<uint32_t>(pixelOffset + imageBytes);
  file.bfOffBits = pixelOffset;
  BITMAPINFOHEADER info{};
  info.biSize = 40;
  info.biWidth = static_cast<int32_t>(format.width);
  info.biHeight =
      format.topDown ? -static_cast<int32_t>(format.height) : static_cast<int32_t>(format.height);
  info.biPlanes = 1;
  info.biBitCount = format.bits;
  info.biSizeImage = static_cast<uint32_t>(imageBytes);
  info.biXPelsPerMeter = format.pixelsPerMetre;
  info.biYPelsPerMeter = format.pixelsPerMetre;
  info.biClrUsed = static_cast<uint32_t>(format.palette.size());
  std::vector<uint8_t> bytes(pixelOffset);
  std::memcpy(bytes.data(), &file, sizeof file);
  std::memcpy(bytes.data() + 14, &info, sizeof info);
  if (tableBytes != 0) std::memcpy(bytes.data() + 54, format.palette.data(), tableBytes);
  return bytes;
}

// Calls `put` with every row in file order.
template <typename Put>
void ForEachFileRow(const BmpFormat& format, const RowFiller& fill, Put&& put) {
  std::vector<uint8_t> row(format.stride());
  for (uint32_t i = 0; i < format.height; ++i) {
    uint32_t y = format.topDown ? i : format.height - 1 - i;
    std::fill(row.begin(), row.end(), uint8_t{0});
    fill(y, row);
    if (!put(row)) return;
  }
}

}  // namespace

bool WriteBmp(const std::string& path, const BmpFormat& format, const RowFiller& fill) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) return false;
  std::vector<uint8_t> headers = Headers(format);
  bool ok = std::fwrite(headers.data(), 1, headers.size(), file.get()) == headers.size();
  ForEachFileRow(format, fill, [&](const std::vector<uint8_t>& row) {
    ok = ok && std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    return ok;
  });
  return std::fflush(file.get()) == 0 && ok;
}

std::vector<uint8_t> EncodeBmp(const BmpFormat& format, const RowFiller& fill) {
  std::vector<uint8_t> bytes = Headers(format);
  ForEachFileRow(format, fill, [&](const std::vector<uint8_t>& row) {
    bytes.insert(bytes.end(), row.begin(), row.end());
    return true;
  });
  return bytes;
}

std::vector<RGBQUAD> GreyPalette(uint16_t bits) {
  const uint32_t entries = 1u << bits;
  std::vector<RGBQUAD> palette(entries);
  for (uint32_t i = 0; i < entries; ++i) {
    uint8_t level = static_cast<uint8_t>(i * 255 / (entries - 1));
    palette[i] = RGBQUAD{level, level, level, 0};
  }
  return palette;
}

std::vector<RGBQUAD> ColourPalette(uint32_t entries) {
  std::vector<RGBQUAD> palette(entries);
  for (uint32_t i = 0; i < entries; ++i)
    palette[i] = RGBQUAD{static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i * 11),
                         static_cast<uint8_t>(i * 73 + 19), 0};
  return palette;
}

void SetPixel(std::span<uint8_t> row, uint16_t bits, uint32_t x, uint32_t index) {
  switch (bits) {
    case 1:
      if (index & 1)
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      else
        row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
      break;
    case 4: {
      uint8_t shift = (x % 2 == 0) ? 4 : 0;
      row[x / 2] =
          static_cast<uint8_t>((row[x / 2] & ~(0x0F << shift)) | ((index & 0x0F) << shift));
      break;
    }
    case 8:
      row[x] = static_cast<uint8_t>(index);
      break;
    default:
      row[3 * x] = static_cast<uint8_t>(index);
      row[3 * x + 1] = static_cast<uint8_t>(index >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(index >> 16);
      break;
  }
}

}  // namespace samples
