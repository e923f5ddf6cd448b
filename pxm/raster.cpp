// Raster decoders: the pixel data of the six kinds into bottom-up DIB rows,
// one decoder per group of kinds, each a loop over the picture's rows from
// the top. Picture row r goes to DIB row height - 1 - r, and the progress
// function hears of each row once it is complete.
//
// ASCII kinds (1 to 3) read one pixel ahead: the values of the next pixel
// are taken right after the current one is stored, so a raster that runs out
// shows at the first read that is needed, and nothing after the last needed
// sample is ever looked at. Raw kinds (4 to 6) copy whole rows and stop with
// "corrupted" at the first row that the data does not hold in full.
#include <cstring>

#include "pxm/kinds.h"
#include "pxm/raster.h"
#include "pxm/swap.h"

namespace {

// Where the rows go and who hears of them.
struct RowSink {
    uint8_t* destination;
    size_t rowStride;
    int32_t height;
    PxmProgress progress;
    intptr_t hostValue;
};

inline uint8_t* RowOf(const RowSink& sink, int32_t r)
{
    return sink.destination + size_t(sink.height - 1 - r) * sink.rowStride;
}

// Tells the host that picture row r is complete; true when it asks to stop.
inline bool StopAfterRow(const RowSink& sink, int32_t r)
{
    return sink.progress != nullptr && sink.progress(r, sink.height - 1, sink.hostValue) != 0;
}

// Plain PBM: one bit per pixel, the leftmost pixel in the top bit of a row's
// first byte; each byte is set with its first pixel and ORed with the rest,
// so the bits after a row's last pixel are 0.
int32_t DecodeBitmapText(PxmSampleText* text, const RowSink& sink, int32_t width)
{
    uint32_t bit = 0; // the pixel read ahead
    if (!ReadBitmapPixel(text, &bit))
        return kPxmCorrupted;
    for (int32_t r = 0; r < sink.height; ++r) {
        uint8_t* row = RowOf(sink, r);
        const bool lastRow = r == sink.height - 1;
        int32_t x = 0;
        while (x < width) {
            uint8_t eight;
            if (width - x >= 8 && TakeEightBitmapPixels(text, &bit, &eight)) {
                // The byte holding pixel x keeps the pixels before it; the
                // byte after starts with ours, so it is set, not ORed.
                const int shift = x & 7;
                uint8_t* byte = row + (x >> 3);
                if (shift == 0) {
                    byte[0] = eight;
                } else {
                    byte[0] = uint8_t(byte[0] | (eight >> shift));
                    byte[1] = uint8_t(eight << (8 - shift));
                }
                x += 8;
                continue;
            }
            const uint8_t value = uint8_t(bit << (7 - (x & 7)));
            row[x >> 3] = (x & 7) ? uint8_t(row[x >> 3] | value) : value;
            if (lastRow && x == width - 1)
                break;
            if (!ReadBitmapPixel(text, &bit))
                return kPxmCorrupted;
            ++x;
        }
        if (StopAfterRow(sink, r))
            return kPxmStopped;
    }
    return kPxmSuccess;
}

// Plain PGM (samplesPerPixel 1) and PPM (3): a pixel is stored once all of
// its samples are there; a row is reported once the samples of the next
// row's first pixel are there too, as the one-pixel read-ahead prescribes.
int32_t DecodeSampleText(PxmSampleText* text, const RowSink& sink, PxmBlockWidth blocks,
                         uint32_t samplesPerPixel, int32_t width)
{
    PxmSampleBatch batch;
    batch.first = batch.count = 0;
    if (!SamplesReady(text, &batch, samplesPerPixel, blocks))
        return kPxmCorrupted;
    for (int32_t r = 0; r < sink.height; ++r) {
        uint8_t* row = RowOf(sink, r);
        int32_t x = 0;
        while (x < width) {
            if (!SamplesReady(text, &batch, samplesPerPixel, blocks))
                return kPxmCorrupted;
            const uint32_t ready = (batch.count - batch.first) / samplesPerPixel;
            const int32_t n = ready < uint32_t(width - x) ? int32_t(ready) : width - x;
            const uint8_t* sample = batch.value + batch.first;
            if (samplesPerPixel == 1) {
                memcpy(row + x, sample, size_t(n));
            } else {
                uint8_t* pixel = row + 3 * size_t(x);
                for (int32_t i = 0; i < n; ++i, sample += 3, pixel += 3) {
                    pixel[0] = sample[2];
                    pixel[1] = sample[1];
                    pixel[2] = sample[0];
                }
            }
            batch.first += uint32_t(n) * samplesPerPixel;
            x += n;
        }
        if (r != sink.height - 1 && width > 0 && !SamplesReady(text, &batch, samplesPerPixel, blocks))
            return kPxmCorrupted;
        if (StopAfterRow(sink, r))
            return kPxmStopped;
    }
    return kPxmSuccess;
}

// One row into the pixel block. The string move instruction fills the fresh
// pages of a new block faster than memcpy does row by row, close to what one
// large copy costs.
inline void CopyRow(uint8_t* destination, const uint8_t* source, size_t bytes)
{
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
    __asm__ volatile("rep movsb" : "+D"(destination), "+S"(source), "+c"(bytes) : : "memory");
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    __movsb(destination, source, bytes);
#else
    if (bytes != 0)
        memcpy(destination, source, bytes);
#endif
}

// Raw PBM and PGM rows are copied as they are; raw PPM rows have red and
// blue exchanged on the way.
int32_t DecodeRawRows(PxmCursor* data, const RowSink& sink, PxmKind kind, int32_t width)
{
    const uint64_t rowBytes64 = PixelBytesPerRow(kind, uint64_t(width));
    // Rows longer than the data can never be complete.
    if (rowBytes64 > uint64_t(data->end - data->next) && sink.height > 0)
        return kPxmCorrupted;
    const size_t rowBytes = size_t(rowBytes64);
    const bool swap = FactsOf(kind).samplesPerPixel == 3;
    const PxmSwapPath path = swap ? PxmBestSwapPath() : kPxmSwapPortable;
    for (int32_t r = 0; r < sink.height; ++r) {
        if (size_t(data->end - data->next) < rowBytes)
            return kPxmCorrupted;
        if (swap)
            PxmSwapRedBlue(path, data->next, RowOf(sink, r), rowBytes / 3);
        else
            CopyRow(RowOf(sink, r), data->next, rowBytes);
        data->next += rowBytes;
        if (StopAfterRow(sink, r))
            return kPxmStopped;
    }
    return kPxmSuccess;
}

} // namespace

