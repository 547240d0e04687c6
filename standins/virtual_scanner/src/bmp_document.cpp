#include "bmp_document.h"

#include <array>

#include "winport/file.h"

namespace virtscan {

namespace {

// Decoded images are bounded so that a hostile header cannot claim gigabytes.
constexpr uint64_t kMaxDecodedBytes = 512ull << 20;
constexpr uint64_t kMaxFileBytes = 1ull << 30;

uint16_t u16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// One channel of a bit-field pixel: where it lies and how to widen it to 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t maximum = 0;  // mask >> shift

  static Channel of(uint32_t mask) {
    Channel c;
    c.mask = mask;
    if (mask == 0) return c;
    while (((mask >> c.shift) & 1u) == 0) ++c.shift;
    c.maximum = mask >> c.shift;
    return c;
  }
  uint8_t extract(uint32_t pixel) const {
    if (maximum == 0) return 0;
    const uint64_t v = (pixel & mask) >> shift;
    return static_cast<uint8_t>((v * 255 + maximum / 2) / maximum);
  }
};

struct Layout {
  int64_t width = 0;
  int64_t height = 0;  // negative: top-down
  uint32_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t headerSize = 0;
  uint32_t pixelOffset = 0;
  uint32_t paletteOffset = 0;
  uint32_t paletteEntrySize = 4;
  uint32_t paletteCount = 0;
  int32_t pixelsPerMetreX = 0;
  int32_t pixelsPerMetreY = 0;
  std::array<Channel, 3> channels{};  // red, green, blue
};

uint32_t dotsPerInchOf(int32_t pixelsPerMetre) {
  return pixelsPerMetre > 0 ? static_cast<uint32_t>((pixelsPerMetre * 254ll + 5000) / 10000) : 0;
}

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

bool readHeader(const uint8_t* b, size_t size, Layout& l) {
  if (size < 26 || b[0] != 'B' || b[1] != 'M') return false;
  l.pixelOffset = u32At(b + 10);
  l.headerSize = u32At(b + 14);
  if (l.headerSize == 12) {
    l.width = u16At(b + 18);
    l.height = static_cast<int16_t>(u16At(b + 20));
    l.bitCount = u16At(b + 24);
    l.paletteEntrySize = 3;
  } else {
    if (l.headerSize < 40 || 14ull + l.headerSize > size) return false;
    l.width = static_cast<int32_t>(u32At(b + 18));
    l.height = static_cast<int32_t>(u32At(b + 22));
    l.bitCount = u16At(b + 28);
    l.compression = u32At(b + 30);
    l.pixelsPerMetreX = static_cast<int32_t>(u32At(b + 38));
    l.pixelsPerMetreY = static_cast<int32_t>(u32At(b + 42));
    l.paletteCount = u32At(b + 46);
  }
  l.paletteOffset = 14 + l.headerSize;
  return true;
}

bool readMasks(const uint8_t* b, size_t size, Layout& l) {
  if (l.compression == kBiBitfields) {
    if (l.bitCount != 16 && l.bitCount != 32) return false;
    // A 40-byte header is followed by the three masks; later headers hold them.
    const uint64_t at = 14 + 40;
    if (at + 12 > size) return false;
    for (int i = 0; i < 3; ++i) l.channels[i] = Channel::of(u32At(b + at + 4 * i));
    if (l.headerSize == 40) l.paletteOffset += 12;
    return true;
  }
  if (l.compression != kBiRgb) return false;
  if (l.bitCount == 16) {
    l.channels = {Channel::of(0x7C00), Channel::of(0x03E0), Channel::of(0x001F)};
  } else if (l.bitCount == 32) {
    l.channels = {Channel::of(0xFF0000), Channel::of(0xFF00), Channel::of(0xFF)};
  }
  return true;
}

bool checkLayout(size_t size, Layout& l, uint64_t& stride) {
  switch (l.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return false;
  }
  const int64_t rows = l.height < 0 ? -l.height : l.height;
  if (l.width <= 0 || rows <= 0) return false;
  if (static_cast<uint64_t>(l.width) * static_cast<uint64_t>(rows) * 3 > kMaxDecodedBytes) {
    return false;
  }
  if (l.bitCount <= 8) {
    const uint32_t full = 1u << l.bitCount;
    if (l.paletteCount == 0 || l.paletteCount > full) l.paletteCount = full;
    // The palette may be shorter than the file claims: keep the entries present.
    const uint64_t room = l.pixelOffset > l.paletteOffset ? l.pixelOffset - l.paletteOffset : 0;
    const uint64_t fits = room / l.paletteEntrySize;
    if (fits < l.paletteCount) l.paletteCount = static_cast<uint32_t>(fits);
    if (l.paletteCount == 0) return false;
  }
  stride = (static_cast<uint64_t>(l.width) * l.bitCount + 31) / 32 * 4;
  return l.pixelOffset + stride * static_cast<uint64_t>(rows) <= size;
}

void decodeRow(const uint8_t* b, const Layout& l, const uint8_t* row, uint8_t* out) {
  const auto width = static_cast<uint64_t>(l.width);
  for (uint64_t x = 0; x < width; ++x, out += 3) {
    if (l.bitCount <= 8) {
      const uint64_t bit = x * l.bitCount;
      const uint32_t shift = 8 - l.bitCount - static_cast<uint32_t>(bit % 8);
      const uint32_t index = (row[bit / 8] >> shift) & ((1u << l.bitCount) - 1);
      if (index >= l.paletteCount) {
        out[0] = out[1] = out[2] = 0;
        continue;
      }
      const uint8_t* entry = b + l.paletteOffset + index * l.paletteEntrySize;
      out[0] = entry[2];
      out[1] = entry[1];
      out[2] = entry[0];
    } else if (l.bitCount == 24) {
      out[0] = row[3 * x + 2];
      out[1] = row[3 * x + 1];
      out[2] = row[3 * x];
    } else {
      const uint32_t pixel = l.bitCount == 16 ? u16At(row + 2 * x) : u32At(row + 4 * x);
      for (int c = 0; c < 3; ++c) out[c] = l.channels[c].extract(pixel);
    }
  }
}

}  // namespace

