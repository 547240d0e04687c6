#include "png_layout.h"

#include <zlib.h>

#include <cstring>

namespace wrpng {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t kMaxRowBytes = 0x7FFFFFFFu;
constexpr uint8_t kUnitMetre = 1;

void Put32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

// True when entry i is grey level i × 255 / (2^bits − 1) for every entry.
bool IsGreyRamp(std::span<const RGBQUAD> colours, uint32_t bits) {
  const uint32_t entries = 1u << bits;
  if (colours.size() < entries) return false;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t level = i * 255 / (entries - 1);
    const RGBQUAD& c = colours[i];
    if (c.rgbRed != level || c.rgbGreen != level || c.rgbBlue != level) return false;
  }
  return true;
}

}  // namespace

std::optional<PngLayout> LayoutFor(const BITMAPINFOHEADER& image, std::span<const RGBQUAD> colours) {
  const uint32_t bits = image.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 48) return std::nullopt;
  if (image.biWidth <= 0 || image.biHeight <= 0) return std::nullopt;
  const uint64_t rowBytes = (uint64_t{static_cast<uint32_t>(image.biWidth)} * bits + 7) / 8;
  if (rowBytes > kMaxRowBytes) return std::nullopt;
  PngLayout layout{};
  layout.dibBits = bits;
  layout.width = static_cast<uint32_t>(image.biWidth);
  layout.height = static_cast<uint32_t>(image.biHeight);
  layout.rowBytes = static_cast<uint32_t>(rowBytes);
  layout.dibRowBytes = static_cast<uint32_t>(DibRowBytes(layout.width, bits));
  if (bits <= 8) {
    layout.depth = static_cast<uint8_t>(bits);
    layout.colourType = IsGreyRamp(colours, bits) ? kColourGrey : kColourPalette;
    layout.pixelBytes = 1;
  } else {
    layout.depth = static_cast<uint8_t>(bits / 3);
    layout.colourType = kColourRgb;
    layout.pixelBytes = bits / 8;
  }
  return layout;
}

void FrameChunk(uint8_t* out, const char (&type)[5], uint32_t length) {
  Put32(out, length);
  std::memcpy(out + 4, type, 4);
  const uLong crc = crc32(crc32(0, nullptr, 0), out + 4, length + 4);
  Put32(out + 8 + length, static_cast<uint32_t>(crc));
}

void AppendChunk(std::vector<uint8_t>& out, const char (&type)[5], std::span<const uint8_t> data) {
  const size_t at = out.size();
  out.resize(at + data.size() + kChunkOverhead);
  if (!data.empty()) std::memcpy(out.data() + at + 8, data.data(), data.size());
  FrameChunk(out.data() + at, type, static_cast<uint32_t>(data.size()));
}

std::vector<uint8_t> FileHead(const PngLayout& layout, const BITMAPINFOHEADER& image,
                              std::span<const RGBQUAD> colours) {
  std::vector<uint8_t> head(std::begin(kSignature), std::end(kSignature));
  uint8_t header[13] = {};
  Put32(header, layout.width);
  Put32(header + 4, layout.height);
  header[8] = layout.depth;
  header[9] = layout.colourType;
  // Compression 0 (deflate), filter method 0, no interlace.
  AppendChunk(head, "IHDR", header);
  if (layout.colourType == kColourPalette) {
    std::vector<uint8_t> palette;
    for (uint32_t i = 0; i < (1u << layout.dibBits) && i < colours.size(); ++i)
      palette.insert(palette.end(), {colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue});
    AppendChunk(head, "PLTE", palette);
  }
  if (image.biXPelsPerMeter > 0 && image.biYPelsPerMeter > 0) {
    uint8_t physical[9] = {};
    Put32(physical, static_cast<uint32_t>(image.biXPelsPerMeter));
    Put32(physical + 4, static_cast<uint32_t>(image.biYPelsPerMeter));
    physical[8] = kUnitMetre;
    AppendChunk(head, "pHYs", physical);
  }
  return head;
}

}  // namespace wrpng
