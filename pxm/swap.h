// Exchanging red and blue in rows of 3-byte pixels: the raw pixmap's RGB
// becomes the DIB's BGR. One portable path and two SIMD paths, chosen by
// what the processor offers.
#pragma once

#include <cstddef>
#include <cstdint>

enum PxmSwapPath : int32_t {
    kPxmSwapPortable = 0,
    kPxmSwapSsse3 = 1,
    kPxmSwapAvx2 = 2,
};

// Whether this build and this processor can run a path.
bool PxmSwapPathAvailable(PxmSwapPath path);

// The fastest path available here.
PxmSwapPath PxmBestSwapPath();

// Writes `pixels` pixels of `source` to `destination` with bytes 0 and 2 of
// each exchanged. Writes exactly 3 * pixels bytes and reads no more.
void PxmSwapRedBlue(PxmSwapPath path, const uint8_t* source, uint8_t* destination,
                    size_t pixels);
