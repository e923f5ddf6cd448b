// Fuzz target: ParsePxmHeader on arbitrary bytes.
//
// The bytes are parsed from a heap block of exactly their size, so that
// AddressSanitizer reports a read one byte past them. Besides surviving, the
// parser must keep these properties:
// - kind, width, height and dataOffset are those of the traditional reader
//   (tests/reference), which cuts a copy of the text in place;
// - dataOffset lies within the bytes;
// - when the parse says that it did not run into the end of the bytes, more
//   bytes after them change nothing;
// - the comment text stays zero-terminated inside the buffer, keeps what the
//   buffer held before, and is exactly the comment lines that fit, both with
//   the information query's 2000 bytes and with a small capacity taken from
//   the input;
// - the same bytes give the same header and comments every time, with or
//   without a comment buffer;
// - the bytes are never written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "pxm/pxm.h"
#include "tests/reference/header_reference.h"

namespace {

// A value that no parse produces by chance in a field it leaves alone.
constexpr int32_t kUntouched = 0x5A5A5A5A;

bool SameHeader(const PxmHeader& a, const PxmHeader& b)
{
    return a.kind == b.kind && a.width == b.width && a.height == b.height &&
           a.dataOffset == b.dataOffset;
}

// The lines of the text, worked out independently of the parser: a line is a
// non-empty run of bytes other than line feed; the text ends at its first
// zero byte. Each line is (offset, length).
struct Line {
    size_t offset;
    size_t length;
};

std::vector<Line> LinesOf(const uint8_t* bytes, size_t length)
{
    size_t end = 0;
    while (end < length && bytes[end] != 0)
        ++end;
    std::vector<Line> lines;
    size_t i = 0;
    while (i < end) {
        if (bytes[i] == '\n') {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < end && bytes[i] != '\n')
            ++i;
        lines.push_back({start, i - start});
    }
    return lines;
}

// What a parse should leave in a comment buffer of `capacity` bytes that
// held `before` (its text up to the first zero, or all of it): every comment
// line that fits, in whole, after the text already there.
std::string ExpectedComments(const uint8_t* bytes, const std::vector<Line>& lines,
                             const std::string& before, int32_t capacity)
{
    std::string text = before;
    for (size_t n = 1; n < lines.size() && bytes[lines[n].offset] == '#'; ++n) {
        if (int64_t(lines[n].length) + int64_t(text.size()) + 1 >= capacity)
            continue;
        text.append(reinterpret_cast<const char*>(bytes + lines[n].offset), lines[n].length);
        text += '\n';
    }
    return text;
}

// Parses with a comment buffer of exactly `capacity` bytes whose first
// `prefix` bytes are 'x' (no terminating zero when prefix == capacity) and
// checks what the parse did to it.
PxmHeader ParseWithComments(const uint8_t* text, size_t length, int32_t capacity, int32_t prefix,
                            const std::vector<Line>& lines, bool magicMatches)
{
    // Zero bytes for a capacity of 0: any access to them is reported.
    char* comments = new char[size_t(capacity)];
    memset(comments, 0, size_t(capacity));
    memset(comments, 'x', size_t(prefix));
    PxmHeader header = {kUntouched, kUntouched, kUntouched, kUntouched, false};
    const PxmKind kind = ParsePxmHeader(text, length, comments, capacity, &header);
    CHECK(kind == header.kind);

    if (prefix == capacity) {
        // A full buffer without its zero takes nothing.
        for (int32_t i = 0; i < capacity; ++i)
            CHECK(comments[i] == 'x');
    } else {
        const void* zero = memchr(comments, 0, size_t(capacity));
        CHECK(zero != nullptr);
        const std::string got(comments, size_t(static_cast<const char*>(zero) - comments));
        const std::string before(size_t(prefix), 'x');
        const std::string expected =
            magicMatches ? ExpectedComments(text, lines, before, capacity) : before;
        CHECK(got == expected);
    }
    delete[] comments;
    return header;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly the input's bytes on the heap (none for an empty input), so
    // that a read past them is reported.
    uint8_t* text = new uint8_t[size];
    if (size != 0)
        memcpy(text, data, size);
    const std::vector<uint8_t> pristine(data, data + size);

    PxmHeader header = {kUntouched, kUntouched, kUntouched, kUntouched, false};
    const PxmKind kind = ParsePxmHeader(text, size, nullptr, 0, &header);
    CHECK(kind == header.kind);
    CHECK(kind >= 0 && kind <= 6);
    CHECK(header.dataOffset >= 0 && size_t(header.dataOffset) <= size);

    // The traditional reader, which cuts a copy of the text in place, must
    // read the same header: kind, size, offset, and so whether a maxval is
    // accepted, for every kind.
    const ReferenceHeader reference = ReadReferenceHeader(text, size);
    CHECK(header.kind == reference.kind);
    CHECK(header.dataOffset == reference.dataOffset);
    if (reference.sizeRead) {
        CHECK(header.width == reference.width);
        CHECK(header.height == reference.height);
    } else {
        CHECK(header.width == kUntouched && header.height == kUntouched);
    }

    // A parse that did not run into the end of the bytes would read the
    // same whatever followed them.
    if (!header.reachedEnd) {
        static const char* const kMore[] = {"0", "\n", " ", "9 9\n255\n", "#\n"};
        for (const char* more : kMore) {
            const size_t extra = strlen(more);
            uint8_t* longer = new uint8_t[size + extra];
            if (size != 0)
                memcpy(longer, text, size);
            memcpy(longer + size, more, extra);
            PxmHeader longerHeader = {kUntouched, kUntouched, kUntouched, kUntouched, false};
            ParsePxmHeader(longer, size + extra, nullptr, 0, &longerHeader);
            CHECK(SameHeader(longerHeader, header));
            delete[] longer;
        }
    }

    const std::vector<Line> lines = LinesOf(text, size);
    const bool magicMatches = !lines.empty() && lines[0].length >= 2 &&
                              text[lines[0].offset] == 'P' &&
                              text[lines[0].offset + 1] >= '1' && text[lines[0].offset + 1] <= '6';

    // The information query's buffer, and a small one whose capacity and
    // earlier text the input chooses.
    const PxmHeader withComments =
        ParseWithComments(text, size, kPxmCommentCapacity, 0, lines, magicMatches);
    CHECK(SameHeader(withComments, header));
    const int32_t smallCapacity = size != 0 ? data[size - 1] % 48 : 0;
    const int32_t prefix = size > 1 ? data[size - 2] % (smallCapacity + 1) : 0;
    const PxmHeader withSmall =
        ParseWithComments(text, size, smallCapacity, prefix, lines, magicMatches);
    CHECK(SameHeader(withSmall, header));

    // The same bytes again: the same answer.
    PxmHeader again = {kUntouched, kUntouched, kUntouched, kUntouched, false};
    CHECK(ParsePxmHeader(text, size, nullptr, 0, &again) == kind);
    CHECK(SameHeader(again, header));
    CHECK(again.reachedEnd == header.reachedEnd);

    CHECK(size == 0 || memcmp(text, pristine.data(), size) == 0);
    delete[] text;
    return 0;
}
