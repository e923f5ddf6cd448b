// Text helpers shared by the header parser and the ASCII raster decoders.
#include "pxm/text.h"

// The delimiter set that each byte belongs to; 0 for every other byte.
const uint8_t kPxmDelimiterOf[256] = {
    /* 0x00 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kPxmLineFeed, 0, 0,
    /* 0x0D */ kPxmCarriageReturn, 0, 0,
    /* 0x10 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 0x20 */ kPxmSpace,
};

bool NextToken(PxmText* text, uint32_t delimiters, PxmToken* token)
{
    const uint8_t* bytes = text->bytes;
    const int32_t end = text->length;
    int32_t i = text->position;
    if (i > end)
        i = end;
    while (i < end && bytes[i] != 0 && (kPxmDelimiterOf[bytes[i]] & delimiters))
        ++i;
    if (i == end || bytes[i] == 0) {
        text->position = i;
        return false;
    }
    const int32_t start = i;
    while (i < end && bytes[i] != 0 && !(kPxmDelimiterOf[bytes[i]] & delimiters))
        ++i;
    token->offset = start;
    token->length = i - start;
    // Step over the delimiter that ended the token; a zero byte or the end
    // ends the text, so the position stays there.
    text->position = (i < end && bytes[i] != 0) ? i + 1 : i;
    return true;
}

int32_t ReadDecimal(const uint8_t* bytes, int32_t length)
{
    int32_t i = 0;
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
