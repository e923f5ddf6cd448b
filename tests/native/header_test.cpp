// ParsePxmHeader: kind, size, where the pixel data begins, and the comments.
//
// The format's traditional reader cuts its text in place, and its maxval read
// restarts at a counted offset that falls short by every line feed skipped on
// the way (empty lines, line feeds before the magic). Such a read then meets
// the zero bytes that the reads before it left behind. The parser writes
// nothing, yet must give the same answers; the cases below work them out
// byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pxm/pxm.h"
#include "tests/native/support.h"
#include "tests/reference/header_reference.h"

using namespace std::string_literals;

namespace {

// What a parse leaves in fields that it must not write.
constexpr int32_t kUntouched = 0x5A5A5A5A;

struct Parsed {
    PxmKind result;
    PxmHeader header;
    std::string comments; // up to the terminating zero
};

// Parses `length` bytes of `input` (all of them when negative), with an
// empty comment buffer of 2000 bytes.
Parsed Parse(const std::string& input, int64_t length = -1)
{
    const ExactBytes text(input);
    std::vector<char> comments(kPxmCommentCapacity, 0);
    Parsed parsed;
    parsed.header = {kUntouched, kUntouched, kUntouched, kUntouched, false};
    parsed.result = ParsePxmHeader(text.data(), length < 0 ? text.size() : size_t(length),
                                   comments.data(), kPxmCommentCapacity, &parsed.header);
    EXPECT_EQ(text.str(), input) << "the parse wrote to its text";
    parsed.comments = comments.data();
    // The traditional reader, which cuts a copy in place, reads the same.
    const ReferenceHeader reference =
        ReadReferenceHeader(text.data(), length < 0 ? text.size() : size_t(length));
    EXPECT_EQ(parsed.header.kind, reference.kind) << "the traditional reader's kind";
    EXPECT_EQ(parsed.header.dataOffset, reference.dataOffset) << "the traditional reader's offset";
    if (reference.sizeRead) {
        EXPECT_EQ(parsed.header.width, reference.width) << "the traditional reader's width";
        EXPECT_EQ(parsed.header.height, reference.height) << "the traditional reader's height";
    } else {
        EXPECT_EQ(parsed.header.width, kUntouched) << "width read, the traditional reader has none";
    }
    return parsed;
}

struct HeaderCase {
    std::string input;
    PxmKind kind;
    int32_t width; // kUntouched: not written
    int32_t height;
    int32_t dataOffset;
    std::string comments;
};

void ExpectHeader(const HeaderCase& c, int64_t length = -1)
{
    SCOPED_TRACE("input: " + Escaped(c.input) +
                 (length < 0 ? "" : ", length " + std::to_string(length)));
    const Parsed have = Parse(c.input, length);
    EXPECT_EQ(have.result, c.kind);
    EXPECT_EQ(have.header.kind, c.kind);
    EXPECT_EQ(have.header.dataOffset, c.dataOffset);
    EXPECT_EQ(have.header.width, c.width);
    EXPECT_EQ(have.header.height, c.height);
    EXPECT_EQ(have.comments, c.comments);
}

const std::string kSixPixelBytes = "\0\n\xFF \r\x80"s;
const std::string kPixelByte = "\x81";

TEST(ParsePxmHeader, ReadsTheHeadersItIsMadeFor)
{
    const HeaderCase cases[] = {
        {"P5\n3 2\n255\n" + kSixPixelBytes, 5, 3, 2, 11, ""},
        {"P5\r\n3 2\r\n255\r\n" + kSixPixelBytes, 5, 3, 2, 14, ""},
        {"P1\n# a comment\n2 2\n0 1\n1 0\n", 1, 2, 2, 19, "# a comment\n"},
        // comment lines keep their carriage returns
        {"P1\n# one\r\n# two\r\n2 2\r\n0 1\r\n1 0\r\n", 1, 2, 2, 22, "# one\r\n# two\r\n"},
        // the rest of the magic line is ignored
        {"P1 junk\n2 2\n0 1\n1 0\n", 1, 2, 2, 12, ""},
        // spaces anywhere in the size line: the whole line counts
        {"P3\n  2   1  \n255\n1 2 3 4 5 6\n", 3, 2, 1, 17, ""},
        // so does whatever follows the height
        {"P4\n8 1 extra\n" + kPixelByte, 4, 8, 1, 13, ""},
        {"P2\n2 1\n+255\n0 1\n", 2, 2, 1, 12, ""},
        {"P2\n2 1\n0255\n0 1\n", 2, 2, 1, 12, ""},
        // the maxval token is "255abc"
        {"P2\n2 1\n255abc\n0 1\n", 2, 2, 1, 14, ""},
        // any maxval but 255 is unsupported; the rest is still read
        {"P2\n2 1\n15\n0 15\n", 0, 2, 1, 10, ""},
        {"P2\n2 1\n256\n0 1\n", 0, 2, 1, 11, ""},
        // a maxval on the size line is ignored: the maxval read takes the first sample
        {"P2\n2 1 255\n0 255\n", 0, 2, 1, 13, ""},
        // a comment after the size line is no comment: its "#" is the maxval
        {"P2\n2 1\n# c\n255\n0 1\n", 0, 2, 1, 9, ""},
        // the raster text begins at the 0 on the maxval line
        {"P2\n2 1\n255 0 1\n", 2, 2, 1, 11, ""},
        {"P7\n2 1\n255\n", 0, kUntouched, kUntouched, 0, ""},
        {" P5\n2 1\n255\n", 0, kUntouched, kUntouched, 0, ""},
        // one empty line goes uncounted: byte 7, the line feed after the size
        // line, is the one the reader cut; the pixel byte is at 8
        {"P4\n\n8 1\n" + kPixelByte, 4, 8, 1, 7, ""},
        // a line feed before the magic is skipped but not counted
        {"\nP4\n8 1\n" + kPixelByte, 4, 8, 1, 7, ""},
        // two empty lines: the maxval read starts on the height, "1"
        {"P5\n\n\n1 1\n255\n" + kPixelByte, 0, 1, 1, 9, ""},
        // blanks before the maxval go uncounted: the pixel byte is at 12
        {"P5\n1 1\n 255\n" + kPixelByte, 5, 1, 1, 11, ""},
        {"P5\n1 1\n\n255\n" + kPixelByte, 5, 1, 1, 11, ""},
        // only one delimiter ends the maxval: the second space is the first pixel byte
        {"P5\n1 1\n255  X", 5, 1, 1, 11, ""},
        // a carriage return does not end the maxval: its token runs up to the line feed
        {"P6\n1 1\n255\rXYZ\n", 6, 1, 1, 15, ""},
        {"P5\n0 0\n255\n", 5, 0, 0, 11, ""},
        // sizes are returned as read, negative ones too
        {"P5\n-3 2\n255\n", 5, -3, 2, 12, ""},
        // a line that begins with a blank is no comment but the size line
        {"P5\n  # not a comment\n255\n", 5, 0, 0, 25, ""},
    };
    for (const HeaderCase& c : cases)
        ExpectHeader(c);
}

TEST(ParsePxmHeader, MaxvalReadMeetsTheBytesThatEarlierReadsCut)
{
    // The maxval read starts at the counted offset, k bytes short when k line
    // feeds were skipped. It ends at the first byte that the reads before it
    // cut: the line feed ending the magic, a comment or the size line, or the
    // delimiter after the width or the height. A read that starts on such a
    // byte finds nothing.
    const HeaderCase cases[] = {
        // k = 1: the maxval read starts on the size line's own line feed
        {"P5\n\n1 1\n255\n" + kPixelByte, 0, 0, 0, 0, ""},
        {"\nP5\n1 1\n255\n" + kPixelByte, 0, 0, 0, 0, ""},
        {"P6\n\n# c\n1 1\n255\n" + kPixelByte, 0, 0, 0, 0, "# c\n"},
        // two line feeds before the magic: the maxval read takes the height
        {"\n\nP5\n1 1\n255\n" + kPixelByte, 0, 1, 1, 9, ""},
        // k = 3: it starts on the space that ended the width
        {"P5\n\n\n\n1 1\n255\n" + kPixelByte, 0, 0, 0, 0, ""},
        // empty lines between comments count as well
        {"P2\n# a\n\n\n# b\n2 1\n255\n", 0, 2, 1, 17, "# a\n# b\n"},
        {"P2\n# a\n\n\n\n# b\n2 1\n255\n", 0, 0, 0, 0, "# a\n# b\n"},
        // many empty lines: the read skips the rest of them and takes the width
        {"P3\n" + std::string(15, '\n') + "2 1\n255\n1 2 3 4 5 6\n", 0, 2, 1, 9, ""},
        {"P5\n\n\n\n\n\n12 34\n255\n", 0, 12, 34, 11, ""},
        // a height of 255 passes for the maxval; it ended at the carriage
        // return, so the carriage return is not part of the token
        {"P5\n\n\n\n\n\n1 255\r\nX", 5, 1, 255, 14, ""},
        // the maxval read lands on the magic line and ends where it was cut
        {std::string(8, '\n') + "P5 255\n1 1\nX", 5, 1, 1, 15, ""},
        // ... or on its trailing blank, right before the cut
        {std::string(6, '\n') + "P5 \n1 1\n255\n", 0, 0, 0, 0, ""},
        // kinds without a maxval only lose the skipped bytes in the offset
        {"P4\n\n\n\n\n8 1\n\xFF", 4, 8, 1, 7, ""},
        {"\n\n\nP1\n# c\n\n2 1\n0 1\n", 1, 2, 1, 11, "# c\n"},
    };
    for (const HeaderCase& c : cases) {
        if (c.kind == 0 && c.dataOffset == 0) {
            // width and height are not defined when a read finds nothing
            SCOPED_TRACE("input: " + Escaped(c.input));
            const Parsed have = Parse(c.input);
            EXPECT_EQ(have.result, 0);
            EXPECT_EQ(have.header.kind, 0);
            EXPECT_EQ(have.header.dataOffset, 0);
            EXPECT_EQ(have.comments, c.comments);
        } else {
            ExpectHeader(c);
        }
    }
}

TEST(ParsePxmHeader, ReadThatFindsNothingGivesKindZero)
{
    const std::string cases[] = {
        // no magic line
        "",
        "\n\n\n",
        // no line after the magic line, or after a comment line
        "P5",
        "P4\n",
        "P4\n\n\n",
        "P1\n# only a comment\n",
        // no width: a size line of blanks only
        "P4\n   \n\xFF",
        // no height
        "P4\n8\n1\n",
        "P4\n8\t1\n",
        "P5\n3\r2\n255\n",
        "P4\n8\n",
        "P4\n8\r\n1\r\n",
        // with carriage returns, an empty line is a line: "\r" becomes the size line
        "P5\r\n\r\n1 1\r\n255\r\n",
        // no maxval
        "P5\n1 1\n",
        "P5\n1 1",
        "P6\n1 1\n  \n\n \n",
        "P2\n1 1\r\n",
    };
    for (const std::string& input : cases) {
        SCOPED_TRACE("input: " + Escaped(input));
        const Parsed have = Parse(input);
        EXPECT_EQ(have.result, 0);
        EXPECT_EQ(have.header.kind, 0);
        EXPECT_EQ(have.header.dataOffset, 0);
    }
}

TEST(ParsePxmHeader, UnknownMagicLeavesSizeAndCommentsAlone)
{
    const std::string cases[] = {
        "P7\n# c\n1 1\n",  "P0\n1 1\n",       "p5\n1 1\n255\n", "P\n1 1\n",
        "P\0" "5\n1 1\n"s, "\0P5\n1 1\n255\n"s, "PP5\n1 1\n",     "#P5\n1 1\n",
    };
    for (const std::string& input : cases) {
        SCOPED_TRACE("input: " + Escaped(input));
        const ExactBytes text(input);
        char comments[8] = "kept";
        PxmHeader header = {kUntouched, kUntouched, kUntouched, kUntouched, false};
        EXPECT_EQ(ParsePxmHeader(text.data(), text.size(), comments, sizeof comments, &header), 0);
        EXPECT_EQ(header.kind, 0);
        EXPECT_EQ(header.dataOffset, 0);
        EXPECT_EQ(header.width, kUntouched);
        EXPECT_EQ(header.height, kUntouched);
        EXPECT_EQ(std::string(comments, sizeof comments), "kept\0\0\0\0"s);
    }
}

TEST(ParsePxmHeader, TextEndsAtItsLengthOrAZeroByte)
{
    struct Case {
        HeaderCase header;
        int64_t length; // -1: all of the input
    };
    const Case cases[] = {
        // a header that ends the text: the offset stays at its end
        {{"P4\n8 1", 4, 8, 1, 6, ""}, -1},
        {{"P4\n8 1\n", 4, 8, 1, 7, ""}, -1},
        {{"P5\n1 1\n255", 5, 1, 1, 10, ""}, -1},
        {{"P1\n# c\n2 1", 1, 2, 1, 10, "# c\n"}, -1},
        // bytes past the given length do not count
        {{"P5\n1 1\n255\n", 0, 1, 1, 9, ""}, 9},
        {{"P4\n8 12\n", 4, 8, 1, 6, ""}, 6},
        {{"P4\n8 1\n", 0, 0, 0, 0, ""}, 4},
        {{"P5\n1 1\n255\n", 0, 0, 0, 0, ""}, 0},
        // neither do bytes after a zero byte
        {{"P5\n1 1\n2\0" "55\n"s, 0, 1, 1, 9, ""}, -1},
        // a zero byte ends the size line as a line feed does
        {{"P4\n8 1\0" "2\n"s, 4, 8, 1, 7, ""}, -1},
        {{"P4\n8\0 1\n"s, 0, 0, 0, 0, ""}, -1},
        {{"P1\n# c\0\n2 1\n"s, 0, 0, 0, 0, "# c\n"}, -1},
    };
    for (const Case& c : cases) {
        if (c.header.kind == 0 && c.header.dataOffset == 0) {
            SCOPED_TRACE("input: " + Escaped(c.header.input) + ", length " +
                         std::to_string(c.length));
            const Parsed have = Parse(c.header.input, c.length);
            EXPECT_EQ(have.result, 0);
            EXPECT_EQ(have.header.dataOffset, 0);
        } else {
            ExpectHeader(c.header, c.length);
        }
    }
}

// A comment line of `length` bytes, its "#" included.
std::string CommentLine(size_t length)
{
    return "#" + std::string(length - 1, 'c');
}

TEST(ParsePxmHeader, AppendsTheCommentLinesThatFit)
{
    struct Case {
        const char* what;
        int32_t capacity;
        size_t textBefore;                   // bytes of text already in the buffer
        std::vector<size_t> lines;           // lengths of the comment lines
        std::vector<bool> appended;          // whether each line goes in
    };
    const Case cases[] = {
        {"the longest line that fits", 2000, 0, {1998}, {true}},
        {"a line one byte longer is dropped whole, not cut", 2000, 0, {1999, 7}, {false, true}},
        {"appended after the text already there", 2000, 1991, {8, 7}, {false, true}},
        {"a later line that fits still goes in", 10, 0, {3, 9, 3, 2}, {true, false, true, false}},
        {"a full buffer takes nothing", 4, 3, {1}, {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string input = "P4\n";
        std::string want(size_t(c.capacity), '\0');
        for (size_t i = 0; i < c.textBefore; ++i)
            want[i] = 't';
        size_t used = c.textBefore;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            const std::string line = CommentLine(c.lines[i]);
            input += line + "\n";
            if (c.appended[i]) {
                want.replace(used, line.size() + 1, line + "\n");
                used += line.size() + 1;
            }
        }
        input += "8 1\n";

        const ExactBytes text(input);
        std::unique_ptr<char[]> comments(new char[size_t(c.capacity)]);
        memcpy(comments.get(), want.data(), c.textBefore);
        memset(comments.get() + c.textBefore, 0, size_t(c.capacity) - c.textBefore);
        PxmHeader header = {kUntouched, kUntouched, kUntouched, kUntouched, false};
        EXPECT_EQ(ParsePxmHeader(text.data(), text.size(), comments.get(), c.capacity, &header), 4);
        // dropped lines count in the offset all the same
        EXPECT_EQ(header.dataOffset, int32_t(input.size()));
        EXPECT_EQ(std::string(comments.get(), size_t(c.capacity)), want);
    }
}

TEST(ParsePxmHeader, SaysWhetherMoreBytesCouldChangeTheAnswer)
{
    // A window that ends inside a header must not pass for the header: the
    // parse says when one of its reads ran into the end of the bytes.
    struct Case {
        std::string input;
        bool reachedEnd;
    };
    const Case cases[] = {
        // complete headers: every read stops at a delimiter
        {"P4\n1000 2000\n", false},
        {"P4\n1000 2000\r\n", false},
        {"P5\n3 2\n255\n", false},
        {"P5\n3 2\n255 ", false},
        {"P2\n# c\n3 2\n255\n", false},
        // a zero byte ends the text as surely
        {"P4\n8 1\0"s, false},
        {"P5\n3 2\n255\0"s, false},
        {"P5\n3 2\n\0"s, false},
        // the height, the width or the maxval may go on past the end
        {"P4\n1000 20", true},
        {"P4\n1000 2000", true},
        {"P4\n1000", true},
        // the size line may go on, and with it the start of the pixel data
        {"P4\n1000 2000 ", true},
        {"P5\n3 2\n255", true},
        {"P5\n3 2\n25", true},
        {"P5\n3 2\n", true},
        {"P5\n3 2\n   ", true},
        // lines that end at the end: the magic, a comment, the size line
        {"", true},
        {"P", true},
        {"P5", true},
        {"P5\n", true},
        {"P2\n# a comm", true},
        // a magic that is no magic needs nothing more
        {"P7\n", false},
        // a maxval read that meets what earlier reads cut stops there
        {"P5\n\n\n1 1\n255\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("input: " + Escaped(c.input));
        const Parsed have = Parse(c.input);
        EXPECT_EQ(have.header.reachedEnd, c.reachedEnd);
        if (have.header.reachedEnd)
            continue;
        // Then no byte after them changes the answer.
        for (const std::string more : {"0", "9 9\n255\n", "\n", " x", "\r\n255\n"}) {
            SCOPED_TRACE("followed by " + Escaped(more));
            const Parsed longer = Parse(c.input + more);
            EXPECT_EQ(longer.header.kind, have.header.kind);
            EXPECT_EQ(longer.header.width, have.header.width);
            EXPECT_EQ(longer.header.height, have.header.height);
            EXPECT_EQ(longer.header.dataOffset, have.header.dataOffset);
        }
    }
}

TEST(ParsePxmHeader, NeedsNoCommentBuffer)
{
    const ExactBytes text("P2\n# c\n2 1\n255\n0 1\n"s);
    PxmHeader header = {kUntouched, kUntouched, kUntouched, kUntouched, false};
    EXPECT_EQ(ParsePxmHeader(text.data(), text.size(), nullptr, 0, &header), 2);
    EXPECT_EQ(header.width, 2);
    EXPECT_EQ(header.height, 1);
    EXPECT_EQ(header.dataOffset, 15);
}

} // namespace
