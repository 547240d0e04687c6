#include "wrtiff_harness.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "program_export.h"
#include "winport/windows.h"

// The host's option getter; the test program stands in for the host library.
SUITE_PROGRAM_EXPORT int32_t CALLBACK OvgXOptBlkGet(HGLOBAL /*options*/, const char* key,
                                                    char* value) {
  const auto& options = wrtifftest::Options();
  const auto found = options.find(key);
  if (found == options.end()) return 1;
  std::snprintf(value, kOptionValueSize, "%s", found->second.c_str());
  return 0;
}

namespace wrtifftest {
namespace {

using testsupport::MemoryFiles;

void CALLBACK RecordError(HINSTANCE, int32_t id, const char* module, const char* file) {
  Reports().push_back({id, module != nullptr ? module : "", file != nullptr ? file : ""});
}

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

std::map<std::string, std::string>& Options() {
  static std::map<std::string, std::string> options;
  return options;
}

std::vector<ErrorReport>& Reports() {
  static std::vector<ErrorReport> reports;
  return reports;
}

void Dib::rgb(uint32_t x, uint32_t y, uint8_t out[3]) const {
  const uint16_t bits = header()->biBitCount;
  const std::vector<uint8_t>& row = rows[y];
  if (bits == 24) {
    out[0] = row[3 * x + 2];
    out[1] = row[3 * x + 1];
    out[2] = row[3 * x];
    return;
  }
  const uint32_t bit = x * bits;
  const uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
  const auto* table = reinterpret_cast<const RGBQUAD*>(info.data() + 40);
  out[0] = table[index].rgbRed;
  out[1] = table[index].rgbGreen;
  out[2] = table[index].rgbBlue;
}

std::vector<uint8_t> Dib::rgbPixels() const {
  std::vector<uint8_t> out;
  out.reserve(size_t{width()} * height() * 3);
  for (uint32_t y = 0; y < height(); ++y) {
    for (uint32_t x = 0; x < width(); ++x) {
      uint8_t c[3];
      rgb(x, y, c);
      out.insert(out.end(), c, c + 3);
    }
  }
  return out;
}

Dib MakeDib(int32_t width, int32_t height, uint16_t bits, bool inverted) {
  Dib dib;
  const uint32_t colours = bits == 24 ? 0 : 1u << bits;
  dib.info.assign(40 + 4 * colours, 0);
  BITMAPINFOHEADER* h = dib.header();
  h->biSize = 40;
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = bits;
  h->biXPelsPerMeter = 11811;  // 300 dots per inch
  h->biYPelsPerMeter = 7874;   // 200 dots per inch
  auto* table = reinterpret_cast<RGBQUAD*>(dib.info.data() + 40);
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

Writer::Writer() {
  if (!module) return;
  getExt = module.get<OVXDLget_ext_fn>("OVXDLget_ext");
  beginWrite = module.get<OVXDLbegin_write_fn>("OVXDLbegin_write");
  writeBlock = module.get<OVXDLwrite_block_fn>("OVXDLwrite_block");
  endWrite = module.get<OVXDLend_write_fn>("OVXDLend_write");
  if (getExt != nullptr) {
    ExportHostInfo host{0, RecordError, GetModuleHandleA(nullptr)};
    getExt(&host);
  }
}

bool Writer::loaded() const {
  return getExt && beginWrite && writeBlock && endWrite;
}

RunResult Writer::run(const Dib& dib, const RunPlan& plan) const {
  RunResult result;
  result.handle = beginWrite(plan.fileName.c_str(), MemoryFiles::table(), plan.fileName.c_str(),
                             dib.header(), 0, &result.flags);
  if (result.handle == 0) return result;
  const uint32_t stride = dib.stride();
  const uint32_t total = dib.height() + plan.extraRows;
  ExportProgress& progress = result.progress;
  progress.flags = static_cast<uint32_t>(result.flags);
  progress.bytesTotal = stride * dib.height();
  progress.interval = 1000;
  const uint32_t perCall = plan.rowsPerCall == 0 ? total : plan.rowsPerCall;
  for (uint32_t first = 0; first < total; first += perCall) {
    const uint32_t count = std::min(perCall, total - first);
    // Bottom-up in memory: the block's top row last.
    std::vector<uint8_t> block(size_t{stride} * count);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t y = std::min(first + i, dib.height() - 1);
      std::memcpy(block.data() + size_t{stride} * (count - 1 - i), dib.rows[y].data(), stride);
    }
    result.blockResults.push_back(writeBlock(result.handle, count, stride, block.data(), &progress));
  }
  result.endResult = endWrite(result.handle, &progress);
  result.file = MemoryFiles::instance().bytes(plan.fileName);
  return result;
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
  MemoryFiles::instance().reset();
  Options().clear();
  Reports().clear();
}

}  // namespace wrtifftest
