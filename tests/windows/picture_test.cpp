// The picture information query and picture retrieval through the exports,
// from a file and from a memory image, as a viewer calls them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/windows/host.h"

namespace {

std::string Row(const Decoded& d, int row, int stride, int bytes)
{
    return d.pixels.substr(size_t(row) * stride, size_t(bytes));
}


// --- GetPictureInfo ---

TEST(GetPictureInfo, FillsTheRecord)
{
    struct Case {
        const char* name;
        std::string picture;
        int width, height, depth;
        std::string comment; // the comment block with its zero byte; empty: none
    };
    const Case cases[] = {
        {"P5", std::string("P5\n3 2\n255\n") + std::string(6, '\x80'), 3, 2, 8, ""},
        {"P1 with comments", "P1\n# one\n# two\n2 2\n0 1\n1 0\n", 2, 2, 1, std::string("# one\n# two\n\0", 13)},
        {"P6", std::string("P6\n2 2\n255\n") + std::string(12, 'x'), 2, 2, 24, ""},
        {"P2", "P2\n2 1\n255\n0 15\n", 2, 1, 8, ""},
        {"P3", "P3\n1 1\n255\n1 2 3\n", 1, 1, 24, ""},
        {"P4", "P4\n8 1\n\xff", 8, 1, 1, ""},
        {"negative width", "P5\n-3 2\n255\n", -3, 2, 8, ""},
        {"header alone", "P5\n3 2\n255\n", 3, 2, 8, ""},
        {"CR LF comment", "P4\r\n# made by hand\r\n1 1\r\n\x80", 1, 1, 1, std::string("# made by hand\r\n\0", 17)},
    };
    for (Mode mode : kModes) {
        for (const Case& c : cases) {
            InfoResult r = QueryInfo(c.picture, mode);
            ASSERT_EQ(r.result, 0) << c.name << " from " << Name(mode);
            EXPECT_EQ(r.info.left, 0);
            EXPECT_EQ(r.info.top, 0);
            EXPECT_EQ(r.info.width, c.width) << c.name << " from " << Name(mode);
            EXPECT_EQ(r.info.height, c.height) << c.name << " from " << Name(mode);
            EXPECT_EQ(r.info.xDensity, 0);
            EXPECT_EQ(r.info.yDensity, 0);
            EXPECT_EQ(r.info.colorDepth, c.depth) << c.name << " from " << Name(mode);
            EXPECT_EQ(r.comment, c.comment) << c.name << " from " << Name(mode);
        }
    }
}

TEST(GetPictureInfo, WritesTheRecordAsTheHostLaysItOut)
{
    // The host's record, byte for byte, written out here rather than taken
    // from the interface header the plug-in shares: 26 packed bytes with the
    // comment handle at offset 22; 32 bytes in the 64-bit interface, the
    // handle at 24 after two bytes of padding.
    const bool wide = sizeof(void*) == 8;
    const size_t recordSize = wide ? 32 : 26, handleAt = wide ? 24 : 22;
    const std::string picture = "P4\n# a comment\n300 -7\n";
    for (Mode mode : {Mode::File, Mode::GuardedMemory}) {
        uint8_t record[64];
        memset(record, 0xEE, sizeof record);
        int result;
        if (mode == Mode::File) {
            const std::string path = WriteTempFile("record.pbm", picture);
            result = Kelda().GetPictureInfo(path.c_str(), 0, 0, reinterpret_cast<PictureInfo*>(record));
        } else {
            GuardedImage image = MakeGuardedImage(picture);
            result = Kelda().GetPictureInfo(image.data, 0, 1, reinterpret_cast<PictureInfo*>(record));
            FreeGuardedImage(image);
        }
        ASSERT_EQ(result, 0) << Name(mode);
        const std::string r = Bytes(record, sizeof record);
        EXPECT_EQ(U32(r, 0), 0u) << "left";
        EXPECT_EQ(U32(r, 4), 0u) << "top";
        EXPECT_EQ(U32(r, 8), 300u) << "width";
        EXPECT_EQ(int32_t(U32(r, 12)), -7) << "height";
        EXPECT_EQ(U16(r, 16), 0u) << "x density";
        EXPECT_EQ(U16(r, 18), 0u) << "y density";
        EXPECT_EQ(U16(r, 20), 1u) << "colour depth";
        if (wide) {
            ASSERT_EQ(U16(r, 22), 0xEEEEu) << "the padding is not written";
        }
        // Only a handle written where the host looks for it is looked at.
        uintptr_t handle = 0, untouched = 0;
        memcpy(&handle, record + handleAt, sizeof handle);
        memset(&untouched, 0xEE, sizeof untouched);
        ASSERT_NE(handle, untouched) << "no comment handle at offset " << handleAt;
        ASSERT_NE(handle, 0u) << "the comment handle at offset " << handleAt;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(handle)), "# a comment\n");
        LocalFree(reinterpret_cast<HLOCAL>(handle));
        for (size_t i = recordSize; i < sizeof record; ++i)
            ASSERT_EQ(record[i], 0xEE) << "written past the record, byte " << i;
    }
}

