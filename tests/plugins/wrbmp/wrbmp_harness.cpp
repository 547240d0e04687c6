#include "wrbmp_harness.h"

#include <cstring>

namespace wrbmptest {

using testsupport::MemoryFiles;

std::vector<ErrorReport>& Reports() {
  static std::vector<ErrorReport> reports;
  return reports;
}

void CALLBACK RecordError(HINSTANCE instance, int32_t id, const char* module, const char* file) {
  Reports().push_back({instance, id, module != nullptr ? module : "(null)",
                       file != nullptr ? file : "(null)"});
}

std::vector<int32_t> ReportedIds() {
  std::vector<int32_t> ids;
  for (const ErrorReport& report : Reports()) ids.push_back(report.id);
  return ids;
}

// ---------------------------------------------------------------------------

RecordingFiles& RecordingFiles::instance() {
  static RecordingFiles files;
  return files;
}

void RecordingFiles::reset() {
  writes.clear();
  shortWrites.clear();
  MemoryFiles::instance().reset();
}

namespace {

const HostFileTable& Memory() {
  return *MemoryFiles::table();
}

int32_t CALLBACK RecordingWrite(uint32_t handle, const void* buffer, uint32_t count) {
  RecordingFiles& files = RecordingFiles::instance();
  const int64_t position = Memory().seek(handle, 0, 1);
  const bool shorten = files.shortWrites.count(files.writes.size()) != 0 && count > 0;
  files.writes.push_back({position, count});
  return Memory().write(handle, buffer, shorten ? count - 1 : count);
}

int32_t CALLBACK RecordingOpen(FileReference file, int32_t mode, uint32_t* handle) {
  return Memory().open(file, mode, handle);
}
int32_t CALLBACK RecordingClose(uint32_t handle) {
  return Memory().close(handle);
}
int32_t CALLBACK RecordingRead(uint32_t handle, void* buffer, uint32_t count) {
  return Memory().read(handle, buffer, count);
}
int32_t CALLBACK RecordingSeek(uint32_t handle, int32_t offset, int32_t origin) {
  return Memory().seek(handle, offset, origin);
}
int32_t CALLBACK RecordingReadByte(uint32_t handle) {
  return Memory().readByte(handle);
}

}  // namespace

const HostFileTable* RecordingFiles::table() {
  static const HostFileTable kTable = {RecordingOpen,  RecordingClose, RecordingRead,
                                       RecordingWrite, RecordingSeek,  RecordingReadByte};
  return &kTable;
}

// ---------------------------------------------------------------------------

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

Writer::Writer() {
  getExt = module.get<OVXDLget_ext_fn>("OVXDLget_ext");
  beginWrite = module.get<OVXDLbegin_write_fn>("OVXDLbegin_write");
  writeBlock = module.get<OVXDLwrite_block_fn>("OVXDLwrite_block");
  endWrite = module.get<OVXDLend_write_fn>("OVXDLend_write");
  getVer = module.get<OVXDLget_ver_fn>("OVXDLget_ver");
  wep = module.get<WriterWEP_fn>("WEP");
}

bool Writer::complete() const {
  return module && getExt && beginWrite && writeBlock && endWrite && getVer && wep;
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
  RecordingFiles::instance().reset();
  Reports().clear();
  ASSERT_TRUE(writer.complete()) << "wrbmp.DEL not loaded from " << testsupport::binDir();
  ExportHostInfo host{0, RecordError, 0};
  ASSERT_STREQ(writer.getExt(&host), "BMP;Windows Bitmap (*.bmp)");
  EXPECT_EQ(host.flags, kFlagsBottomFirst);
}

}  // namespace wrbmptest
