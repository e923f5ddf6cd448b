// DecodeRaster: the pixel data of the six kinds into bottom-up DIB rows, with
// a progress report after each row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "pxm/raster.h"
#include "tests/native/support.h"
#include "tests/reference/reference.h"

using namespace std::string_literals;

namespace {

std::string Repeat(const std::string& s, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += s;
    return out;
}

// Reached through the host value, which the decoder must pass back as given.
struct Recorder {
    int stopAtCall = -1; // the call that answers "stop"
    const uint8_t* block = nullptr;
    size_t blockSize = 0;
    std::vector<std::pair<int32_t, int32_t>> calls;
    std::vector<std::vector<uint8_t>> snapshots; // the block at each call
};

int32_t PXM_STDCALL Record(int32_t row, int32_t lastRow, intptr_t hostValue)
{
    Recorder* recorder = reinterpret_cast<Recorder*>(hostValue);
    recorder->calls.emplace_back(row, lastRow);
    recorder->snapshots.emplace_back(recorder->block, recorder->block + recorder->blockSize);
    return int(recorder->calls.size()) - 1 == recorder->stopAtCall ? 1 : 0;
}

struct Picture {
    PxmKind kind;
    int32_t width;
    int32_t height;
    int32_t stride;
    std::string source;
    int64_t length = -1; // bytes given to the decoder; -1: all of the source
};

std::string Described(const Picture& p)
{
    std::ostringstream out;
    out << "kind " << p.kind << ", " << p.width << " x " << p.height << ", stride " << p.stride
        << ", source " << Escaped(p.source);
    if (p.length >= 0)
        out << ", length " << p.length;
    return out.str();
}

struct Decoded {
    int32_t result = -100;
    std::string block; // hex bytes, ".." for bytes never written, rows split by "|"
    std::string calls; // "(row,lastRow)" for each progress call
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint8_t>> snapshots;
};

// Two sentinels: a byte that keeps both was never written, whatever value a
// written byte may have.
constexpr uint8_t kSentinel[2] = {0xCD, 0x32};

// Decodes the picture twice, into blocks filled with each sentinel; the
// source and the block are heap blocks of exactly their size.
Decoded Decode(const Picture& p, int stopAtCall = -1, bool report = true)
{
    const ExactBytes source(p.source);
    const size_t length = p.length < 0 ? source.size() : size_t(p.length);
    const size_t size = p.stride > 0 && p.height > 0 ? size_t(p.stride) * size_t(p.height) : 0;
    Decoded decoded;
    std::vector<uint8_t> runs[2];
    for (int run = 0; run < 2; ++run) {
        std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
        memset(block.get(), kSentinel[run], size);
        Recorder recorder;
        recorder.stopAtCall = stopAtCall;
        recorder.block = block.get();
        recorder.blockSize = size;
        const int32_t result =
            DecodeRaster(source.data(), length, block.get(), report ? Record : nullptr,
                         reinterpret_cast<intptr_t>(&recorder), p.kind, p.width, p.height,
                         p.stride);
        runs[run].assign(block.get(), block.get() + size);
        if (run == 0) {
            decoded.result = result;
            for (const auto& call : recorder.calls)
                decoded.calls += (decoded.calls.empty() ? "(" : " (") +
                                 std::to_string(call.first) + "," +
                                 std::to_string(call.second) + ")";
            decoded.snapshots = recorder.snapshots;
        } else {
            EXPECT_EQ(result, decoded.result) << "the block's old contents changed the result";
        }
    }
    // The plain reference decoder, and the reader of the other block width
    // (32-bit processors use 32-byte blocks), must agree byte for byte and
    // call for call.
    for (const char* other : {"reference decoder", "the other block width"}) {
        std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
        memset(block.get(), kSentinel[0], size);
        Recorder recorder;
        recorder.stopAtCall = stopAtCall;
        const PxmProgress progress = report ? Record : nullptr;
        const intptr_t hostValue = reinterpret_cast<intptr_t>(&recorder);
        const PxmBlockWidth otherWidth =
            kPxmNativeBlocks == kPxmBlocks64 ? kPxmBlocks32 : kPxmBlocks64;
        const int32_t result =
            other[0] == 'r'
                ? DecodeRasterReference(source.data(), length, block.get(), progress, hostValue,
                                        p.kind, p.width, p.height, p.stride)
                : DecodeRasterWith(otherWidth, source.data(), length, block.get(), progress,
                                   hostValue, p.kind, p.width, p.height, p.stride);
        EXPECT_EQ(result, decoded.result) << other;
        EXPECT_TRUE(std::equal(block.get(), block.get() + size, runs[0].begin()))
            << other << " wrote other bytes";
        EXPECT_EQ(recorder.calls.size(), decoded.snapshots.size()) << other;
    }
    decoded.bytes = runs[0];
    for (size_t i = 0; i < size; ++i) {
        if (i != 0)
            decoded.block += i % size_t(p.stride) == 0 ? " | " : " ";
        char hex[3];
        snprintf(hex, sizeof hex, "%02X", runs[0][i]);
        if (runs[0][i] == kSentinel[0] && runs[1][i] == kSentinel[1])
            decoded.block += "..";
        else if (runs[0][i] == runs[1][i])
            decoded.block += hex;
        else
            decoded.block += "!!"; // depends on what the block held
    }
    return decoded;
}

std::string Normalized(const std::string& block)
{
    std::istringstream in(block);
    std::string word, out;
    while (in >> word)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

struct RasterCase {
    Picture picture;
    int32_t result;
    std::string block; // in block order: the bottom picture row first
    const char* calls;
    int stopAtCall = -1;
};

void ExpectDecoded(const RasterCase& c)
{
    SCOPED_TRACE(Described(c.picture));
    const Decoded have = Decode(c.picture, c.stopAtCall);
    EXPECT_EQ(have.result, c.result);
    EXPECT_EQ(have.block, Normalized(c.block));
    EXPECT_EQ(have.calls, c.calls);
}

const std::string kTwelveBytes = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C";

TEST(DecodeRaster, ConvertsEachKindIntoBottomUpRows)
{
    const RasterCase cases[] = {
        // plain PBM: the leftmost pixel in the top bit, 1 black; bits after
        // the last pixel are 0, padding bytes are zeros
        {{1, 9, 1, 4, "1 0 1 1 0 0 0 0 1"}, 0, "B0 80 00 00", "(0,0)"},
        // the bit position starts over with every row
        {{1, 3, 2, 4, "1 0 1\n0 1 1\n"}, 0, "60 00 00 00 | A0 00 00 00", "(0,1) (1,1)"},
        {{1, 10, 2, 4, "1 1 1 1 1 1 1 1 1 1\n0 0 0 0 0 0 0 0 0 1\n"}, 0,
         "00 40 00 00 | FF C0 00 00", "(0,1) (1,1)"},
        // any other plain PBM token is one pixel, the lowest bit of its
        // value: 2 white, 3 and -1 black
        {{1, 2, 1, 4, "2 3"}, 0, "40 00 00 00", "(0,0)"},
        {{1, 5, 1, 4, "-1 +1 10x 2 21"}, 0, "C8 00 00 00", "(0,0)"},
        // plain PBM rows as netpbm writes them (pnmtoplainpnm of pbmmake
        // -gray 10 3): one run of 0s and 1s per row, a pixel per character;
        // the raw picture holds 55 40 AA 80 55 40
        {{1, 10, 3, 4, "0101010101\n1010101010\n0101010101\n"}, 0,
         "55 40 00 00 | AA 80 00 00 | 55 40 00 00", "(0,2) (1,2) (2,2)"},
        // netpbm breaks runs after 70 characters (pbmmake -gray 75 2)
        {{1, 75, 2, 12,
          Repeat("01", 35) + "\n01010\n" + Repeat("10", 35) + "\n10101\n"}, 0,
         Repeat("AA ", 9) + "A0 00 00 | " + Repeat("55 ", 9) + "40 00 00", "(0,1) (1,1)"},
        // a run goes on into the next row, and mixes with other tokens
        {{1, 3, 2, 4, "101011"}, 0, "60 00 00 00 | A0 00 00 00", "(0,1) (1,1)"},
        {{1, 3, 2, 4, "10 2 1 01"}, 0, "A0 00 00 00 | 80 00 00 00", "(0,1) (1,1)"},
        // what follows the last pixel of a run is never looked at
        {{1, 2, 1, 4, "1011 x"}, 0, "80 00 00 00", "(0,0)"},

        // plain PGM: the low 8 bits of each value
        {{2, 3, 1, 4, "256 300 -1"}, 0, "00 2C FF 00", "(0,0)"},
        {{2, 3, 1, 4, "99999999999 -256 +7"}, 0, "FF 00 07 00", "(0,0)"},
        {{2, 2, 1, 4, "7x x7"}, 0, "07 00 00 00", "(0,0)"},
        // tab and comma do not separate: "1\t2" is one sample, 1, and each
        // later sample lands one pixel earlier
        {{2, 3, 1, 4, "1\t2 3,9 4"}, 0, "01 03 04 00", "(0,0)"},
        {{2, 3, 1, 4, "\r\n  1\r\n2\r\n\r\n3\r\n"}, 0, "01 02 03 00", "(0,0)"},
        {{2, 3, 2, 4, "1 2 3\n4 5 6\n"}, 0, "04 05 06 00 | 01 02 03 00", "(0,1) (1,1)"},
        // no read after the last sample: nothing has to follow it
        {{2, 1, 1, 4, "9"}, 0, "09 00 00 00", "(0,0)"},
        // and whatever follows is ignored
        {{2, 3, 2, 4, "1 2 3 4 5 6 7 8 junk"}, 0, "04 05 06 00 | 01 02 03 00", "(0,1) (1,1)"},

        // plain PPM: red, green, blue in, blue, green, red out
        {{3, 1, 1, 4, "255 0 0"}, 0, "00 00 FF 00", "(0,0)"},
        {{3, 1, 1, 4, "256 300 -1"}, 0, "FF 2C 00 00", "(0,0)"},
        {{3, 2, 2, 8, "1 2 3 4 5 6\n7 8 9 10 11 12\n"}, 0,
         "09 08 07 0C 0B 0A 00 00 | 03 02 01 06 05 04 00 00", "(0,1) (1,1)"},

        // raw PBM and PGM rows are copied, bits after the last pixel included
        {{4, 10, 2, 4, "\xFF\xC3\x00\x7F"s}, 0, "00 7F 00 00 | FF C3 00 00", "(0,1) (1,1)"},
        {{4, 17, 1, 4, "\x12\x34\x56"}, 0, "12 34 56 00", "(0,0)"},
        // bytes after the last row are ignored
        {{5, 3, 2, 4, "\x01\x02\x03\x04\x05\x06\x07"}, 0, "04 05 06 00 | 01 02 03 00",
         "(0,1) (1,1)"},
        // raw PPM: red and blue exchanged
        {{6, 1, 1, 4, "\xFF\x00\x00"s}, 0, "00 00 FF 00", "(0,0)"},
        {{6, 2, 2, 8, kTwelveBytes}, 0, "09 08 07 0C 0B 0A 00 00 | 03 02 01 06 05 04 00 00",
         "(0,1) (1,1)"},
        // a stride wider than the row
        {{5, 2, 2, 12, "\xAA\xBB\xCC\xDD"}, 0,
         "CC DD 00 00 00 00 00 00 00 00 00 00 | AA BB 00 00 00 00 00 00 00 00 00 00",
         "(0,1) (1,1)"},
    };
    for (const RasterCase& c : cases)
        ExpectDecoded(c);
}

TEST(DecodeRaster, AsciiRasterThatRunsOutGivesCorrupted)
{
    // Each pixel's samples are read right after the pixel before it is
    // stored, so a shortage shows at the pixel that lacks them, and the read
    // of a row's first pixel comes before the report of the row above.
    const RasterCase cases[] = {
        // the top row complete, two bytes of the second, then nothing
        {{2, 3, 2, 4, "1 2 3 4 5"}, 3, "04 05 00 00 | 01 02 03 00", "(0,1)"},
        // the text ends with the top row: written, never reported
        {{2, 3, 2, 4, "1 2 3"}, 3, "00 00 00 00 | 01 02 03 00", ""},
        {{1, 3, 2, 4, "101"}, 3, "00 00 00 00 | A0 00 00 00", ""},
        {{3, 1, 2, 4, "1 2 3\n"}, 3, "00 00 00 00 | 03 02 01 00", ""},
        // the later bits of a PBM byte are cleared with its first pixel
        {{1, 5, 1, 4, "1 1 1"}, 3, "E0 00 00 00", ""},
        // a PPM pixel short of a sample is not stored at all
        {{3, 2, 1, 8, "1 2 3 4 5"}, 3, "03 02 01 00 00 00 00 00", ""},
        // a zero byte ends the text
        {{2, 3, 1, 4, "1 2\0 3"s}, 3, "01 02 00 00", ""},
        // so does the given length, inside a token or after it
        {{2, 2, 1, 4, "12 34 56", 4}, 0, "0C 03 00 00", "(0,0)"},
        {{2, 2, 1, 4, "12 34 56", 5}, 0, "0C 22 00 00", "(0,0)"},
        {{2, 2, 1, 4, "12 34 56", 2}, 3, "0C 00 00 00", ""},
        // not even the first pixel: nothing written, nothing reported
        {{1, 1, 1, 4, ""}, 3, "00 00 00 00", ""},
        {{1, 1, 1, 4, "\0" "1"s}, 3, "00 00 00 00", ""},
        {{2, 2, 2, 4, " \r\n \n"}, 3, "00 00 00 00 | 00 00 00 00", ""},
        {{3, 1, 1, 4, "1 2"}, 3, "00 00 00 00", ""},
        {{2, 1, 1, 4, "7", 0}, 3, "00 00 00 00", ""},
    };
    for (const RasterCase& c : cases)
        ExpectDecoded(c);
}

TEST(DecodeRaster, ShortRawDataGivesCorrupted)
{
    // The rows complete before the shortage are converted and reported;
    // nothing past the given bytes is read.
    const RasterCase cases[] = {
        {{5, 3, 3, 4, "\x01\x02\x03\x04\x05\x06\x07"}, 3,
         "00 00 00 00 | 04 05 06 00 | 01 02 03 00", "(0,2) (1,2)"},
        {{6, 1, 2, 4, "\x01\x02\x03\x04\x05"}, 3, "00 00 00 00 | 03 02 01 00", "(0,1)"},
        {{4, 9, 2, 4, "\xAA\x80\xFF"}, 3, "00 00 00 00 | AA 80 00 00", "(0,1)"},
        {{5, 3, 2, 4, "\x01\x02\x03\x04\x05\x06", 5}, 3, "00 00 00 00 | 01 02 03 00", "(0,1)"},
        {{6, 3, 1, 12, "\x01\x02\x03\x04"}, 3, "00 00 00 00 00 00 00 00 00 00 00 00", ""},
        {{5, 2, 2, 4, ""}, 3, "00 00 00 00 | 00 00 00 00", ""},
    };
    for (const RasterCase& c : cases)
        ExpectDecoded(c);
}

// A 2 x 3 picture of each kind.
std::vector<Picture> SmallPictures()
{
    return {
        {1, 2, 3, 4, "1 0\n0 1\n1 1\n"},
        {2, 2, 3, 4, "10 20\n30 40\n50 60\n"},
        {3, 2, 3, 8, "1 2 3 4 5 6\n7 8 9 10 11 12\n13 14 15 16 17 18\n"},
        {4, 2, 3, 4, "\x80\x40\xC0"},
        {5, 2, 3, 4, "\x0A\x14\x1E\x28\x32\x3C"},
        {6, 2, 3, 8, kTwelveBytes + "\x0D\x0E\x0F\x10\x11\x12"},
    };
}

TEST(DecodeRaster, ReportsEachRowAfterWritingIt)
{
    for (const Picture& picture : SmallPictures()) {
        SCOPED_TRACE(Described(picture));
        const Decoded have = Decode(picture);
        ASSERT_EQ(have.result, 0);
        ASSERT_EQ(have.calls, "(0,2) (1,2) (2,2)");
        const size_t stride = size_t(picture.stride);
        const std::vector<uint8_t> untouched(stride, kSentinel[0]);
        for (size_t r = 0; r < 3; ++r) {
            const size_t at = (2 - r) * stride;
            const std::vector<uint8_t> done(have.bytes.begin() + long(at),
                                            have.bytes.begin() + long(at + stride));
            ASSERT_NE(done, untouched) << "picture row " << r << " never written";
            // at the report of row `call`, rows up to it are complete, the rest untouched
            for (size_t call = 0; call < 3; ++call) {
                const std::vector<uint8_t> row(have.snapshots[call].begin() + long(at),
                                               have.snapshots[call].begin() + long(at + stride));
                EXPECT_EQ(row, r <= call ? done : untouched)
                    << "picture row " << r << " at the report of row " << call;
            }
        }
    }
}

TEST(DecodeRaster, StopsWhenProgressAsksTo)
{
    for (const Picture& picture : SmallPictures()) {
        SCOPED_TRACE(Described(picture));
        const Decoded whole = Decode(picture);
        for (int stop = 0; stop < 3; ++stop) {
            SCOPED_TRACE("stop at the report of row " + std::to_string(stop));
            const Decoded have = Decode(picture, stop);
            // a stop asked at the last row is still a stop
            EXPECT_EQ(have.result, 1);
            std::string calls;
            for (int r = 0; r <= stop; ++r)
                calls += (r ? " (" : "(") + std::to_string(r) + ",2)";
            EXPECT_EQ(have.calls, calls);
            // rows reached are as in a whole decode; the rest never written
            const size_t stride = size_t(picture.stride);
            for (size_t r = 0; r < 3; ++r) {
                const size_t at = (2 - r) * stride;
                const std::vector<uint8_t> row(have.bytes.begin() + long(at),
                                               have.bytes.begin() + long(at + stride));
                const std::vector<uint8_t> done(whole.bytes.begin() + long(at),
                                                whole.bytes.begin() + long(at + stride));
                EXPECT_EQ(row, int(r) <= stop ? done : std::vector<uint8_t>(stride, 0))
                    << "picture row " << r << ": rows not reached are cleared";
            }
        }
    }
}

TEST(DecodeRaster, DecodesWithoutProgressFunction)
{
    for (const Picture& picture : SmallPictures()) {
        SCOPED_TRACE(Described(picture));
        const Decoded reported = Decode(picture);
        const Decoded silent = Decode(picture, -1, false);
        EXPECT_EQ(silent.result, 0);
        EXPECT_EQ(silent.block, reported.block);
        EXPECT_EQ(silent.calls, "");
    }
}

TEST(DecodeRaster, PassesTheHostValueBack)
{
    static std::vector<intptr_t> seen;
    seen.clear();
    struct Host {
        static int32_t PXM_STDCALL Progress(int32_t, int32_t, intptr_t hostValue)
        {
            seen.push_back(hostValue);
            return 0;
        }
    };
    const ExactBytes source("1 2 3 4"s);
    uint8_t block[8];
    const intptr_t hostValue = -0x12345678;
    EXPECT_EQ(DecodeRaster(source.data(), source.size(), block, Host::Progress, hostValue, 2, 2, 2,
                           4),
              0);
    EXPECT_EQ(seen, std::vector<intptr_t>(2, hostValue));
}

TEST(DecodeRaster, EmptyPictures)
{
    const std::string sources[] = {"", "1", "1", "1 2 3", "", "", ""};
    for (PxmKind kind = 1; kind <= 6; ++kind) {
        // no pixel per row: every row is still reported
        ExpectDecoded({{kind, 0, 3, 4, sources[kind]}, 0, Repeat("00 00 00 00 | ", 2) + "00 00 00 00",
                       "(0,2) (1,2) (2,2)"});
        ExpectDecoded({{kind, -3, 2, 4, sources[kind]}, 0, "00 00 00 00 | 00 00 00 00",
                       "(0,1) (1,1)"});
        ExpectDecoded({{kind, INT32_MIN, 1, 4, sources[kind]}, 0, "00 00 00 00", "(0,0)"});
        // no row: nothing written (the block is empty), nothing reported
        ExpectDecoded({{kind, 3, 0, 4, sources[kind]}, 0, "", ""});
    }
}

TEST(DecodeRaster, RejectsUnknownKindsBeforeAnything)
{
    for (PxmKind kind : {0, 7, -1, 255, INT32_MIN}) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        uint8_t block[8];
        memset(block, kSentinel[0], sizeof block);
        Recorder recorder;
        // a null source: any read would fault
        EXPECT_EQ(DecodeRaster(nullptr, 100, block, Record, reinterpret_cast<intptr_t>(&recorder),
                               kind, 1, 2, 4),
                  8);
        EXPECT_EQ(std::vector<uint8_t>(block, block + 8), std::vector<uint8_t>(8, kSentinel[0]));
        EXPECT_TRUE(recorder.calls.empty());
    }
}

// Lines of at most 70 characters, as netpbm writes its plain formats: the
// tokens joined by blanks, a line broken before a token that would not fit.
std::string Lines70(const std::vector<std::string>& tokens, const std::string& lineEnd)
{
    std::string out, line;
    for (const std::string& t : tokens) {
        if (!line.empty() && line.size() + 1 + t.size() > 70) {
            out += line + lineEnd;
            line.clear();
        }
        line += (line.empty() ? "" : " ") + t;
    }
    return out + line + lineEnd;
}

// A run of "0" and "1" broken into lines of at most 70 characters.
std::string RunLines(const std::string& run, size_t every, const std::string& lineEnd)
{
    std::string out;
    for (size_t i = 0; i < run.size(); i += every)
        out += run.substr(i, every) + lineEnd;
    return out;
}

// Samples of 1, 2 and 3 digits in turn, as decimal tokens.
std::vector<std::string> Samples(int count, int seed)
{
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        const int v = (i * 73 + seed * 31) % 256;
        out.push_back(std::to_string(i % 3 == 0 ? v % 10 : i % 3 == 1 ? v % 100 : v));
    }
    return out;
}

