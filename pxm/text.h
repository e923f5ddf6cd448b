// Inside the codec core: the cursor that every reader of the input walks,
// the classes of the bytes of the format's text, and the two text helpers
// under the header parser and the ASCII raster readers.
#pragma once

#include "pxm/pxm.h"

// A run of input being read. `next` is the first byte not yet taken, `end`
// one past the last byte that may be read: next <= end always, and nothing
// at or after `end` is ever looked at. Positions are pointers, so an input
// may be as long as the address space allows.
struct PxmCursor {
    const uint8_t* next;
    const uint8_t* end;
};

// The header's reads go no further into the input than this, so that
// dataOffset, which counts from its start, fits in its 32 bits.
constexpr size_t kPxmMaxHeaderText = size_t(INT32_MAX) - 1;

// A token: the bytes from `start` up to, not including, `stop`.
struct PxmSpan {
    const uint8_t* start;
    const uint8_t* stop;
};

inline size_t LengthOf(const PxmSpan& span)
{
    return size_t(span.stop - span.start);
}

// The classes of the bytes, as bits: the three delimiters of the format's
// reads, and the zero byte, which ends a text wherever it stands. Every
// other byte has no class: it belongs to a token.
enum : uint8_t {
    kPxmSpace = 1,
    kPxmCarriageReturn = 2,
    kPxmLineFeed = 4,
    kPxmEndOfText = 8,
};

// Between the samples of an ASCII raster.
constexpr uint8_t kPxmSeparators = kPxmSpace | kPxmCarriageReturn | kPxmLineFeed;

struct PxmByteClasses {
    uint8_t of[256];
};

constexpr PxmByteClasses MakeByteClasses()
{
    PxmByteClasses classes = {};
    classes.of[0] = kPxmEndOfText;
    classes.of[uint8_t(' ')] = kPxmSpace;
    classes.of[uint8_t('\r')] = kPxmCarriageReturn;
    classes.of[uint8_t('\n')] = kPxmLineFeed;
    return classes;
}

inline constexpr PxmByteClasses kPxmByteClass = MakeByteClasses();

inline bool IsPxmDigit(uint8_t c)
{
    return uint8_t(c - '0') < 10;
}

// What ReadDecimal skips before a number: 0x09 to 0x0D and the blank.
inline bool IsPxmBlank(uint8_t c)
{
    return c == ' ' || uint8_t(c - 0x09) < 5;
}

// Skips the bytes of the `delimiters` classes at the cursor, then takes the
// run of bytes up to the next such byte, a zero byte or the end as the
// token. Afterwards the cursor is just after the delimiter that ended the
// token; a zero byte or the end ends the text, so the cursor stays there.
// Returns false, with the cursor on the zero byte or at the end, when no
// token is left; `token` is then not written.
bool NextToken(PxmCursor* text, uint8_t delimiters, PxmSpan* token);

// The decimal integer at the start of `length` bytes: skips 0x09 to 0x0D and
// blanks, takes one optional sign, then digits; wraps in 32 bits; 0 when
// there is no digit.
int32_t ReadDecimal(const uint8_t* bytes, size_t length);
