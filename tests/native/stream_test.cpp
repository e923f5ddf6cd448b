// DecodePictureStream: a picture read in pieces gives what the same bytes
// give from memory, wherever the pieces end; a read that fails is a read
// error with nothing handed over; a stop ends the reading.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "pxm/pxm.h"
#include "tests/native/support.h"

using namespace std::string_literals;

namespace {

// The input, delivered a piece at a time: the first read gives `first`
// bytes at most, every later one `chunk` at most (and never more than asked).
struct Pieces {
    std::string bytes;
    size_t chunk = 1;
    size_t first = 1;
    size_t at = 0;
    int reads = 0;
    int failAt = -1;            // the read (from 0) that fails; -1: none
    size_t largestAsk = 0;      // the most bytes one read was asked for
    int readsAtStop = -1;       // reads made when the host asked to stop
};

intptr_t ReadPieces(void* context, uint8_t* buffer, size_t capacity)
{
    Pieces* p = static_cast<Pieces*>(context);
    if (capacity > p->largestAsk)
        p->largestAsk = capacity;
    if (p->reads++ == p->failAt)
        return -1;
    size_t n = p->reads == 1 ? p->first : p->chunk;
    if (n > capacity)
        n = capacity;
    if (n > p->bytes.size() - p->at)
        n = p->bytes.size() - p->at;
    memcpy(buffer, p->bytes.data() + p->at, n);
    p->at += n;
    return intptr_t(n);
}

struct Blocks {
    std::vector<void*> live;
    int allocated = 0;
    int released = 0;
};

Blocks* gBlocks;

void* Allocate(size_t size)
{
    void* block = malloc(size == 0 ? 1 : size);
    memset(block, 0xCD, size);
    gBlocks->live.push_back(block);
    ++gBlocks->allocated;
    return block;
}

void Release(void* block)
{
    for (size_t i = 0; i < gBlocks->live.size(); ++i)
        if (gBlocks->live[i] == block) {
            gBlocks->live.erase(gBlocks->live.begin() + long(i));
            ++gBlocks->released;
            free(block);
            return;
        }
    ADD_FAILURE() << "released a block it did not allocate";
}

const PxmAllocator kAllocator = {Allocate, Release};

struct Host {
    std::vector<std::pair<int32_t, int32_t>> calls;
    int stopAtCall = -1;
    Pieces* pieces = nullptr;
};

int32_t PXM_STDCALL Progress(int32_t row, int32_t lastRow, intptr_t hostValue)
{
    Host* host = reinterpret_cast<Host*>(hostValue);
    host->calls.emplace_back(row, lastRow);
    if (int(host->calls.size()) - 1 != host->stopAtCall)
        return 0;
    if (host->pieces != nullptr)
        host->pieces->readsAtStop = host->pieces->reads;
    return 1;
}

struct Outcome {
    int32_t result = -100;
    std::string info, pixels; // the blocks handed over
    std::vector<std::pair<int32_t, int32_t>> calls;
    int allocated = 0, released = 0;
    bool variablesTouched = false;
};

void* const kHeld = reinterpret_cast<void*>(uintptr_t(0x5A5A5A50));

// The picture decoded from memory, or from `pieces` when it is not null.
Outcome DecodeOnce(const std::string& picture, Pieces* pieces, int stopAtCall,
                   uint64_t inputLength)
{
    Blocks blocks;
    gBlocks = &blocks;
    Host host;
    host.stopAtCall = stopAtCall;
    host.pieces = pieces;
    void* info = kHeld;
    void* pixels = kHeld;
    Outcome o;
    if (pieces == nullptr) {
        const ExactBytes image(picture);
        o.result = DecodePicture(image.data(), image.size(), kAllocator, Progress,
                                 reinterpret_cast<intptr_t>(&host), &info, &pixels);
    } else {
        const PxmStream stream = {ReadPieces, pieces, pieces->chunk, inputLength};
        o.result = DecodePictureStream(stream, kAllocator, Progress,
                                       reinterpret_cast<intptr_t>(&host), &info, &pixels);
    }
    o.calls = host.calls;
    o.variablesTouched = info != kHeld || pixels != kHeld;
    if (info != kHeld && pixels != kHeld && blocks.live.size() == 2) {
        // The sizes are the DIB's own: biSizeImage, and the header with its palette.
        const uint8_t* header = static_cast<const uint8_t*>(info);
        const uint32_t bits = uint32_t(header[14]);
        const size_t infoSize = bits == 1 ? 52 : bits == 8 ? 1068 : 44;
        uint32_t pixelSize;
        memcpy(&pixelSize, header + 20, 4);
        o.info.assign(static_cast<const char*>(info), infoSize);
        o.pixels.assign(static_cast<const char*>(pixels), pixelSize);
    }
    o.allocated = blocks.allocated;
    o.released = blocks.released;
    for (void* block : blocks.live)
        free(block);
    gBlocks = nullptr;
    return o;
}

void ExpectSame(const Outcome& have, const Outcome& want)
{
    EXPECT_EQ(have.result, want.result);
    EXPECT_EQ(have.calls, want.calls);
    EXPECT_EQ(have.info == want.info, true) << "the information blocks differ";
    EXPECT_EQ(have.pixels == want.pixels, true) << "the pixel blocks differ";
    EXPECT_EQ(have.allocated, want.allocated);
    EXPECT_EQ(have.released, want.released);
    EXPECT_EQ(have.variablesTouched, want.variablesTouched);
}

std::string Repeat(const std::string& s, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += s;
    return out;
}

std::string WithCrLf(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// Pictures whose every part will meet the end of a piece: comment lines, a
// maxval, long tokens, runs across rows, short rows of raw data, pictures cut
// short, zero bytes, and headers longer than a piece.
std::vector<std::string> Pictures()
{
    std::string greys, pixels, raw6;
    for (int i = 0; i < 61; ++i)
        greys += std::to_string((i * 37) % 256) + (i % 17 == 16 ? "\n" : " ");
    for (int i = 0; i < 3 * 23; ++i)
        pixels += std::to_string((i * 91) % 300) + (i % 12 == 11 ? "\n" : " ");
    for (int i = 0; i < 3 * 5 * 7; ++i)
        raw6 += char(i * 7);
    std::vector<std::string> plain = {
        "P1\n# a comment\n9 3\n1 0 1 1 0 0 0 0 1\n0 1 0 1 0 1 0 1 0\n1 1 1 1 1 1 1 1 1\n",
        "P1\n75 2\n" + Repeat("01", 35) + "\n01010\n" + Repeat("10", 35) + "\n10101\n",
        "P1\n13 3\n" + Repeat("1", 20) + " 0 2 " + Repeat("0", 17) + "\n",
        "P1\n3 2\n" + std::string(80, '0') + "1 1 0 1 1\n",
        // tokens that begin like a run and are none: a cut one would be
        "P1\n4 2\n0101010101010101012 3 " + std::string(30, '1') + "x 1 0 1 1 0 1\n",
        "P2\n# greys\n61 1\n255\n" + greys,
        "P2\n4 2\n255\n" + std::string(90, '0') + "7 300 -1 +5 x 12 13 14\n",
        "P2\n3 2\n255\n1 2 3 4 5",
        "P2\n3 2\n255\n1 2\0 3 4 5 6\n"s,
        "P3\n23 1\n255\n" + pixels,
        "P3\n2 2\n255\n1 2 3 4 5 6 7 8 9 10 11 12",
        "P4\n# raw\n13 5\n" + std::string(10, '\xA5'),
        "P4\n9 3\n\xff\x80\x7f",
        "P5\n17 3\n255\n" + std::string(51, '\x33'),
        "P5\n3 3\n255\nabcdefg",
        "P6\n5 7\n255\n" + raw6,
        "P6\n5 7\n255\n" + raw6.substr(0, 70),
        "P5\n#" + std::string(300, 'c') + "\n2 1\n255\nab",
        "P6\n2 1\n255\r\n" + std::string(6, '\n'),
        "P5\n0 3\n255\n",
        "P7\n1 1\n255\nx",
        "",
    };
    std::vector<std::string> all = plain;
    for (const std::string& p : plain)
        if (p.size() > 3 && (p[1] == '1' || p[1] == '2' || p[1] == '3'))
            all.push_back(WithCrLf(p));
    return all;
}

TEST(DecodePictureStream, PiecesEndingAnywhereGiveWhatMemoryGives)
{
    // Pieces of 1, 7 and 64 bytes, the first shorter by every amount: every
    // byte of every picture falls at the end of a piece for some of them.
    for (const std::string& picture : Pictures()) {
        SCOPED_TRACE("picture " + Escaped(picture.substr(0, 40)));
        const Outcome fromMemory = DecodeOnce(picture, nullptr, -1, 0);
        for (size_t chunk : {size_t(1), size_t(7), size_t(64)}) {
            for (size_t first = 1; first <= chunk; ++first) {
                SCOPED_TRACE("pieces of " + std::to_string(chunk) + ", the first of " +
                             std::to_string(first));
                Pieces pieces;
                pieces.bytes = picture;
                pieces.chunk = chunk;
                pieces.first = first;
                ExpectSame(DecodeOnce(picture, &pieces, -1, picture.size()), fromMemory);
            }
        }
    }
}

TEST(DecodePictureStream, OneBufferIsReused)
{
    // Pictures whose tokens and rows fit a piece never ask a read for more
    // than a piece: the buffer does not grow.
    const std::string greys = "P2\n200 50\n255\n" + Repeat("12 200 7 ", 200 * 50 / 3 + 1);
    const std::string raw = "P6\n100 100\n255\n" + std::string(30000, '\x17');
    for (const std::string& picture : {greys, raw}) {
        Pieces pieces;
        pieces.bytes = picture;
        pieces.chunk = 4096;
        pieces.first = 4096;
        const Outcome o = DecodeOnce(picture, &pieces, -1, picture.size());
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(pieces.largestAsk, 4096u);
        EXPECT_GT(pieces.reads, 5);
    }
}

TEST(DecodePictureStream, AFileThatShrinksOrGrowsWhileItIsRead)
{
    // The size known beforehand is only for the size check: what arrives is
    // decoded, and is short or not as it is.
    const std::string picture = "P5\n4 4\n255\n" + std::string(16, '\x41');
    struct Case {
        const char* what;
        std::string arrives;
        uint64_t sizeBefore;
    };
    const Case cases[] = {
        {"shrank by half", picture.substr(0, picture.size() - 8), picture.size()},
        {"shrank to its header", picture.substr(0, 11), picture.size()},
        {"shrank to nothing", "", picture.size()},
        {"grew", picture + "more bytes", picture.size()},
        {"was empty when its size was taken", picture, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pieces pieces;
        pieces.bytes = c.arrives;
        pieces.chunk = 5;
        pieces.first = 5;
        ExpectSame(DecodeOnce(c.arrives, &pieces, -1, c.sizeBefore),
                   DecodeOnce(c.arrives, nullptr, -1, 0));
    }
}

TEST(DecodePictureStream, AReadThatFailsIsAReadErrorWithNothingHandedOver)
{
    const std::string ascii = "P2\n# c\n5 6\n255\n" + Repeat("1 22 133 ", 10);
    const std::string raw = "P6\n5 6\n255\n" + std::string(90, '\x55');
    for (const std::string& picture : {ascii, raw}) {
        for (int failAt = 0; failAt < 12; ++failAt) {
            SCOPED_TRACE("read " + std::to_string(failAt) + " fails, picture " + picture.substr(0, 2));
            Pieces pieces;
            pieces.bytes = picture;
            pieces.chunk = 9;
            pieces.first = 9;
            pieces.failAt = failAt;
            const Outcome o = DecodeOnce(picture, &pieces, -1, picture.size());
            EXPECT_EQ(o.result, 6);
            EXPECT_FALSE(o.variablesTouched) << "the host's variables got back what they held";
            EXPECT_EQ(o.allocated, o.released) << "every block released";
            // Before the blocks exist (the header takes two reads) nothing
            // is allocated at all.
            if (failAt <= 1) {
                EXPECT_EQ(o.allocated, 0);
            }
        }
    }
}

TEST(DecodePictureStream, AStopEndsTheReading)
{
    const std::string ascii = "P2\n8 40\n255\n" + Repeat("10 20 30 40 50 60 70 80\n", 40);
    const std::string raw = "P5\n8 40\n255\n" + std::string(320, '\x66');
    for (const std::string& picture : {ascii, raw}) {
        for (int stopAt : {0, 3, 20, 39}) {
            SCOPED_TRACE("stop at row " + std::to_string(stopAt) + ", picture " + picture.substr(0, 2));
            Pieces pieces;
            pieces.bytes = picture;
            pieces.chunk = 16;
            pieces.first = 16;
            const Outcome o = DecodeOnce(picture, &pieces, stopAt, picture.size());
            EXPECT_EQ(o.result, 1);
            EXPECT_EQ(o.calls.size(), size_t(stopAt) + 1);
            EXPECT_EQ(pieces.reads, pieces.readsAtStop) << "read after the stop";
            ExpectSame(o, DecodeOnce(picture, nullptr, stopAt, 0));
        }
    }
}

} // namespace
