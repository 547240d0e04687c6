// Vector kernels of the decoder, chosen once per process for the processor it
// runs on. Every kernel gives exactly the bytes of the plain C++ routine it
// stands in for (InverseDct, ConvertRow); the plain routines stay the
// reference and the path of processors without the instructions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rdjpeg {

enum class Simd { kNone, kSse2, kAvx2 };

// The widest instruction set the kernels have for this processor (kNone off x86).
Simd DetectSimd();

// The inverse DCT of a block that has AC coefficients (InverseDct with dcOnly false).
using IdctKernel = void (*)(const int32_t* block, uint8_t* out, size_t stride);
// YCbCr -> BGR of `width` pixels whose chroma samples each cover `across`
// luma samples (1 or 2), as ConvertRow does it.
using ColourKernel = void (*)(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                              size_t width, int32_t across, uint8_t* out);

struct Kernels {
  IdctKernel idct;
  ColourKernel colour;
};
// The kernels of `simd`, falling back to the plain routines where the build
// has none for it.
Kernels KernelsFor(Simd simd);
// The kernels of DetectSimd(), looked up once.
const Kernels& ActiveKernels();

// The plain routines in kernel form.
void IdctPlain(const int32_t* block, uint8_t* out, size_t stride);
void ColourPlain(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width,
                 int32_t across, uint8_t* out);

// The vector kernels (jpeg_sse2.cpp, jpeg_avx2.cpp); only on x86 builds.
void IdctSse2(const int32_t* block, uint8_t* out, size_t stride);
void IdctAvx2(const int32_t* block, uint8_t* out, size_t stride);
void ColourSse2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width,
                int32_t across, uint8_t* out);
void ColourAvx2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width,
                int32_t across, uint8_t* out);

// Largest coefficient magnitude for which the vector transforms' 32-bit
// products cannot overflow; blocks with larger ones take the plain routine.
inline constexpr int32_t kVectorIdctLimit = 16384;

}  // namespace rdjpeg
