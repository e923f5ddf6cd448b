// The reader of the samples of an ASCII raster (P1, P2, P3).
//
// The raster text is decimal tokens separated by blanks, carriage returns
// and line feeds, and it ends at a zero byte or at the end of the input.
// Input that arrives in pieces is read a window at a time: a token that the
// end of the window cuts is carried into the next one before it is taken,
// so the pieces never show.
// The reader gives exactly the tokens that NextToken gives with those three
// separators, and the values that ReadDecimal gives for them, only faster:
// a short number is taken with a few operations on the eight bytes at once
// where eight bytes are left, and greymap and pixmap samples are taken in
// batches, SSE2 comparing a block of 32 or 64 bytes at a time and reading
// every token of the block from its bit masks. Every wide read is made only
// where all of its bytes lie before the end of the text; near the end, at a
// zero byte, and on any token that is not a plain short number, the reader
// falls back to one byte at a time. So it never reads past its end, and a
// batch may run ahead of what a picture needs without changing an answer:
// a sample that is missing shows only when it is asked for.
//
// PBM rows as netpbm writes them are runs of "0" and "1": a token of those
// characters alone gives one pixel per character; any other token is one
// pixel, the lowest bit of its value.
#pragma once

#include <cstring>

#include "pxm/source.h"

struct PxmSampleText {
    PxmCursor text;     // the raster text not read yet, as far as it is in
    PxmSpan run;        // the rest of a PBM run still being taken; empty when none
    PxmSource* source;  // where more text comes from; null when it is all in
};

inline PxmSampleText SampleTextOf(PxmSource* source, const PxmCursor& text)
{
    return {text, {nullptr, nullptr}, source};
}

// Samples of a greymap or pixmap taken ahead of the pixels that use them;
// the low 8 bits are all that a sample keeps.
constexpr uint32_t kPxmBatchSize = 256;

struct PxmSampleBatch {
    uint8_t value[kPxmBatchSize];
    uint32_t first; // the next sample to use
    uint32_t count; // samples in `value`
};

// Bytes of text that the SSE2 reader examines at once. A mask of 64 bits
// fits a register on 64-bit processors, one of 32 bits on 32-bit ones. The
// core's tests and fuzzers build both widths, so that every machine tests
// both; the plug-in carries only its own.
enum PxmBlockWidth : int32_t {
    kPxmBlocks32 = 32,
    kPxmBlocks64 = 64,
};

constexpr PxmBlockWidth kPxmNativeBlocks = sizeof(void*) >= 8 ? kPxmBlocks64 : kPxmBlocks32;

// Tops the batch up with the samples that follow in the text, keeping those
// not used yet; stops when the batch is full or the text ends.
void TopUpSampleBatch(PxmSampleText* text, PxmSampleBatch* batch, PxmBlockWidth blocks);

