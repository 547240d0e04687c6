#include "fax_test_codec.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "plugin/t4_codes.h"

namespace faxtest {
namespace {

class BitWriter {
 public:
  void put(t4::Code code) {
    for (int bit = code.length - 1; bit >= 0; --bit) putBit((code.bits >> bit) & 1);
  }
  void putBit(uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80u >> used_);
    used_ = (used_ + 1) & 7;
  }
  void align() { used_ = 0; }
  // Zero bits so that `length` more bits end on a byte boundary.
  void fillBefore(uint32_t length) {
    while ((used_ + length) % 8 != 0) putBit(0);
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t used_ = 0;
};

void PutRun(BitWriter& out, uint32_t run, bool black) {
  const t4::Code* terminating = black ? t4::kBlackTerminating : t4::kWhiteTerminating;
  const t4::Code* makeUp = black ? t4::kBlackMakeUp : t4::kWhiteMakeUp;
  while (run >= 2560 + 64) {
    out.put(t4::kExtendedMakeUp[t4::kExtendedMakeUpCount - 1]);
    run -= 2560;
  }
  if (run >= 64) {
    uint32_t units = run / 64;
    out.put(units <= 27 ? makeUp[units - 1] : t4::kExtendedMakeUp[units - 28]);
    run -= units * 64;
  }
  out.put(terminating[run]);
}

// First position >= from whose colour differs from `colour` (width if none).
uint32_t NextChange(const std::vector<uint8_t>& line, uint32_t from, uint8_t colour) {
  uint32_t x = from;
  while (x < line.size() && line[x] == colour) ++x;
  return x;
}

void EncodeT6Row(BitWriter& out, const std::vector<uint8_t>& coding,
                 const std::vector<uint8_t>& reference) {
  const uint32_t width = static_cast<uint32_t>(coding.size());
  // The reference row's changing elements (a pixel differing from the one
  // before it; the pixel before the row is white), each with its new colour.
  std::vector<uint32_t> changes;
  for (uint32_t x = 0; x < width; ++x)
    if (reference[x] != (x == 0 ? 0 : reference[x - 1])) changes.push_back(x);
  uint32_t a0 = 0;
  uint8_t colour = 0;  // imaginary white pixel before the row
  bool atStart = true;
  for (;;) {
    // a1: next change right of a0 on the coding line; b1: next change on the
    // reference line right of a0 to the opposite of the current colour; b2 the next.
    const uint32_t from = atStart ? 0 : a0 + 1;
    const uint32_t a1 = NextChange(coding, from, colour);
    auto it = std::lower_bound(changes.begin(), changes.end(), from);
    while (it != changes.end() && reference[*it] == colour) ++it;
    const uint32_t b1 = it == changes.end() ? width : *it;
    const uint32_t b2 = it == changes.end() || it + 1 == changes.end() ? width : *(it + 1);
    if (b2 < a1) {
      out.put(t4::kPass);
      a0 = b2;
    } else if (static_cast<int64_t>(a1) - b1 >= -3 && static_cast<int64_t>(a1) - b1 <= 3) {
      out.put(t4::kVertical[static_cast<int64_t>(a1) - b1 + 3]);
      a0 = a1;
      colour ^= 1;
    } else {
      const uint32_t a2 = a1 < width ? NextChange(coding, a1, static_cast<uint8_t>(colour ^ 1)) : width;
      out.put(t4::kHorizontal);
      PutRun(out, a1 - a0, colour != 0);
      PutRun(out, a2 - a1, colour == 0);
      a0 = a2;
    }
    atStart = false;
    if (a0 >= width) return;
  }
}

}  // namespace

std::vector<uint8_t> Picture::row(uint32_t y) const {
  return std::vector<uint8_t>(black.begin() + static_cast<ptrdiff_t>(y) * width,
                              black.begin() + static_cast<ptrdiff_t>(y + 1) * width);
}

Picture MakeTestPicture(uint32_t width, uint32_t height, uint32_t seed) {
  Picture p{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, 0)};
  uint32_t state = seed * 2654435761u + 1;
  auto random = [&]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t kind = y % 7;
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t v = 0;
      switch (kind) {
        case 0: v = 0; break;                                     // blank
        case 1: v = 1; break;                                     // solid black
        case 2: v = (x / 3 + y) % 2; break;                       // short runs
        case 3: v = (random() % 5) == 0; break;                   // noise
        case 4: v = x >= width / 3 && x < width / 3 + 70; break;  // a bar
        case 5: v = (x % 2); break;                               // alternating pixels
        default: v = p.at(x, y - 1) ^ ((random() % 11) == 0); break;  // like the row above
      }
      p.black[static_cast<size_t>(y) * width + x] = v;
    }
  }
  return p;
}

