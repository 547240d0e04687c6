#include "wrjpeg_harness.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "program_export.h"
#include "winport/windows.h"

SUITE_PROGRAM_EXPORT int32_t CALLBACK OvgXOptBlkGet(HGLOBAL, const char* key, char* value) {
  const auto found = wrjpegtest::Options().find(key);
  if (found == wrjpegtest::Options().end()) return 1;
  std::snprintf(value, kOptionValueSize, "%s", found->second.c_str());
  return 0;
}

namespace wrjpegtest {
namespace {

void CALLBACK RecordError(HINSTANCE, int32_t id, const char*, const char*) { Reports().push_back(id); }

}  // namespace

std::map<std::string, std::string>& Options() {
  static std::map<std::string, std::string> options;
  return options;
}

std::vector<int32_t>& Reports() {
  static std::vector<int32_t> reports;
  return reports;
}

uint32_t Dib::stride() const {
  return static_cast<uint32_t>(DibRowBytes(static_cast<uint64_t>(header()->biWidth), header()->biBitCount));
}

std::vector<uint8_t> Dib::rgb() const {
  const uint16_t bits = header()->biBitCount;
  const auto* table = reinterpret_cast<const RGBQUAD*>(info.data() + 40);
  std::vector<uint8_t> out;
  for (const auto& row : rows) {
    for (int32_t x = 0; x < header()->biWidth; ++x) {
      if (bits == 24) {
        out.insert(out.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
        continue;
      }
      const uint32_t bit = static_cast<uint32_t>(x) * bits;
      const RGBQUAD& c = table[(row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1)];
      out.insert(out.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
    }
  }
  return out;
}

Dib MakeDib(int32_t width, int32_t height, uint16_t bits) {
  Dib dib;
  const uint32_t colours = bits == 24 ? 0 : 1u << bits;
  dib.info.assign(40 + 4 * colours, 0);
  *dib.header() = BITMAPINFOHEADER{40, width, height, 1, bits, 0, 0, 11811, 11811, 0, 0};
  auto* table = reinterpret_cast<RGBQUAD*>(dib.info.data() + 40);
  for (uint32_t i = 0; i < colours; ++i) {
    table[i] = bits == 1 ? RGBQUAD{static_cast<uint8_t>(255 * i), static_cast<uint8_t>(255 * i),
                                   static_cast<uint8_t>(255 * i), 0}
                         : RGBQUAD{static_cast<uint8_t>(i * 255 / (colours - 1)),
                                   static_cast<uint8_t>(128 + (i * 77) % 100), static_cast<uint8_t>(255 - i), 0};
  }
  dib.rows.assign(static_cast<size_t>(height), std::vector<uint8_t>(dib.stride(), 0));
  for (int32_t y = 0; y < height; ++y) {
    auto& row = dib.rows[static_cast<size_t>(y)];
    for (int32_t x = 0; x < width; ++x) {
      if (bits == 24) {
        row[3 * x] = static_cast<uint8_t>(x * 255 / width);
        row[3 * x + 1] = static_cast<uint8_t>(y * 255 / height + ((x / 4 + y / 4) % 2) * 12);
        row[3 * x + 2] = static_cast<uint8_t>(128 + 100 * std::sin((x + y) / 9.0));
        continue;
      }
      const uint32_t index = bits == 1 ? ((x / 3 + y / 5) % 2) : static_cast<uint32_t>(x / 6 + y / 6) % colours;
      const uint32_t bit = static_cast<uint32_t>(x) * bits;
      row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | index << (8 - bits - bit % 8));
    }
  }
  return dib;
}

Writer::Writer() {
  if (!module) return;
  getExt = module.get<OVXDLget_ext_fn>("OVXDLget_ext");
  begin = module.get<OVXDLbegin_write_fn>("OVXDLbegin_write");
  write = module.get<OVXDLwrite_block_fn>("OVXDLwrite_block");
  end = module.get<OVXDLend_write_fn>("OVXDLend_write");
  ExportHostInfo host{0, RecordError, GetModuleHandleA(nullptr)};
  if (getExt != nullptr) getExt(&host);
}

Export Writer::run(const Dib& dib, uint32_t rowsPerCall, int64_t rowsToDeliver) const {
  Export result;
  result.handle = begin("out.jpg", testsupport::MemoryFiles::table(), "out.jpg", dib.header(), 0,
                        &result.flags);
  if (result.handle == 0) return result;
  const uint32_t stride = dib.stride();
  const auto total = static_cast<uint32_t>(rowsToDeliver < 0 ? int64_t(dib.rows.size()) : rowsToDeliver);
  result.progress.bytesTotal = stride * static_cast<uint32_t>(dib.rows.size());
  result.progress.interval = 1000;
  const uint32_t perCall = rowsPerCall == 0 ? total : rowsPerCall;
  for (uint32_t first = 0; first < total; first += perCall) {
    const uint32_t count = std::min(perCall, total - first);
    std::vector<uint8_t> block(size_t{stride} * count);  // bottom-up: the top row last
    for (uint32_t i = 0; i < count; ++i) {
      const auto& row = dib.rows[std::min<size_t>(first + i, dib.rows.size() - 1)];
      std::memcpy(block.data() + size_t{stride} * (count - 1 - i), row.data(), stride);
    }
    result.blockResults.push_back(write(result.handle, count, stride, block.data(), &result.progress));
  }
  result.endResult = end(result.handle, &result.progress);
  result.file = testsupport::MemoryFiles::instance().bytes("out.jpg");
  return result;
}

std::vector<Segment> ParseJpeg(const std::vector<uint8_t>& f) {
  std::vector<Segment> out;
  if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) {
    ADD_FAILURE() << "no SOI";
    return out;
  }
  out.push_back({0xD8, {}});
  size_t at = 2;
  while (at + 4 <= f.size() && f[at] == 0xFF && f[at + 1] != 0xD9) {
    const uint8_t marker = f[at + 1];
    const size_t length = size_t{f[at + 2]} << 8 | f[at + 3];
    if (length < 2 || at + 2 + length > f.size()) break;
    out.push_back({marker, std::vector<uint8_t>(f.begin() + long(at + 4), f.begin() + long(at + 2 + length))});
    at += 2 + length;
    if (marker != 0xDA) continue;
    const size_t start = at;
    while (at + 1 < f.size() && !(f[at] == 0xFF && f[at + 1] != 0x00)) at += f[at] == 0xFF ? 2 : 1;
    out.push_back({0x00, std::vector<uint8_t>(f.begin() + long(start), f.begin() + long(at))});
  }
  if (at + 2 != f.size() || f[at] != 0xFF || f[at + 1] != 0xD9) ADD_FAILURE() << "no EOI at the end";
  else out.push_back({0xD9, {}});
  return out;
}

const Segment* Find(const std::vector<Segment>& segments, uint8_t marker, size_t nth) {
  for (const Segment& s : segments) {
    if (s.marker == marker && nth-- == 0) return &s;
  }
  return nullptr;
}

void WrjpegTest::SetUp() {
  ASSERT_TRUE(writer.getExt && writer.begin && writer.write && writer.end);
  testsupport::MemoryFiles::instance().reset();
  Options().clear();
  Reports().clear();
}

}  // namespace wrjpegtest
