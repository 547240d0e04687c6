// Scan lines: run-length decoding, and the planes turned into DIB pixels.
//
// A scan line holds bytes-per-line bytes of each plane, one plane after the
// other, coded byte by byte: a byte of 0xC0 or more repeats the next byte
// (its low six bits) times, any other byte stands for itself. Policies:
//   - a run that passes the end of the line is cut there and its excess
//     dropped; the next line starts with a fresh code byte;
//   - the end of the file (or a failing host read) ends the row with result
//     3 and id 5; the rows before it were delivered;
//   - the bytes are read in blocks through the block's own input storage
//     (pcx_format.h), not one at a time through the host;
//   - pixels a line has no bytes for (bytes per line below what the width
//     needs) are delivered as 0;
//   - the host's offset is a byte offset into the DIB row and is taken exactly
//     for every layout, also when it falls inside a group of pixels.
#include <algorithm>
#include <cstring>

#include "pcx_format.h"

namespace rdpcx {
namespace {

int32_t EndOfData() {
  reader::StoreError(kStrUnexpectedEnd);
  return kReaderReadFailed;
}

// Bytes of the DIB row from `offset` on that fit `dest`.
size_t DibBytesFrom(const PageGeometry& g, uint32_t offset, size_t room) {
  const uint64_t rowBytes = DibRowBytes(g.width, g.dibBits);
  return offset < rowBytes ? static_cast<size_t>(std::min<uint64_t>(rowBytes - offset, room)) : 0;
}

void ZeroFrom(std::span<uint8_t> dest, size_t from, size_t to) {
  if (from < to) std::memset(dest.data() + from, 0, to - from);
}

// One plane: the line's bytes as they are; pixels past the line are 0.
void DeliverPacked(const PageGeometry& g, std::span<const uint8_t> line, std::span<uint8_t> dest,
                   uint32_t offset) {
  reader::CopyFromOffset(line, dest, offset);
  const size_t copied = offset < line.size() ? std::min(line.size() - offset, dest.size()) : 0;
  ZeroFrom(dest, copied, DibBytesFrom(g, offset, dest.size()));
}

// One plane of 2-bit pixels: each byte becomes two bytes of 4-bit pixels.
void DeliverPacked2(const PageGeometry& g, std::span<const uint8_t> line, std::span<uint8_t> dest,
                    uint32_t offset) {
  const size_t wanted = DibBytesFrom(g, offset, dest.size());
  const uint64_t widened = 2 * static_cast<uint64_t>(line.size());
  const size_t available = offset < widened ? static_cast<size_t>(std::min<uint64_t>(widened - offset, wanted)) : 0;
  reader::Widen2To4(line, dest.first(available), offset);
  ZeroFrom(dest, available, wanted);
}

// Planes of 1 bit: DIB byte k holds pixels 2k and 2k + 1; pixel x takes bit p
// of its value from bit (7 − x mod 8) of byte x / 8 of plane p.
void DeliverPlanar(const PageGeometry& g, std::span<const uint8_t> line, std::span<uint8_t> dest,
                   uint32_t offset) {
  const size_t wanted = DibBytesFrom(g, offset, dest.size());
  for (size_t j = 0; j < wanted; ++j) {
    const uint64_t k = static_cast<uint64_t>(offset) + j;
    const uint64_t byteIndex = k / 4;
    const uint32_t shift = 6 - 2 * static_cast<uint32_t>(k % 4);  // of the pixel pair in the byte
    uint8_t high = 0;
    uint8_t low = 0;
    if (byteIndex < g.bytesPerLine) {
      for (uint32_t p = 0; p < g.planes; ++p) {
        const uint8_t bits = line[p * static_cast<size_t>(g.bytesPerLine) + byteIndex];
        high |= static_cast<uint8_t>(((bits >> (shift + 1)) & 1) << p);
        low |= static_cast<uint8_t>(((bits >> shift) & 1) << p);
      }
    }
    dest[j] = static_cast<uint8_t>(high << 4 | low);
  }
}

// Red, green and blue planes of 8 bits: blue, green, red bytes per pixel;
// the DIB row's padding after the last pixel is left as it was.
void DeliverRgb(const PageGeometry& g, std::span<const uint8_t> line, std::span<uint8_t> dest,
                uint32_t offset) {
  const uint64_t pixelBytes = 3 * static_cast<uint64_t>(g.width);
  if (offset >= pixelBytes) return;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(pixelBytes - offset, dest.size()));
  for (size_t j = 0; j < wanted; ++j) {
    const uint64_t k = static_cast<uint64_t>(offset) + j;
    const uint64_t x = k / 3;
    const uint32_t plane = 2 - static_cast<uint32_t>(k % 3);  // byte 0 of a pixel is blue
    dest[j] = x < g.bytesPerLine ? line[plane * static_cast<size_t>(g.bytesPerLine) + x] : 0;
  }
}

}  // namespace

// Decodes the next scan line into `out` (line length bytes). The input
// stands at the line's first code byte and is left at the next line's.
int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t /*row*/, std::span<uint8_t> out,
                  uint32_t& /*copies*/) {
  const uint32_t length = StateOf(image).lineLength;
  if (out.size() < length) return kReaderCorrupt;
  reader::BufferedInput in = InputOf(image);
  uint8_t* line = out.data();
  uint32_t filled = 0;
  while (filled < length) {
    const std::span<const uint8_t> held = in.held();
    if (held.empty()) return EndOfData();
    const uint8_t* p = held.data();
    const uint8_t* const end = p + held.size();
    while (filled < length && p < end) {
      const uint8_t code = *p;
      if (code < 0xC0) {
        line[filled++] = code;
        ++p;
        continue;
      }
      if (end - p < 2) break;  // the run's value comes with the next bytes
      const uint32_t count = std::min<uint32_t>(code & 0x3Fu, length - filled);
      std::memset(line + filled, p[1], count);
      filled += count;
      p += 2;
    }
    in.skip(static_cast<uint32_t>(p - held.data()));
    if (filled < length && p < end) {  // a run split by the end of the bytes held
      const uint32_t code = static_cast<uint32_t>(in.next());
      const int32_t value = in.next();
      if (value < 0) return EndOfData();
      const uint32_t count = std::min<uint32_t>(code & 0x3F, length - filled);
      std::memset(line + filled, value, count);
      filled += count;
    }
  }
  return kReaderOk;
}

void DeliverRow(const reader::ImageBlockBase& image, std::span<const uint8_t> decoded,
                std::span<uint8_t> dest, uint32_t offset) {
  const PageGeometry& g = StateOf(image).geometry;
  const std::span<const uint8_t> line = decoded.first(std::min<size_t>(decoded.size(), g.lineLength));
  switch (g.layout) {
    case Layout::kPacked: DeliverPacked(g, line, dest, offset); break;
    case Layout::kPacked2: DeliverPacked2(g, line, dest, offset); break;
    case Layout::kPlanar: DeliverPlanar(g, line, dest, offset); break;
    case Layout::kRgb: DeliverRgb(g, line, dest, offset); break;
  }
}

// Every repositioning starts again at the page's first scan line.
int32_t Rewind(reader::ImageBlockBase& image, uint32_t /*wanted*/, uint32_t& reached) {
  reached = 0;
  reader::EmptyInput(StateOf(image).input);
  if (reader::HostSeekAbsolute(image.head, StateOf(image).dataPosition)) return kReaderOk;
  reader::StoreError(kStrReadFailed);
  return kReaderReadFailed;
}

}  // namespace rdpcx
