#include "gem_encoder.h"

#include <algorithm>
#include <random>

namespace gemtest {

GemFile::GemFile(uint16_t width, uint16_t lines, uint16_t patternLength)
    : words_{1, 8, 1, patternLength, 85, 85, width, lines} {}

GemFile& GemFile::solid(bool black, uint8_t count) {
  items_.push_back(static_cast<uint8_t>((black ? 0x80 : 0x00) | (count & 0x7F)));
  return *this;
}

GemFile& GemFile::literal(const std::vector<uint8_t>& bytes) {
  items_.push_back(0x80);
  items_.push_back(static_cast<uint8_t>(bytes.size()));
  items_.insert(items_.end(), bytes.begin(), bytes.end());
  return *this;
}

GemFile& GemFile::pattern(uint8_t times, const std::vector<uint8_t>& bytes) {
  items_.push_back(0x00);
  items_.push_back(times);
  items_.insert(items_.end(), bytes.begin(), bytes.end());
  return *this;
}

GemFile& GemFile::replicate(uint8_t count) {
  items_.insert(items_.end(), {0x00, 0x00, 0xFF, count});
  return *this;
}

GemFile& GemFile::raw(const std::vector<uint8_t>& bytes) {
  items_.insert(items_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<uint8_t> GemFile::bytes() const {
  std::vector<uint8_t> out;
  for (uint16_t w : words_) {
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w & 0xFF));
  }
  out.insert(out.end(), items_.begin(), items_.end());
  return out;
}

Picture MakePicture(uint16_t width, uint16_t height, uint32_t seed) {
  std::mt19937 random(seed);
  Picture picture{width, height, {}};
  std::vector<uint8_t> row(picture.rowBytes());
  for (uint16_t y = 0; y < height; ++y) {
    // Keep the previous row now and then, so replications occur.
    if (y == 0 || random() % 3 != 0) {
      for (size_t i = 0; i < row.size(); ++i) {
        uint32_t kind = random() % 4;
        row[i] = kind == 0 ? 0x00 : kind == 1 ? 0xFF : static_cast<uint8_t>(random());
      }
    }
    picture.rows.push_back(row);
  }
  return picture;
}

namespace {

void EncodeRow(const std::vector<uint8_t>& row, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < row.size()) {
    uint8_t b = row[i];
    size_t run = 1;
    while (i + run < row.size() && row[i + run] == b && run < 127) ++run;
    if ((b == 0x00 || b == 0xFF) && run >= 2) {
      out.push_back(static_cast<uint8_t>((b == 0xFF ? 0x80 : 0x00) | run));
      i += run;
      continue;
    }
    size_t count = 1;
    while (i + count < row.size() && count < 255 && row[i + count] != 0x00 && row[i + count] != 0xFF) {
      ++count;
    }
    out.push_back(0x80);
    out.push_back(static_cast<uint8_t>(count));
    out.insert(out.end(), row.begin() + static_cast<long>(i), row.begin() + static_cast<long>(i + count));
    i += count;
  }
}

}  // namespace

std::vector<uint8_t> Encode(const Picture& picture, uint8_t maxCopies) {
  GemFile file(picture.width, picture.height);
  std::vector<uint8_t> items;
  size_t y = 0;
  while (y < picture.rows.size()) {
    size_t copies = 1;
    while (y + copies < picture.rows.size() && copies < maxCopies &&
           picture.rows[y + copies] == picture.rows[y]) {
      ++copies;
    }
    if (copies > 1) items.insert(items.end(), {0x00, 0x00, 0xFF, static_cast<uint8_t>(copies)});
    EncodeRow(picture.rows[y], items);
    y += copies;
  }
  file.raw(items);
  return file.bytes();
}

std::vector<uint8_t> Complemented(const std::vector<uint8_t>& row) {
  std::vector<uint8_t> out(row.size());
  std::transform(row.begin(), row.end(), out.begin(), [](uint8_t b) { return static_cast<uint8_t>(~b); });
  return out;
}

}  // namespace gemtest
