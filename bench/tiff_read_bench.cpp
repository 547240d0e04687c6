// Reading through rdtiff.DIL's exports from memory, and libtiff doing the same
// work beside it: Group 4, Group 3 and modified Huffman decoding of an A4 page
// at 300 dots per inch, and an uncompressed 24-bit 6000 x 4000 image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>

#include "bench_support.h"

#if BENCH_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

constexpr uint32_t kA4RowsPerStrip = 26;

struct ReaderApi {
  OVDLinit_image_fn init;
  OVDLbuildDIBhead_fn buildHead;
  OVDLread_rows_fn readRows;
  OVDLclose_image_fn close;
};

const ReaderApi& Rdtiff() {
  static const ReaderApi api = [] {
    HMODULE module = bench::LoadPlugin("rdtiff.DIL");
    return ReaderApi{bench::Export<OVDLinit_image_fn>(module, "OVDLinit_image"),
                     bench::Export<OVDLbuildDIBhead_fn>(module, "OVDLbuildDIBhead"),
                     bench::Export<OVDLread_rows_fn>(module, "OVDLread_rows"),
                     bench::Export<OVDLclose_image_fn>(module, "OVDLclose_image")};
  }();
  return api;
}

// Opens the memory file `name`, reads every row in blocks of 64 into `rows`
// (bottom-up, as a host does) and closes it; the sum of the first bytes.
uint64_t ReadWithRdtiff(const std::string& name, std::vector<uint8_t>& rows) {
  const ReaderApi& api = Rdtiff();
  const HostFileTable* files = bench::MemoryTable();
  uint32_t file = 0;
  if (files->open(name.c_str(), 0, &file) != 1) bench::Abort("cannot open " + name);
  HGLOBAL image = 0;
  if (api.init(name.c_str(), &image, file, 0, 0, files) != 1) bench::Abort("rdtiff init failed");
  ImageHeaderRecord record{};
  if (api.buildHead(image, &record) != 1) bench::Abort("rdtiff header failed");
  BITMAPINFOHEADER header;
  std::memcpy(&header, record.bitmapInfo, sizeof header);
  GlobalFree(GlobalHandle(record.bitmapInfo));
  const uint32_t stride = static_cast<uint32_t>(DibRowBytes(header.biWidth, header.biBitCount));
  const uint32_t height = static_cast<uint32_t>(header.biHeight);
  constexpr uint32_t kBlock = 64;
  rows.resize(static_cast<size_t>(stride) * kBlock);
  uint64_t sum = 0;
  for (uint32_t done = 0; done < height; done += kBlock) {
    uint32_t count = height - done < kBlock ? height - done : kBlock;
    if (api.readRows(image, rows.data(), count, stride, 0, nullptr) != 1) bench::Abort("rdtiff rows");
    sum += rows[0];
  }
  api.close(image);
  return sum;
}

