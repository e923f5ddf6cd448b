// Raster decoders: the pixel data of the six kinds into bottom-up DIB rows.
//
// ASCII kinds (1 to 3) read one pixel ahead: the values of the next pixel
// are taken right after the current one is stored, so a raster that runs out
// shows at the first read that is needed, and nothing after the last needed
// sample is ever looked at. Raw kinds (4 to 6) copy whole rows and stop with
// "corrupted" at the first row that the data does not hold in full.
//
// The ASCII readers take a whole short number with a few word operations
// where eight bytes are left, and fall back to one byte at a time near the
// end of the text and on unusual tokens; reference.h has the plain decoder
// that they are tested against.
#include <cstring>

#include "pxm/swap.h"
#include "pxm/text.h"

#if defined(_MSC_VER)
#include <intrin.h>
#endif

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define PXM_SSE2 1
#include <emmintrin.h>
#else
#define PXM_SSE2 0
#endif

namespace {

// Samples taken from the text at a time.
constexpr uint32_t kBatchSize = 256;

// Byte classes of the raster text.
enum : uint8_t { kTokenByte = 0, kSeparatorByte = 1, kEndByte = 2 };

struct ClassTable {
    uint8_t of[256];
};

constexpr ClassTable MakeClassTable()
{
    ClassTable t = {};
    t.of[0] = kEndByte;
    t.of[uint8_t(' ')] = kSeparatorByte;
    t.of[uint8_t('\r')] = kSeparatorByte;
    t.of[uint8_t('\n')] = kSeparatorByte;
    return t;
}

constexpr ClassTable kRasterClass = MakeClassTable();

// The raster text of an ASCII picture: samples separated by blanks, carriage
// returns and line feeds, ending at a zero byte or the end of the data.
struct SampleText {
    const uint8_t* next;
    const uint8_t* end;
    // A PBM run of "0" and "1" characters still being taken, one per pixel.
    const uint8_t* run;
    const uint8_t* runEnd;
};

inline uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

inline unsigned LowestSetBit(uint64_t v)
{
#if defined(_MSC_VER)
    unsigned long i;
#if defined(_M_X64)
    _BitScanForward64(&i, v);
#else
    if (!_BitScanForward(&i, uint32_t(v))) {
        _BitScanForward(&i, uint32_t(v >> 32));
        i += 32;
    }
#endif
    return unsigned(i);
#else
    return unsigned(__builtin_ctzll(v));
#endif
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kWordReads = false;
#else
constexpr bool kWordReads = true;
#endif

// How many of the eight bytes (first byte lowest) are decimal digits before
// the first one that is not; 8 when all are.
inline unsigned LeadingDigits(uint64_t x)
{
    const uint64_t highNibble = (x & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u;
    const uint64_t lowTooBig = ((x & 0x0F0F0F0F0F0F0F0Fu) + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u;
    const uint64_t other = highNibble | lowTooBig; // nonzero bytes are no digits
    const uint64_t flags =
        (((other & 0x7F7F7F7F7F7F7F7Fu) + 0x7F7F7F7F7F7F7F7Fu) | other) & 0x8080808080808080u;
    return flags == 0 ? 8 : LowestSetBit(flags) >> 3;
}

// The value of the first `digits` bytes (1 to 7), all decimal digits.
inline uint32_t DigitsValue(uint64_t x, unsigned digits)
{
    // Move the digits to the top; the bytes below become leading zeros.
    uint64_t v = (x << (8 * (8 - digits))) & 0x0F0F0F0F0F0F0F0Fu;
    v = (v * 2561) >> 8;                                    // pairs: 10 * high + low
    v = ((v & 0x00FF00FF00FF00FFu) * 6553601) >> 16;        // 100 * pair + pair
    return uint32_t(((v & 0x0000FFFF0000FFFFu) * 42949672960001u) >> 32);
}

inline uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// The low 8 bits of a number of 1 to 3 digits, the first in the lowest byte:
// with the digits moved to the top, byte 3 of the product with 1, 10 and 100
// is the sum of the digits times their weights, and nothing carries into it.
inline uint8_t LowByteOfShortNumber(uint32_t x, unsigned digits)
{
    const uint32_t v = (x << (8 * (4 - digits))) & 0x0F0F0F0Fu;
    return uint8_t((v * 0x00640A01u) >> 24);
}

// Steps over separators; false when the text ends first.
inline bool SkipSeparators(SampleText* text)
{
    const uint8_t* p = text->next;
    const uint8_t* end = text->end;
    while (p != end && kRasterClass.of[*p] == kSeparatorByte)
        ++p;
    text->next = p;
    return p != end && *p != 0;
}

// Takes the token at text->next up to the next separator or the end.
inline void TakeToken(SampleText* text, const uint8_t** start, const uint8_t** stop)
{
    const uint8_t* p = text->next;
    const uint8_t* end = text->end;
    *start = p;
    while (p != end && kRasterClass.of[*p] == kTokenByte)
        ++p;
    *stop = p;
    text->next = p; // the separator after it is skipped by the next read
}

// One sample, a token at a time; false when the text has no token left.
inline bool ReadOneSample(SampleText* text, uint32_t* value)
{
    if (!SkipSeparators(text))
        return false;
    const uint8_t* p = text->next;
    if (kWordReads && text->end - p >= 8) {
        const uint64_t x = Load64(p);
        const unsigned digits = LeadingDigits(x);
        // A number of 1 to 7 digits that a separator or the end of the text
        // closes: the usual sample.
        if (digits - 1 < 7 && kRasterClass.of[p[digits]] != kTokenByte) {
            *value = DigitsValue(x, digits);
            text->next = p + digits;
            return true;
        }
    }
    const uint8_t* start;
    const uint8_t* stop;
    TakeToken(text, &start, &stop);
    *value = uint32_t(ReadDecimal(start, int32_t(stop - start)));
    return true;
}

// A PBM pixel: a token of "0" and "1" characters alone is a run, one pixel
// per character (as Netpbm writes plain PBM rows); any other token is one
// pixel, the lowest bit of its value.
inline bool ReadBit(SampleText* text, uint32_t* bit)
{
    if (text->run != text->runEnd) {
        *bit = *text->run++ & 1u;
        return true;
    }
    if (!SkipSeparators(text))
        return false;
    const uint8_t* start = text->next;
    const uint8_t* end = text->end;
    const uint8_t* p = start;
    // One pass finds where the "0"/"1" characters stop, eight at a time.
    if (kWordReads)
        while (end - p >= 8 && (Load64(p) & 0xFEFEFEFEFEFEFEFEu) == 0x3030303030303030u)
            p += 8;
    while (p != end && (*p == '0' || *p == '1'))
        ++p;
    if (p != start && (p == end || kRasterClass.of[*p] != kTokenByte)) {
        *bit = *start & 1u;
        text->run = start + 1;
        text->runEnd = p;
        text->next = p;
        return true;
    }
    while (p != end && kRasterClass.of[*p] == kTokenByte)
        ++p;
    text->next = p;
    *bit = uint32_t(ReadDecimal(start, int32_t(p - start))) & 1u;
    return true;
}

// Eight run characters, first one in the lowest byte, as the bits of one
// DIB byte, first one in the highest bit.
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

// The sixteen bytes at `p` as eight single-character tokens "0" or "1",
// each after one blank, packed into one byte; false when they have another
// shape.
inline bool PackSpacedBits(const uint8_t* p, uint8_t* bits)
{
    const uint64_t a = Load64(p), b = Load64(p + 8);
    const uint64_t shape = 0x3020302030203020u, mask = 0xFEFFFEFFFEFFFEFFu;
    if (((a & mask) ^ shape) | ((b & mask) ^ shape))
        return false;
    // Gather bytes 1, 3, 5, 7 of each word into one run of eight.
    *bits = PackRun(GatherOddBytes(a) | (GatherOddBytes(b) << 32));
    return true;
}

int32_t DecodeBitmapText(SampleText* text, uint8_t* destination, PxmProgress progress,
                         intptr_t hostValue, int32_t width, int32_t height, size_t rowStride)
{
    uint32_t bit = 0;
    if (!ReadBit(text, &bit))
        return kPxmCorrupted;
    for (int32_t r = 0; r < height; ++r) {
        uint8_t* row = destination + size_t(height - 1 - r) * rowStride;
        const bool lastRow = r == height - 1;
        int32_t x = 0;
        while (x < width) {
            // Eight pixels at a time while they and the one read ahead are
            // known to be there. Reading ahead a pixel that the one-pixel
            // path would not read changes nothing: it is only ever done when
            // its character is present.
            if (width - x >= 8 && kWordReads) {
                uint8_t eight = 0; // pixels x to x + 7, the first in the top bit
                bool taken = false;
                if (text->runEnd - text->run >= 8) {
                    const uint64_t chars = Load64(text->run);
                    eight = uint8_t((bit << 7) | (PackRun(chars) >> 1));
                    bit = uint32_t(chars >> 56) & 1u;
                    text->run += 8;
                    taken = true;
                } else if (text->run == text->runEnd && text->end - text->next >= 17 &&
                           kRasterClass.of[text->next[16]] != kTokenByte &&
                           PackSpacedBits(text->next, &eight)) {
                    // The next eight pixels' tokens: the last of them is read ahead.
                    const uint32_t next = eight & 1u;
                    eight = uint8_t((bit << 7) | (eight >> 1));
                    bit = next;
                    text->next += 16;
                    taken = true;
                }
                if (taken) {
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
            }
            const uint8_t value = uint8_t(bit << (7 - (x & 7)));
            row[x >> 3] = (x & 7) ? uint8_t(row[x >> 3] | value) : value;
            if (lastRow && x == width - 1)
                break;
            if (!ReadBit(text, &bit))
                return kPxmCorrupted;
            ++x;
        }
        if (progress != nullptr && progress(r, height - 1, hostValue) != 0)
            return kPxmStopped;
    }
    return kPxmSuccess;
}

// Samples of a greymap or pixmap, taken from the text in batches: a batch
// may reach further than the picture needs, which changes nothing, since
// only a sample that is needed and missing is reported, at the pixel that
// needs it.
struct SampleBatch {
    uint8_t value[kBatchSize]; // the low 8 bits are all that a sample keeps
    uint32_t first;            // the next sample to use
    uint32_t count;
};

inline void Append(SampleBatch* batch, uint32_t value)
{
    batch->value[batch->count++] = uint8_t(value);
}

#if PXM_SSE2
// Blocks of the text examined at once: 64 bytes where a mask of 64 bits fits
// a register, 32 on 32-bit processors.
#if defined(__x86_64__) || defined(_M_X64)
typedef uint64_t BlockMask;
#else
typedef uint32_t BlockMask;

inline unsigned LowestSetBit(uint32_t v)
{
#if defined(_MSC_VER)
    unsigned long i;
    _BitScanForward(&i, v);
    return unsigned(i);
#else
    return unsigned(__builtin_ctz(v));
#endif
}
#endif
constexpr int kBlockBytes = int(8 * sizeof(BlockMask));

// Takes the samples of whole blocks while a block and 8 more bytes are left
// (the last token of a block may be read with 8 bytes), into a batch with
// room for a block's worth. Returns where it stopped: at the start of a token
// that it leaves to the one-token reader (one that crosses the block, holds
// other bytes than digits or is longer than 7 bytes), at a zero byte's
// block, or near the end.
const uint8_t* TakeBlocks(const uint8_t* p, const uint8_t* end, SampleBatch* batch)
{
    const __m128i space = _mm_set1_epi8(' '), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128(), digitBase = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    // Kept in locals: stores through uint8_t pointers would otherwise make
    // the compiler reload the count after every sample.
    uint8_t* out = batch->value + batch->count;
    uint8_t* const full = batch->value + kBatchSize - kBlockBytes / 2;
    while (end - p >= kBlockBytes + 8 && out <= full) {
        BlockMask separators = 0, zeros = 0, digits = 0;
        for (int part = 0; part < kBlockBytes / 16; ++part) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
            const __m128i isSeparator =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(v, cr)), _mm_cmpeq_epi8(v, lf));
            const __m128i d = _mm_sub_epi8(v, digitBase);
            const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d);
            separators |= BlockMask(uint32_t(_mm_movemask_epi8(isSeparator))) << (16 * part);
            zeros |= BlockMask(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)))) << (16 * part);
            digits |= BlockMask(uint32_t(_mm_movemask_epi8(isDigit))) << (16 * part);
        }
        if (zeros != 0)
            break;
        // p always follows a separator or a whole token, so a token byte at
        // bit 0 starts a token.
        const BlockMask tokens = ~separators;
        BlockMask starts = tokens & ~(tokens << 1);
        const bool onlyNumbers = (digits | separators) == BlockMask(~BlockMask(0));
        while (starts != 0) {
            const unsigned at = LowestSetBit(starts);
            const BlockMask after = separators >> at;
            if (after == 0) {
                batch->count = uint32_t(out - batch->value);
                return p + at; // the token runs past the block
            }
            const unsigned length = LowestSetBit(after);
            if (!onlyNumbers) {
                const BlockMask ones = (BlockMask(1) << length) - 1;
                if (((digits >> at) & ones) != ones) {
                    batch->count = uint32_t(out - batch->value);
                    return p + at;
                }
            }
            if (length <= 3) {
                *out++ = LowByteOfShortNumber(Load32(p + at), length);
            } else if (length <= 7) {
                *out++ = uint8_t(DigitsValue(Load64(p + at), length));
            } else {
                batch->count = uint32_t(out - batch->value);
                return p + at;
            }
            starts &= starts - 1;
        }
        p += kBlockBytes;
    }
    batch->count = uint32_t(out - batch->value);
    return p;
}
#endif

