#include "pxm/swap.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define PXM_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#define PXM_TARGET(features)
#else
#include <cpuid.h>
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

// cpuid and xgetbv by hand: GCC's __builtin_cpu_supports would do the same
// but links libgcc's processor model, some 5 KB with a constructor that
// runs when the plug-in loads.
Cpu DetectCpu()
{
    Cpu cpu = {false, false};
    unsigned int regs[4] = {0, 0, 0, 0}; // eax, ebx, ecx, edx
#if defined(_MSC_VER)
    int r[4];
    __cpuid(r, 0);
    const unsigned int maxLeaf = unsigned(r[0]);
    __cpuid(r, 1);
    for (int i = 0; i < 4; ++i)
        regs[i] = unsigned(r[i]);
#else
    const unsigned int maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf < 1 || !__get_cpuid(1, &regs[0], &regs[1], &regs[2], &regs[3]))
        return cpu;
#endif
    cpu.ssse3 = (regs[2] & (1u << 9)) != 0;
    const bool osSavesYmm = (regs[2] & (1u << 27)) != 0 && (regs[2] & (1u << 28)) != 0;
    if (!osSavesYmm || maxLeaf < 7)
        return cpu;
#if defined(_MSC_VER)
    const unsigned long long xcr0 = _xgetbv(0);
    __cpuidex(r, 7, 0);
    const unsigned int leaf7ebx = unsigned(r[1]);
#else
    unsigned int xcr0lo, xcr0hi;
    __asm__("xgetbv" : "=a"(xcr0lo), "=d"(xcr0hi) : "c"(0));
    const unsigned long long xcr0 = xcr0lo | (static_cast<unsigned long long>(xcr0hi) << 32);
    unsigned int a, leaf7ebx, c, d;
    __cpuid_count(7, 0, a, leaf7ebx, c, d);
#endif
    // The operating system must save the YMM registers for AVX2 to be usable.
    cpu.avx2 = (xcr0 & 6) == 6 && (leaf7ebx & (1u << 5)) != 0;
    return cpu;
}

// The processor does not change while the process runs: it is asked once
// and the answer kept, as bits with a mark that it is there. An atomic that
// starts at 0 needs no guarded initialisation, and with it none of the
// thread and exception support of the run-time library in the plug-in.
std::atomic<uint8_t> gCpuBits{0};

constexpr uint8_t kKnown = 1, kSsse3 = 2, kAvx2 = 4;

Cpu ThisCpu()
{
    uint8_t bits = gCpuBits.load(std::memory_order_relaxed);
    if (bits == 0) {
        const Cpu cpu = DetectCpu();
        bits = uint8_t(kKnown | (cpu.ssse3 ? kSsse3 : 0) | (cpu.avx2 ? kAvx2 : 0));
        gCpuBits.store(bits, std::memory_order_relaxed);
    }
    return {(bits & kSsse3) != 0, (bits & kAvx2) != 0};
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
    const Cpu cpu = ThisCpu();
    return path == kPxmSwapSsse3 ? cpu.ssse3 : path == kPxmSwapAvx2 ? cpu.avx2 : false;
#else
    return false;
#endif
}

PxmSwapPath PxmBestSwapPath()
{
#if PXM_X86
    const Cpu cpu = ThisCpu();
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
