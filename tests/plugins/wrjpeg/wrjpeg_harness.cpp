#include "wrjpeg_harness.h"

#include <cmath>

namespace wrjpegtest {

Dib MakeDib(int32_t width, int32_t height, uint16_t bits) {
  Dib dib = testsupport::DibHeader(width, height, bits, 11811, 11811);
  const uint32_t colours = bits == 24 ? 0 : 1u << bits;
  for (uint32_t i = 0; i < colours; ++i) {
    dib.table()[i] = bits == 1 ? RGBQUAD{static_cast<uint8_t>(255 * i), static_cast<uint8_t>(255 * i),
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

Writer::Writer() : WriterModule("wrjpeg.DEL") {
  connect(GetModuleHandleA(nullptr));
}

Export Writer::run(const Dib& dib, uint32_t rowsPerCall, int64_t rowsToDeliver) const {
  return testsupport::ExportTopFirst(*this, dib, {"out.jpg", rowsPerCall, 0, rowsToDeliver, nullptr, 1000, false});
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
  ASSERT_TRUE(writer.loaded());
  testsupport::ResetWriterHarness();
  Options().clear();
}

}  // namespace wrjpegtest
