// The reader of the samples of an ASCII raster; samples.h says what it
// guarantees.
#include "pxm/samples.h"

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
    v = (v * 2561) >> 8;                             // pairs: 10 * high + low
    v = ((v & 0x00FF00FF00FF00FFu) * 6553601) >> 16; // 100 * pair + pair
    return uint32_t(((v & 0x0000FFFF0000FFFFu) * 42949672960001u) >> 32);
}

// The low 8 bits of a number of 1 to 3 digits, the first in the lowest byte:
// with the digits moved to the top, byte 3 of the product with 1, 10 and 100
// is the sum of the digits times their weights, and nothing carries into it.
inline uint8_t LowByteOfShortNumber(uint32_t x, unsigned digits)
{
    const uint32_t v = (x << (8 * (4 - digits))) & 0x0F0F0F0Fu;
    return uint8_t((v * 0x00640A01u) >> 24);
}

// Where the token at the cursor ends: at the next separator or zero byte, or
// at the end of the text. When the end of the window cuts it, the window is
// refilled first, keeping the token, and the cursor moves with it.
inline const uint8_t* TokenEnd(PxmSampleText* sampleText)
{
    PxmCursor* text = &sampleText->text;
    bool more = true;
    for (;;) {
        const uint8_t* p = text->next;
        while (p != text->end && kPxmByteClass.of[*p] == 0)
            ++p;
        if (p != text->end || !more)
            return p;
        // A refill moves the window whether or not bytes came: look again.
        more = MoreInput(sampleText->source, text);
    }
}

// The token at the cursor; the separator after it is left for the next
// read to skip.
inline PxmSpan TakeToken(PxmSampleText* sampleText)
{
    const uint8_t* stop = TokenEnd(sampleText);
    const PxmSpan token = {sampleText->text.next, stop};
    sampleText->text.next = stop;
    return token;
}

// One sample, a token at a time; false when the text has no token left.
bool ReadOneSample(PxmSampleText* sampleText, uint32_t* value)
{
    if (!SkipSeparators(sampleText))
        return false;
    PxmCursor* text = &sampleText->text;
    const uint8_t* p = text->next;
    if (kPxmWordReads && text->end - p >= 8) {
        const uint64_t x = LoadWord(p);
        const unsigned digits = LeadingDigits(x);
        // A number of 1 to 7 digits that a separator or the end of the text
        // closes: the usual sample.
        if (digits - 1 < 7 && kPxmByteClass.of[p[digits]] != 0) {
            *value = DigitsValue(x, digits);
            text->next = p + digits;
            return true;
        }
    }
    const PxmSpan token = TakeToken(sampleText);
    *value = uint32_t(ReadDecimal(token.start, LengthOf(token)));
    return true;
}

#if PXM_SSE2
// Takes the samples of whole blocks while a block and 8 more bytes are left
// (the last token of a block may be read with 8 bytes), into a batch with
// room for a block's worth. Returns where it stopped: at the start of a token
// that it leaves to the one-token reader (one that crosses the block, holds
// other bytes than digits or is longer than 7 bytes), at a zero byte's
// block, or near the end.
template <typename BlockMask>
const uint8_t* TakeBlocks(const uint8_t* p, const uint8_t* end, PxmSampleBatch* batch)
{
    constexpr int kBlockBytes = int(8 * sizeof(BlockMask));
    const __m128i space = _mm_set1_epi8(' '), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128(), digitBase = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    // Kept in locals: stores through uint8_t pointers would otherwise make
    // the compiler reload the count after every sample.
    uint8_t* out = batch->value + batch->count;
    uint8_t* const full = batch->value + kPxmBatchSize - kBlockBytes / 2;
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
        const BlockMask tokens = BlockMask(~separators);
        BlockMask starts = BlockMask(tokens & ~BlockMask(tokens << 1));
        const bool onlyNumbers = BlockMask(digits | separators) == BlockMask(~BlockMask(0));
        while (starts != 0) {
            const unsigned at = LowestSetBit(starts);
            const BlockMask after = BlockMask(separators >> at);
            if (after == 0) {
                batch->count = uint32_t(out - batch->value);
                return p + at; // the token runs past the block
            }
            const unsigned length = LowestSetBit(after);
            if (!onlyNumbers) {
                const BlockMask ones = BlockMask((BlockMask(1) << length) - 1);
                if (BlockMask((digits >> at) & ones) != ones) {
                    batch->count = uint32_t(out - batch->value);
                    return p + at;
                }
            }
            if (length <= 3) {
                *out++ = LowByteOfShortNumber(LoadBytes<uint32_t>(p + at), length);
            } else if (length <= 7) {
                *out++ = uint8_t(DigitsValue(LoadWord(p + at), length));
            } else {
                batch->count = uint32_t(out - batch->value);
                return p + at;
            }
            starts = BlockMask(starts & (starts - 1));
        }
        p += kBlockBytes;
    }
    batch->count = uint32_t(out - batch->value);
    return p;
}

inline const uint8_t* TakeBlocksOf(PxmBlockWidth blocks, const uint8_t* p, const uint8_t* end,
                                   PxmSampleBatch* batch)
{
#if defined(PXM_NATIVE_BLOCKS_ONLY)
    // A build for one processor only (the plug-in) carries only its width.
    (void)blocks;
    return kPxmNativeBlocks == kPxmBlocks64 ? TakeBlocks<uint64_t>(p, end, batch)
                                            : TakeBlocks<uint32_t>(p, end, batch);
#else
    return blocks == kPxmBlocks64 ? TakeBlocks<uint64_t>(p, end, batch)
                                  : TakeBlocks<uint32_t>(p, end, batch);
#endif
}
#endif

} // namespace

void TopUpSampleBatch(PxmSampleText* sampleText, PxmSampleBatch* batch, PxmBlockWidth blocks)
{
    PxmCursor* text = &sampleText->text;
    const uint32_t left = batch->count - batch->first;
    memmove(batch->value, batch->value + batch->first, left);
    batch->first = 0;
    batch->count = left;
    while (batch->count < kPxmBatchSize) {
#if PXM_SSE2
        if (batch->count <= kPxmBatchSize - uint32_t(blocks) / 2) {
            const uint8_t* before = text->next;
            text->next = TakeBlocksOf(blocks, text->next, text->end, batch);
            if (text->next != before)
                continue;
        }
#else
        (void)blocks;
#endif
        uint32_t value;
        if (!ReadOneSample(sampleText, &value))
            return;
        batch->value[batch->count++] = uint8_t(value);
    }
}
