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
    size_t pixelBytes; // of each row, before its padding
    int32_t height;
    PxmProgress progress;
    intptr_t hostValue;
};

// How far a decode that ends early got: picture rows before `row` are
// complete, and of `row` itself the first `pixels` pixels are stored.
struct RasterEnd {
    int32_t row;
    int32_t pixels;
};

inline uint8_t* RowOf(const RowSink& sink, int32_t r)
{
    return sink.destination + size_t(sink.height - 1 - r) * sink.rowStride;
}

// Picture row r is complete: its padding is cleared, so that nothing of what
// the block held before reaches the host, and the host hears of it. True
// when the host asks to stop.
inline bool FinishRow(const RowSink& sink, int32_t r)
{
    uint8_t* row = RowOf(sink, r);
    for (size_t i = sink.pixelBytes; i < sink.rowStride; ++i)
        row[i] = 0;
    return sink.progress != nullptr && sink.progress(r, sink.height - 1, sink.hostValue) != 0;
}

inline int32_t Stopped(int32_t r, RasterEnd* end)
{
    *end = {r + 1, 0};
    return kPxmStopped;
}

inline int32_t RanOut(int32_t r, int32_t pixels, RasterEnd* end)
{
    *end = {r, pixels};
    return kPxmCorrupted;
}

// Clears what a decode that ended early did not write: the rest of the row
// it was in, from its first byte that holds no stored pixel, and every row
// after it. Those lie at the start of the block, below the rows written.
void ClearUnwritten(const RowSink& sink, PxmKind kind, const RasterEnd& end)
{
    if (end.row >= sink.height || sink.rowStride == 0)
        return;
    uint8_t* row = RowOf(sink, end.row);
    const uint64_t stored = PixelBytesPerRow(kind, uint64_t(end.pixels));
    const size_t written = stored < sink.rowStride ? size_t(stored) : sink.rowStride;
    memset(row + written, 0, sink.rowStride - written);
    memset(sink.destination, 0, size_t(row - sink.destination));
}

// Plain PBM: one bit per pixel, the leftmost pixel in the top bit of a row's
// first byte; each byte is set with its first pixel and ORed with the rest,
// so the bits after a row's last pixel are 0.
int32_t DecodeBitmapText(PxmSampleText* text, const RowSink& sink, int32_t width, RasterEnd* end)
{
    uint32_t bit = 0; // the pixel read ahead
    if (!ReadBitmapPixel(text, &bit))
        return RanOut(0, 0, end);
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
                return RanOut(r, x + 1, end);
            ++x;
        }
        if (FinishRow(sink, r))
            return Stopped(r, end);
    }
    return kPxmSuccess;
}

// Plain PGM (samplesPerPixel 1) and PPM (3): a pixel is stored once all of
// its samples are there; a row is reported once the samples of the next
// row's first pixel are there too, as the one-pixel read-ahead prescribes.
int32_t DecodeSampleText(PxmSampleText* text, const RowSink& sink, PxmBlockWidth blocks,
                         uint32_t samplesPerPixel, int32_t width, RasterEnd* end)
{
    PxmSampleBatch batch;
    batch.first = batch.count = 0;
    if (!SamplesReady(text, &batch, samplesPerPixel, blocks))
        return RanOut(0, 0, end);
    for (int32_t r = 0; r < sink.height; ++r) {
        uint8_t* row = RowOf(sink, r);
        int32_t x = 0;
        while (x < width) {
            if (!SamplesReady(text, &batch, samplesPerPixel, blocks))
                return RanOut(r, x, end);
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
            return RanOut(r, width, end);
        if (FinishRow(sink, r))
            return Stopped(r, end);
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
// blue exchanged on the way. A row that the end of the window cuts is
// carried into the next window.
int32_t DecodeRawRows(PxmSource* source, PxmCursor* data, const RowSink& sink, PxmKind kind,
                      RasterEnd* end)
{
    const size_t rowBytes = sink.pixelBytes;
    const bool swap = FactsOf(kind).samplesPerPixel == 3;
    const PxmSwapPath path = swap ? PxmBestSwapPath() : kPxmSwapPortable;
    for (int32_t r = 0; r < sink.height; ++r) {
        while (size_t(data->end - data->next) < rowBytes)
            if (!MoreInput(source, data))
                return RanOut(r, 0, end);
        if (swap)
            PxmSwapRedBlue(path, data->next, RowOf(sink, r), rowBytes / 3);
        else
            CopyRow(RowOf(sink, r), data->next, rowBytes);
        data->next += rowBytes;
        if (FinishRow(sink, r))
            return Stopped(r, end);
    }
    return kPxmSuccess;
}

} // namespace

int32_t DecodeRasterFrom(PxmSource* source, PxmCursor data, PxmBlockWidth blocks,
                         uint8_t* destination, PxmProgress progress, intptr_t hostValue,
                         PxmKind kind, int32_t width, int32_t height, int32_t rowStride)
{
    if (!IsPxmKind(kind))
        return kPxmInternalError;
    // A negative width converts no pixel; every row is still reported.
    if (width < 0)
        width = 0;
    const uint64_t pixelBytes = PixelBytesPerRow(kind, uint64_t(width));
    const size_t stride = rowStride > 0 ? size_t(rowStride) : 0;
    const RowSink sink = {destination, stride, size_t(pixelBytes < stride ? pixelBytes : stride),
                          height, progress, hostValue};
    const PxmKindFacts& facts = FactsOf(kind);
    RasterEnd end = {height, 0};
    int32_t result;
    if (!facts.isAscii) {
        result = DecodeRawRows(source, &data, sink, kind, &end);
    } else {
        PxmSampleText text = SampleTextOf(source, data);
        if (facts.bitsPerPixel == 1)
            result = DecodeBitmapText(&text, sink, width, &end);
        else
            result = DecodeSampleText(&text, sink, blocks, facts.samplesPerPixel, width, &end);
    }
    if (result != kPxmSuccess)
        ClearUnwritten(sink, kind, end);
    return result;
}

int32_t DecodeRasterWith(PxmBlockWidth blocks, const uint8_t* source, size_t length,
                         uint8_t* destination, PxmProgress progress, intptr_t hostValue,
                         PxmKind kind, int32_t width, int32_t height, int32_t rowStride)
{
    return DecodeRasterFrom(nullptr, {source, source + length}, blocks, destination, progress,
                            hostValue, kind, width, height, rowStride);
}

int32_t DecodeRaster(const uint8_t* source, size_t length, uint8_t* destination,
                     PxmProgress progress, intptr_t hostValue, PxmKind kind, int32_t width,
                     int32_t height, int32_t rowStride)
{
    return DecodeRasterWith(kPxmNativeBlocks, source, length, destination, progress, hostValue,
                            kind, width, height, rowStride);
}
