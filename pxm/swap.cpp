#include "pxm/swap.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define PXM_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#define PXM_TARGET(features)
#else
#define PXM_TARGET(features) __attribute__((target(features)))
#endif
#endif

namespace {

void SwapPortable(const uint8_t* source, uint8_t* destination, size_t pixels)
{
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t red = source[0], green = source[1], blue = source[2];
        destination[0] = blue;
        destination[1] = green;
        destination[2] = red;
        source += 3;
        destination += 3;
    }
}

#if PXM_X86

struct Cpu {
    bool ssse3;
    bool avx2;
};

Cpu DetectCpu()
{
#if defined(_MSC_VER)
    Cpu cpu = {false, false};
    int r[4];
    __cpuid(r, 0);
    const int maxLeaf = r[0];
    __cpuid(r, 1);
    cpu.ssse3 = (r[2] & (1 << 9)) != 0;
    // AVX2 needs the operating system to save the YMM registers too.
    const bool osSavesYmm = (r[2] & (1 << 27)) != 0 && (r[2] & (1 << 28)) != 0;
    if (!osSavesYmm || maxLeaf < 7)
        return cpu;
    const unsigned long long xcr0 = _xgetbv(0);
    __cpuidex(r, 7, 0);
    cpu.avx2 = (xcr0 & 6) == 6 && (r[1] & (1 << 5)) != 0;
    return cpu;
#else
    // These also check that the operating system saves the YMM registers.
    __builtin_cpu_init();
    return {__builtin_cpu_supports("ssse3") != 0, __builtin_cpu_supports("avx2") != 0};
#endif
}

// The processor does not change while the process runs: asked once.
const Cpu& ThisCpu()
{
    static const Cpu cpu = DetectCpu();
    return cpu;
}

// Five pixels per 16-byte block; the sixteenth byte is copied as it is and
// rewritten by the next block, so nothing past the row is touched.
PXM_TARGET("ssse3")
void SwapSsse3(const uint8_t* source, uint8_t* destination, size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    const size_t bytes = 3 * pixels;
    size_t i = 0;
    for (; i + 16 <= bytes; i += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), _mm_shuffle_epi8(v, order));
    }
    SwapPortable(source + i, destination + i, (bytes - i) / 3);
}

// Eight pixels per 32-byte block: each 128-bit lane takes four pixels (the
// shuffle cannot cross lanes), then the two 12-byte halves are joined.
PXM_TARGET("avx2")
void SwapAvx2(const uint8_t* source, uint8_t* destination, size_t pixels)
{
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15,
                                           2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 6, 7);
    const size_t bytes = 3 * pixels;
    size_t i = 0;
    for (; i + 32 <= bytes; i += 24) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        const __m256i lanes = _mm256_permutevar8x32_epi32(v, spread);
        const __m256i swapped = _mm256_shuffle_epi8(lanes, order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i),
                            _mm256_permutevar8x32_epi32(swapped, join));
    }
    SwapPortable(source + i, destination + i, (bytes - i) / 3);
}

#endif

} // namespace

bool PxmSwapPathAvailable(PxmSwapPath path)
{
    if (path == kPxmSwapPortable)
        return true;
#if PXM_X86
    const Cpu& cpu = ThisCpu();
    return path == kPxmSwapSsse3 ? cpu.ssse3 : path == kPxmSwapAvx2 ? cpu.avx2 : false;
#else
    return false;
#endif
}

PxmSwapPath PxmBestSwapPath()
{
#if PXM_X86
    const Cpu& cpu = ThisCpu();
    return cpu.avx2 ? kPxmSwapAvx2 : cpu.ssse3 ? kPxmSwapSsse3 : kPxmSwapPortable;
#else
    return kPxmSwapPortable;
#endif
}

void PxmSwapRedBlue(PxmSwapPath path, const uint8_t* source, uint8_t* destination, size_t pixels)
{
#if PXM_X86
    if (path == kPxmSwapAvx2) {
        SwapAvx2(source, destination, pixels);
        return;
    }
    if (path == kPxmSwapSsse3) {
        SwapSsse3(source, destination, pixels);
        return;
    }
#endif
    (void)path;
    SwapPortable(source, destination, pixels);
}
