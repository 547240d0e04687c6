#include "writer_harness.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

std::vector<ErrorReport>& Reports() {
  static std::vector<ErrorReport> reports;
  return reports;
}

void CALLBACK RecordError(HINSTANCE instance, int32_t id, const char* module, const char* file) {
  Reports().push_back({instance, id, module != nullptr ? module : "(null)", file != nullptr ? file : "(null)"});
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

void RecordingFiles::clearLog() {
  writes.clear();
  shortWrites.clear();
}

void RecordingFiles::reset() {
  clearLog();
  MemoryFiles::instance().reset();
}

std::vector<uint32_t> RecordingFiles::counts() const {
  std::vector<uint32_t> counts;
  for (const Write& write : writes) counts.push_back(write.count);
  return counts;
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

void ResetWriterHarness() {
  RecordingFiles::instance().reset();
  Reports().clear();
}

// ---------------------------------------------------------------------------

uint32_t Dib::stride() const {
  return static_cast<uint32_t>(DibRowBytes(static_cast<uint64_t>(header()->biWidth), header()->biBitCount));
}

std::vector<uint16_t> Dib::pixel(uint32_t x, uint32_t y) const {
  const uint8_t* row = rows[y].data();
  const uint32_t bits = header()->biBitCount;
  if (bits == 24) return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
  if (bits == 48) {
    auto sample = [&](int s) { return static_cast<uint16_t>(row[6 * x + 2 * s] | row[6 * x + 2 * s + 1] << 8); };
    return {sample(2), sample(1), sample(0)};
  }
  const uint32_t perByte = 8 / bits;
  const uint32_t index = (row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1u << bits) - 1);
  return {table()[index].rgbRed, table()[index].rgbGreen, table()[index].rgbBlue};
}

std::vector<uint8_t> Dib::rgb() const {
  std::vector<uint8_t> out;
  out.reserve(size_t{width()} * rows.size() * 3);
  for (uint32_t y = 0; y < rows.size(); ++y) {
    for (uint32_t x = 0; x < width(); ++x) {
      for (uint16_t sample : pixel(x, y)) out.push_back(static_cast<uint8_t>(sample));
    }
  }
  return out;
}

Dib DibHeader(int32_t width, int32_t height, uint16_t bits, int32_t xPerMetre, int32_t yPerMetre) {
  Dib dib;
  const uint32_t colours = bits <= 8 ? 1u << bits : 0;
  dib.info.assign(sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD), 0);
  BITMAPINFOHEADER* h = dib.header();
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = bits;
  h->biCompression = BI_RGB;
  h->biXPelsPerMeter = xPerMetre;
  h->biYPelsPerMeter = yPerMetre;
  return dib;
}

// ---------------------------------------------------------------------------

WriterModule::WriterModule(const std::string& fileName) : module(fileName) {
  if (!module) return;
  getExt = module.get<OVXDLget_ext_fn>("OVXDLget_ext");
  beginWrite = module.get<OVXDLbegin_write_fn>("OVXDLbegin_write");
  writeBlock = module.get<OVXDLwrite_block_fn>("OVXDLwrite_block");
  endWrite = module.get<OVXDLend_write_fn>("OVXDLend_write");
  getVer = module.get<OVXDLget_ver_fn>("OVXDLget_ver");
  wep = module.get<WriterWEP_fn>("WEP");
}

bool WriterModule::loaded() const {
  return module && getExt && beginWrite && writeBlock && endWrite;
}

const char* WriterModule::connect(HMODULE host, uint32_t* hostFlags) const {
  if (getExt == nullptr) return nullptr;
  ExportHostInfo info{0, RecordError, host};
  const char* extension = getExt(&info);
  if (hostFlags != nullptr) *hostFlags = info.flags;
  return extension;
}

ExportRun ExportTopFirst(const WriterModule& writer, const Dib& dib, const TopFirstPlan& plan) {
  ExportRun r;
  const char* name = plan.fileName.c_str();
  r.handle = writer.beginWrite(name, plan.files != nullptr ? plan.files : MemoryFiles::table(), name,
                               dib.header(), 0, &r.flags);
  if (r.handle == 0) return r;
  const uint32_t stride = plan.stride != 0 ? plan.stride : dib.stride();
  const auto height = static_cast<uint32_t>(dib.rows.size());
  const auto total = static_cast<uint32_t>(plan.rows < 0 ? int64_t{height} : plan.rows);
  const uint32_t perCall = plan.rowsPerCall == 0 ? total : plan.rowsPerCall;
  if (plan.progressFlags) r.progress.flags = static_cast<uint32_t>(r.flags);
  r.progress.bytesTotal = stride * height;
  r.progress.interval = plan.interval;
  for (uint32_t first = 0; first < total; first += perCall) {
    const uint32_t count = std::min(perCall, total - first);
    std::vector<uint8_t> block(size_t{count} * stride, 0x77);
    for (uint32_t i = 0; i < count; ++i) {
      const std::vector<uint8_t>& row = dib.rows[std::min<size_t>(first + i, height - 1)];
      std::memcpy(&block[size_t{count - 1 - i} * stride], row.data(), std::min<size_t>(row.size(), stride));
    }
    r.blockResults.push_back(writer.writeBlock(r.handle, count, stride, block.data(), &r.progress));
  }
  r.endResult = writer.endWrite(r.handle, &r.progress);
  r.file = MemoryFiles::instance().bytes(plan.fileName);
  return r;
}

}  // namespace testsupport
