#include "wrpcx_fixture.h"

#include <random>

namespace wrpcxtest {

using testsupport::MemoryFiles;

std::vector<Report>& Reports() {
  static std::vector<Report> reports;
  return reports;
}

WriteLog& Writes() {
  static WriteLog log;
  return log;
}

namespace {

void CALLBACK RecordError(HINSTANCE, int32_t id, const char* module, const char* file) {
  Reports().push_back({id, module != nullptr ? module : "", file != nullptr ? file : ""});
}

int32_t CALLBACK LoggedWrite(uint32_t handle, const void* buffer, uint32_t count) {
  WriteLog& log = Writes();
  const bool cut = log.shortCalls.count(log.counts.size()) != 0 && count > 0;
  log.counts.push_back(count);
  return MemoryFiles::table()->write(handle, buffer, cut ? count - 1 : count);
}

}  // namespace

const HostFileTable* LoggingTable() {
  static HostFileTable table = [] {
    HostFileTable t = *MemoryFiles::table();
    t.write = LoggedWrite;
    return t;
  }();
  return &table;
}

Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t colours = bits <= 8 ? 1u << bits : 0;
  Dib dib;
  dib.info.assign(40 + 4 * colours, 0);
  BITMAPINFOHEADER* h = dib.header();
  h->biSize = 40;
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = bits;
  h->biXPelsPerMeter = 11811;
  h->biYPelsPerMeter = 2835;
  for (uint32_t i = 0; i < colours; ++i) {
    auto* q = reinterpret_cast<RGBQUAD*>(dib.info.data() + 40 + 4 * i);
    *q = RGBQUAD{static_cast<uint8_t>(3 * i), static_cast<uint8_t>(2 * i), static_cast<uint8_t>(i), 0};
  }
  if (bits == 1) {  // black first
    auto* q = reinterpret_cast<RGBQUAD*>(dib.info.data() + 40);
    q[0] = RGBQUAD{0, 0, 0, 0};
    q[1] = RGBQUAD{255, 255, 255, 0};
  }
  if (width <= 0 || height <= 0) return dib;
  for (int32_t y = 0; y < height; ++y) {
    Bytes row(dib.stride());
    uint8_t value = static_cast<uint8_t>(rng());
    for (uint8_t& b : row) {
      if (rng() % 3 == 0) value = static_cast<uint8_t>(rng());
      b = value;
    }
    dib.rows.push_back(row);
  }
  return dib;
}

Writer::Writer() {
  if (!module) return;
  getExt = module.get<OVXDLget_ext_fn>("OVXDLget_ext");
  beginWrite = module.get<OVXDLbegin_write_fn>("OVXDLbegin_write");
  writeBlock = module.get<OVXDLwrite_block_fn>("OVXDLwrite_block");
  endWrite = module.get<OVXDLend_write_fn>("OVXDLend_write");
  getVer = module.get<OVXDLget_ver_fn>("OVXDLget_ver");
}

ExportRun Writer::run(const Dib& dib, uint32_t rowsPerCall, uint32_t stride, const std::string& name) const {
  ExportRun r;
  r.handle = beginWrite(name.c_str(), LoggingTable(), name.c_str(), dib.header(), 0, &r.flags);
  if (r.handle == 0) return r;
  if (stride == 0) stride = dib.stride();
  const auto height = static_cast<uint32_t>(dib.rows.size());
  if (rowsPerCall == 0) rowsPerCall = height;
  r.progress.flags = static_cast<uint32_t>(r.flags);
  r.progress.bytesTotal = stride * height;
  r.progress.interval = 100;
  for (uint32_t done = 0; done < height; done += rowsPerCall) {
    const uint32_t count = std::min(rowsPerCall, height - done);
    // The block bottom-up in memory: its top row last.
    Bytes block(static_cast<size_t>(count) * stride, 0x77);
    for (uint32_t k = 0; k < count; ++k) {
      const Bytes& row = dib.rows[done + k];
      std::memcpy(&block[static_cast<size_t>(count - 1 - k) * stride], row.data(), std::min<size_t>(row.size(), stride));
    }
    r.blockResults.push_back(writeBlock(r.handle, count, stride, block.data(), &r.progress));
  }
  r.endResult = endWrite(r.handle, &r.progress);
  r.file = MemoryFiles::instance().bytes(name);
  return r;
}

void WrpcxTest::SetUp() {
  MemoryFiles::instance().reset();
  Reports().clear();
  Writes() = WriteLog{};
  ASSERT_TRUE(writer.module) << "wrpcx.DEL not loaded from " << testsupport::binDir();
  ExportHostInfo host{0, RecordError, 0};
  EXPECT_STREQ(writer.getExt(&host), "PCX;PC Paintbrush (*.pcx)");
  EXPECT_EQ(host.flags, 248u);
  blocksBefore_ = winport_test_live_global_blocks();
}

void WrpcxTest::TearDown() {
  EXPECT_EQ(MemoryFiles::instance().openHandles(), 0);
  EXPECT_EQ(winport_test_live_global_blocks(), blocksBefore_);
}

}  // namespace wrpcxtest