TEST(GetPictureInfo, RefusesUnsupportedHeadersAndLeavesTheRecordAlone)
{
    const std::string cases[] = {
        "P2\n2 1\n15\n0 15\n", "P7\n2 1\n255\n", "", "P", "P5", "P5\n", "P5\n3 2\n", "P5\n3\n255\n",
        "P6\n2 2\n65535\n", "BM\x36\0\0\0", "P1\n# only a comment\n",
    };
    for (Mode mode : kModes) {
        for (const std::string& picture : cases) {
            InfoResult r = QueryInfo(picture, mode);
            EXPECT_EQ(r.result, 8) << Hex(picture) << " from " << Name(mode);
            PictureInfo untouched;
            memset(&untouched, 0x5a, sizeof untouched);
            EXPECT_EQ(memcmp(&r.info, &untouched, sizeof untouched), 0) << "record written";
        }
    }
}

TEST(GetPictureInfo, MissingFileOrDirectoryGivesReadError)
{
    PictureInfo info;
    memset(&info, 0x5a, sizeof info);
    EXPECT_EQ(Kelda().GetPictureInfo("Z:\\no\\such\\picture.ppm", 0, 0, &info), 6);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    EXPECT_EQ(Kelda().GetPictureInfo(folder, 0, 0, &info), 6);
    EXPECT_EQ(Kelda().GetPictureInfo(nullptr, 0, 0, &info), 6);
    EXPECT_EQ(info.width, 0x5a5a5a5a);
}

TEST(GetPictureInfo, OnlyTheLowThreeFlagBitsSelectTheMode)
{
    const std::string picture = "P5\n3 2\n255\n\x01\x02\x03\x04\x05\x06";
    std::string path = WriteTempFile("flag.pgm", picture);
    PictureInfo info;
    EXPECT_EQ(Kelda().GetPictureInfo(path.c_str(), 0, 8, &info), 0) << "flag 8 is file mode";
    EXPECT_EQ(info.width, 3);
    for (unsigned int flag : {1u, 2u, 4u, 7u, 0x101u}) {
        InfoResult r = QueryInfo(picture, Mode::Memory, flag);
        EXPECT_EQ(r.result, 0) << "flag " << flag;
        EXPECT_EQ(r.info.height, 2) << "flag " << flag;
    }
}

TEST(GetPictureInfo, HeaderMustEndWithinTheFirst2000Bytes)
{
    // A comment pushes the size line past the window: what the plug-in sees
    // of the file ends inside the header.
    const std::string longComment = "P5\n#" + std::string(2100, 'c') + "\n3 2\n255\n";
    for (Mode mode : kModes)
        EXPECT_EQ(QueryInfo(longComment, mode).result, 8) << Name(mode);
    // A header that ends at byte 1999 is fine.
    std::string fits = "P5\n#";
    fits += std::string(1999 - fits.size() - 9, 'c') + "\n3 2\n255\n";
    ASSERT_EQ(fits.size(), 1999u);
    for (Mode mode : kModes)
        EXPECT_EQ(QueryInfo(fits + "abcdef", mode).result, 0) << Name(mode);
}