std::vector<uint8_t> PackedRow(const std::vector<uint8_t>& black) {
  std::vector<uint8_t> packed((black.size() + 7) / 8, 0xFF);
  for (size_t x = 0; x < black.size(); ++x)
    if (black[x]) packed[x / 8] &= static_cast<uint8_t>(~(0x80u >> (x % 8)));
  return packed;
}

std::vector<uint8_t> EncodeT4(const Picture& picture, const T4Options& options) {
  BitWriter out;
  for (uint32_t y = 0; y < picture.height; ++y) {
    if (options.alignRows) out.align();
    if (options.eol) {
      if (options.alignEol) out.fillBefore(t4::kEndOfLine.length);
      out.put(t4::kEndOfLine);
    }
    const std::vector<uint8_t> line = picture.row(y);
    uint32_t x = 0;
    uint8_t colour = 0;
    while (x < picture.width) {
      const uint32_t end = NextChange(line, x, colour);
      PutRun(out, end - x, colour != 0);
      x = end;
      colour ^= 1;
    }
    if (picture.width == 0) PutRun(out, 0, false);
  }
  return out.take();
}

std::vector<uint8_t> EncodeT6(const Picture& picture) {
  BitWriter out;
  std::vector<uint8_t> reference(picture.width, 0);
  for (uint32_t y = 0; y < picture.height; ++y) {
    const std::vector<uint8_t> line = picture.row(y);
    EncodeT6Row(out, line, reference);
    reference = line;
  }
  out.put(t4::kEndOfLine);
  out.put(t4::kEndOfLine);
  return out.take();
}

std::vector<uint8_t> ReverseBits(std::vector<uint8_t> bytes) {
  for (uint8_t& b : bytes) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
      if (b & (1u << i)) r |= static_cast<uint8_t>(0x80u >> i);
    b = r;
  }
  return bytes;
}

namespace {

void Put16(std::vector<uint8_t>& f, uint32_t v) {
  f.push_back(static_cast<uint8_t>(v));
  f.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& f, uint32_t v) {
  Put16(f, v & 0xFFFF);
  Put16(f, v >> 16);
}

}  // namespace

std::vector<uint8_t> MakeTiff(uint32_t width, uint32_t height, uint16_t compression,
                              const std::vector<uint8_t>& data, uint16_t fillOrder) {
  std::vector<uint8_t> f = {'I', 'I', 42, 0};
  Put32(f, 8 + static_cast<uint32_t>(data.size()));
  f.insert(f.end(), data.begin(), data.end());
  struct Entry { uint16_t tag, type; uint32_t value; };
  const Entry entries[] = {
      {256, 4, width},  {257, 4, height}, {258, 3, 1},         {259, 3, compression},
      {262, 3, 0},      {266, 3, fillOrder}, {273, 4, 8},      {277, 3, 1},
      {278, 4, height}, {279, 4, static_cast<uint32_t>(data.size())},
  };
  Put16(f, static_cast<uint32_t>(std::size(entries)));
  for (const Entry& e : entries) {
    Put16(f, e.tag);
    Put16(f, e.type);
    Put32(f, 1);
    if (e.type == 3) {
      Put16(f, e.value);
      Put16(f, 0);
    } else {
      Put32(f, e.value);
    }
  }
  Put32(f, 0);
  return f;
}

