// What each kind of picture is, said once: the rest of the core asks here
// instead of spelling kind numbers out.
#pragma once

#include "pxm/pxm.h"

struct PxmKindFacts {
    bool hasMaxval;          // PGM and PPM carry a maximum sample value
    bool isAscii;            // P1 to P3: samples are decimal text
    uint8_t bitsPerPixel;    // of the DIB, and of the raw file's rows: 1, 8 or 24
    uint8_t samplesPerPixel; // values read per pixel: 3 for pixmaps, else 1
    uint16_t paletteEntries; // of the DIB: 2 (white, black), 256 greys, or none
};

// Indexed by the kind; entry 0 stands for no kind.
constexpr PxmKindFacts kPxmKinds[7] = {
    {false, false, 0, 0, 0},
    {false, true, 1, 1, 2},     // P1, plain PBM
    {true, true, 8, 1, 256},    // P2, plain PGM
    {true, true, 24, 3, 0},     // P3, plain PPM
    {false, false, 1, 1, 2},    // P4, raw PBM
    {true, false, 8, 1, 256},   // P5, raw PGM
    {true, false, 24, 3, 0},    // P6, raw PPM
};

inline bool IsPxmKind(PxmKind kind)
{
    return kind >= 1 && kind <= 6;
}

// The facts of a kind; those of no kind for anything outside 1 to 6.
inline const PxmKindFacts& FactsOf(PxmKind kind)
{
    return kPxmKinds[IsPxmKind(kind) ? kind : 0];
}

// Bytes that the pixels of one row take: in the DIB, before its padding,
// and in the file of a raw kind (the two are the same).
inline uint64_t PixelBytesPerRow(PxmKind kind, uint64_t width)
{
    return (width * FactsOf(kind).bitsPerPixel + 7) / 8;
}

// Bytes of one row of the DIB: its pixels rounded up to a multiple of 4.
inline uint64_t DibRowStride(PxmKind kind, uint64_t width)
{
    return (width * FactsOf(kind).bitsPerPixel + 31) / 32 * 4;
}
