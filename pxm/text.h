// Byte classes shared inside the codec core.
#pragma once

#include "pxm/pxm.h"

extern const uint8_t kPxmDelimiterOf[256];

inline bool IsPxmDigit(uint8_t c)
{
    return uint8_t(c - '0') < 10;
}

// What ReadDecimal skips before a number: 0x09 to 0x0D and the blank.
inline bool IsPxmBlank(uint8_t c)
{
    return c == ' ' || uint8_t(c - 0x09) < 5;
}
