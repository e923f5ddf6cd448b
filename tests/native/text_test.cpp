// NextToken and ReadDecimal: the two text helpers under the header parser and
// the ASCII raster decoders.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pxm/text.h"
#include "tests/native/support.h"

using namespace std::string_literals;

namespace {

constexpr uint8_t kLine = kPxmLineFeed;
constexpr uint8_t kBlank = kPxmSpace;
constexpr uint8_t kSamples = kPxmSpace | kPxmCarriageReturn | kPxmLineFeed;

// Every token that repeated reads find, as offset+length, each with the
// position after it, and the position after the read that found nothing. A
// start past the end starts at the end.
std::string TokensOf(const uint8_t* bytes, int32_t length, int32_t start, uint8_t delimiters)
{
    PxmCursor text = {bytes + (start < length ? start : length), bytes + length};
    PxmSpan token;
    std::string out;
    while (NextToken(&text, delimiters, &token))
        out += std::to_string(token.start - bytes) + "+" + std::to_string(LengthOf(token)) + "->" +
               std::to_string(text.next - bytes) + " ";
    return out + "end@" + std::to_string(text.next - bytes);
}

TEST(NextToken, ReadsOnWhereThePreviousReadStopped)
{
    struct Case {
        std::string text;
        int32_t length; // -1: the whole text
        int32_t start;
        uint8_t delimiters;
        const char* want; // offset+length->position of each token, then the final position
    };
    const Case cases[] = {
        // only the one delimiter after a token is stepped over; the next read
        // skips the rest
        {"ab  cd", -1, 0, kBlank, "0+2->3 4+2->6 end@6"},
        // bytes outside the set belong to the token, tabs and line feeds too
        {"a\tb c\nd", -1, 0, kBlank, "0+3->4 4+3->7 end@7"},
        {"a\tb c\nd", -1, 0, kSamples, "0+3->4 4+1->6 6+1->7 end@7"},
        {"\r\n 12\r\n", -1, 0, kSamples, "3+2->6 end@7"},
        // a carriage return is a delimiter only when the set names it
        {"1 2\r\n", -1, 0, kBlank, "0+1->2 2+3->5 end@5"},
        // empty lines yield nothing
        {"\n\nP5\n\n\n1 1\n", -1, 0, kLine, "2+2->5 7+3->11 end@11"},
        // a zero byte ends the text: the position stays on it
        {"ab\0cd"s, -1, 0, kBlank, "0+2->2 end@2"},
        {"  \0 x"s, -1, 0, kBlank, "end@2"},
        {"ab \0 cd"s, -1, 0, kBlank, "0+2->3 end@3"},
        // so does the given length, even with bytes beyond it
        {"abc def", 5, 0, kBlank, "0+3->4 4+1->5 end@5"},
        {"abc def", 3, 0, kBlank, "0+3->3 end@3"},
        {"abc def", 4, 0, kBlank, "0+3->4 end@4"},
        {"", -1, 0, kSamples, "end@0"},
        {"\n\r \n", -1, 0, kSamples, "end@4"},
        // a read may start anywhere; a position past the end is the end
        {"ab cd ef", -1, 4, kBlank, "4+1->6 6+2->8 end@8"},
        {"ab cd", -1, 9, kBlank, "end@5"},
    };
    for (const Case& c : cases) {
        const ExactBytes bytes(c.text);
        const int32_t length = c.length < 0 ? bytes.length() : c.length;
        EXPECT_EQ(TokensOf(bytes.data(), length, c.start, c.delimiters), c.want)
            << "text: " << Escaped(c.text) << ", length " << length << ", from " << c.start
            << ", delimiters " << c.delimiters;
    }
}

TEST(NextToken, EachReadTakesItsOwnDelimiters)
{
    // as the header parser reads a size line: the line first, then its numbers
    const ExactBytes bytes("P4\n8 1 x\n"s);
    PxmCursor text = {bytes.data(), bytes.data() + bytes.size()};
    PxmSpan token;
    std::vector<std::string> have;
    const uint8_t sets[] = {kLine, kBlank, kBlank, kLine};
    for (uint8_t set : sets) {
        ASSERT_TRUE(NextToken(&text, set, &token)) << "after: " << ::testing::PrintToString(have);
        have.push_back(std::string(reinterpret_cast<const char*>(token.start), LengthOf(token)) +
                       "@" + std::to_string(text.next - bytes.data()));
    }
    const std::vector<std::string> want = {"P4@3", "8@5", "1@7", "x@9"};
    EXPECT_EQ(have, want);
    EXPECT_FALSE(NextToken(&text, kSamples, &token));
    EXPECT_EQ(text.next - bytes.data(), 9);
}

TEST(NextToken, LeavesTheTokenAloneWhenNothingIsFound)
{
    const ExactBytes bytes(" \n "s);
    PxmCursor text = {bytes.data(), bytes.data() + bytes.size()};
    const uint8_t marker[2] = {0, 0};
    PxmSpan token = {marker, marker + 1};
    EXPECT_FALSE(NextToken(&text, kSamples, &token));
    EXPECT_EQ(token.start, marker);
    EXPECT_EQ(token.stop, marker + 1);
    EXPECT_EQ(text.next - bytes.data(), 3);
}

TEST(ReadDecimal, TakesTheLeadingDecimalInteger)
{
    struct Case {
        std::string text;
        int32_t length; // -1: the whole text
        int32_t want;
    };
    const Case cases[] = {
        {"0", -1, 0},
        {"255", -1, 255},
        {"0255", -1, 255},
        {"+255", -1, 255},
        {"-1", -1, -1},
        {"-0", -1, 0},
        // blanks before the number: 0x09 to 0x0D and the space
        {" \t\n\v\f\r42", -1, 42},
        {"\t-7", -1, -7},
        // other bytes before it are no blanks
        {"\x08" "5", -1, 0},
        {"\xA0" "5", -1, 0},
        {"\0" "5"s, -1, 0},
        // one sign, directly before the digits
        {"+-5", -1, 0},
        {"--5", -1, 0},
        {"- 5", -1, 0},
        {"+", -1, 0},
        {"", -1, 0},
        {"x7", -1, 0},
        {"#", -1, 0},
        // the digits end at the first other byte
        {"255abc", -1, 255},
        {"12 34", -1, 12},
        {"7\0" "8"s, -1, 7},
        {"1.5", -1, 1},
        // and at the given length
        {"1234", 2, 12},
        {"1234", 0, 0},
        {"  -9", 3, 0},
        // 32-bit wrap-around, no range test
        {"2147483647", -1, INT32_MAX},
        {"2147483648", -1, INT32_MIN},
        {"-2147483648", -1, INT32_MIN},
        {"4294967295", -1, -1},
        {"4294967296", -1, 0},
        {"4294967553", -1, 257},
        {"99999999999", -1, 1215752191},
        {"-99999999999", -1, -1215752191},
        {"00000000000000000000000000000042", -1, 42},
    };
    for (const Case& c : cases) {
        const ExactBytes bytes(c.text);
        const int32_t length = c.length < 0 ? bytes.length() : c.length;
        EXPECT_EQ(ReadDecimal(bytes.data(), size_t(length)), c.want)
            << "text: " << Escaped(c.text) << ", length " << length;
    }
}

} // namespace
