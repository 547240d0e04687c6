// jpeg_read_bench (Google Benchmark): decoding a large photo-like JPEG through
// the reader's exports from an in-memory file, beside libjpeg-turbo's djpeg
// decoding the same file (a child process writing to /dev/null, so its figure
// includes process start and output formatting).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

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

}  // namespace

BENCHMARK_MAIN();