std::vector<uint8_t> UncompressedTiff(const Picture& picture) {
  std::vector<uint8_t> data;
  for (uint32_t y = 0; y < picture.height; ++y) {
    std::vector<uint8_t> packed = PackedRow(picture.row(y));
    for (uint8_t& b : packed) b = static_cast<uint8_t>(~b);  // 1 = black
    data.insert(data.end(), packed.begin(), packed.end());
  }
  return MakeTiff(picture.width, picture.height, 1, data);
}

namespace {

struct TiffCursor {
  const std::vector<uint8_t>& f;
  bool big;
  uint32_t u16(size_t at) const {
    if (at + 2 > f.size()) return 0;
    return big ? (f[at] << 8) | f[at + 1] : f[at] | (f[at + 1] << 8);
  }
  uint32_t u32(size_t at) const {
    if (at + 4 > f.size()) return 0;
    return big ? (u16(at) << 16) | u16(at + 2) : u16(at) | (u16(at + 2) << 16);
  }
  // Value k of an entry at `entry`.
  uint32_t value(size_t entry, uint32_t k) const {
    const uint32_t type = u16(entry + 2);
    const uint32_t count = u32(entry + 4);
    const uint32_t size = type == 3 ? 2 : 4;
    const size_t base = static_cast<uint64_t>(count) * size <= 4 ? entry + 8 : u32(entry + 8);
    return size == 2 ? u16(base + 2 * k) : u32(base + 4 * k);
  }
};

}  // namespace

bool ReadTiffStrips(const std::vector<uint8_t>& file, TiffStrips& out) {
  if (file.size() < 8) return false;
  TiffCursor c{file, file[0] == 'M'};
  const size_t ifd = c.u32(4);
  const uint32_t entries = c.u16(ifd);
  if (ifd + 2 + static_cast<size_t>(entries) * 12 > file.size()) return false;
  size_t offsetsEntry = 0, countsEntry = 0;
  out = TiffStrips{};
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t e = ifd + 2 + i * 12;
    switch (c.u16(e)) {
      case 256: out.width = c.value(e, 0); break;
      case 257: out.height = c.value(e, 0); break;
      case 259: out.compression = c.value(e, 0); break;
      case 262: out.photometric = c.value(e, 0); break;
      case 266: out.fillOrder = c.value(e, 0); break;
      case 273: offsetsEntry = e; break;
      case 278: out.rowsPerStrip = c.value(e, 0); break;
      case 279: countsEntry = e; break;
      case 292: out.t4Options = c.value(e, 0); break;
      default: break;
    }
  }
  if (offsetsEntry == 0 || countsEntry == 0) return false;
  if (out.rowsPerStrip == 0 || out.rowsPerStrip > out.height) out.rowsPerStrip = out.height;
  const uint32_t strips = c.u32(offsetsEntry + 4);
  for (uint32_t s = 0; s < strips; ++s) {
    const size_t offset = c.value(offsetsEntry, s);
    const size_t count = c.value(countsEntry, s);
    if (offset + count > file.size()) return false;
    out.strips.emplace_back(file.begin() + static_cast<ptrdiff_t>(offset),
                            file.begin() + static_cast<ptrdiff_t>(offset + count));
  }
  return true;
}

bool PictureFromUncompressedTiff(const std::vector<uint8_t>& file, Picture& out) {
  TiffStrips strips;
  if (!ReadTiffStrips(file, strips) || strips.compression != 1) return false;
  std::vector<uint8_t> data;
  for (const auto& s : strips.strips) data.insert(data.end(), s.begin(), s.end());
  const size_t rowBytes = (strips.width + 7) / 8;
  if (data.size() < rowBytes * strips.height) return false;
  out = Picture{strips.width, strips.height,
                std::vector<uint8_t>(static_cast<size_t>(strips.width) * strips.height)};
  for (uint32_t y = 0; y < strips.height; ++y)
    for (uint32_t x = 0; x < strips.width; ++x) {
      const bool bit = (data[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
      out.black[static_cast<size_t>(y) * strips.width + x] = strips.photometric == 0 ? bit : !bit;
    }
  return true;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool ToolAvailable(const char* tool) {
  return Run(std::string("command -v ") + tool + " >/dev/null 2>&1");
}

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace faxtest