TEST(GetPictureInfo, CommentBlockHoldsTheLinesThatFit)
{
    // A comment line of 1991 bytes fits: the block holds it, its line feed
    // and the zero byte.
    std::string picture = "P4\n#" + std::string(1990, 'a') + "\n1 1\n\x80";
    InfoResult r = QueryInfo(picture, Mode::File);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.comment.size(), 1993u);
    EXPECT_EQ(r.comment.substr(1990), std::string("a\n\0", 3));
}

TEST(GetPicture, HasNoLimitOnTheHeadersLength)
{
    std::string picture = "P4\n#" + std::string(1997, 'a') + "\n#" + std::string(50000, 'b') + "\n1 1\n\x80";
    for (Mode mode : kModes) {
        Decoded d = Decode(picture, mode);
        EXPECT_EQ(d.result, 0) << Name(mode);
        EXPECT_EQ(uint8_t(d.pixels[0]), 0x80) << Name(mode);
    }
}

// --- GetPicture ---

TEST(GetPicture, RawPpmAsTheViewerGetsIt)
{
    // 10 x 3 pixels: rowStride 32, picture row 0 at the end of the block.
    std::string picture = "P6\n10 3\n255\n";
    for (int i = 0; i < 90; ++i)
        picture += char(i);
    for (Mode mode : kModes) {
        Decoded d = Decode(picture, mode);
        ASSERT_EQ(d.result, 0) << Name(mode);
        ASSERT_EQ(d.info.size(), 44u) << Name(mode);
        ASSERT_EQ(d.pixels.size(), 96u) << Name(mode);
        EXPECT_EQ(U32(d.info, 0), 40u);
        EXPECT_EQ(int32_t(U32(d.info, 4)), 10);
        EXPECT_EQ(int32_t(U32(d.info, 8)), 3);
        EXPECT_EQ(U16(d.info, 12), 1u);
        EXPECT_EQ(U16(d.info, 14), 24u);
        EXPECT_EQ(U32(d.info, 16), 0u);
        EXPECT_EQ(U32(d.info, 20), 96u);
        EXPECT_EQ(U32(d.info, 32), 0u);
        for (int r = 0; r < 3; ++r) {
            std::string want;
            for (int x = 0; x < 10; ++x) {
                const int p = r * 30 + 3 * x;
                want += char(p + 2);
                want += char(p + 1);
                want += char(p);
            }
            EXPECT_EQ(Hex(Row(d, 2 - r, 32, 30)), Hex(want)) << "picture row " << r << " from " << Name(mode);
        }
        const std::vector<std::pair<int, int>> calls = {{0, 2}, {1, 2}, {2, 2}};
        EXPECT_EQ(d.calls, calls) << Name(mode);
    }
}

// A greymap of one row whose samples count up from 0.
std::string AsciiGreymap(int width)
{
    std::string picture = "P2\n" + std::to_string(width) + " 1\n255\n";
    for (int i = 0; i < width; ++i)
        picture += std::to_string(i) + " ";
    return picture;
}

