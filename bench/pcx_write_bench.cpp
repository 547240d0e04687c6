// Run-length coding through wrpcx.DEL's exports into memory: an 8-bit
// picture with the short runs of a dithered photograph (most runs of 1 to 4
// bytes, some long ones, a sixth of the bytes at 0xC0 and above, which a
// single byte cannot stand for) and a 24-bit one split into three planes.
#include <benchmark/benchmark.h>

#include <random>

#include "bench_support.h"

namespace {

struct Picture {
  std::vector<uint8_t> info;  // BITMAPINFOHEADER + colour table
  std::vector<uint8_t> rows;  // bottom-up
  uint32_t width = 0, height = 0, stride = 0;
  const BITMAPINFOHEADER* header() const {
    return reinterpret_cast<const BITMAPINFOHEADER*>(info.data());
  }
};

Picture MakePicture(uint32_t width, uint32_t height, uint16_t bits) {
  Picture p;
  p.width = width;
  p.height = height;
  p.stride = static_cast<uint32_t>(DibRowBytes(width, bits));
  const uint32_t colours = bits == 8 ? 256 : 0;
  p.info.assign(sizeof(BITMAPINFOHEADER) + 4 * colours, 0);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(p.info.data());
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = static_cast<int32_t>(width);
  h->biHeight = static_cast<int32_t>(height);
  h->biPlanes = 1;
  h->biBitCount = bits;
  for (uint32_t i = 0; i < colours; ++i) p.info[sizeof(BITMAPINFOHEADER) + 4 * i] = static_cast<uint8_t>(i);
  std::mt19937 rng(8);
  std::geometric_distribution<uint32_t> runLength(0.45);
  p.rows.resize(size_t{p.stride} * height);
  for (size_t at = 0; at < p.rows.size();) {
    const size_t run = std::min<size_t>(1 + runLength(rng) + (rng() % 50 == 0 ? 80 : 0), p.rows.size() - at);
    const auto value = static_cast<uint8_t>(rng());
    std::fill_n(p.rows.begin() + static_cast<ptrdiff_t>(at), run, value);
    at += run;
  }
  return p;
}

size_t WriteWithWrpcx(const Picture& picture) {
  static const HMODULE module = [] {
    const HMODULE m = bench::LoadPlugin("wrpcx.DEL");
    ExportHostInfo host{0, nullptr, GetModuleHandleA(nullptr)};
    bench::Export<OVXDLget_ext_fn>(m, "OVXDLget_ext")(&host);
    return m;
  }();
  static const auto begin = bench::Export<OVXDLbegin_write_fn>(module, "OVXDLbegin_write");
  static const auto write = bench::Export<OVXDLwrite_block_fn>(module, "OVXDLwrite_block");
  static const auto end = bench::Export<OVXDLend_write_fn>(module, "OVXDLend_write");
  const std::string name = "picture.pcx";
  bench::RemoveMemoryFile(name);
  int32_t flags = 0;
  const HGLOBAL block = begin(name.c_str(), bench::MemoryTable(), name.c_str(), picture.header(), 0, &flags);
  if (block == 0) bench::Abort("wrpcx refused the picture");
  ExportProgress progress{static_cast<uint32_t>(flags), 0, picture.stride * picture.height, 0,
                          1u << 20, 0, 0, nullptr};
  constexpr uint32_t kRowsPerCall = 64;
  for (uint32_t top = 0; top < picture.height; top += kRowsPerCall) {
    const uint32_t count = std::min(kRowsPerCall, picture.height - top);
    // Bottom-up: the block's top row is the last in memory.
    const uint8_t* first = picture.rows.data() + size_t{picture.stride} * (picture.height - top - count);
    if (write(block, count, picture.stride, first, &progress) != kWriterOk) bench::Abort("write failed");
  }
  if (end(block, &progress) != kWriterOk) bench::Abort("end failed");
  return bench::MemoryFile(name).size();
}

void BM_WrpcxEncode(benchmark::State& state) {
  const Picture picture = MakePicture(3000, 2000, static_cast<uint16_t>(state.range(0)));
  size_t fileBytes = 0;
  for (auto _ : state) fileBytes = WriteWithWrpcx(picture);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(picture.rows.size()));
  state.counters["file_bytes"] = static_cast<double>(fileBytes);
}
BENCHMARK(BM_WrpcxEncode)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

}  // namespace
