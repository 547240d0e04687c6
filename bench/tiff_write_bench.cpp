// Group 4 and Group 3 encoding of an A4 page at 300 dots per inch through
// wrtiff.DEL's exports into memory, and libtiff doing the same work beside it.
#include <benchmark/benchmark.h>

#include "bench_support.h"

#if BENCH_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace {

// The strip height wrtiff computes for the page (about 8096 unencoded bytes a
// strip), given to libtiff too so both write the same strips.
constexpr uint32_t kA4RowsPerStrip = 26;

// Argument: the TIFF compression, 4 (Group 4) or 3 (Group 3 1-D with EOLs).
void BM_WrtiffCcittEncodeA4(benchmark::State& state) {
  const bench::MonoPage& page = bench::A4Page();
  bench::Options() = {{"COMPRESS", "ON"},
                      {"TIFF_COMPRESS", state.range(0) == 4 ? "GROUP4" : "GROUP3"}};
  size_t fileBytes = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& file = bench::WriteWithWrtiff(page, "a4.tif");
    fileBytes = file.size();
    benchmark::DoNotOptimize(file.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.stride * page.height);
  state.counters["file_bytes"] = static_cast<double>(fileBytes);
}
BENCHMARK(BM_WrtiffCcittEncodeA4)->Arg(4)->Arg(3)->Unit(benchmark::kMillisecond);

#if BENCH_HAVE_LIBTIFF
void BM_LibtiffCcittEncodeA4(benchmark::State& state) {
  const bench::MonoPage& page = bench::A4PageWhiteIsZero();
  size_t fileBytes = 0;
  for (auto _ : state) {
    const std::vector<uint8_t> file =
        bench::WriteWithLibtiff(page, static_cast<uint16_t>(state.range(0)), kA4RowsPerStrip);
    fileBytes = file.size();
    benchmark::DoNotOptimize(file.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * page.stride * page.height);
  state.counters["file_bytes"] = static_cast<double>(fileBytes);
}
BENCHMARK(BM_LibtiffCcittEncodeA4)->Arg(4)->Arg(3)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