bool decodeBmp(const uint8_t* bytes, size_t size, RgbImage& image) {
  Layout layout;
  uint64_t stride = 0;
  if (!readHeader(bytes, size, layout) || !readMasks(bytes, size, layout) ||
      !checkLayout(size, layout, stride)) {
    return false;
  }
  const auto width = static_cast<uint64_t>(layout.width);
  const uint64_t rows = layout.height < 0 ? static_cast<uint64_t>(-layout.height)
                                          : static_cast<uint64_t>(layout.height);
  image.width = static_cast<uint32_t>(width);
  image.height = static_cast<uint32_t>(rows);
  image.dotsPerInchX = dotsPerInchOf(layout.pixelsPerMetreX);
  image.dotsPerInchY = dotsPerInchOf(layout.pixelsPerMetreY);
  image.rgb.assign(width * rows * 3, 0);
  for (uint64_t y = 0; y < rows; ++y) {
    const uint64_t stored = layout.height < 0 ? y : rows - 1 - y;
    decodeRow(bytes, layout, bytes + layout.pixelOffset + stored * stride,
              image.rgb.data() + y * width * 3);
  }
  return true;
}

bool readBmpFile(const std::string& path, RgbImage& image) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  const uint64_t size = static_cast<uint64_t>(high) << 32 | low;
  bool ok = low != INVALID_FILE_SIZE && size <= kMaxFileBytes;
  std::vector<uint8_t> bytes;
  if (ok) {
    bytes.resize(size);
    DWORD got = 0;
    ok = ReadFile(file, bytes.data(), static_cast<DWORD>(size), &got, nullptr) && got == size;
  }
  CloseHandle(file);
  return ok && decodeBmp(bytes.data(), bytes.size(), image);
}

}  // namespace virtscan