// Makes sure that `wanted` samples (at most 3) wait in the batch; false
// when the text holds fewer.
inline bool SamplesReady(PxmSampleText* text, PxmSampleBatch* batch, uint32_t wanted,
                         PxmBlockWidth blocks)
{
    if (batch->count - batch->first >= wanted)
        return true;
    TopUpSampleBatch(text, batch, blocks);
    return batch->count - batch->first >= wanted;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kPxmWordReads = false;
#else
constexpr bool kPxmWordReads = true;
#endif

// The bytes at `p` as one number, the first in the lowest byte.
template <typename Word> inline Word LoadBytes(const uint8_t* p)
{
    Word v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t LoadWord(const uint8_t* p)
{
    return LoadBytes<uint64_t>(p);
}

// Steps over separators; false when the text ends first.
inline bool SkipSeparators(PxmSampleText* sampleText)
{
    PxmCursor* text = &sampleText->text;
    for (;;) {
        const uint8_t* p = text->next;
        while (p != text->end && (kPxmByteClass.of[*p] & kPxmSeparators) != 0)
            ++p;
        text->next = p;
        if (p != text->end)
            return *p != 0;
        if (!MoreInput(sampleText->source, text))
            return false;
    }
}

// The next PBM pixel when no run is being taken; false when the text has no
// token left. Inline, as the bitmap decoder calls it for every pixel that
// does not come eight at a time.
inline bool ReadBitmapToken(PxmSampleText* sampleText, uint32_t* bit)
{
    if (!SkipSeparators(sampleText))
        return false;
    PxmCursor* text = &sampleText->text;
    bool more = true;
    for (;;) {
        const uint8_t* const start = text->next;
        const uint8_t* const end = text->end;
        const uint8_t* p = start;
        // One pass finds where the "0"/"1" characters stop, eight at a time.
        if (kPxmWordReads)
            while (end - p >= 8 && (LoadWord(p) & 0xFEFEFEFEFEFEFEFEu) == 0x3030303030303030u)
                p += 8;
        while (p != end && (*p == '0' || *p == '1'))
            ++p;
        if (p == end && more) {
            // The end of the window cuts the token: look again with more.
            more = MoreInput(sampleText->source, text);
            continue;
        }
        if (p == end || kPxmByteClass.of[*p] != 0) {
            *bit = *start & 1u;
            sampleText->run = {start + 1, p};
            text->next = p;
            return true;
        }
        while (p != end && kPxmByteClass.of[*p] == 0)
            ++p;
        if (p == end && more) {
            more = MoreInput(sampleText->source, text);
            continue;
        }
        text->next = p;
        *bit = uint32_t(ReadDecimal(start, size_t(p - start))) & 1u;
        return true;
    }
}

// The next PBM pixel, 0 or 1; false when the text has none left.
inline bool ReadBitmapPixel(PxmSampleText* text, uint32_t* bit)
{
    if (text->run.start != text->run.stop) {
        *bit = *text->run.start++ & 1u;
        return true;
    }
    return ReadBitmapToken(text, bit);
}

// Eight run characters, the first in the lowest byte, as the bits of one DIB
// byte, the first in the highest bit.
inline uint8_t PackRun(uint64_t chars)
{
    return uint8_t(((chars & 0x0101010101010101u) * 0x8040201008040201u) >> 56);
}

// Bytes 1, 3, 5 and 7 of a word as bytes 0 to 3.
inline uint64_t GatherOddBytes(uint64_t word)
{
    uint64_t v = (word >> 8) & 0x00FF00FF00FF00FFu;
    v = (v | (v >> 8)) & 0x0000FFFF0000FFFFu;
    return (v | (v >> 16)) & 0xFFFFFFFFu;
}

// The sixteen bytes at `p` as eight one-character tokens "0" or "1", each
// after one blank, packed into one byte; false when they have another shape.
inline bool PackSpacedBits(const uint8_t* p, uint8_t* bits)
{
    const uint64_t a = LoadWord(p), b = LoadWord(p + 8);
    const uint64_t shape = 0x3020302030203020u, mask = 0xFEFFFEFFFEFFFEFFu;
    if (((a & mask) ^ shape) | ((b & mask) ^ shape))
        return false;
    *bits = PackRun(GatherOddBytes(a) | (GatherOddBytes(b) << 32));
    return true;
}

// The PBM pixels after the one held in `bit`, eight at a time, where the
// text shows them and the pixel after them at a glance: a run with eight
// characters left, or eight one-character tokens each after a blank and
// followed by a separator. Sets `eight` to the held pixel and the next
// seven (the held one in the top bit) and `bit` to the eighth, which is
// thereby read ahead, and returns true; returns false, having read
// nothing, where the text has another shape. Reading that pixel ahead
// changes nothing: it is done only where its character is there.
inline bool TakeEightBitmapPixels(PxmSampleText* text, uint32_t* bit, uint8_t* eight)
{
    if (!kPxmWordReads)
        return false;
    if (text->run.stop - text->run.start >= 8) {
        const uint64_t chars = LoadWord(text->run.start);
        *eight = uint8_t((*bit << 7) | (PackRun(chars) >> 1));
        *bit = uint32_t(chars >> 56) & 1u;
        text->run.start += 8;
        return true;
    }
    uint8_t spaced;
    const uint8_t* p = text->text.next;
    if (text->run.start == text->run.stop && text->text.end - p >= 17 &&
        kPxmByteClass.of[p[16]] != 0 && PackSpacedBits(p, &spaced)) {
        *eight = uint8_t((*bit << 7) | (spaced >> 1));
        *bit = spaced & 1u;
        text->text.next = p + 16;
        return true;
    }
    return false;
}