TEST(GetPicture, InformationBlockAndStrideForEveryGroup)
{
    struct Case {
        std::string picture;
        int stride;
        size_t pixelBytes, infoBytes;
        int bits, palette;
    };
    const Case cases[] = {
        {"P6\n4 2\n255\n" + std::string(24, 'a'), 12, 24, 44, 24, 0},
        {"P5\n5 3\n255\n" + std::string(15, 'a'), 8, 24, 1068, 8, 256},
        {"P4\n33 2\n" + std::string(10, 'a'), 8, 16, 52, 1, 2},
        {"P1\n33 2\n" + std::string(66, '1'), 8, 16, 52, 1, 2},
        {AsciiGreymap(100), 100, 100, 1068, 8, 256},
    };
    for (const Case& c : cases) {
        const std::string& picture = c.picture;
        Decoded d = Decode(picture, Mode::Memory);
        ASSERT_EQ(d.result, 0) << Hex(picture.substr(0, 12));
        EXPECT_EQ(d.info.size(), c.infoBytes);
        EXPECT_EQ(d.pixels.size(), c.pixelBytes);
        EXPECT_EQ(U32(d.info, 20), c.pixelBytes) << "biSizeImage";
        EXPECT_EQ(U16(d.info, 14), uint32_t(c.bits));
        EXPECT_EQ(U32(d.info, 32), uint32_t(c.palette));
        if (c.palette == 2) {
            EXPECT_EQ(Hex(d.info.substr(40, 3)), Hex("\xff\xff\xff")) << "entry 0 white";
            EXPECT_EQ(Hex(d.info.substr(44, 3)), Hex(std::string(3, '\0'))) << "entry 1 black";
        }
        if (c.palette == 256) {
            EXPECT_EQ(Hex(d.info.substr(40 + 4 * 200, 3)), Hex("\xc8\xc8\xc8")) << "entry 200";
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(uint8_t(d.info[40 + 4 * i]), i);
        }
    }
}

TEST(GetPicture, RowStrideByWidth)
{
    struct Case {
        int width, pbm, pgm, ppm;
    };
    const Case cases[] = {{1, 4, 4, 4},     {2, 4, 4, 8},     {4, 4, 4, 12},   {5, 4, 8, 16},
                          {8, 4, 8, 24},    {32, 4, 32, 96},  {33, 8, 36, 100}, {100, 16, 100, 300}};
    for (const Case& c : cases) {
        const std::string size = std::to_string(c.width) + " 1\n";
        Decoded pbm = Decode("P4\n" + size + std::string(size_t((c.width + 7) / 8), '\0'), Mode::Memory);
        Decoded pgm = Decode("P5\n" + size + "255\n" + std::string(size_t(c.width), '\0'), Mode::Memory);
        Decoded ppm = Decode("P6\n" + size + "255\n" + std::string(size_t(3 * c.width), '\0'), Mode::Memory);
        EXPECT_EQ(pbm.pixels.size(), size_t(c.pbm)) << "PBM width " << c.width;
        EXPECT_EQ(pgm.pixels.size(), size_t(c.pgm)) << "PGM width " << c.width;
        EXPECT_EQ(ppm.pixels.size(), size_t(c.ppm)) << "PPM width " << c.width;
    }
}

TEST(GetPicture, EveryKindDecodesTheSamePixels)
{
    // One 3 x 2 picture in each kind; the raw and ASCII forms must agree.
    struct Case {
        const char* name;
        std::string picture;
        int stride, rowBytes;
        std::string top, bottom; // picture rows 0 and 1
    };
    const Case cases[] = {
        {"P1", "P1\n3 2\n1 0 1\n0 1 1\n", 4, 1, "\xa0", "\x60"},
        {"P1 runs", "P1\n3 2\n101011\n", 4, 1, "\xa0", "\x60"},
        {"P4", "P4\n3 2\n\xa0\x60", 4, 1, "\xa0", "\x60"},
        {"P2", "P2\n3 2\n255\n0 128 255\n7 300 -1\n", 4, 3, std::string("\x00\x80\xff", 3), "\x07\x2c\xff"},
        {"P5", std::string("P5\n3 2\n255\n\x00\x80\xff\x07\x2c\xff", 17), 4, 3, std::string("\x00\x80\xff", 3), "\x07\x2c\xff"},
        {"P3", "P3\n3 2\n255\n1 2 3 4 5 6 7 8 9\n10 11 12 13 14 15 16 17 18\n", 12, 9,
         "\x03\x02\x01\x06\x05\x04\x09\x08\x07", "\x0c\x0b\x0a\x0f\x0e\x0d\x12\x11\x10"},
        {"P6", "P6\n3 2\n255\n\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12", 12, 9,
         "\x03\x02\x01\x06\x05\x04\x09\x08\x07", "\x0c\x0b\x0a\x0f\x0e\x0d\x12\x11\x10"},
    };
    for (Mode mode : kModes) {
        for (const Case& c : cases) {
            Decoded d = Decode(c.picture, mode);
            ASSERT_EQ(d.result, 0) << c.name << " from " << Name(mode);
            EXPECT_EQ(Hex(Row(d, 1, c.stride, c.rowBytes)), Hex(c.top)) << c.name << " from " << Name(mode);
            EXPECT_EQ(Hex(Row(d, 0, c.stride, c.rowBytes)), Hex(c.bottom)) << c.name << " from " << Name(mode);
        }
    }
}

