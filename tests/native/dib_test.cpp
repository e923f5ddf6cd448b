// The DIB handed to the host: its sizes (PlanDib), its header and palette
// (WriteDibInfo), and the whole path from an image to both blocks
// (DecodePicture).
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pxm/pxm.h"
#include "tests/native/support.h"

using namespace std::string_literals;

namespace {

uint32_t U32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t U16(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

constexpr uint8_t kSentinel = 0xCD;

// An input long enough for any picture: PlanDib then refuses nothing for
// the input holding too little of it.
constexpr uint64_t kAnyInput = UINT64_MAX;

PxmHeader Header(PxmKind kind, int32_t width, int32_t height)
{
    return {kind, width, height, 0, false};
}

TEST(PlanDib, RowStrideIsTheRowBytesRoundedUpToFour)
{
    struct Case {
        int32_t width;
        int32_t pbm, pgm, ppm;
    };
    const Case cases[] = {
        {1, 4, 4, 4},     {2, 4, 4, 8},     {4, 4, 4, 12},    {5, 4, 8, 16},
        {8, 4, 8, 24},    {32, 4, 32, 96},  {33, 8, 36, 100}, {100, 16, 100, 300},
        {7, 4, 8, 24},    {9, 4, 12, 28},   {31, 4, 32, 96},  {64, 8, 64, 192},
    };
    for (const Case& c : cases) {
        const int32_t strides[3] = {c.pbm, c.pgm, c.ppm};
        for (PxmKind kind = 1; kind <= 6; ++kind) {
            PxmDibLayout layout = {};
            ASSERT_EQ(PlanDib(Header(kind, c.width, 3), kAnyInput, &layout), 0)
                << "kind " << kind << ", width " << c.width;
            const int32_t want = strides[(kind - 1) % 3];
            EXPECT_EQ(layout.rowStride, want) << "kind " << kind << ", width " << c.width;
            EXPECT_EQ(layout.pixelSize, uint32_t(3 * want))
                << "kind " << kind << ", width " << c.width << " x 3";
        }
    }
}

TEST(PlanDib, ShapeFollowsTheKind)
{
    struct Case {
        PxmKind kind;
        int32_t bitsPerPixel;
        int32_t paletteEntries;
        uint32_t infoSize; // header, palette, and 4 spare bytes
    };
    const Case cases[] = {
        {1, 1, 2, 52}, {2, 8, 256, 1068}, {3, 24, 0, 44},
        {4, 1, 2, 52}, {5, 8, 256, 1068}, {6, 24, 0, 44},
    };
    for (const Case& c : cases) {
        PxmDibLayout layout = {};
        ASSERT_EQ(PlanDib(Header(c.kind, 2, 2), kAnyInput, &layout), 0) << "kind " << c.kind;
        EXPECT_EQ(layout.bitsPerPixel, c.bitsPerPixel) << "kind " << c.kind;
        EXPECT_EQ(layout.paletteEntries, c.paletteEntries) << "kind " << c.kind;
        EXPECT_EQ(layout.infoSize, c.infoSize) << "kind " << c.kind;
    }
}

TEST(PlanDib, ChecksEverySizeOnce)
{
    struct Case {
        PxmKind kind;
        int32_t width;
        int32_t height;
        int32_t result;
        int32_t rowStride = 0; // when the result is 0
        uint32_t pixelSize = 0;
    };
    const Case cases[] = {
        // empty pictures are fine, with an empty pixel block
        {5, 0, 5, 0, 0, 0},
        {2, 5, 0, 0, 8, 0},
        {6, 0, 0, 0, 0, 0},
        {4, INT32_MAX, 0, 0, 268435456, 0},
        // the largest blocks that 32 bits still count
        {1, INT32_MAX, 15, 0, 268435456, 4026531840u},
        {5, 65536, 65535, 0, 65536, 4294901760u},
        // no such picture
        {0, 1, 1, 8},
        {7, 1, 1, 8},
        {-1, 1, 1, 8},
        {5, -1, 1, 8},
        {5, 1, -1, 8},
        {1, INT32_MIN, 1, 8},
        {6, 1, INT32_MIN, 8},
        // rows without pixels cost no data, so their number is bounded
        {5, 0, kPxmMaxEmptyRows, 0, 0, 0},
        {4, 0, kPxmMaxEmptyRows + 1, 8},
        {1, 0, INT32_MAX, 8},
        // sizes that do not fit in 32 bits
        {6, INT32_MAX, 1, 4},
        {3, INT32_MAX, 0, 4},
        {5, 65536, 65536, 4},
        {4, INT32_MAX, 16, 4},
        {2, INT32_MAX, INT32_MAX, 4},
        {3, 1 << 30, 4, 4},
    };
    for (const Case& c : cases) {
        PxmDibLayout layout = {};
        const int32_t result = PlanDib(Header(c.kind, c.width, c.height), kAnyInput, &layout);
        EXPECT_EQ(result, c.result) << "kind " << c.kind << ", " << c.width << " x " << c.height;
        if (c.result == 0 && result == 0) {
            EXPECT_EQ(layout.rowStride, c.rowStride)
                << "kind " << c.kind << ", " << c.width << " x " << c.height;
            EXPECT_EQ(layout.pixelSize, c.pixelSize)
                << "kind " << c.kind << ", " << c.width << " x " << c.height;
        }
    }
}

TEST(PlanDib, AHugeBlockNeedsAnInputOfASixteenthOfItsSize)
{
    // Above kPxmLargeBlock (64 MiB) a pixel block needs an input of at least
    // a sixteenth of its size; below it, any input will do.
    struct Case {
        const char* what;
        PxmKind kind;
        int32_t width, height;
        uint64_t inputLength;
        int32_t result;
    };
    const uint64_t over = uint64_t(8192) * 8193; // 67,117,056 bytes: 8 KiB over
    const uint64_t under = uint64_t(8192) * 8191;
    const Case cases[] = {
        {"4 GiB from the 19 bytes of its header", 5, 65535, 65535, 19, 4},
        {"4 GiB from 20 bytes of text", 2, 65535, 65535, 20, 4},
        {"4 GiB from a sixteenth of it", 5, 65535, 65535, uint64_t(65536) * 65535 / 16, 0},
        {"just over 64 MiB, a byte short of a sixteenth", 5, 8192, 8193, (over + 15) / 16 - 1, 4},
        {"just over 64 MiB, a sixteenth", 5, 8192, 8193, (over + 15) / 16, 0},
        {"just under 64 MiB from nothing", 5, 8192, 8191, 0, 0},
        {"exactly 64 MiB from nothing", 5, 8192, 8192, 0, 0},
        {"64 MiB and 4 bytes from nothing", 4, 32, 16777217, 0, 4},
        // A complete picture needs at most about 4 block bytes per input byte.
        {"a complete bitmap one pixel wide", 4, 1, 20000000, 14 + 20000000, 0},
        {"a complete pixmap", 6, 5000, 5000, 18 + 75000000, 0},
        {"a complete plain bitmap", 1, 20000, 20000, 12 + 2 * uint64_t(20000) * 20000, 0},
    };
    for (const Case& c : cases) {
        PxmDibLayout layout = {};
        EXPECT_EQ(PlanDib(Header(c.kind, c.width, c.height), c.inputLength, &layout), c.result)
            << c.what << " (" << c.width << " x " << c.height << ", input " << c.inputLength << ")";
    }
    EXPECT_GT(over, kPxmLargeBlock);
    EXPECT_LT(under, kPxmLargeBlock);
}

TEST(WriteDibInfo, WritesHeaderAndPalette)
{
    struct Case {
        PxmKind kind;
        int32_t width;
        int32_t height;
        int32_t rowStride;
        uint32_t pixelSize;
        uint32_t infoSize;
        uint32_t bitCount;
        uint32_t colorsUsed;
    };
    const Case cases[] = {
        {6, 4, 2, 12, 24, 44, 24, 0},
        {5, 5, 3, 8, 24, 1068, 8, 256},
        {1, 33, 2, 8, 16, 52, 1, 2},
        {4, 33, 2, 8, 16, 52, 1, 2},
        {2, 100, 7, 100, 700, 1068, 8, 256},
        {3, 0, 0, 0, 0, 44, 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + ", " + std::to_string(c.width) + " x " +
                     std::to_string(c.height));
        const PxmHeader header = Header(c.kind, c.width, c.height);
        PxmDibLayout layout = {};
        ASSERT_EQ(PlanDib(header, kAnyInput, &layout), 0);
        EXPECT_EQ(layout.rowStride, c.rowStride);
        EXPECT_EQ(layout.pixelSize, c.pixelSize);
        ASSERT_EQ(layout.infoSize, c.infoSize);

        std::unique_ptr<uint8_t[]> info(new uint8_t[layout.infoSize]);
        memset(info.get(), kSentinel, layout.infoSize);
        WriteDibInfo(info.get(), header, layout);
        const uint8_t* p = info.get();
        EXPECT_EQ(U32(p + 0), 40u) << "biSize";
        EXPECT_EQ(U32(p + 4), uint32_t(c.width)) << "biWidth";
        // positive: the bottom row comes first
        EXPECT_EQ(U32(p + 8), uint32_t(c.height)) << "biHeight";
        EXPECT_EQ(U16(p + 12), 1u) << "biPlanes";
        EXPECT_EQ(U16(p + 14), c.bitCount) << "biBitCount";
        EXPECT_EQ(U32(p + 16), 0u) << "biCompression";
        EXPECT_EQ(U32(p + 20), c.pixelSize) << "biSizeImage";
        EXPECT_EQ(U32(p + 24), 0u) << "biXPelsPerMeter";
        EXPECT_EQ(U32(p + 28), 0u) << "biYPelsPerMeter";
        EXPECT_EQ(U32(p + 32), c.colorsUsed) << "biClrUsed";
        EXPECT_EQ(U32(p + 36), 0u) << "biClrImportant";
        for (uint32_t i = 0; i < c.colorsUsed; ++i) {
            // black and white: 0 is white, 1 black; grey: each sample its own index
            const uint8_t grey = c.colorsUsed == 2 ? uint8_t(i == 0 ? 255 : 0) : uint8_t(i);
            const uint8_t* entry = p + 40 + 4 * i;
            const std::vector<uint8_t> want = {grey, grey, grey, 0};
            EXPECT_EQ(std::vector<uint8_t>(entry, entry + 4), want)
                << "palette entry " << i << ": blue, green, red, reserved";
        }
        const uint8_t* spare = p + c.infoSize - 4;
        EXPECT_EQ(std::vector<uint8_t>(spare, spare + 4), std::vector<uint8_t>(4, 0))
            << "the 4 bytes after the palette are zeros, not what the block held";
    }
}

TEST(WriteDibInfo, KeepsTheHeightAsItIs)
{
    const PxmHeader header = Header(5, 1, 40000);
    PxmDibLayout layout = {};
    ASSERT_EQ(PlanDib(header, kAnyInput, &layout), 0);
    std::vector<uint8_t> info(layout.infoSize, kSentinel);
    WriteDibInfo(info.data(), header, layout);
    EXPECT_EQ(U32(info.data() + 8), 40000u);
    EXPECT_EQ(U32(info.data() + 20), 160000u);
}

// The host's side of DecodePicture: blocks from malloc, filled with the
// sentinel so that bytes never written show; a chosen call may fail.
struct AllocatorLog {
    int failOn = 0; // the 1-based call that gets null; 0: none
    std::vector<size_t> sizes;
    std::vector<void*> live;
    int badReleases = 0;
};

AllocatorLog gLog;

void* Allocate(size_t size)
{
    gLog.sizes.push_back(size);
    if (int(gLog.sizes.size()) == gLog.failOn)
        return nullptr;
    void* block = malloc(size == 0 ? 1 : size);
    memset(block, kSentinel, size);
    gLog.live.push_back(block);
    return block;
}

void Release(void* block)
{
    const auto it = std::find(gLog.live.begin(), gLog.live.end(), block);
    if (it == gLog.live.end()) {
        ++gLog.badReleases;
        return;
    }
    gLog.live.erase(it);
    free(block);
}

const PxmAllocator kAllocator = {Allocate, Release};

struct Reports {
    std::vector<std::pair<int32_t, int32_t>> calls;
    int stopAtCall = -1;
};

int32_t PXM_STDCALL Report(int32_t row, int32_t lastRow, intptr_t hostValue)
{
    Reports* reports = reinterpret_cast<Reports*>(hostValue);
    reports->calls.emplace_back(row, lastRow);
    return int(reports->calls.size()) - 1 == reports->stopAtCall ? 1 : 0;
}

using Calls = std::vector<std::pair<int32_t, int32_t>>;

void* const kUntouchedHandle = reinterpret_cast<void*>(uintptr_t(0x5A5A5A5A));

class DecodePictureTest : public ::testing::Test {
protected:
    void SetUp() override { Begin(); }
    void TearDown() override { End(); }

    void Begin()
    {
        gLog = AllocatorLog();
        info = pixels = kUntouchedHandle;
    }

    // the blocks handed over belong to the host: here, to the test
    void End()
    {
        EXPECT_EQ(gLog.badReleases, 0) << "released a block it did not allocate";
        for (void* block : gLog.live)
            free(block);
        gLog.live.clear();
    }

    // Decodes from memory, and checks that the same bytes read in pieces,
    // as a file is, give the same answer.
    int32_t Decode(const ExactBytes& image, Reports* reports)
    {
        const int stopAtCall = reports != nullptr ? reports->stopAtCall : -1;
        const int32_t result = DecodePicture(image.data(), image.size(), kAllocator,
                                             reports != nullptr ? Report : nullptr,
                                             reinterpret_cast<intptr_t>(reports), &info, &pixels);
        // An allocation that the test makes fail has no counterpart there.
        if (gLog.failOn == 0)
            ExpectTheSameInPieces(image, reports, stopAtCall, result);
        return result;
    }

    void ExpectTheSameInPieces(const ExactBytes& image, const Reports* reports, int stopAtCall,
                               int32_t result)
    {
        struct Pieces {
            const uint8_t* bytes;
            size_t length, at;
            static intptr_t Read(void* context, uint8_t* buffer, size_t capacity)
            {
                Pieces* p = static_cast<Pieces*>(context);
                size_t n = p->length - p->at < 7 ? p->length - p->at : 7;
                n = n < capacity ? n : capacity;
                memcpy(buffer, p->bytes + p->at, n);
                p->at += n;
                return intptr_t(n);
            }
            static void* Allocate(size_t size) { return malloc(size == 0 ? 1 : size); }
        };
        Pieces pieces = {image.data(), image.size(), 0};
        const PxmStream stream = {Pieces::Read, &pieces, 7, image.size()};
        const PxmAllocator plain = {Pieces::Allocate, free};
        Reports inPieces;
        inPieces.stopAtCall = stopAtCall;
        void* streamInfo = kUntouchedHandle;
        void* streamPixels = kUntouchedHandle;
        EXPECT_EQ(DecodePictureStream(stream, plain, reports != nullptr ? Report : nullptr,
                                      reinterpret_cast<intptr_t>(&inPieces), &streamInfo,
                                      &streamPixels),
                  result)
            << "read in pieces";
        if (reports != nullptr) {
            EXPECT_EQ(inPieces.calls, reports->calls) << "read in pieces";
        }
        EXPECT_EQ(streamInfo == kUntouchedHandle, info == kUntouchedHandle) << "read in pieces";
        if (streamInfo != kUntouchedHandle && info != kUntouchedHandle) {
            const uint8_t* header = static_cast<const uint8_t*>(info);
            uint32_t pixelSize;
            memcpy(&pixelSize, header + 20, 4);
            const size_t infoSize = header[14] == 1 ? 52 : header[14] == 8 ? 1068 : 44;
            EXPECT_EQ(memcmp(streamInfo, info, infoSize), 0) << "read in pieces";
            EXPECT_EQ(memcmp(streamPixels, pixels, pixelSize), 0) << "read in pieces";
            free(streamInfo);
            free(streamPixels);
        }
    }

    void* info = kUntouchedHandle;
    void* pixels = kUntouchedHandle;
};

TEST_F(DecodePictureTest, DecodesARawPixmap)
{
    // 10 x 3 pixels; each source byte is its index from 1 on
    std::string raster;
    for (int i = 1; i <= 90; ++i)
        raster += char(i);
    const ExactBytes image("P6\n10 3\n255\n" + raster);
    Reports reports;
    ASSERT_EQ(Decode(image, &reports), 0);

    EXPECT_EQ(gLog.sizes, (std::vector<size_t>{44, 96})) << "info block first, then pixels";
    ASSERT_EQ(gLog.live.size(), 2u);
    EXPECT_EQ(info, gLog.live[0]);
    EXPECT_EQ(pixels, gLog.live[1]);
    EXPECT_EQ(reports.calls, (Calls{{0, 2}, {1, 2}, {2, 2}}));

    const uint8_t* header = static_cast<const uint8_t*>(info);
    EXPECT_EQ(U32(header + 4), 10u);
    EXPECT_EQ(U32(header + 8), 3u);
    EXPECT_EQ(U16(header + 14), 24u);
    EXPECT_EQ(U32(header + 20), 96u);
    EXPECT_EQ(U32(header + 32), 0u);
    EXPECT_EQ(std::vector<uint8_t>(header + 40, header + 44), std::vector<uint8_t>(4, 0));

    // picture row r lands at (2 - r) * 32, blue first; 2 padding bytes of
    // zeros per row
    std::vector<uint8_t> want(96, 0);
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 10; ++x)
            for (int i = 0; i < 3; ++i)
                want[size_t((2 - r) * 32 + 3 * x + i)] = uint8_t(30 * r + 3 * x + (2 - i) + 1);
    const uint8_t* block = static_cast<const uint8_t*>(pixels);
    EXPECT_EQ(std::vector<uint8_t>(block, block + 96), want);
    EXPECT_EQ(image.str(), "P6\n10 3\n255\n" + raster) << "the image was written to";
}

TEST_F(DecodePictureTest, LeavesTheImageAsItWasAndDecodesItAgainTheSame)
{
    const std::string text = "P1\n# c\n3 2\n1 0 1\n0 1 1";
    const ExactBytes image(text);
    std::vector<uint8_t> blocks[2];
    for (std::vector<uint8_t>& block : blocks) {
        ASSERT_EQ(Decode(image, nullptr), 0);
        const uint8_t* infoBlock = static_cast<const uint8_t*>(info);
        const uint8_t* pixelBlock = static_cast<const uint8_t*>(pixels);
        block.assign(infoBlock, infoBlock + 52);
        block.insert(block.end(), pixelBlock, pixelBlock + 8);
        EXPECT_EQ(image.str(), text) << "the image was written to";
    }
    EXPECT_EQ(blocks[0], blocks[1]);
    const std::vector<uint8_t> rows = {0x60, 0, 0, 0, 0xA0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(blocks[0].end() - 8, blocks[0].end()), rows);
}

TEST_F(DecodePictureTest, HandsOverBothBlocksOfAPartialPicture)
{
    struct Case {
        std::string image;
        int stopAtCall;
        int32_t result;
        Calls calls;
        std::vector<uint8_t> pixels;
    };
    // Whatever the decode did not reach is cleared, never left with what
    // the block held.
    const Case cases[] = {
        // the raster runs out in the second row
        {"P2\n3 2\n255\n1 2 3 4 5", -1, 3, {{0, 1}}, {4, 5, 0, 0, 1, 2, 3, 0}},
        // the host stops after the first row
        {"P5\n2 2\n255\nABCD", 0, 1, {{0, 1}}, {0, 0, 0, 0, 'A', 'B', 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("image: " + Escaped(c.image));
        Begin();
        Reports reports;
        reports.stopAtCall = c.stopAtCall;
        EXPECT_EQ(Decode(ExactBytes(c.image), &reports), c.result);
        ASSERT_EQ(gLog.live.size(), 2u);
        EXPECT_EQ(info, gLog.live[0]);
        EXPECT_EQ(pixels, gLog.live[1]);
        EXPECT_EQ(reports.calls, c.calls);
        const uint8_t* block = static_cast<const uint8_t*>(pixels);
        EXPECT_EQ(std::vector<uint8_t>(block, block + 8), c.pixels);
        End();
    }
}

TEST_F(DecodePictureTest, AllocatesNothingForAPictureItCannotTake)
{
    struct Case {
        std::string image;
        int32_t result;
    };
    const Case cases[] = {
        {"", 8},
        {"P7\n1 1\n255\n\x01", 8},
        {"P2\n1 1\n15\n0\n", 8},
        {"P5\n\n1 1\n255\n\x01", 8},
        {"P5\n-1 1\n255\n", 8},
        {"P4\n1 -1\n\x80", 8},
        {"P4\n0 2147483647\n", 8},
        {"P6\n2147483647 1\n255\n", 4},
        {"P5\n65536 65536\n255\n", 4},
        // a tiny input cannot claim a huge block
        {"P5\n65535 65535\n255\n", 4},
        {"P2\n65535 65535\n255\n0", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("image: " + Escaped(c.image));
        Begin();
        Reports reports;
        EXPECT_EQ(Decode(ExactBytes(c.image), &reports), c.result);
        EXPECT_TRUE(gLog.sizes.empty()) << gLog.sizes.size() << " allocations";
        EXPECT_EQ(info, kUntouchedHandle);
        EXPECT_EQ(pixels, kUntouchedHandle);
        EXPECT_TRUE(reports.calls.empty());
        End();
    }
}

TEST_F(DecodePictureTest, FailedAllocationReleasesWhatItTook)
{
    const ExactBytes image("P5\n2 2\n255\nABCD"s);
    for (int failOn = 1; failOn <= 2; ++failOn) {
        SCOPED_TRACE("allocation " + std::to_string(failOn) + " fails");
        Begin();
        gLog.failOn = failOn;
        Reports reports;
        EXPECT_EQ(Decode(image, &reports), 4);
        EXPECT_EQ(gLog.sizes.size(), size_t(failOn));
        EXPECT_TRUE(gLog.live.empty()) << gLog.live.size() << " blocks left";
        EXPECT_EQ(info, kUntouchedHandle);
        EXPECT_EQ(pixels, kUntouchedHandle);
        EXPECT_TRUE(reports.calls.empty());
        End();
    }
}

TEST_F(DecodePictureTest, ReadsThePixelDataPast2GiB)
{
    // A greymap of 65536 x 32769 pixels: its last rows lie past 2 GiB of the
    // input. The input is a sparse file, mapped: its holes read as zeros.
    if (sizeof(void*) < 8)
        GTEST_SKIP() << "a 32-bit process cannot map 2 GiB of input beside a 2 GiB block";
    const int32_t width = 65536, height = 32769;
    const std::string header = "P5\n65536 32769\n255\n";
    const uint64_t size = header.size() + uint64_t(width) * uint64_t(height);
    char path[] = "/tmp/kelda-large-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    ASSERT_EQ(write(fd, header.data(), header.size()), ssize_t(header.size()));
    // The last picture row, past 2 GiB: bytes 0, 1, 2, ... 255, 0, 1, ...
    std::vector<uint8_t> lastRow(static_cast<size_t>(width), 0);
    for (size_t i = 0; i < lastRow.size(); ++i)
        lastRow[i] = uint8_t(i);
    ASSERT_EQ(pwrite(fd, lastRow.data(), lastRow.size(), off_t(size - uint64_t(width))),
              ssize_t(width));
    ASSERT_EQ(ftruncate(fd, off_t(size)), 0);
    void* mapped = mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    ASSERT_NE(mapped, MAP_FAILED);

    ASSERT_EQ(DecodePicture(static_cast<const uint8_t*>(mapped), size_t(size), kAllocator, nullptr,
                            0, &info, &pixels),
              0);
    const uint8_t* block = static_cast<const uint8_t*>(pixels);
    // The last picture row is the first row of the block.
    EXPECT_EQ(memcmp(block, lastRow.data(), lastRow.size()), 0);
    // The row before it, and the first, read zeros.
    EXPECT_EQ(block[width], 0);
    EXPECT_EQ(block[size_t(width) * size_t(height) - 1], 0);
    munmap(mapped, size_t(size));
}

} // namespace