int32_t DecodeRasterWith(PxmBlockWidth blocks, const uint8_t* source, size_t length,
                         uint8_t* destination, PxmProgress progress, intptr_t hostValue,
                         PxmKind kind, int32_t width, int32_t height, int32_t rowStride)
{
    if (!IsPxmKind(kind))
        return kPxmInternalError;
    // A negative width converts no pixel; every row is still reported.
    if (width < 0)
        width = 0;
    const RowSink sink = {destination, rowStride > 0 ? size_t(rowStride) : 0, height, progress,
                          hostValue};
    const PxmKindFacts& facts = FactsOf(kind);
    if (!facts.isAscii) {
        PxmCursor data = {source, source + length};
        return DecodeRawRows(&data, sink, kind, width);
    }
    PxmSampleText text = SampleTextOf(source, length);
    if (facts.bitsPerPixel == 1)
        return DecodeBitmapText(&text, sink, width);
    return DecodeSampleText(&text, sink, blocks, facts.samplesPerPixel, width);
}

int32_t DecodeRaster(const uint8_t* source, size_t length, uint8_t* destination,
                     PxmProgress progress, intptr_t hostValue, PxmKind kind, int32_t width,
                     int32_t height, int32_t rowStride)
{
    return DecodeRasterWith(kPxmNativeBlocks, source, length, destination, progress, hostValue,
                            kind, width, height, rowStride);
}