TEST(GetPicture, TheHostsImageIsLeftAloneAndDecodesTwiceAlike)
{
    struct Case {
        std::string picture;
        int rows, stride, rowBytes;
    };
    const Case cases[] = {
        {"P2\n# comment\n3 2\n255\n1 2 3\n4 5 6\n", 2, 4, 3},
        {"P1\n3 2\n1 0 1\n0 1 1", 2, 4, 1},
        {"P3\n2 1\n255\n1 2 3 4 5 6", 1, 8, 6},
        {"P6\n1 1\n255\n\x01\x02\x03", 1, 4, 3},
    };
    for (const Case& c : cases) {
        GuardedImage image = MakeGuardedImage(c.picture);
        HLOCAL info[2], pixels[2];
        std::string dib[2];
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(Kelda().GetPicture(image.data, 0, 1, &info[i], &pixels[i], nullptr, 0), 0) << c.picture;
            dib[i] = Bytes(info[i], 40) + RowsWithoutPadding(pixels[i], c.rows, c.stride, c.rowBytes);
            EXPECT_EQ(Bytes(image.data, c.picture.size()), c.picture) << "the host's image changed";
        }
        EXPECT_EQ(Hex(dib[1]), Hex(dib[0])) << "a second decode differs: " << c.picture;
        for (int i = 0; i < 2; ++i) {
            LocalFree(info[i]);
            LocalFree(pixels[i]);
        }
        FreeGuardedImage(image);
    }
}

TEST(GetPicture, ProgressReportsEveryRowAndHonoursAStop)
{
    const std::string ascii = "P2\n3 4\n255\n1 2 3\n4 5 6\n7 8 9\n10 11 12\n";
    const std::string raw = "P5\n3 4\n255\n" + std::string(12, '\x11');
    for (const std::string& picture : {ascii, raw}) {
        Decoded all = Decode(picture, Mode::Memory);
        const std::vector<std::pair<int, int>> every = {{0, 3}, {1, 3}, {2, 3}, {3, 3}};
        EXPECT_EQ(all.result, 0);
        EXPECT_EQ(all.calls, every);

        Decoded stopped = Decode(picture, Mode::File, 0);
        EXPECT_EQ(stopped.result, 1);
        const std::vector<std::pair<int, int>> first = {{0, 3}};
        EXPECT_EQ(stopped.calls, first) << "no call after the stop";
        EXPECT_EQ(stopped.pixels.substr(12, 3), all.pixels.substr(12, 3)) << "the top row is in place";

        Decoded quiet = Decode(picture, Mode::Memory, -1, false);
        EXPECT_EQ(quiet.result, 0) << "no progress function";
        EXPECT_EQ(Hex(quiet.pixels.substr(0, 3)), Hex(all.pixels.substr(0, 3)));
    }
}

