#include "wrtiff_harness.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace wrtifftest {
namespace {

using testsupport::MemoryFiles;

uint32_t Get(const std::vector<uint8_t>& f, size_t at, uint32_t size, bool intel) {
  if (at + size > f.size()) {
    ADD_FAILURE() << "read past the end at " << at;
    return 0;
  }
  uint32_t v = 0;
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t byte = f[at + (intel ? i : size - 1 - i)];
    v |= byte << (8 * i);
  }
  return v;
}

uint32_t TypeSize(uint16_t type) {
  switch (type) {
    case 3:
      return 2;
    case 4:
      return 4;
    case 5:
      return 8;
    default:
      return 1;
  }
}

}  // namespace

Dib MakeDib(int32_t width, int32_t height, uint16_t bits, bool inverted) {
  Dib dib = testsupport::DibHeader(width, height, bits, 11811, 7874);  // 300 by 200 dots per inch
  const uint32_t colours = bits == 24 ? 0 : 1u << bits;
  RGBQUAD* table = dib.table();
  for (uint32_t i = 0; i < colours; ++i) {
    uint8_t level = static_cast<uint8_t>(i * 255 / (colours - 1));
    if (bits == 1 && inverted) level = static_cast<uint8_t>(255 - level);
    table[i] = RGBQUAD{level, static_cast<uint8_t>(bits == 1 ? level : 255 - level),
                       static_cast<uint8_t>(bits == 1 ? level : (i * 37) & 0xFF), 0};
  }
  dib.rows.assign(static_cast<size_t>(height), std::vector<uint8_t>(dib.stride(), 0));
  return dib;
}

void SetBit(Dib& dib, uint32_t x, uint32_t y, uint32_t index) {
  uint8_t& byte = dib.rows[y][x / 8];
  const auto mask = static_cast<uint8_t>(0x80u >> (x % 8));
  byte = static_cast<uint8_t>(index != 0 ? byte | mask : byte & ~mask);
}

Dib MakePatterned(int32_t width, int32_t height, uint16_t bits, bool inverted) {
  Dib dib = MakeDib(width, height, bits, inverted);
  const uint32_t white = inverted ? 0 : 1;
  for (uint32_t y = 0; y < dib.height(); ++y) {
    std::vector<uint8_t>& row = dib.rows[y];
    if (bits == 1) {
      for (uint32_t x = 0; x < dib.width(); ++x) {
        // Lines of "glyphs": strokes of varying width inside 40-pixel words.
        const uint32_t hash = (x * 2654435761u) ^ (y / 3 * 40503u);
        const bool inText = (y % 28) < 18 && (x % 53) < 41 && ((x / 53 + y / 28) % 5) != 0;
        const bool ink = inText && ((x / 3 + y / 2) % 4 == 0 || (hash >> 28) == 0);
        SetBit(dib, x, y, ink ? 1 - white : white);
      }
    } else {
      for (uint32_t i = 0; i < (dib.width() * bits + 7) / 8; ++i) {
        row[i] = static_cast<uint8_t>(i * 7 + y * 3 + ((i / 5) % 3 == 0 ? 0 : i * y));
        if ((i / 11 + y / 4) % 3 == 0) row[i] = 0x55;  // runs for PackBits
      }
    }
  }
  return dib;
}

Writer::Writer() : WriterModule("wrtiff.DEL") {
  connect(GetModuleHandleA(nullptr));
}

RunResult Writer::run(const Dib& dib, const RunPlan& plan) const {
  const int64_t rows = int64_t{dib.height()} + plan.extraRows;
  return testsupport::ExportTopFirst(*this, dib, {plan.fileName, plan.rowsPerCall, 0, rows, nullptr, 1000, true});
}

uint32_t Page::value(uint16_t tag, size_t i) const {
  const auto found = entries.find(tag);
  if (found == entries.end() || i >= found->second.values.size()) {
    ADD_FAILURE() << "tag " << tag << " value " << i << " missing";
    return 0;
  }
  return found->second.values[i];
}

ParsedTiff ParseTiff(const std::vector<uint8_t>& f) {
  ParsedTiff tiff;
  if (f.size() < 8) {
    ADD_FAILURE() << "no header";
    return tiff;
  }
  tiff.intel = f[0] == 'I';
  EXPECT_TRUE((f[0] == 'I' && f[1] == 'I') || (f[0] == 'M' && f[1] == 'M'));
  EXPECT_EQ(Get(f, 2, 2, tiff.intel), 42u);
  uint32_t next = Get(f, 4, 4, tiff.intel);
  while (next != 0 && tiff.pages.size() < 100) {
    Page page;
    const uint32_t count = Get(f, next, 2, tiff.intel);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t at = next + 2 + size_t{12} * i;
      Entry e;
      const auto tag = static_cast<uint16_t>(Get(f, at, 2, tiff.intel));
      e.type = static_cast<uint16_t>(Get(f, at + 2, 2, tiff.intel));
      e.count = Get(f, at + 4, 4, tiff.intel);
      const uint32_t size = TypeSize(e.type);
      const uint64_t bytes = uint64_t{size} * e.count;
      const size_t data = bytes <= 4 ? at + 8 : Get(f, at + 8, 4, tiff.intel);
      if (data + bytes > f.size()) {
        ADD_FAILURE() << "tag " << tag << " outside the file";
        continue;
      }
      if (e.type == 2) {
        e.text.assign(f.begin() + static_cast<long>(data), f.begin() + static_cast<long>(data + bytes));
      } else {
        const uint32_t words = e.type == 5 ? e.count * 2 : e.count;
        const uint32_t wordSize = e.type == 5 ? 4 : size;
        for (uint32_t k = 0; k < words; ++k) e.values.push_back(Get(f, data + k * wordSize, wordSize, tiff.intel));
      }
      page.entries[tag] = e;
    }
    tiff.pages.push_back(page);
    next = Get(f, next + 2 + size_t{12} * count, 4, tiff.intel);
  }
  return tiff;
}

std::vector<uint8_t> StripBytes(const std::vector<uint8_t>& file, const Page& page, size_t strip) {
  const uint32_t offset = page.value(273, strip);
  const uint32_t count = page.value(279, strip);
  if (uint64_t{offset} + count > file.size()) {
    ADD_FAILURE() << "strip " << strip << " outside the file";
    return {};
  }
  return std::vector<uint8_t>(file.begin() + offset, file.begin() + offset + count);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WrtiffTest::SetUp() {
  ASSERT_TRUE(writer.loaded());
  testsupport::ResetWriterHarness();
  Options().clear();
}

}  // namespace wrtifftest
