// GEM IMG encoding. A line is a sequence of items: a solid run byte
// (bit 7 = black, low 7 bits = count of 0xFF or 0x00 bytes), a bit string
// (0x80, n, n literal bytes), a pattern run (0x00, p, pattern bytes standing
// p times). A line preceded by 0x00 0x00 0xFF n stands for n equal lines.
#include <algorithm>
#include <cstring>

#include "samples/sample_images.h"

namespace samples {

namespace {

constexpr size_t kMaxSolid = 127;
constexpr size_t kMaxCount = 255;

void PutWord(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

size_t SolidLength(std::span<const uint8_t> line, size_t at) {
  size_t n = 0;
  while (at + n < line.size() && line[at + n] == line[at] && n < kMaxSolid) ++n;
  return (line[at] == 0x00 || line[at] == 0xFF) ? n : 0;
}

// Repetitions of the `length`-byte group at `at` (1 when it does not repeat).
size_t PatternRepeats(std::span<const uint8_t> line, size_t at, size_t length) {
  if (length == 0 || at + length > line.size()) return 0;
  size_t repeats = 1;
  while (repeats < kMaxCount && at + (repeats + 1) * length <= line.size() &&
         std::equal(line.begin() + static_cast<ptrdiff_t>(at),
                    line.begin() + static_cast<ptrdiff_t>(at + length),
                    line.begin() + static_cast<ptrdiff_t>(at + repeats * length)))
    ++repeats;
  return repeats;
}

}  // namespace

void EncodeGemLine(std::span<const uint8_t> line, const GemOptions& options,
                   std::vector<uint8_t>& out) {
  std::vector<uint8_t> literal;
  auto flush = [&] {
    for (size_t i = 0; i < literal.size(); i += kMaxCount) {
      size_t n = std::min(kMaxCount, literal.size() - i);
      out.push_back(0x80);
      out.push_back(static_cast<uint8_t>(n));
      out.insert(out.end(), literal.begin() + static_cast<ptrdiff_t>(i),
                 literal.begin() + static_cast<ptrdiff_t>(i + n));
    }
    literal.clear();
  };
  for (size_t at = 0; at < line.size();) {
    size_t solid = SolidLength(line, at);
    if (solid >= 2 || (solid == 1 && at + 1 == line.size() && literal.empty())) {
      flush();
      out.push_back(static_cast<uint8_t>((line[at] == 0xFF ? 0x80 : 0x00) | solid));
      at += solid;
      continue;
    }
    size_t length = options.patternLength;
    size_t repeats = options.patternRuns ? PatternRepeats(line, at, length) : 0;
    if (repeats >= 3) {
      flush();
      out.push_back(0x00);
      out.push_back(static_cast<uint8_t>(repeats));
      out.insert(out.end(), line.begin() + static_cast<ptrdiff_t>(at),
                 line.begin() + static_cast<ptrdiff_t>(at + length));
      at += repeats * length;
      continue;
    }
    literal.push_back(line[at++]);
  }
  flush();
}

MonoImage BlankMono(uint32_t width, uint32_t height) {
  MonoImage image;
  image.width = width;
  image.height = height;
  image.bits.assign(uint64_t{image.rowBytes()} * height, 0);
  return image;
}

std::vector<uint8_t> GemHeader(uint32_t width, uint32_t height, uint16_t patternLength) {
  std::vector<uint8_t> out;
  for (uint32_t word : {1u, 8u, 1u, uint32_t{patternLength}, 85u, 85u, width, height})
    PutWord(out, word);
  return out;
}

std::vector<uint8_t> EncodeGem(const MonoImage& image, const GemOptions& options) {
  std::vector<uint8_t> out = GemHeader(image.width, image.height, options.patternLength);
  const size_t rowBytes = image.rowBytes();
  for (uint32_t y = 0; y < image.height;) {
    std::span<const uint8_t> line(image.bits.data() + y * rowBytes, rowBytes);
    uint32_t same = 1;
    while (options.replicate && y + same < image.height && same < kMaxCount &&
           std::memcmp(line.data(), image.bits.data() + (y + same) * rowBytes, rowBytes) == 0)
      ++same;
    if (same > 1) {
      out.insert(out.end(), {0x00, 0x00, 0xFF, static_cast<uint8_t>(same)});
    }
    EncodeGemLine(line, options, out);
    y += same;
  }
  return out;
}

}  // namespace samples
