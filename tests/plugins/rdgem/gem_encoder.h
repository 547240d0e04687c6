// Builds GEM IMG files for the tests: item by item, or a whole picture.
#pragma once

#include <cstdint>
#include <vector>

namespace gemtest {

// Item-level builder: the header, then exactly the items given.
class GemFile {
 public:
  GemFile(uint16_t width, uint16_t lines, uint16_t patternLength = 2);

  GemFile& version(uint16_t v) { words_[0] = v; return *this; }
  GemFile& headerWords(uint16_t w) { words_[1] = w; return *this; }
  GemFile& planes(uint16_t p) { words_[2] = p; return *this; }

  GemFile& solid(bool black, uint8_t count);                         // b
  GemFile& literal(const std::vector<uint8_t>& bytes);               // 0x80 n ...
  GemFile& pattern(uint8_t times, const std::vector<uint8_t>& bytes);  // 0x00 p ...
  GemFile& replicate(uint8_t count);                                 // 0x00 0x00 0xFF n
  GemFile& raw(const std::vector<uint8_t>& bytes);

  std::vector<uint8_t> bytes() const;

 private:
  uint16_t words_[8];
  std::vector<uint8_t> items_;
};

// A 1-bit picture in file polarity (set bit = black), rows of (width + 7) / 8 bytes.
struct Picture {
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<std::vector<uint8_t>> rows;

  uint32_t rowBytes() const { return (width + 7u) / 8u; }
};

// A pseudo-random picture with runs of equal rows, solid stretches and noise.
Picture MakePicture(uint16_t width, uint16_t height, uint32_t seed);

// Encodes a picture: equal consecutive rows become vertical replications (at
// most `maxCopies` copies each), runs of 0x00/0xFF bytes solid runs, the rest
// literal items.
std::vector<uint8_t> Encode(const Picture& picture, uint8_t maxCopies = 255);

// The DIB row a picture row decodes to: every byte complemented.
std::vector<uint8_t> Complemented(const std::vector<uint8_t>& row);

}  // namespace gemtest
