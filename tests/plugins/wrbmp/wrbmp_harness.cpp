#include "wrbmp_harness.h"

#include <cstring>

namespace wrbmptest {

using testsupport::MemoryFiles;

uint32_t Dib::colours() const {
  return header()->biBitCount <= 8 ? 1u << header()->biBitCount : 0;
}

const RGBQUAD& Dib::colour(uint32_t index) const {
  return reinterpret_cast<const RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER))[index];
}

uint32_t Dib::pixel(uint32_t x, uint32_t y) const {
  const uint16_t bits = header()->biBitCount;
  const uint8_t* row = rows.data() + static_cast<size_t>(height() - 1 - y) * rowBytes;
  if (bits == 24) return row[x * 3] | row[x * 3 + 1] << 8 | row[x * 3 + 2] << 16;
  const uint32_t bitOffset = x * bits;
  const uint32_t shift = 8 - bits - bitOffset % 8;
  return (row[bitOffset / 8] >> shift) & ((1u << bits) - 1);
}

Dib MakeDib(int32_t width, int32_t height, uint16_t bits) {
  Dib dib;
  const uint32_t colours = bits <= 8 ? 1u << bits : 0;
  dib.info.assign(sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD), 0);
  BITMAPINFOHEADER& h = *dib.header();
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  h.biCompression = BI_RGB;
  h.biXPelsPerMeter = 2835;
  h.biYPelsPerMeter = 2835;
  auto* table = reinterpret_cast<RGBQUAD*>(dib.info.data() + sizeof(BITMAPINFOHEADER));
  for (uint32_t i = 0; i < colours; ++i) {
    table[i] = RGBQUAD{static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i),
                       static_cast<uint8_t>(i * 5 + 40), 0};
  }
  if (width <= 0 || height <= 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24)) return dib;

  dib.rowBytes = static_cast<uint32_t>(DibRowBytes(width, bits));
  dib.rows.assign(static_cast<size_t>(dib.rowBytes) * height, 0);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = dib.rows.data() + static_cast<size_t>(height - 1 - y) * dib.rowBytes;
    for (int32_t x = 0; x < width; ++x) {
      if (bits == 24) {
        row[x * 3] = static_cast<uint8_t>(x * 7 + y);
        row[x * 3 + 1] = static_cast<uint8_t>(x * 3 + y * 11);
        row[x * 3 + 2] = static_cast<uint8_t>(x + y * 5 + 17);
        continue;
      }
      const uint32_t index = static_cast<uint32_t>(x * 5 + y * 3 + x * y) % colours;
      const uint32_t bitOffset = static_cast<uint32_t>(x) * bits;
      row[bitOffset / 8] |= static_cast<uint8_t>(index << (8 - bits - bitOffset % 8));
    }
  }
  return dib;
}

std::vector<uint8_t> ExpectedBmp(const Dib& dib) {
  const uint32_t offset = 14 + static_cast<uint32_t>(dib.info.size());
  const uint32_t size = offset + static_cast<uint32_t>(dib.rows.size());
  std::vector<uint8_t> file = {'B', 'M',
                               static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                               static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24),
                               0, 0, 0, 0,
                               static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8),
                               0, 0};
  file.insert(file.end(), dib.info.begin(), dib.info.end());
  file.insert(file.end(), dib.rows.begin(), dib.rows.end());
  return file;
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
  if (bytes.size() < offset + 4) return 0xFFFFFFFFu;
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// ---------------------------------------------------------------------------

OptionBlock::OptionBlock(std::string_view signature, std::string_view lines) {
  std::string text(signature);
  text.resize(kOptionLinesStart, ' ');
  text.append(lines);
  handle_ = GlobalAlloc(GHND, text.size() + 1);
  if (handle_ == 0) return;
  std::memcpy(GlobalLock(handle_), text.data(), text.size());
  GlobalUnlock(handle_);
}

OptionBlock::~OptionBlock() {
  if (handle_ != 0) GlobalFree(handle_);
}

RunResult RunExport(const Writer& writer, const Dib& dib, const RunPlan& plan) {
  RunResult result;
  const std::string& name = plan.fileName.empty() ? kOutName : plan.fileName;
  const HostFileTable* files = plan.files != nullptr ? plan.files : RecordingFiles::table();
  result.handle = writer.beginWrite(name.c_str(), files, name.c_str(), dib.header(), plan.options,
                                    &result.flags);
  if (result.handle == 0) return result;

  const uint32_t stride = plan.stride != 0 ? plan.stride : dib.rowBytes;
  std::vector<uint8_t> rows(static_cast<size_t>(stride) * dib.height(), 0xEE);
  for (uint32_t r = 0; r < dib.height(); ++r) {
    std::memcpy(rows.data() + static_cast<size_t>(r) * stride,
                dib.rows.data() + static_cast<size_t>(r) * dib.rowBytes, dib.rowBytes);
  }
  std::vector<uint32_t> blocks = plan.blocks;
  if (blocks.empty()) blocks.push_back(dib.height());

  result.progress = plan.progress;
  result.progress.flags = static_cast<uint32_t>(result.flags);
  ExportProgress* progress = plan.withProgress ? &result.progress : nullptr;
  const bool bottomFirst = (result.flags & 1) != 0;
  uint32_t done = 0;
  for (uint32_t count : blocks) {
    const uint32_t bottomRow = bottomFirst ? done : dib.height() - done - count;
    result.blockResults.push_back(writer.writeBlock(
        result.handle, count, stride, rows.data() + static_cast<size_t>(bottomRow) * stride,
        progress));
    done += count;
  }
  result.endResult = writer.endWrite(result.handle, progress);
  if (plan.files == nullptr) result.file = MemoryFiles::instance().bytes(name);
  return result;
}

void WrbmpTest::SetUp() {
  testsupport::ResetWriterHarness();
  ASSERT_TRUE(writer.complete()) << "wrbmp.DEL not loaded from " << testsupport::binDir();
  uint32_t flags = 0;
  ASSERT_STREQ(writer.connect(0, &flags), "BMP;Windows Bitmap (*.bmp)");
  EXPECT_EQ(flags, kFlagsBottomFirst);
}

}  // namespace wrbmptest