TEST(GetPicture, TheHostValueComesBackUnchanged)
{
    // An opaque value of the host's, as wide as a pointer: above 4 GiB in
    // the 64-bit interface, where cutting it to 32 bits would lose it.
    static LONG_PTR expected;
    static int mismatches;
    struct Seen {
        static int __stdcall Check(int, int, LONG_PTR value)
        {
            if (value != expected)
                ++mismatches;
            return 0;
        }
    };
    const LONG_PTR values[] = {
        LONG_PTR(0x87654321), LONG_PTR(-1), 0,
#if defined(_WIN64)
        LONG_PTR(0x123456789ABCDEF0), LONG_PTR(0x100000000), LONG_PTR(-0x200000001),
#endif
    };
    const std::string pictures[] = {"P5\n2 2\n255\nabcd", "P2\n2 2\n255\n1 2 3 4",
                                    "P1\n2 2\n1 0 0 1", "P6\n1 2\n255\nabcdef"};
    for (const LONG_PTR value : values) {
        for (const std::string& p : pictures) {
            expected = value;
            mismatches = 0;
            std::string picture = p;
            HLOCAL info, pixels;
            EXPECT_EQ(Kelda().GetPicture(&picture[0], LONG_PTR(picture.size()), 1, &info, &pixels,
                                         Seen::Check, value),
                      0);
            EXPECT_EQ(mismatches, 0) << "host value " << value << ", " << p.substr(0, 2);
            LocalFree(info);
            LocalFree(pixels);
        }
    }
}

TEST(GetPicture, ShortDataIsCorruptedAndKeepsTheCompleteRows)
{
    struct Case {
        const char* name;
        std::string picture;
        std::vector<std::pair<int, int>> calls;
    };
    const Case cases[] = {
        {"raw greymap cut in row 2", "P5\n3 3\n255\nabcdefg", {{0, 2}, {1, 2}}},
        {"raw pixmap cut in row 1", "P6\n2 2\n255\nabcdefgh", {{0, 1}}},
        {"raw bitmap with no raster", "P4\n9 2\n", {}},
        {"ASCII with no sample at all", "P2\n2 2\n255\n", {}},
        {"ASCII with five of six samples", "P2\n3 2\n255\n1 2 3 4 5", {{0, 1}}},
        {"ASCII ending at a row's end", "P2\n3 2\n255\n1 2 3", {}},
        {"NUL inside the ASCII raster", std::string("P2\n3 2\n255\n1 2 3 4\0 5 6\n", 24), {{0, 1}}},
    };
    // A memory image in a heap block is followed by whatever the heap holds;
    // the length the host passes bounds it as the end of a file does.
    for (Mode mode : kModes) {
        for (const Case& c : cases) {
            Decoded d = Decode(c.picture, mode);
            EXPECT_EQ(d.result, 3) << c.name << " from " << Name(mode);
            EXPECT_EQ(d.calls, c.calls) << c.name << " from " << Name(mode);
            EXPECT_NE(d.infoHandle, kUntouched) << "the host owns both blocks";
        }
    }
}

TEST(GetPicture, RefusalsLeaveTheHandlesAlone)
{
    struct Case {
        const char* name;
        std::string picture;
        int result;
    };
    const Case cases[] = {
        {"P7", "P7\n1 1\n255\nabc", 8},
        {"maxval 15", "P2\n2 1\n15\n0 15\n", 8},
        {"empty", "", 8},
        {"negative width", "P5\n-3 2\n255\nabcdef", 8},
        {"negative height", "P6\n3 -2\n255\nabcdef", 8},
        {"rowStride x height beyond 32 bits", "P5\n65536 65537\n255\n", 4},
        {"3 x width beyond 32 bits", "P6\n1431655766 1\n255\n", 4},
        // 2 GB: a file of 19 bytes cannot claim a block that large.
        {"huge block for a tiny input", "P5\n2000000000 1\n255\n", 4},
    };
    for (Mode mode : kModes) {
        for (const Case& c : cases) {
            Decoded d = Decode(c.picture, mode);
            EXPECT_EQ(d.result, c.result) << c.name << " from " << Name(mode);
            if (c.result == 3)
                continue;
            EXPECT_EQ(d.infoHandle, kUntouched) << c.name << " from " << Name(mode);
            EXPECT_EQ(d.pixelHandle, kUntouched) << c.name << " from " << Name(mode);
        }
    }
}

