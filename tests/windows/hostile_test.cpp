// Broken and malicious pictures through every picture export, from a file and
// from a memory image that ends right before a no-access page: each gives
// its documented result, and nothing reaches the host but what belongs to it.
#include <gtest/gtest.h>

#include "tests/windows/host.h"

namespace {

struct Hostile {
    const char* name;
    std::string picture;
    int probe;   // IsSupported
    int info;    // GetPictureInfo
    int decode;  // GetPicture
};

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    out.reserve(s.size() * size_t(n));
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

std::vector<Hostile> HostilePictures()
{
    const std::string raster6 = std::string(6, '\x55');
    return {
        // Sizes.
        {"3 x width beyond 32 bits", "P6\n1431655766 1\n255\n" + raster6, 1, 0, 4},
        {"rowStride x height beyond 32 bits", "P5\n65536 65537\n255\n" + raster6, 1, 0, 4},
        {"PBM rowStride x height beyond 32 bits", "P4\n2147483647 2147483647\n" + raster6, 1, 0, 4},
        {"huge ASCII pixmap", "P3\n2147483647 3\n255\n1 2 3\n", 1, 0, 4},
        {"negative width", "P5\n-5 2\n255\n" + raster6, 1, 0, 8},
        {"negative height", "P6\n2 -1\n255\n" + raster6, 1, 0, 8},
        {"most negative width", "P4\n-2147483648 1\n\xff", 1, 0, 8},
        {"width that wraps negative", "P5\n4294967295 1\n255\nx", 1, 0, 8},
        {"zero width", "P5\n0 2\n255\n", 1, 0, 0},
        {"zero height", "P6\n2 0\n255\n", 1, 0, 0},
        // Rows of width 0 cost no data: only a limit keeps this from being
        // two billion progress calls.
        {"zero width, two billion rows", "P5\n0 2147483647\n255\n", 1, 0, 8},
        {"zero width, 65535 rows", "P4\n0 65535\n", 1, 0, 0},
        {"zero by zero ASCII with a sample", "P2\n0 0\n255\n1", 1, 0, 0},
        {"zero by zero ASCII without samples", "P1\n0 0\n", 1, 0, 3},
        {"size that is no number", "P5\nwide tall\n255\n", 1, 0, 0},
        // Where the data ends.
        {"header ending at the maxval", "P5\n3 2\n255", 1, 0, 3},
        {"header ending at the size line", "P4\n8 1", 1, 0, 3},
        {"header ending at the width", "P4\n8", 1, 8, 8},
        {"header ending after the magic", "P6\n", 1, 8, 8},
        {"no raster", "P6\n2 2\n255\n", 1, 0, 3},
        {"raw raster cut inside a row", "P6\n2 2\n255\nabcdefghi", 1, 0, 3},
        {"raw bitmap cut inside a row", "P4\n17 2\n\xff\xff\xff\xff", 1, 0, 3},
        {"ASCII raster cut inside a pixel", "P3\n2 1\n255\n1 2 3 4 5", 1, 0, 3},
        {"ASCII raster cut inside a number", "P2\n2 1\n255\n1 2", 1, 0, 0},
        {"NUL inside an ASCII raster", std::string("P2\n4 1\n255\n1 2\0 3 4\n", 20), 1, 0, 3},
        {"NUL before the first sample", std::string("P1\n1 1\n\0 1\n", 10), 1, 0, 3},
        {"NUL inside the header", std::string("P5\n3\0 2\n255\nabcdef", 18), 1, 8, 8},
        // Maximum sample values.
        {"maxval 0", "P5\n1 1\n0\nx", 1, 8, 8},
        {"maxval 65535", "P6\n1 1\n65535\nxxxxxx", 1, 8, 8},
        {"maxval of 40 digits", "P2\n1 1\n" + std::string(40, '9') + "\n1\n", 1, 8, 8},
        {"maxval that wraps to 255", "P5\n1 1\n4294967551\nx", 1, 0, 0},
        {"maxval missing", "P2\n1 1\n\n\n", 1, 8, 8},
        // Text that is too long for the 2000 bytes of the information query.
        {"comment of 100000 bytes", "P5\n#" + std::string(100000, 'c') + "\n2 1\n255\nab", 1, 8, 0},
        {"30000 comment lines", "P5\n" + Repeat("# c\n", 30000) + "2 1\n255\nab", 1, 8, 0},
        {"magic line of 4 MB", "P5" + std::string(4 << 20, 'm') + "\n2 1\n255\nab", 0, 8, 0},
        {"sample line of 4 MB", "P2\n1000000 1\n255\n" + Repeat("7 ", 1000000), 1, 0, 0},
        {"one token of 4 MB", "P2\n1 1\n255\n" + std::string(4 << 20, '7'), 1, 0, 0},
        {"blank run of 4 MB before the raster", "P2\n1 1\n255\n" + std::string(4 << 20, ' ') + "9", 1, 0, 0},
        // Tiny files.
        {"0 bytes", "", 0, 8, 8},
        {"1 byte", "P", 0, 8, 8},
        {"2 bytes", "P5", 0, 8, 8},
        {"3 bytes", "P5\n", 1, 8, 8},
        // Line ends.
        {"CR-only line ends", "P5\r3 2\r255\rabcdef", 0, 8, 8},
        {"CR LF line ends", "P5\r\n3 2\r\n255\r\nabcdef", 1, 0, 0},
        {"line feeds only", "\n\n\n\n", 0, 8, 8},
        {"binary garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 0, 8, 8},
    };
}

void CheckHandedOver(const Decoded& d, const std::string& what)
{
    const bool handedOver = d.result == 0 || d.result == 1 || d.result == 3;
    if (!handedOver) {
        EXPECT_EQ(d.infoHandle, kUntouched) << what;
        EXPECT_EQ(d.pixelHandle, kUntouched) << what;
        return;
    }
    ASSERT_NE(d.infoHandle, kUntouched) << what;
    const size_t infoSizes[] = {52, 1068, 44};
    const uint16_t bits = U16(d.info, 14);
    const size_t want = infoSizes[bits == 1 ? 0 : bits == 8 ? 1 : 2];
    EXPECT_EQ(d.info.size(), want) << what << ": information block";
    EXPECT_EQ(d.pixels.size(), size_t(U32(d.info, 20))) << what << ": pixel block against biSizeImage";
}

TEST(Hostile, EveryExportInEveryMode)
{
    for (const Hostile& h : HostilePictures()) {
        std::string padded = h.picture.substr(0, 16) + std::string(16, '\0');
        EXPECT_EQ(Kelda().IsSupported(nullptr, ULONG_PTR(padded.data())), h.probe) << h.name;
        Decoded fromFile;
        for (Mode mode : kModes) {
            const std::string what = std::string(h.name) + " from " + Name(mode);
            EXPECT_EQ(QueryInfo(h.picture, mode).result, h.info) << what;
            Decoded d = Decode(h.picture, mode);
            EXPECT_EQ(d.result, h.decode) << what;
            CheckHandedOver(d, what);
            // A file, read as it is decoded, gives what its bytes give from
            // memory, byte for byte.
            if (mode == Mode::File) {
                fromFile = d;
            } else {
                EXPECT_EQ(d.calls, fromFile.calls) << what;
                EXPECT_TRUE(d.info == fromFile.info) << what << ": the information blocks differ";
                EXPECT_TRUE(d.pixels == fromFile.pixels) << what << ": the pixel blocks differ";
            }
        }
    }
}

TEST(Hostile, ProbeThroughAFileHandle)
{
    for (const Hostile& h : HostilePictures()) {
        std::string path = WriteTempFile("hostile.pnm", h.picture.substr(0, 200));
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Kelda().IsSupported(path.c_str(), ULONG_PTR(f)), h.probe) << h.name;
        CloseHandle(f);
    }
}

TEST(Hostile, NamesThatAreNoPictureFiles)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string names[] = {folder, "Z:\\no\\such\\file.ppm", "", std::string(5000, 'a')};
    for (const std::string& name : names) {
        PictureInfo info;
        EXPECT_EQ(Kelda().GetPictureInfo(name.c_str(), 0, 0, &info), 6) << name.substr(0, 40);
        HLOCAL a = kUntouched, b = kUntouched;
        EXPECT_EQ(Kelda().GetPicture(name.c_str(), 0, 0, &a, &b, nullptr, 0), 6) << name.substr(0, 40);
        EXPECT_EQ(a, kUntouched);
        EXPECT_EQ(b, kUntouched);
    }
}

} // namespace
