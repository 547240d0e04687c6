// Choosing the vector kernels for the processor the decoder runs on.
#include "jpeg_simd.h"

#include "jpeg_idct.h"

namespace rdjpeg {

#if defined(__x86_64__) || defined(__i386__)
#define RDJPEG_X86_KERNELS 1
#include <cpuid.h>
#else
#define RDJPEG_X86_KERNELS 0
#endif

// Asked of the processor when the first picture is decoded, not when the
// plug-in is loaded: the compiler's own feature check would run its probe in
// every program that loads the plug-in, even to ask about other formats.
Simd DetectSimd() {
#if RDJPEG_X86_KERNELS
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return Simd::kNone;
  const bool sse2 = (edx & bit_SSE2) != 0;
  // AVX2 needs the instructions and a system that saves the wide registers.
  const bool osSavesYmm = (ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0 && [] {
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 6u) == 6u;
  }();
  unsigned ebx7 = 0;
  if (osSavesYmm && __get_cpuid_count(7, 0, &eax, &ebx7, &ecx, &edx) != 0 &&
      (ebx7 & bit_AVX2) != 0)
    return Simd::kAvx2;
  if (sse2) return Simd::kSse2;
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
