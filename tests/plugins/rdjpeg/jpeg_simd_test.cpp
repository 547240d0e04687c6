// The vector kernels against the plain routines they stand in for: every
// kernel the processor can run must give the same bytes, for ordinary blocks,
// for blocks at and past the vector limit and for every chroma pair.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "jpeg_idct.h"
#include "jpeg_simd.h"

namespace jpegtest {
namespace {

using rdjpeg::Simd;

// The kernel sets this processor can run, the plain ones included.
std::vector<Simd> RunnableLevels() {
  std::vector<Simd> levels{Simd::kNone};
  const Simd best = rdjpeg::DetectSimd();
  if (best == Simd::kSse2 || best == Simd::kAvx2) levels.push_back(Simd::kSse2);
  if (best == Simd::kAvx2) levels.push_back(Simd::kAvx2);
  return levels;
}

// A block of `kind`: 0 sparse and small, 1 dense within the vector limit,
// 2 dense around the limit, 3 anywhere the dequantiser can reach.
std::vector<int32_t> RandomBlock(std::mt19937& random, int kind) {
  std::vector<int32_t> block(64, 0);
  const int32_t ranges[] = {300, rdjpeg::kVectorIdctLimit, rdjpeg::kVectorIdctLimit + 2,
                            rdjpeg::kDequantisedLimit};
  const int32_t range = ranges[kind];
  for (size_t k = 0; k < 64; ++k) {
    if (kind == 0 && random() % 4 != 0) continue;
    int32_t value = static_cast<int32_t>(random() % (2 * static_cast<uint32_t>(range) + 1)) - range;
    if (kind == 2 && random() % 2 == 0) value = value < 0 ? -range + 2 : range - 2;  // at the limit
    block[k] = value;
  }
  return block;
}

#if defined(__x86_64__) || defined(__i386__)
TEST(JpegKernels, DetectionAgreesWithTheCompilersFeatureCheck) {
  __builtin_cpu_init();
  const Simd expected = __builtin_cpu_supports("avx2")   ? Simd::kAvx2
                        : __builtin_cpu_supports("sse2") ? Simd::kSse2
                                                         : Simd::kNone;
  EXPECT_EQ(rdjpeg::DetectSimd(), expected);
}
#endif

TEST(JpegKernels, InverseDctMatchesThePlainTransform) {
  std::mt19937 random(14);
  constexpr size_t kStride = 13;
  for (Simd level : RunnableLevels()) {
    const rdjpeg::IdctKernel kernel = rdjpeg::KernelsFor(level).idct;
    for (int kind = 0; kind < 4; ++kind) {
      for (int trial = 0; trial < 2000; ++trial) {
        std::vector<int32_t> block = RandomBlock(random, kind);
        std::vector<uint8_t> expected(10 * kStride, 0xA5), got(10 * kStride, 0xA5);
        rdjpeg::InverseDct(block.data(), false, expected.data() + kStride, kStride);
        kernel(block.data(), got.data() + kStride, kStride);
        ASSERT_EQ(expected, got) << "level " << static_cast<int>(level) << " kind " << kind;
      }
    }
  }
}

TEST(JpegKernels, ColourConversionMatchesTheTablesForEveryChromaPair) {
  // Rows of 16 × 16 + 5 pixels: the vector part and the plain tail both run.
  constexpr size_t kWidth = 261;
  for (Simd level : RunnableLevels()) {
    const rdjpeg::ColourKernel kernel = rdjpeg::KernelsFor(level).colour;
    for (int32_t across : {1, 2}) {
      for (int cr = 0; cr < 256; ++cr) {
        std::vector<uint8_t> luma(kWidth), cb(kWidth), crs(kWidth, static_cast<uint8_t>(cr));
        for (size_t x = 0; x < kWidth; ++x) {
          luma[x] = static_cast<uint8_t>(x * 67 + cr);
          cb[x] = static_cast<uint8_t>(x + cr * 3);  // every Cb value meets this Cr
        }
        std::vector<uint8_t> expected(3 * kWidth), got(3 * kWidth);
        rdjpeg::ColourPlain(luma.data(), cb.data(), crs.data(), kWidth, across, expected.data());
        kernel(luma.data(), cb.data(), crs.data(), kWidth, across, got.data());
        ASSERT_EQ(expected, got) << "level " << static_cast<int>(level) << " across " << across << " cr " << cr;
      }
    }
  }
}

}  // namespace
}  // namespace jpegtest
