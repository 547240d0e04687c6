#include "pcx_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace wrpcx {
namespace {

constexpr uint32_t kMaxRun = 63;
constexpr uint64_t kMaxField = 0xFFFF;

void Put16(std::span<uint8_t, kHeaderBytes> header, size_t offset, uint32_t value) {
  header[offset] = static_cast<uint8_t>(value);
  header[offset + 1] = static_cast<uint8_t>(value >> 8);
}

// The 4-bit pixel at x, or 0 past the row's bytes.
uint32_t Nibble(std::span<const uint8_t> row, uint64_t x) {
  const uint64_t byte = x / 2;
  if (byte >= row.size()) return 0;
  return (x % 2 == 0) ? row[byte] >> 4 : row[byte] & 0x0F;
}

void SplitPacked(const PlaneLayout& layout, std::span<const uint8_t> row, bool invert,
                 std::span<uint8_t> line) {
  const size_t copied = std::min<size_t>(row.size(), layout.bytesPerLine);
  std::memcpy(line.data(), row.data(), copied);
  std::memset(line.data() + copied, 0, layout.bytesPerLine - copied);
  if (invert) {
    for (size_t i = 0; i < copied; ++i) line[i] = static_cast<uint8_t>(~line[i]);
  }
}

// Red, green and blue lines from blue, green, red pixels.
void SplitRgb(const PlaneLayout& layout, std::span<const uint8_t> row, std::span<uint8_t> lines) {
  const size_t bpl = layout.bytesPerLine;
  for (size_t x = 0; x < bpl; ++x) {
    const bool inside = 3 * x + 2 < row.size();
    lines[x] = inside ? row[3 * x + 2] : 0;
    lines[bpl + x] = inside ? row[3 * x + 1] : 0;
    lines[2 * bpl + x] = inside ? row[3 * x] : 0;
  }
}

// Plane k takes bit k of each 4-bit pixel, the first pixel in the top bit.
void SplitPlanes(const PlaneLayout& layout, std::span<const uint8_t> row, std::span<uint8_t> lines) {
  const size_t bpl = layout.bytesPerLine;
  for (size_t b = 0; b < bpl; ++b) {
    uint8_t planes[4] = {};
    for (uint32_t bit = 0; bit < 8; ++bit) {
      const uint32_t value = Nibble(row, 8 * static_cast<uint64_t>(b) + bit);
      for (uint32_t k = 0; k < 4; ++k) {
        planes[k] = static_cast<uint8_t>(planes[k] | ((value >> k) & 1) << (7 - bit));
      }
    }
    for (uint32_t k = 0; k < 4; ++k) lines[k * bpl + b] = planes[k];
  }
}

constexpr uint64_t kEveryByte = 0x0101010101010101u;

uint64_t Load64(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// The index, in memory order, of the first byte of `mask` (not 0) that is not 0.
uint32_t FirstNonZeroByte(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<uint32_t>(std::countr_zero(mask)) / 8;
  else
    return static_cast<uint32_t>(std::countl_zero(mask)) / 8;
}

// Bytes of `bytes` before the first one that differs from `value`, among
// the first 8; 8 when all equal.
uint32_t LeadingEqual(const uint8_t* bytes, uint8_t value) {
  const uint64_t diff = Load64(bytes) ^ (uint64_t{value} * kEveryByte);
  return diff == 0 ? 8 : FirstNonZeroByte(diff);
}

}  // namespace

size_t RunLength(const uint8_t* bytes, size_t available) {
  const uint8_t value = bytes[0];
  size_t run = 1;
  // Eight bytes compared at once while eight more lie inside the line.
  while (run + 8 <= available) {
    const uint32_t equal = LeadingEqual(bytes + run, value);
    run += equal;
    if (equal < 8) return run;
  }
  while (run < available && bytes[run] == value) ++run;
  return run;
}

std::optional<PlaneLayout> LayoutFor(const BITMAPINFOHEADER& image) {
  PlaneLayout layout{};
  switch (image.biBitCount) {
    case 1: layout = {1, 3, 1, 1, 2, 0, 0, 0, 0}; break;
    case 4: layout = {4, 2, 1, 4, 16, 0, 0, 0, 0}; break;
    case 8: layout = {8, 5, 8, 1, 256, 0, 0, 0, 0}; break;
    case 24: layout = {24, 5, 8, 3, 2, 0, 0, 0, 0}; break;
    default: return std::nullopt;
  }
  if (image.biWidth <= 0 || image.biHeight <= 0) return std::nullopt;
  const auto width = static_cast<uint64_t>(image.biWidth);
  const auto height = static_cast<uint64_t>(image.biHeight);
  const uint64_t bytesPerLine = (layout.bitsPerPlane * width + 15) / 16 * 2;
  if (width - 1 > kMaxField || height - 1 > kMaxField || bytesPerLine > kMaxField) {
    return std::nullopt;
  }
  layout.width = static_cast<uint32_t>(width);
  layout.height = static_cast<uint32_t>(height);
  layout.bytesPerLine = static_cast<uint32_t>(bytesPerLine);
  layout.dibRowBytes = static_cast<uint32_t>(DibRowBytes(width, layout.dibBits));
  return layout;
}

uint16_t DotsPerInch(int32_t pixelsPerMetre) {
  if (pixelsPerMetre <= 0) return 0;
  const double dpi = std::floor(pixelsPerMetre * 0.0254000508001016 + 0.5);
  return dpi >= static_cast<double>(kMaxField) ? static_cast<uint16_t>(kMaxField)
                                                : static_cast<uint16_t>(dpi);
}

void BuildHeader(const PlaneLayout& layout, const BITMAPINFOHEADER& image,
                 std::span<const RGBQUAD> colourTable, std::span<uint8_t, kHeaderBytes> header) {
  std::fill(header.begin(), header.end(), uint8_t{0});
  header[0] = 10;
  header[1] = static_cast<uint8_t>(layout.version);
  header[2] = 1;
  header[3] = static_cast<uint8_t>(layout.bitsPerPlane);
  Put16(header, 8, layout.width - 1);
  Put16(header, 10, layout.height - 1);
  Put16(header, 12, DotsPerInch(image.biXPelsPerMeter));
  Put16(header, 14, DotsPerInch(image.biYPelsPerMeter));
  if (layout.dibBits == 4) {
    for (size_t i = 0; i < 16 && i < colourTable.size(); ++i) {
      header[16 + 3 * i] = colourTable[i].rgbRed;
      header[17 + 3 * i] = colourTable[i].rgbGreen;
      header[18 + 3 * i] = colourTable[i].rgbBlue;
    }
  }
  header[65] = static_cast<uint8_t>(layout.planes);
  Put16(header, 66, layout.bytesPerLine);
  Put16(header, 68, 1);
}

void SplitRow(const PlaneLayout& layout, std::span<const uint8_t> row, bool invert,
              std::span<uint8_t> lines) {
  row = row.first(std::min<size_t>(row.size(), layout.dibRowBytes));
  switch (layout.planes) {
    case 3: SplitRgb(layout, row, lines); break;
    case 4: SplitPlanes(layout, row, lines); break;
    default: SplitPacked(layout, row, invert && layout.dibBits == 1, lines); break;
  }
}

bool RunCoder::drain() {
  const uint32_t count = count_;
  count_ = 0;
  return count == 0 || flush_(context_, buffer_.data(), count);
}

// The count is kept in a local while the line is coded (the block's count
// would otherwise be reloaded after every byte stored). A longer run is
// measured with one word compare, and every code is stored without a branch:
// two bytes are always written (the buffer has room for them below the flush
// point), and the count moves by one or two.
bool RunCoder::codeLine(std::span<const uint8_t> line) {
  const uint8_t* p = line.data();
  const uint8_t* const end = p + line.size();
  uint8_t* const out = buffer_.data();
  uint32_t count = count_;
  while (p < end) {
    const size_t available = std::min<size_t>(kMaxRun, static_cast<size_t>(end - p));
    const uint8_t value = *p;
    size_t run = 1;
    // A lone byte is tested first: in photographs most runs are 1 long, and
    // a well-predicted test lets the next run start before this one is
    // measured.
    if (available > 1 && p[1] == value) {
      run = 0;
      if (available > 8) run = 1 + LeadingEqual(p + 1, value);
      if (run == 0 || run == 9) run = RunLength(p, available);
    }
    // All ones for a byte that stands for itself, else 0 (masks, not
    // conditions, so that the compiler keeps this free of branches).
    const uint32_t single = 0u - (static_cast<uint32_t>(run == 1) & static_cast<uint32_t>(value < 0xC0));
    out[count] = static_cast<uint8_t>((value & single) | ((0xC0u | static_cast<uint32_t>(run)) & ~single));
    out[count + 1] = value;
    count += 2 + single;  // single is 0 or -1
    p += run;
    if (count > kFlushAbove) {
      count_ = count;
      if (!drain()) return false;
      count = 0;
    }
  }
  count_ = count;
  return true;
}

}  // namespace wrpcx
