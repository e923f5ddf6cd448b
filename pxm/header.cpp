// The PxM header parser.
//
// The header is read line by line: the magic line, comment lines beginning
// with "#", the size line, and for PGM and PPM the maximum sample value. The
// offset of the pixel data is the sum of (length + 1) over the lines read and
// the maxval token, which is exact for every header without empty lines.
//
// The format's traditional reader cuts its text in place: it overwrites the
// delimiter that ends each token with a zero byte, and its maxval read, which
// restarts at the counted offset, stops at such a zero when that offset falls
// short (empty lines, line feeds before the magic). This parser never writes
// to its text; it gives the same answer by treating the bytes that reader
// would have cut as the end of the text for the maxval read.
#include <cstring>

#include "pxm/text.h"

namespace {

struct SizeLine {
    int32_t end;       // first byte after the size line: its line feed or the end
    int32_t widthCut;  // delimiter that ended the width token, or -1
    int32_t heightCut; // delimiter that ended the height token, or -1
};

// Where the maxval read, starting at `from`, meets the first byte that the
// reads before it cut: a delimiter after the width or the height, or a line
// feed that ended one of the lines (every line feed up to the size line's
// own that follows a byte of a line). `end` when there is none.
int32_t FirstCutFrom(const uint8_t* bytes, int32_t end, int32_t from,
                     const SizeLine& size)
{
    const int32_t last = size.end < end ? size.end : end - 1;
    for (int32_t i = from; i <= last; ++i) {
        if (i == size.widthCut || i == size.heightCut)
            return i;
        if (bytes[i] == '\n' && i > 0 && bytes[i - 1] != '\n')
            return i;
    }
    return end;
}

PxmKind MagicKind(const uint8_t* bytes, const PxmToken& line)
{
    if (line.length < 2 || bytes[line.offset] != 'P')
        return 0;
    const uint8_t digit = bytes[line.offset + 1];
    return digit >= '1' && digit <= '6' ? PxmKind(digit - '0') : 0;
}

void AppendComment(char* comments, int32_t capacity, int32_t* used,
                   const uint8_t* line, int32_t length)
{
    // The line goes in whole or not at all, with room for its line feed
    // and the terminating zero.
    if (int64_t(length) + *used + 1 >= capacity)
        return;
    memcpy(comments + *used, line, size_t(length));
    comments[*used + length] = '\n';
    comments[*used + length + 1] = 0;
    *used += length + 1;
}

PxmKind Reject(PxmHeader* header)
{
    header->kind = 0;
    header->dataOffset = 0;
    return 0;
}

} // namespace

PxmKind ParsePxmHeader(const uint8_t* bytes, size_t length, char* comments,
                       int32_t capacity, PxmHeader* header)
{
    const int32_t end = length > size_t(kPxmMaxText) ? kPxmMaxText : int32_t(length);
    int32_t used = 0;
    if (comments != nullptr)
        while (used < capacity && comments[used] != 0)
            ++used;

    PxmText text = {bytes, end, 0};
    PxmToken line;
    if (!NextToken(&text, kPxmLineFeed, &line))
        return Reject(header);
    const PxmKind kind = MagicKind(bytes, line);
    if (kind == 0)
        return Reject(header);
    int32_t offset = line.length + 1;

    if (!NextToken(&text, kPxmLineFeed, &line))
        return Reject(header);
    offset += line.length + 1;
    while (bytes[line.offset] == '#') {
        if (comments != nullptr)
            AppendComment(comments, capacity, &used, bytes + line.offset, line.length);
        if (!NextToken(&text, kPxmLineFeed, &line))
            return Reject(header);
        offset += line.length + 1;
    }

    SizeLine size = {line.offset + line.length, -1, -1};
    PxmText sizeText = {bytes, size.end, line.offset};
    PxmToken width, height;
    if (!NextToken(&sizeText, kPxmSpace, &width))
        return Reject(header);
    if (width.offset + width.length < size.end)
        size.widthCut = width.offset + width.length;
    if (!NextToken(&sizeText, kPxmSpace | kPxmCarriageReturn | kPxmLineFeed, &height))
        return Reject(header);
    if (height.offset + height.length < size.end)
        size.heightCut = height.offset + height.length;

    header->kind = kind;
    header->width = ReadDecimal(bytes + width.offset, width.length);
    header->height = ReadDecimal(bytes + height.offset, height.length);

    if (kind != 1 && kind != 4) {
        const int32_t from = offset < end ? offset : end;
        PxmText maxvalText = {bytes, FirstCutFrom(bytes, end, from, size), from};
        PxmToken maxval;
        if (!NextToken(&maxvalText, kPxmSpace | kPxmLineFeed, &maxval))
            return Reject(header);
        offset += maxval.length + 1;
        if (ReadDecimal(bytes + maxval.offset, maxval.length) != 255)
            header->kind = 0;
    }
    // A header that ends the text would count one byte past its end.
    header->dataOffset = offset < end ? offset : end;
    return header->kind;
}
