// Bounds that a host can count on, through the exports: a memory image is
// as long as the host says, a tiny input cannot claim a huge block, a header
// cut by the information call's window is not read as a whole one, a read
// that fails is a read error, inputs past 2 GiB in the 64-bit plug-in, and
// no byte of the local heap's leftovers in a DIB.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/windows/host.h"

namespace {

// GetPicture on the picture followed, in the same heap block, by `trailer`,
// given `length` in argument 2.
Decoded DecodeWithTrailer(const std::string& picture, const std::string& trailer, LONG_PTR length)
{
    return DecodeImage(picture + trailer, length);
}

struct Truncated {
    const char* name;
    std::string picture; // cut short of its raster
};

// One picture of each kind, cut inside its raster; and after each, host
// bytes that would complete it.
const Truncated kTruncated[] = {
    {"P1", "P1\n3 4\n1 0 1\n0 1"},
    {"P1 runs", "P1\n9 3\n101010101\n0101"},
    {"P2", "P2\n3 3\n255\n1 2 3\n4 5 6\n7"},
    {"P3", "P3\n2 2\n255\n1 2 3 4 5 6\n7 8"},
    {"P4", "P4\n9 3\n\xff\x80\x7f\x00"},
    {"P5", "P5\n3 3\n255\nabcdefg"},
    {"P6", "P6\n2 2\n255\nabcdefghij"},
};

// Host bytes after an image: readable, not zero, and for ASCII rasters
// digits and blanks that would read as samples.
const std::string kAsciiTrailer = " 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n";
const std::string kRawTrailer(64, '\xa7');

TEST(MemoryImage, TheHostsLengthBoundsIt)
{
    for (const Truncated& t : kTruncated) {
        SCOPED_TRACE(t.name);
        const bool ascii = t.picture[1] <= '3';
        const std::string trailer = ascii ? kAsciiTrailer : kRawTrailer;
        const Decoded fromFile = Decode(t.picture, Mode::File);
        ASSERT_EQ(fromFile.result, 3);

        // With its length, the image ends where the file does: the same
        // answer, and no byte of the host's after it in the picture.
        const Decoded bounded = DecodeWithTrailer(t.picture, trailer, LONG_PTR(t.picture.size()));
        EXPECT_EQ(bounded.result, 3);
        EXPECT_EQ(bounded.calls, fromFile.calls);
        EXPECT_EQ(Hex(bounded.pixels), Hex(fromFile.pixels));
        EXPECT_EQ(Hex(bounded.info), Hex(fromFile.info));

        // Without one, the readable memory after it is the bound, as ever:
        // the host's bytes complete the picture.
        const Decoded unbounded = DecodeWithTrailer(t.picture, trailer, 0);
        EXPECT_EQ(unbounded.result, 0);
        const Decoded whole = Decode(t.picture + trailer, Mode::File);
        EXPECT_EQ(Hex(unbounded.pixels), Hex(whole.pixels));
        // A negative length is no length either.
        EXPECT_EQ(DecodeWithTrailer(t.picture, trailer, -5).result, 0);
    }
}

TEST(MemoryImage, PicturesThatEndWithoutALineEnd)
{
    // GIMP ends a plain PBM with its last pixel; the host's next byte must
    // not be taken for part of it.
    const Decoded pbm = DecodeWithTrailer("P1\n3 1\n1 0 1", "x1", 12);
    EXPECT_EQ(pbm.result, 0);
    EXPECT_EQ(uint8_t(pbm.pixels[0]), 0xA0);
    // A last sample followed by a digit of the host's: 6, not 67.
    const Decoded pgm = DecodeWithTrailer("P2\n2 1\n255\n5 6", "7 ", 14);
    EXPECT_EQ(pgm.result, 0);
    EXPECT_EQ(Hex(pgm.pixels.substr(0, 2)), Hex("\x05\x06"));
}

TEST(MemoryImage, TheInformationCallTakesTheLengthToo)
{
    std::string image = "P5\n3 2\n255" "7\n";
    PictureInfo info;
    EXPECT_EQ(Kelda().GetPictureInfo(&image[0], 10, 1, &info), 0) << "the maxval ends the image";
    EXPECT_EQ(info.width, 3);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(Kelda().GetPictureInfo(&image[0], 0, 1, &info), 8) << "no length: maxval 2557";
    // In file mode argument 2 plays no part.
    const std::string path = WriteTempFile("length.pgm", "P5\n3 2\n255\nabcdef");
    EXPECT_EQ(Kelda().GetPictureInfo(path.c_str(), 3, 0, &info), 0);
    HLOCAL a = kUntouched, b = kUntouched;
    EXPECT_EQ(Kelda().GetPicture(path.c_str(), 3, 0, &a, &b, nullptr, 0), 0);
    LocalFree(a);
    LocalFree(b);
}

// A raw greymap of width x height whose file holds `length` bytes in all.
std::string Greymap(int width, int height, size_t length)
{
    std::string p = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    if (length > p.size())
        p.resize(length, '\x42');
    return p;
}

TEST(Sizes, AHugeBlockNeedsAnInputOfASixteenthOfItsSize)
{
    // Above 64 MiB a block is allocated only for an input of at least a
    // sixteenth of its size: the header alone cannot claim gigabytes.
    // 8192 x 8193 is just over 64 MiB and needs 4,194,816 bytes of input;
    // 8192 x 8191 is just under, and needs none.
    struct Case {
        const char* name;
        std::string picture;
        int result;
    };
    const Case cases[] = {
        {"4 GiB from 19 bytes", "P5\n65535 65535\n255\n", 4},
        {"4 GiB from 20 bytes of text", "P2\n65535 65535\n255\n0", 4},
        {"over 64 MiB, a byte short of a sixteenth", Greymap(8192, 8193, 4194815), 4},
        {"over 64 MiB, a sixteenth of it", Greymap(8192, 8193, 4194816), 3},
        {"under 64 MiB from a header alone", Greymap(8192, 8191, 0), 3},
        // 4 bytes of block for each byte of input: as far as a complete
        // picture goes
        {"a complete bitmap one pixel wide", "P4\n1 17000000\n" + std::string(17000000, '\x80'), 0},
    };
    for (Mode mode : kModes) {
        for (const Case& c : cases) {
            const Decoded d = Decode(c.picture, mode, -1, false);
            EXPECT_EQ(d.result, c.result) << c.name << " from " << Name(mode);
            if (c.result == 4) {
                EXPECT_EQ(d.infoHandle, kUntouched) << c.name << " from " << Name(mode);
                EXPECT_EQ(d.pixelHandle, kUntouched) << c.name << " from " << Name(mode);
            }
        }
    }
}

// A header whose size line, or maxval, straddles byte 2000 of the file: it
// starts at byte `at` after a comment line that fills the bytes before it.
std::string HeaderAt(const std::string& magic, size_t at, const std::string& rest)
{
    std::string p = magic + "\n#";
    p += std::string(at - p.size() - 1, 'c') + "\n";
    return p + rest;
}

TEST(GetPictureInfo, AHeaderCutByItsWindowIsNotTakenForAWholeOne)
{
    struct Case {
        const char* name;
        std::string picture;
        int result;
        int width, height;
    };
    const std::string raster(4000, '\x55');
    const Case cases[] = {
        // the size line straddles byte 2000: its height would read as 20
        {"P4 size line", HeaderAt("P4", 1993, "1000 2000\n" + raster), 8, 0, 0},
        {"P1 size line", HeaderAt("P1", 1995, "3 400\n" + raster), 8, 0, 0},
        {"P4 width", HeaderAt("P4", 1998, "1000 2\n" + raster), 8, 0, 0},
        {"P5 size line", HeaderAt("P5", 1996, "30 40\n255\n" + raster), 8, 0, 0},
        // the maxval straddles it: 255 may go on, 2 is not all of it
        {"P5 maxval", HeaderAt("P5", 1993, "3 2\n255\n" + raster), 8, 0, 0},
        {"P2 maxval", HeaderAt("P2", 1991, "10 10\n255\n1 2 3"), 8, 0, 0},
        {"P6 maxval", HeaderAt("P6", 1993, "1 9\n255\n" + raster), 8, 0, 0},
        {"P3 maxval", HeaderAt("P3", 1995, "1 1\n255\n1 2 3"), 8, 0, 0},
        // the same headers ending right at byte 2000 are whole
        {"P4 ending at 2000", HeaderAt("P4", 1990, "1000 2000\n" + raster), 0, 1000, 2000},
        {"P1 ending at 2000", HeaderAt("P1", 1994, "3 400\n" + raster), 0, 3, 400},
        {"P5 ending at 2000", HeaderAt("P5", 1992, "3 2\n255\n" + raster), 0, 3, 2},
        {"P6 ending at 2000", HeaderAt("P6", 1992, "1 9\n255\n" + raster), 0, 1, 9},
        {"P3 ending at 2000", HeaderAt("P3", 1992, "1 1\n255\n1 2 3"), 0, 1, 1},
    };
    for (Mode mode : kModes) {
        for (const Case& c : cases) {
            const InfoResult r = QueryInfo(c.picture, mode);
            EXPECT_EQ(r.result, c.result) << c.name << " from " << Name(mode);
            if (c.result == 0 && r.result == 0) {
                EXPECT_EQ(r.info.width, c.width) << c.name << " from " << Name(mode);
                EXPECT_EQ(r.info.height, c.height) << c.name << " from " << Name(mode);
            }
        }
    }
    // A window that ends where the picture ends is not cut: the picture is
    // what it says, short of its raster.
    std::string shortPicture = HeaderAt("P4", 1993, "1000 20");
    ASSERT_EQ(shortPicture.size(), 2000u);
    PictureInfo info;
    EXPECT_EQ(Kelda().GetPictureInfo(&shortPicture[0], 2000, 1, &info), 0);
    EXPECT_EQ(info.height, 20);
}

TEST(ReadErrors, AReadThatFailsIsAReadError)
{
    // A file that opens and whose reads fail: Wine maps the Linux file that
    // holds the process's own memory, whose first page is never mapped.
    const char* failing = "Z:\\proc\\self\\mem";
    HANDLE probe = CreateFileA(failing, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE) << failing << " does not open: this test needs Wine on Linux";
    char byte;
    DWORD got = 0;
    ASSERT_FALSE(ReadFile(probe, &byte, 1, &got, nullptr)) << "its reads should fail";
    CloseHandle(probe);

    HLOCAL info = kUntouched, pixels = kUntouched;
    EXPECT_EQ(Kelda().GetPicture(failing, 0, 0, &info, &pixels, nullptr, 0), 6);
    EXPECT_EQ(info, kUntouched);
    EXPECT_EQ(pixels, kUntouched);
    PictureInfo record;
    memset(&record, 0x5a, sizeof record);
    EXPECT_EQ(Kelda().GetPictureInfo(failing, 0, 0, &record), 6);
    EXPECT_EQ(record.width, 0x5a5a5a5a);
}

// A sparse file: the header, then a hole up to `size` bytes.
std::string WriteSparseFile(const std::string& name, const std::string& header, int64_t size)
{
    const std::string path = WriteTempFile(name, header);
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(f, end, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(f));
    CloseHandle(f);
    return path;
}

TEST(LargeInputs, AFileOverTwoGiB)
{
    // 30,000 x 25,000 pixels: 2.25 GB of raster, its data a hole of zeros.
    const std::string header = "P6\n30000 25000\n255\n";
    const int64_t size = int64_t(header.size()) + int64_t(3) * 30000 * 25000;
    const std::string path = WriteSparseFile("large.ppm", header, size);
    HLOCAL info = kUntouched, pixels = kUntouched;
    const int result = Kelda().GetPicture(path.c_str(), 0, 0, &info, &pixels, nullptr, 0);
    if (sizeof(void*) == 4) {
        // The 32-bit plug-in keeps its inputs below 2 GiB.
        EXPECT_EQ(result, 4);
        EXPECT_EQ(info, kUntouched);
    } else {
        ASSERT_EQ(result, 0);
        const BITMAPINFOHEADER* h = static_cast<const BITMAPINFOHEADER*>(info);
        EXPECT_EQ(h->biWidth, 30000);
        EXPECT_EQ(h->biHeight, 25000);
        EXPECT_EQ(LocalSize(pixels), size_t(90000) * 25000);
        // Every row reads as zeros, the last ones most of all: they lie past
        // 2 GiB of the file.
        const uint64_t* words = static_cast<const uint64_t*>(pixels);
        uint64_t any = 0;
        for (size_t i = 0; i < size_t(90000) * 25000 / 8; ++i)
            any |= words[i];
        EXPECT_EQ(any, 0u);
        LocalFree(info);
        LocalFree(pixels);
    }
    DeleteFileA(path.c_str());
}

// What the host does to the file once the first row is in: cut it to
// `size` bytes, or append `more` to it.
struct Changer {
    std::string path;
    int64_t size = -1;
    std::string more;
    int calls = 0;
};

int __stdcall ChangeTheFile(int, int, LONG_PTR hostValue)
{
    Changer* c = reinterpret_cast<Changer*>(hostValue);
    if (c->calls++ != 0)
        return 0;
    HANDLE f = CreateFileA(c->path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    LARGE_INTEGER at;
    at.QuadPart = c->size;
    if (c->size >= 0) {
        SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
        SetEndOfFile(f);
    } else {
        at.QuadPart = 0;
        SetFilePointerEx(f, at, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(f, c->more.data(), DWORD(c->more.size()), &written, nullptr);
    }
    CloseHandle(f);
    return 0;
}

TEST(Files, APictureThatChangesWhileItIsRead)
{
    // 1200 x 2000 bytes of raster: the first row is decoded from the first
    // read of the file, well before its end, and then the file changes.
    const int width = 1200, height = 2000;
    std::string picture = "P5\n1200 2000\n255\n";
    for (int i = 0; i < width * height; ++i)
        picture += char(i / width + i);
    struct Case {
        const char* what;
        std::string before; // the file when the decode starts
        int64_t cutTo;      // -1: grows instead
        std::string after;  // the bytes the plug-in can read in all
        int result;
    };
    const std::string head = picture.substr(0, 1500000);
    const Case cases[] = {
        {"shrinks", picture, 1500000, head, 3},
        {"grows", head, -1, picture, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Changer changer;
        changer.path = WriteTempFile("changing.pgm", c.before);
        changer.size = c.cutTo;
        changer.more = picture.substr(head.size());
        HLOCAL info = kUntouched, pixels = kUntouched;
        const int result = Kelda().GetPicture(changer.path.c_str(), 0, 0, &info, &pixels,
                                              ChangeTheFile, LONG_PTR(&changer));
        EXPECT_EQ(result, c.result);
        // What memory mode gives for the bytes that were there to read.
        const Decoded want = Decode(c.after, Mode::Memory, -1, false);
        ASSERT_NE(info, kUntouched);
        EXPECT_TRUE(Bytes(pixels, LocalSize(pixels)) == want.pixels) << "the pixel blocks differ";
        LocalFree(info);
        LocalFree(pixels);
    }
}

// Fills the local heap with freed blocks of these sizes that held 0xA7, so
// that the next blocks of those sizes likely come back with it.
void DirtyLocalHeap(const std::vector<size_t>& sizes)
{
    std::vector<HLOCAL> blocks;
    for (int round = 0; round < 4; ++round)
        for (size_t size : sizes) {
            HLOCAL h = LocalAlloc(LMEM_FIXED, size);
            memset(h, 0xA7, size);
            blocks.push_back(h);
        }
    for (HLOCAL h : blocks)
        LocalFree(h);
}

TEST(Leftovers, NothingOfTheHeapReachesTheHost)
{
    // Every kind, widths with 1, 2 and 3 padding bytes (and none), whole,
    // stopped after the first row, and short of data.
    for (int kind = 1; kind <= 6; ++kind) {
        for (int width : {1, 2, 3, 4, 5, 6, 7, 9, 17, 33}) {
            const int height = 4;
            std::string p = "P" + std::to_string(kind) + "\n" + std::to_string(width) + " " +
                            std::to_string(height) + "\n";
            if (kind != 1 && kind != 4)
                p += "255\n";
            const int samples = (kind == 3 || kind == 6 ? 3 : 1) * width * height;
            const int rawBytes = kind == 4 ? (width + 7) / 8 * height : samples;
            if (kind <= 3) {
                for (int i = 0; i < samples; ++i)
                    p += kind == 1 ? "1 " : "200 ";
            } else {
                p += std::string(size_t(rawBytes), '\xff');
            }
            const int bits = kind % 3 == 1 ? 1 : kind % 3 == 2 ? 8 : 24;
            const size_t stride = size_t((width * bits + 31) / 32 * 4);
            const size_t rowBytes = size_t((width * bits + 7) / 8);
            const size_t infoSize = bits == 1 ? 52 : bits == 8 ? 1068 : 44;
            struct Variant {
                const char* name;
                std::string picture;
                int stopAt;
                int rowsWritten;
            };
            const Variant variants[] = {
                {"whole", p, -1, height},
                {"stopped after row 0", p, 0, 1},
                {"short", p.substr(0, p.size() - (kind <= 3 ? 3 * size_t(samples) / 2 : size_t(rawBytes) / 2 + 1)),
                 -1, -1},
            };
            for (const Variant& v : variants) {
                for (Mode mode : kModes) {
                    const std::string what = "P" + std::to_string(kind) + " width " +
                                             std::to_string(width) + ", " + v.name + ", from " +
                                             Name(mode);
                    DirtyLocalHeap({infoSize, stride * height});
                    const Decoded d = Decode(v.picture, mode, v.stopAt);
                    ASSERT_TRUE(d.result == 0 || d.result == 1 || d.result == 3) << what;
                    ASSERT_EQ(d.info.size(), infoSize) << what;
                    ASSERT_EQ(d.pixels.size(), stride * height) << what;
                    // The palette's reserved bytes and the 4 after it.
                    for (size_t i = 43; i < infoSize - 4; i += 4)
                        EXPECT_EQ(uint8_t(d.info[i]), 0) << what << ": reserved byte " << i;
                    EXPECT_EQ(U32(d.info, infoSize - 4), 0u) << what << ": the spare bytes";
                    // Every byte of the pixel block is a pixel or a zero:
                    // these pictures hold no 0xA7.
                    for (size_t row = 0; row < size_t(height); ++row) {
                        for (size_t i = 0; i < stride; ++i) {
                            const uint8_t b = uint8_t(d.pixels[row * stride + i]);
                            ASSERT_NE(b, 0xA7) << what << ": row " << row << " byte " << i;
                            if (i >= rowBytes) {
                                ASSERT_EQ(b, 0) << what << ": padding of row " << row;
                            }
                        }
                    }
                    if (v.rowsWritten >= 0) {
                        // Rows not reached, at the start of the block, are zeros.
                        const size_t unreached = size_t(height - v.rowsWritten) * stride;
                        EXPECT_EQ(d.pixels.substr(0, unreached), std::string(unreached, '\0')) << what;
                    }
                }
            }
        }
    }
}

} // namespace