// Tops the batch up with the samples that follow in the text, keeping those
// not yet used; stops when the batch is full or the text ends.
void TopUp(SampleText* text, SampleBatch* batch)
{
    const uint32_t left = batch->count - batch->first;
    memmove(batch->value, batch->value + batch->first, left);
    batch->first = 0;
    batch->count = left;
    while (batch->count < kBatchSize) {
#if PXM_SSE2
        if (batch->count <= kBatchSize - kBlockBytes / 2) {
            const uint8_t* before = text->next;
            text->next = TakeBlocks(text->next, text->end, batch);
            if (text->next != before)
                continue;
        }
#endif
        uint32_t value;
        if (!ReadOneSample(text, &value))
            return;
        Append(batch, value);
    }
}

// Makes sure that `wanted` samples are ready; false when the text holds fewer.
inline bool Ready(SampleText* text, SampleBatch* batch, uint32_t wanted)
{
    if (batch->count - batch->first >= wanted)
        return true;
    TopUp(text, batch);
    return batch->count - batch->first >= wanted;
}

// Greymaps (samplesPerPixel 1) and pixmaps (3). A pixel is stored once all
// of its samples are there; a row is reported once the samples of the next
// row's first pixel are there too, as the one-pixel read-ahead prescribes.
int32_t DecodeSampleText(SampleText* text, uint8_t* destination, PxmProgress progress,
                         intptr_t hostValue, uint32_t samplesPerPixel, int32_t width,
                         int32_t height, size_t rowStride)
{
    SampleBatch batch;
    batch.first = batch.count = 0;
    if (!Ready(text, &batch, samplesPerPixel))
        return kPxmCorrupted;
    for (int32_t r = 0; r < height; ++r) {
        uint8_t* row = destination + size_t(height - 1 - r) * rowStride;
        int32_t x = 0;
        while (x < width) {
            if (!Ready(text, &batch, samplesPerPixel))
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
        if (r != height - 1 && width > 0 && !Ready(text, &batch, samplesPerPixel))
            return kPxmCorrupted;
        if (progress != nullptr && progress(r, height - 1, hostValue) != 0)
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

int32_t DecodeRaw(const uint8_t* source, size_t length, uint8_t* destination,
                  PxmProgress progress, intptr_t hostValue, PxmKind kind,
                  int32_t width, int32_t height, size_t rowStride)
{
    const uint64_t pixels = uint64_t(width);
    const uint64_t rowBytes64 = kind == 4 ? (pixels + 7) / 8 : kind == 5 ? pixels : 3 * pixels;
    // Rows longer than the data can never be complete.
    if (rowBytes64 > length && height > 0)
        return kPxmCorrupted;
    const size_t rowBytes = size_t(rowBytes64);
    const PxmSwapPath swap = kind == 6 ? PxmBestSwapPath() : kPxmSwapPortable;
    size_t left = length;
    for (int32_t r = 0; r < height; ++r) {
        if (left < rowBytes)
            return kPxmCorrupted;
        uint8_t* row = destination + size_t(height - 1 - r) * rowStride;
        if (kind == 6)
            PxmSwapRedBlue(swap, source, row, rowBytes / 3);
        else
            CopyRow(row, source, rowBytes);
        source += rowBytes;
        left -= rowBytes;
        if (progress != nullptr && progress(r, height - 1, hostValue) != 0)
            return kPxmStopped;
    }
    return kPxmSuccess;
}

} // namespace

int32_t DecodeRaster(const uint8_t* source, size_t length, uint8_t* destination,
                     PxmProgress progress, intptr_t hostValue, PxmKind kind,
                     int32_t width, int32_t height, int32_t rowStride)
{
    if (kind < 1 || kind > 6)
        return kPxmInternalError;
    // A negative width converts no pixel; every row is still reported.
    if (width < 0)
        width = 0;
    const size_t stride = rowStride > 0 ? size_t(rowStride) : 0;
    SampleText text = {source, source + length, nullptr, nullptr};
    switch (kind) {
    case 1:
        return DecodeBitmapText(&text, destination, progress, hostValue, width, height, stride);
    case 2:
        return DecodeSampleText(&text, destination, progress, hostValue, 1, width, height, stride);
    case 3:
        return DecodeSampleText(&text, destination, progress, hostValue, 3, width, height, stride);
    default:
        return DecodeRaw(source, length, destination, progress, hostValue, kind, width, height, stride);
    }
}
