// jpeg_read_bench (Google Benchmark): decoding a large photo-like JPEG through
// the reader's exports from an in-memory file, beside libjpeg-turbo's djpeg
// decoding the same file (a child process writing to /dev/null, so its figure
// includes process start and output formatting); and the decoder's inverse
// DCT and colour conversion kernels for each instruction set this processor
// has (0 plain, 1 SSE2, 2 AVX2).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "jpeg_simd.h"
#include "memory_files.h"
#include "plugin_loader.h"
#include "reader_harness.h"

namespace {

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

struct BigFile {
  testsupport::TempDir dir;
  std::string path;
  std::vector<uint8_t> bytes;
};

// A 4000 × 3000 picture with gradients and fine texture, encoded by cjpeg at
// quality 90 with 4:2:0 chroma.
const BigFile& Big() {
  static BigFile* file = [] {
    auto* f = new BigFile;
    std::string ppm = f->dir.file("big.ppm");
    f->path = f->dir.file("big.jpg");
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
    std::mt19937 random(1);
    std::vector<char> row(kWidth * 3);
    for (uint32_t y = 0; y < kHeight; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x) {
        double wave = std::sin(x / 37.0) * std::cos(y / 53.0);
        row[3 * x] = static_cast<char>(128 + 100 * wave + random() % 24);
        row[3 * x + 1] = static_cast<char>((x + y) / 28 + random() % 16);
        row[3 * x + 2] = static_cast<char>(((x / 40 + y / 40) % 2) * 120 + random() % 40);
      }
      out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    out.close();
    std::string command = "cjpeg -quality 90 -sample 2x2 '" + ppm + "' > '" + f->path + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cjpeg failed\n");
    std::ifstream in(f->path, std::ios::binary);
    f->bytes.assign(std::istreambuf_iterator<char>(in), {});
    return f;
  }();
  return *file;
}

void BM_RdjpegDecode(benchmark::State& state) {
  static readertest::ReaderApi api("rdjpeg.DIL");
  const BigFile& big = Big();
  const uint32_t stride = static_cast<uint32_t>(DibRowBytes(kWidth, 24));
  std::vector<uint8_t> buffer(static_cast<size_t>(stride) * kHeight);
  for (auto _ : state) {
    testsupport::MemoryFiles::instance().reset();
    readertest::OpenImage image(api, "big.jpg", big.bytes);
    int32_t result = api.readRows(image.handle, buffer.data(), kHeight, stride, 0, nullptr);
    if (result != 1) state.SkipWithError("read_rows failed");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.counters["MPixel/s"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RdjpegDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DjpegProcess(benchmark::State& state) {
  const std::string command = "djpeg -bmp '" + Big().path + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("djpeg failed");
  }
  state.counters["MPixel/s"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DjpegProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

bool Runnable(rdjpeg::Simd level) {
  const rdjpeg::Simd best = rdjpeg::DetectSimd();
  return level == rdjpeg::Simd::kNone || best == rdjpeg::Simd::kAvx2 || best == level;
}

// 4096 blocks of coefficients like those of a quality-90 photo: a few low
// frequencies set, the rest zero.
void BM_JpegIdctKernel(benchmark::State& state) {
  const auto level = static_cast<rdjpeg::Simd>(state.range(0));
  if (!Runnable(level)) return state.SkipWithError("not on this processor");
  std::mt19937 random(3);
  std::vector<int32_t> blocks(4096 * 64, 0);
  for (size_t b = 0; b < 4096; ++b) {
    for (size_t k : {0, 1, 2, 8, 9, 16, 3, 24}) blocks[b * 64 + k] = static_cast<int32_t>(random() % 2001) - 1000;
  }
  std::vector<uint8_t> out(64 * 8);
  const rdjpeg::IdctKernel idct = rdjpeg::KernelsFor(level).idct;
  for (auto _ : state) {
    for (size_t b = 0; b < 4096; ++b) idct(&blocks[b * 64], out.data() + (b % 8) * 8, 64);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_JpegIdctKernel)->DenseRange(0, 2);

// One 6000-pixel row of 4:2:0 chroma.
void BM_JpegColourKernel(benchmark::State& state) {
  const auto level = static_cast<rdjpeg::Simd>(state.range(0));
  if (!Runnable(level)) return state.SkipWithError("not on this processor");
  constexpr size_t kPixels = 6000;
  std::vector<uint8_t> luma(kPixels), cb(kPixels / 2), cr(kPixels / 2), out(3 * kPixels);
  std::mt19937 random(4);
  for (auto& v : luma) v = static_cast<uint8_t>(random());
  for (auto& v : cb) v = static_cast<uint8_t>(random());
  for (auto& v : cr) v = static_cast<uint8_t>(random());
  const rdjpeg::ColourKernel colour = rdjpeg::KernelsFor(level).colour;
  for (auto _ : state) {
    colour(luma.data(), cb.data(), cr.data(), kPixels, 2, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}
BENCHMARK(BM_JpegColourKernel)->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