TEST(GetPicture, FilesThatCannotBeOpenedGiveReadError)
{
    HLOCAL info = kUntouched, pixels = kUntouched;
    EXPECT_EQ(Kelda().GetPicture("Z:\\no\\such\\file.pgm", 0, 0, &info, &pixels, nullptr, 0), 6);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    EXPECT_EQ(Kelda().GetPicture(folder, 0, 0, &info, &pixels, nullptr, 0), 6) << "a directory";

    std::string path = WriteTempFile("locked.pgm", "P5\n1 1\n255\nx");
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Kelda().GetPicture(path.c_str(), 0, 0, &info, &pixels, nullptr, 0), 6) << "a locked file";
    PictureInfo record;
    EXPECT_EQ(Kelda().GetPictureInfo(path.c_str(), 0, 0, &record), 6) << "a locked file";
    CloseHandle(lock);
    EXPECT_EQ(info, kUntouched);
    EXPECT_EQ(pixels, kUntouched);
}

TEST(GetPicture, OpensAFileThatAnotherProgramIsWriting)
{
    // A program that writes a picture keeps it open for writing and lets
    // others read: the plug-in must ask for no narrower sharing than that.
    const std::string picture = "P5\n2 1\n255\n\x10\x20";
    const std::string path = WriteTempFile("writing.pgm", picture);
    for (DWORD share : {DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE),
                        DWORD(FILE_SHARE_READ | FILE_SHARE_DELETE)}) {
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                    0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        HLOCAL info = kUntouched, pixels = kUntouched;
        EXPECT_EQ(Kelda().GetPicture(path.c_str(), 0, 0, &info, &pixels, nullptr, 0), 0)
            << "writer shares " << share;
        if (info != kUntouched) {
            EXPECT_EQ(Hex(Bytes(pixels, 2)), Hex("\x10\x20"));
            LocalFree(info);
            LocalFree(pixels);
        }
        PictureInfo record;
        EXPECT_EQ(Kelda().GetPictureInfo(path.c_str(), 0, 0, &record), 0) << "writer shares " << share;
        CloseHandle(writer);
    }
}

TEST(GetPicture, FlagAndSecondArgument)
{
    const std::string picture = "P5\n2 1\n255\n\x10\x20";
    std::string path = WriteTempFile("flag.pgm", picture);
    HLOCAL info, pixels;
    for (LONG_PTR second : {LONG_PTR(0), LONG_PTR(5), LONG_PTR(-1), LONG_PTR(100000)}) {
        ASSERT_EQ(Kelda().GetPicture(path.c_str(), second, 8, &info, &pixels, nullptr, 0), 0) << "flag 8 is file mode";
        EXPECT_EQ(Hex(Bytes(pixels, 2)), Hex("\x10\x20"));
        LocalFree(info);
        LocalFree(pixels);
    }
    for (unsigned int flag : {1u, 3u, 4u, 7u, 0xff01u}) {
        Decoded d = Decode(picture, Mode::Memory, -1, true, flag);
        EXPECT_EQ(d.result, 0) << "flag " << flag;
        EXPECT_EQ(Hex(d.pixels.substr(0, 2)), Hex("\x10\x20")) << "flag " << flag;
    }
}

TEST(GetPicture, EmptyPicturesGiveEmptyPixelBlocks)
{
    for (Mode mode : kModes) {
        Decoded wide = Decode("P5\n3 0\n255\n", mode);
        EXPECT_EQ(wide.result, 0) << Name(mode);
        EXPECT_EQ(wide.pixels.size(), 0u) << Name(mode);
        EXPECT_TRUE(wide.calls.empty());
        Decoded tall = Decode("P2\n0 3\n255\n0\n", mode);
        EXPECT_EQ(tall.result, 0) << Name(mode);
        const std::vector<std::pair<int, int>> rows = {{0, 2}, {1, 2}, {2, 2}};
        EXPECT_EQ(tall.calls, rows) << Name(mode);
    }
}

} // namespace
