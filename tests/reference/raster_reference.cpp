// The reference raster decoder: the plainest reading of the six kinds, one
// byte and one sample at a time. The fast decoder in pxm/raster.cpp must
// give the same result, the same progress calls and the same bytes out on
// every input (the blocks compared once the decode is over); the tests and
// the fuzzers hold the two against each other.
//
// ASCII kinds (1 to 3) read one pixel ahead: the values of the next pixel
// are taken right after the current one is stored, so a raster that runs out
// shows at the first read that is needed, and nothing after the last needed
// sample is ever looked at. Raw kinds (4 to 6) convert whole rows and stop
// with "corrupted" at the first row that the data does not hold in full.
#include "tests/reference/reference.h"

#include <cstring>

#include "pxm/text.h"

namespace {

// The raster text of an ASCII picture: samples separated by blanks, carriage
// returns and line feeds, ending at a zero byte or the end of the data.
struct ReferenceText {
    const uint8_t* next;
    const uint8_t* end;
    // A PBM run of "0" and "1" characters still being taken, one per pixel.
    const uint8_t* run;
    const uint8_t* runEnd;
};

// Finds the next token; false when the text has none left.
bool NextSampleToken(ReferenceText* text, const uint8_t** start, const uint8_t** stop)
{
    const uint8_t* p = text->next;
    const uint8_t* end = text->end;
    while (p != end && (kPxmByteClass.of[*p] & kPxmSeparators) != 0)
        ++p;
    if (p == end || *p == 0) {
        text->next = p;
        return false;
    }
    *start = p;
    while (p != end && kPxmByteClass.of[*p] == 0)
        ++p;
    *stop = p;
    text->next = (p != end && *p != 0) ? p + 1 : p;
    return true;
}

bool ReadReferenceSample(ReferenceText* text, uint32_t* value)
{
    const uint8_t* start;
    const uint8_t* stop;
    if (!NextSampleToken(text, &start, &stop))
        return false;
    *value = uint32_t(ReadDecimal(start, size_t(stop - start)));
    return true;
}

// A PBM pixel: a token of "0" and "1" characters alone is a run, one pixel
// per character (as Netpbm writes plain PBM rows); any other token is one
// pixel, the lowest bit of its value.
bool ReadReferenceBit(ReferenceText* text, uint32_t* bit)
{
    if (text->run != text->runEnd) {
        *bit = *text->run++ & 1u;
        return true;
    }
    const uint8_t* start;
    const uint8_t* stop;
    if (!NextSampleToken(text, &start, &stop))
        return false;
    const uint8_t* p = start;
    while (p != stop && (*p == '0' || *p == '1'))
        ++p;
    if (p == stop) {
        *bit = *start & 1u;
        text->run = start + 1;
        text->runEnd = stop;
    } else {
        *bit = uint32_t(ReadDecimal(start, size_t(stop - start))) & 1u;
    }
    return true;
}

bool ReadReferencePixel(ReferenceText* text, PxmKind kind, uint32_t value[3])
{
    if (kind == 1)
        return ReadReferenceBit(text, &value[0]);
    if (kind == 2)
        return ReadReferenceSample(text, &value[0]);
    return ReadReferenceSample(text, &value[0]) && ReadReferenceSample(text, &value[1]) &&
           ReadReferenceSample(text, &value[2]);
}

int32_t DecodeAscii(const uint8_t* source, size_t length, uint8_t* destination,
                    PxmProgress progress, intptr_t hostValue, PxmKind kind,
                    int32_t width, int32_t height, size_t rowStride)
{
    ReferenceText text = {source, source + length, nullptr, nullptr};
    uint32_t value[3] = {0, 0, 0};
    if (!ReadReferencePixel(&text, kind, value))
        return kPxmCorrupted;
    for (int32_t r = 0; r < height; ++r) {
        uint8_t* row = destination + size_t(height - 1 - r) * rowStride;
        const bool lastRow = r == height - 1;
        for (int32_t x = 0; x < width; ++x) {
            if (kind == 1) {
                const uint8_t bit = uint8_t(value[0] << (7 - (x & 7)));
                row[x >> 3] = (x & 7) ? uint8_t(row[x >> 3] | bit) : bit;
            } else if (kind == 2) {
                row[x] = uint8_t(value[0]);
            } else {
                row[3 * size_t(x)] = uint8_t(value[2]);
                row[3 * size_t(x) + 1] = uint8_t(value[1]);
                row[3 * size_t(x) + 2] = uint8_t(value[0]);
            }
            if (lastRow && x == width - 1)
                break;
            if (!ReadReferencePixel(&text, kind, value))
                return kPxmCorrupted;
        }
        if (progress != nullptr && progress(r, height - 1, hostValue) != 0)
            return kPxmStopped;
    }
    return kPxmSuccess;
}

// Raw rows, a byte or a pixel at a time. A row is converted only when all of
// its bytes lie within the data.
int32_t DecodeRaw(const uint8_t* source, size_t length, uint8_t* destination,
                  PxmProgress progress, intptr_t hostValue, PxmKind kind,
                  int32_t width, int32_t height, size_t rowStride)
{
    const uint64_t bits = kind == 4 ? 1 : kind == 5 ? 8 : 24;
    const uint64_t rowBytes = (uint64_t(width) * bits + 7) / 8;
    // Rows that the data holds in full; rows of no bytes cost nothing.
    const uint64_t rows = rowBytes == 0 ? UINT64_MAX : uint64_t(length) / rowBytes;
    for (int32_t r = 0; r < height; ++r) {
        if (uint64_t(r) >= rows)
            return kPxmCorrupted;
        const uint8_t* in = source + size_t(uint64_t(r) * rowBytes);
        uint8_t* out = destination + size_t(height - 1 - r) * rowStride;
        if (kind == 6) {
            for (uint64_t x = 0; x < uint64_t(width); ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
        } else {
            for (uint64_t i = 0; i < rowBytes; ++i)
                out[i] = in[i];
        }
        if (progress != nullptr && progress(r, height - 1, hostValue) != 0)
            return kPxmStopped;
    }
    return kPxmSuccess;
}

} // namespace

int32_t DecodeRasterReference(const uint8_t* source, size_t length, uint8_t* destination,
                              PxmProgress progress, intptr_t hostValue, PxmKind kind,
                              int32_t width, int32_t height, int32_t rowStride)
{
    if (kind < 1 || kind > 6)
        return kPxmInternalError;
    // A negative width converts no pixel; every row is still reported.
    if (width < 0)
        width = 0;
    const size_t stride = rowStride > 0 ? size_t(rowStride) : 0;
    // Nothing of what the block held may reach the host: the padding of
    // each row and whatever an early end leaves are zeros. The plainest way
    // there is to clear the block first.
    if (height > 0 && stride > 0)
        memset(destination, 0, size_t(height) * stride);
    if (kind <= 3)
        return DecodeAscii(source, length, destination, progress, hostValue, kind,
                           width, height, stride);
    return DecodeRaw(source, length, destination, progress, hostValue, kind, width,
                     height, stride);
}