// An uncompressed RGB TIFF (strips of 16 rows), built directly in memory.
std::vector<uint8_t> MakeRgbTiff(uint32_t width, uint32_t height) {
  const uint32_t rowsPerStrip = 16;
  const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
  const uint64_t rowBytes = 3ull * width;
  std::vector<uint8_t> file(8);
  std::memcpy(file.data(), "II*\0", 4);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      file.insert(file.end(), {uint8_t(x), uint8_t(y), uint8_t(x ^ y)});
    }
  }
  auto put16 = [&](uint32_t v) { file.insert(file.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto put32 = [&](uint32_t v) { put16(v & 0xFFFF); put16(v >> 16); };
  const uint32_t offsetsAt = static_cast<uint32_t>(file.size());
  for (uint32_t s = 0; s < strips; ++s) put32(static_cast<uint32_t>(8 + s * rowsPerStrip * rowBytes));
  const uint32_t countsAt = static_cast<uint32_t>(file.size());
  for (uint32_t s = 0; s < strips; ++s) {
    uint32_t rows = height - s * rowsPerStrip < rowsPerStrip ? height - s * rowsPerStrip : rowsPerStrip;
    put32(static_cast<uint32_t>(rows * rowBytes));
  }
  const uint32_t bitsAt = static_cast<uint32_t>(file.size());
  put16(8); put16(8); put16(8);
  const uint32_t ifd = static_cast<uint32_t>(file.size());
  struct Entry { uint16_t tag, type; uint32_t count, value; };
  const Entry entries[] = {{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 3, bitsAt},
                           {259, 3, 1, 1},     {262, 3, 1, 2},      {273, 4, strips, offsetsAt},
                           {277, 3, 1, 3},     {278, 4, 1, rowsPerStrip},
                           {279, 4, strips, countsAt}};
  put16(static_cast<uint32_t>(std::size(entries)));
  for (const Entry& e : entries) {
    put16(e.tag); put16(e.type); put32(e.count);
    if (e.type == 3 && e.count == 1) { put16(e.value); put16(0); } else { put32(e.value); }
  }
  put32(0);
  std::memcpy(file.data() + 4, &ifd, 4);
  return file;
}

// The A4 text page coded as Group 4 (4), Group 3 1-D (3) or modified Huffman (2).
const std::vector<uint8_t>& A4File(uint16_t compression) {
  static std::map<uint16_t, std::vector<uint8_t>> files;
  std::vector<uint8_t>& file = files[compression];
  if (!file.empty()) return file;
#if BENCH_HAVE_LIBTIFF
  file = bench::WriteWithLibtiff(bench::A4PageWhiteIsZero(), compression, kA4RowsPerStrip);
#else
  const char* coding = compression == 4 ? "GROUP4" : compression == 3 ? "GROUP3" : "MODCCITT";
  bench::Options() = {{"COMPRESS", "ON"}, {"TIFF_COMPRESS", coding}};
  file = bench::WriteWithWrtiff(bench::A4Page(), "a4-written.tif");
#endif
  return file;
}

const std::vector<uint8_t>& RgbFile() {
  static const std::vector<uint8_t> file = MakeRgbTiff(6000, 4000);
  return file;
}

void BM_RdtiffCcittDecodeA4(benchmark::State& state) {
  bench::MemoryFile("a4-ccitt.tif") = A4File(static_cast<uint16_t>(state.range(0)));
  std::vector<uint8_t> rows;
  for (auto _ : state) benchmark::DoNotOptimize(ReadWithRdtiff("a4-ccitt.tif", rows));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (2480 / 8) * 3508);
}
// Argument: the TIFF compression (4 Group 4, 3 Group 3 1-D, 2 modified Huffman).
BENCHMARK(BM_RdtiffCcittDecodeA4)->Arg(4)->Arg(3)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_RdtiffUncompressedRgb6000x4000(benchmark::State& state) {
  bench::MemoryFile("rgb.tif") = RgbFile();
  std::vector<uint8_t> rows;
  for (auto _ : state) benchmark::DoNotOptimize(ReadWithRdtiff("rgb.tif", rows));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 6000 * 3 * 4000);
}
BENCHMARK(BM_RdtiffUncompressedRgb6000x4000)->Unit(benchmark::kMillisecond);

#if BENCH_HAVE_LIBTIFF
void BM_LibtiffCcittDecodeA4(benchmark::State& state) {
  const std::vector<uint8_t>& file = A4File(static_cast<uint16_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(bench::DecodeWithLibtiff(file));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (2480 / 8) * 3508);
}
BENCHMARK(BM_LibtiffCcittDecodeA4)->Arg(4)->Arg(3)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_LibtiffUncompressedRgb6000x4000(benchmark::State& state) {
  const std::vector<uint8_t>& file = RgbFile();
  for (auto _ : state) benchmark::DoNotOptimize(bench::DecodeWithLibtiff(file));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 6000 * 3 * 4000);
}
BENCHMARK(BM_LibtiffUncompressedRgb6000x4000)->Unit(benchmark::kMillisecond);

// The same rows handed over as DIB rows (blue, green, red), as rdtiff delivers them.
void BM_LibtiffUncompressedRgbToDib6000x4000(benchmark::State& state) {
  const std::vector<uint8_t>& file = RgbFile();
  for (auto _ : state) benchmark::DoNotOptimize(bench::DecodeWithLibtiff(file, true));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 6000 * 3 * 4000);
}
BENCHMARK(BM_LibtiffUncompressedRgbToDib6000x4000)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
