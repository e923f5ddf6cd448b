// The header read the traditional way, step by step: a tokenizer that cuts
// its text in place (the delimiter after each token becomes a zero byte) and
// keeps its position between calls; the magic line, the comment lines and
// the size line read line by line; the width and the height from the size
// line; and the maxval read restarting at the counted offset, where it may
// meet the zero bytes that the reads before it left. ParsePxmHeader writes
// nothing, yet must give the same answer for every input.
//
// Where a read that the header needs finds nothing, the answer is kind 0
// with dataOffset 0, and width and height are set only once both were read;
// dataOffset is held at the end of the bytes.
#include "tests/reference/header_reference.h"

#include <cstring>
#include <vector>

#include "pxm/text.h"

namespace {

struct Tokenizer {
    uint8_t* position;
};

bool IsOneOf(uint8_t c, const char* delimiters)
{
    for (const char* d = delimiters; *d != 0; ++d)
        if (c == uint8_t(*d))
            return true;
    return false;
}

// The next token from `start`, or from where the last call stopped when
// `start` is null; the delimiter after it becomes a zero byte.
uint8_t* Cut(Tokenizer* t, uint8_t* start, const char* delimiters)
{
    uint8_t* p = start != nullptr ? start : t->position;
    while (*p != 0 && IsOneOf(*p, delimiters))
        ++p;
    if (*p == 0) {
        t->position = p;
        return nullptr;
    }
    uint8_t* token = p;
    while (*p != 0 && !IsOneOf(*p, delimiters))
        ++p;
    if (*p != 0) {
        *p = 0;
        t->position = p + 1;
    } else {
        t->position = p;
    }
    return token;
}

int32_t ValueOf(const uint8_t* token)
{
    return ReadDecimal(token, strlen(reinterpret_cast<const char*>(token)));
}

ReferenceHeader NotFound(ReferenceHeader header)
{
    header.kind = 0;
    header.dataOffset = 0;
    return header;
}

} // namespace

ReferenceHeader ReadReferenceHeader(const uint8_t* bytes, size_t length)
{
    // Two zero bytes after the copy: the maxval read may start one byte
    // past the first.
    std::vector<uint8_t> copy(bytes, bytes + length);
    copy.push_back(0);
    copy.push_back(0);
    uint8_t* text = copy.data();
    Tokenizer t = {text};
    ReferenceHeader header = {0, false, 0, 0, 0};

    uint8_t* line = Cut(&t, text, "\n");
    if (line == nullptr)
        return NotFound(header);
    size_t p = strlen(reinterpret_cast<char*>(line)) + 1;
    static const char* const kMagics[] = {"P1", "P2", "P3", "P4", "P5", "P6"};
    for (int k = 0; k < 6 && header.kind == 0; ++k)
        if (strncmp(reinterpret_cast<char*>(line), kMagics[k], 2) == 0)
            header.kind = k + 1;
    if (header.kind == 0)
        return header;

    do {
        line = Cut(&t, nullptr, "\n");
        if (line == nullptr)
            return NotFound(header);
        p += strlen(reinterpret_cast<char*>(line)) + 1;
    } while (line[0] == '#');

    const uint8_t* width = Cut(&t, line, " ");
    if (width == nullptr)
        return NotFound(header);
    const uint8_t* height = Cut(&t, nullptr, " \r\n");
    if (height == nullptr)
        return NotFound(header);
    header.sizeRead = true;
    header.width = ValueOf(width);
    header.height = ValueOf(height);

    const int kind = header.kind;
    if (kind == 2 || kind == 3 || kind == 5 || kind == 6) {
        const uint8_t* maxval = Cut(&t, text + p, " \n");
        if (maxval == nullptr)
            return NotFound(header);
        p += strlen(reinterpret_cast<const char*>(maxval)) + 1;
        if (ValueOf(maxval) != 255)
            header.kind = 0;
    }
    header.dataOffset = int32_t(p < length ? p : length);
    return header;
}
