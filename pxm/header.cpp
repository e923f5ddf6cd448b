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

#include "pxm/kinds.h"
#include "pxm/text.h"

namespace {

struct SizeLine {
    const uint8_t* end;       // first byte after the size line: its line feed or the end
    const uint8_t* widthCut;  // delimiter that ended the width token, or null
    const uint8_t* heightCut; // delimiter that ended the height token, or null
};

// Where the maxval read, starting at `from`, meets the first byte that the
// reads before it cut: a delimiter after the width or the height, or a line
// feed that ended one of the lines (every line feed up to the size line's
// own that follows a byte of a line). `end` when there is none.
const uint8_t* FirstCutFrom(const uint8_t* text, const uint8_t* end, const uint8_t* from,
                            const SizeLine& size)
{
    for (const uint8_t* p = from; p != end && p <= size.end; ++p) {
        if (p == size.widthCut || p == size.heightCut)
            return p;
        if (*p == '\n' && p != text && p[-1] != '\n')
            return p;
    }
    return end;
}

PxmKind MagicKind(const PxmSpan& line)
{
    if (LengthOf(line) < 2 || line.start[0] != 'P')
        return 0;
    const uint8_t digit = line.start[1];
    return digit >= '1' && digit <= '6' ? PxmKind(digit - '0') : 0;
}

void AppendComment(char* comments, int32_t capacity, int32_t* used, const PxmSpan& line)
{
    // The line goes in whole or not at all, with room for its line feed
    // and the terminating zero.
    const size_t length = LengthOf(line);
    if (uint64_t(length) + uint64_t(*used) + 1 >= uint64_t(capacity))
        return;
    memcpy(comments + *used, line.start, length);
    comments[*used + int32_t(length)] = '\n';
    comments[*used + int32_t(length) + 1] = 0;
    *used += int32_t(length) + 1;
}

// One read of the header: NextToken, noting in `reachedEnd` whether the read
// ran into `end`, the end of the bytes given, where more bytes could have
// made its token longer or given it one (not when it stopped at a zero byte
// or at an earlier cut).
bool ReadHeaderToken(PxmCursor* text, uint8_t delimiters, PxmSpan* token, const uint8_t* end,
                     bool* reachedEnd)
{
    const bool found = NextToken(text, delimiters, token);
    if (found ? token->stop == end : text->next == end)
        *reachedEnd = true;
    return found;
}

PxmKind Reject(PxmHeader* header)
{
    header->kind = 0;
    header->dataOffset = 0;
    return 0;
}

} // namespace

PxmKind ParsePxmHeader(const uint8_t* bytes, size_t length, char* comments, int32_t capacity,
                       PxmHeader* header)
{
    const uint8_t* const end = bytes + (length > kPxmMaxHeaderText ? kPxmMaxHeaderText : length);
    int32_t used = 0;
    if (comments != nullptr)
        while (used < capacity && comments[used] != 0)
            ++used;

    header->reachedEnd = false;
    PxmCursor text = {bytes, end};
    PxmSpan line;
    if (!ReadHeaderToken(&text, kPxmLineFeed, &line, end, &header->reachedEnd))
        return Reject(header);
    const PxmKind kind = MagicKind(line);
    if (kind == 0)
        return Reject(header);
    // Bytes counted from the start of the text; never more than kPxmMaxHeaderText + 1.
    size_t offset = LengthOf(line) + 1;

    if (!ReadHeaderToken(&text, kPxmLineFeed, &line, end, &header->reachedEnd))
        return Reject(header);
    offset += LengthOf(line) + 1;
    while (line.start[0] == '#') {
        if (comments != nullptr)
            AppendComment(comments, capacity, &used, line);
        if (!ReadHeaderToken(&text, kPxmLineFeed, &line, end, &header->reachedEnd))
            return Reject(header);
        offset += LengthOf(line) + 1;
    }

    SizeLine size = {line.stop, nullptr, nullptr};
    PxmCursor sizeText = {line.start, size.end};
    PxmSpan width, height;
    if (!ReadHeaderToken(&sizeText, kPxmSpace, &width, end, &header->reachedEnd))
        return Reject(header);
    if (width.stop != size.end)
        size.widthCut = width.stop;
    if (!ReadHeaderToken(&sizeText, kPxmSpace | kPxmCarriageReturn | kPxmLineFeed, &height, end,
                         &header->reachedEnd))
        return Reject(header);
    if (height.stop != size.end)
        size.heightCut = height.stop;

    header->kind = kind;
    header->width = ReadDecimal(width.start, LengthOf(width));
    header->height = ReadDecimal(height.start, LengthOf(height));

    const size_t textLength = size_t(end - bytes);
    if (FactsOf(kind).hasMaxval) {
        const uint8_t* from = offset < textLength ? bytes + offset : end;
        PxmCursor maxvalText = {from, FirstCutFrom(bytes, end, from, size)};
        PxmSpan maxval;
        if (!ReadHeaderToken(&maxvalText, kPxmSpace | kPxmLineFeed, &maxval, end,
                             &header->reachedEnd))
            return Reject(header);
        offset += LengthOf(maxval) + 1;
        if (ReadDecimal(maxval.start, LengthOf(maxval)) != 255)
            header->kind = 0;
    }
    // A header that ends the text would count one byte past its end.
    header->dataOffset = int32_t(offset < textLength ? offset : textLength);
    return header->kind;
}
