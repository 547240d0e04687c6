// Choosing the vector kernels for the processor the decoder runs on.
#include "jpeg_simd.h"

#include "jpeg_idct.h"

namespace rdjpeg {

#if defined(__x86_64__) || defined(__i386__)
#define RDJPEG_X86_KERNELS 1
#else
#define RDJPEG_X86_KERNELS 0
#endif

Simd DetectSimd() {
#if RDJPEG_X86_KERNELS
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return Simd::kAvx2;
  if (__builtin_cpu_supports("sse2")) return Simd::kSse2;
#endif
  return Simd::kNone;
}

Kernels KernelsFor(Simd simd) {
#if RDJPEG_X86_KERNELS
  if (simd == Simd::kAvx2) return Kernels{IdctAvx2, ColourAvx2};
  if (simd == Simd::kSse2) return Kernels{IdctSse2, ColourSse2};
#else
  (void)simd;
#endif
  return Kernels{IdctPlain, ColourPlain};
}

const Kernels& ActiveKernels() {
  static const Kernels kernels = KernelsFor(DetectSimd());
  return kernels;
}

void IdctPlain(const int32_t* block, uint8_t* out, size_t stride) {
  InverseDct(block, false, out, stride);
}

}  // namespace rdjpeg