std::string Bits(int count, int seed)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += char('0' + (((i * 5 + seed) / 3) & 1));
    return out;
}

TEST(DecodeRaster, LongTextsAgreeWithTheReference)
{
    // Texts long enough for every block path of the sample reader (blocks of
    // 32 and 64 bytes, eight pixels at a time): each is decoded by the fast
    // decoder with both block widths and by the reference decoder, which
    // must agree in every byte and every progress call.
    struct Case {
        const char* what;
        PxmKind kind;
        int32_t width, height;
        std::string text;
        int32_t result;
    };
    std::vector<Case> cases;
    for (const std::string lineEnd : {"\n", "\r\n"}) {
        const bool crlf = lineEnd.size() == 2;
        for (int32_t width : {1, 7, 8, 9, 63, 64, 65, 75, 150, 257}) {
            const int32_t height = 5;
            const int pixels = width * height;
            std::string rows;
            for (int r = 0; r < height; ++r)
                rows += RunLines(Bits(width, r), 70, lineEnd);
            cases.push_back({crlf ? "P1 runs, netpbm lines, CR LF" : "P1 runs, netpbm lines", 1,
                             width, height, rows, 0});
            // one run across every row's end, broken at odd places
            cases.push_back({"P1 run across rows", 1, width, height,
                             RunLines(Bits(pixels, 3), 37, lineEnd), 0});
            std::vector<std::string> bits;
            for (char c : Bits(pixels, 1))
                bits.push_back(std::string(1, c));
            cases.push_back({"P1 spaced bits", 1, width, height, Lines70(bits, lineEnd), 0});
            cases.push_back({"P2 samples", 2, width, height, Lines70(Samples(pixels, width), lineEnd), 0});
            cases.push_back({"P3 samples", 3, width, height,
                             Lines70(Samples(3 * pixels, width), lineEnd), 0});
            // cut inside the last row, inside a token
            const std::string greys = Lines70(Samples(pixels, 2), lineEnd);
            const size_t cut = greys.size() / 5 + lineEnd.size() + 3;
            cases.push_back({"P2 cut short", 2, width, height, greys.substr(0, greys.size() - cut), 3});
            const std::string runs = RunLines(Bits(pixels, 5), 70, lineEnd);
            cases.push_back({"P1 cut short", 1, width, height,
                             runs.substr(0, runs.size() - runs.size() / 4 - lineEnd.size() - 1), 3});
        }
        // tokens longer than any block, in runs and in numbers
        cases.push_back({"P1 run of 300 characters", 1, 100, 3, Bits(300, 7) + lineEnd, 0});
        cases.push_back({"P1 tokens over 72 bytes that are no run", 1, 3, 2,
                         std::string(80, '1') + "2 " + std::string(90, '0') + "3 1 0 1 1" + lineEnd, 0});
        cases.push_back({"P2 tokens over 72 bytes", 2, 4, 2,
                         std::string(75, '0') + "255 " + std::string(100, '9') + " 7 8\t9 10" + lineEnd +
                             "11 12 13" + lineEnd, 0});
        cases.push_back({"P3 long blank runs", 3, 2, 2,
                         std::string(200, ' ') + "1 2 3" + std::string(100, '\n') + "4 5 6 7 8 9 10 11 12",
                         0});
        cases.push_back({"P2 a zero byte far in", 2, 40, 2,
                         Lines70(Samples(50, 1), lineEnd) + std::string(1, '\0') +
                             Lines70(Samples(40, 2), lineEnd), 3});
    }
    // raw rows, long and short
    for (PxmKind kind = 4; kind <= 6; ++kind)
        for (int32_t width : {1, 33, 1000}) {
            std::string data;
            for (int i = 0; i < 3 * width * 4; ++i)
                data += char(i * 13 + kind);
            cases.push_back({"raw rows", kind, width, 4, data, 0});
        }
    for (const Case& c : cases) {
        const int32_t bits = c.kind % 3 == 1 ? 1 : c.kind % 3 == 2 ? 8 : 24;
        const Picture picture = {c.kind, c.width, c.height, (c.width * bits + 31) / 32 * 4, c.text};
        SCOPED_TRACE(std::string(c.what) + ": " + Described(picture).substr(0, 160));
        const Decoded have = Decode(picture);
        EXPECT_EQ(have.result, c.result);
        EXPECT_EQ(have.block.find(".."), std::string::npos) << "bytes left unwritten";
        EXPECT_EQ(have.block.find("!!"), std::string::npos) << "bytes that depend on the block";
        // And stopped half way, likewise.
        Decode(picture, c.height / 2);
    }
}

} // namespace
