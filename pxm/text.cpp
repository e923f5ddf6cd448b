// The tokenizer and the decimal reader shared by the header parser and the
// ASCII raster readers.
#include "pxm/text.h"

bool NextToken(PxmCursor* text, uint8_t delimiters, PxmSpan* token)
{
    const uint8_t* p = text->next;
    const uint8_t* const end = text->end;
    while (p != end && (kPxmByteClass.of[*p] & delimiters) != 0)
        ++p;
    if (p == end || *p == 0) {
        text->next = p;
        return false;
    }
    const uint8_t* const start = p;
    const uint8_t stops = delimiters | kPxmEndOfText;
    while (p != end && (kPxmByteClass.of[*p] & stops) == 0)
        ++p;
    token->start = start;
    token->stop = p;
    // Step over the delimiter that ended the token; a zero byte or the end
    // ends the text, so the cursor stays there.
    text->next = (p != end && *p != 0) ? p + 1 : p;
    return true;
}

int32_t ReadDecimal(const uint8_t* bytes, size_t length)
{
    size_t i = 0;
    while (i < length && IsPxmBlank(bytes[i]))
        ++i;
    bool negative = false;
    if (i < length && (bytes[i] == '+' || bytes[i] == '-')) {
        negative = bytes[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps in 32 bits as the format's readers always
    // have, without the undefined behaviour of a signed overflow.
    uint32_t value = 0;
    while (i < length && IsPxmDigit(bytes[i])) {
        value = value * 10u + uint32_t(bytes[i] - '0');
        ++i;
    }
    return int32_t(negative ? 0u - value : value);
}
