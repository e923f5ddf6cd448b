// The plug-in frame through its exports, as a viewer calls them: the
// information table, the format probe on memory and on a file handle, and
// the preview request.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/windows/host.h"

namespace {

struct InfoCase {
    int number;
    const char* text; // null: no string for this number
};

const InfoCase kInfoTable[] = {
    {0, "00IN"},
    {1, "PxM to DIB ver 1.1 (c) 2026 the kelda developers"},
    {2, "*.pbm"},
    {3, "PBM (ascii/raw)"},
    {4, "*.pgm"},
    {5, "PGM (ascii/raw)"},
    {6, "*.ppm"},
    {7, "PPM (ascii/raw)"},
    {8, nullptr},
    {-1, nullptr},
    {0x7fffffff, nullptr},
    {int(0x80000000), nullptr},
};

TEST(GetPluginInfo, AnswersEveryNumber)
{
    for (const InfoCase& c : kInfoTable) {
        char buffer[256];
        memset(buffer, 'x', sizeof buffer);
        const int have = Kelda().GetPluginInfo(c.number, buffer, sizeof buffer);
        if (c.text == nullptr) {
            EXPECT_EQ(have, 0) << "number " << c.number;
            EXPECT_EQ(buffer[0], 'x') << "number " << c.number << ": buffer touched";
        } else {
            EXPECT_EQ(have, int(strlen(c.text))) << "number " << c.number;
            EXPECT_STREQ(buffer, c.text) << "number " << c.number;
            EXPECT_EQ(buffer[strlen(c.text) + 1], 'x') << "number " << c.number << ": wrote past the NUL";
        }
    }
}

TEST(GetPluginInfo, NeverWritesPastTheCapacity)
{
    struct Case {
        int number;
        int capacity;
        const char* placed;
    };
    const Case cases[] = {
        {3, 16, "PBM (ascii/raw)"}, // exactly fits with its NUL
        {3, 15, "PBM (ascii/raw"},  // one short: shortened, still terminated
        {0, 3, "00"},
        {2, 1, ""},
    };
    for (const Case& c : cases) {
        char buffer[32];
        memset(buffer, 'x', sizeof buffer);
        const int have = Kelda().GetPluginInfo(c.number, buffer, c.capacity);
        EXPECT_EQ(have, int(strlen(c.placed))) << "number " << c.number << " capacity " << c.capacity;
        EXPECT_STREQ(buffer, c.placed) << "number " << c.number << " capacity " << c.capacity;
        for (int i = c.capacity; i < int(sizeof buffer); ++i)
            ASSERT_EQ(buffer[i], 'x') << "capacity " << c.capacity << ": byte " << i << " written";
    }
}

TEST(GetPluginInfo, NoRoomOrNoBufferWritesNothing)
{
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Kelda().GetPluginInfo(0, buffer, 0), 0);
    EXPECT_EQ(Kelda().GetPluginInfo(0, buffer, -5), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(Kelda().GetPluginInfo(0, nullptr, 100), 0);
}

struct ProbeCase {
    const char* name;
    std::string data;
    int want;
};

const ProbeCase kProbes[] = {
    {"P6 LF", std::string("P6\n3 2\n255\n"), 1},
    {"P1 CR LF", std::string("P1\r\n1 1\r\n1\r\n"), 1},
    {"P3 LF CR: byte 2 alone decides", std::string("P3\n\r"), 1},
    {"P4 LF", std::string("P4\n"), 1},
    {"P5 LF", std::string("P5\n"), 1},
    {"P2 blank", std::string("P2 3 2\n"), 0},
    {"P5 CR x", std::string("P5\rx\n"), 0},
    {"P5 CR CR LF", std::string("P5\r\r\n"), 0},
    {"P7 LF", std::string("P7\n"), 0},
    {"P0 LF", std::string("P0\n"), 0},
    {"lower-case p", std::string("p6\n"), 0},
    {"P4 #", std::string("P4#\n"), 0},
    {"P6 tab", std::string("P6\t\n"), 0},
    {"NUL in magic", std::string("P\0\n\n", 4), 0},
    {"BMP", std::string("BM6\0\0\0", 6), 0},
};

TEST(IsSupported, ProbesMemoryData)
{
    for (const ProbeCase& c : kProbes) {
        std::string padded = c.data + std::string(64, '\0');
        EXPECT_EQ(Kelda().IsSupported("x.pnm", ULONG_PTR(padded.data())), c.want) << c.name;
        EXPECT_EQ(Kelda().IsSupported(nullptr, ULONG_PTR(padded.data())), c.want) << c.name << " (no name)";
    }
}

TEST(IsSupported, MemoryDataEndingBeforeAnInaccessiblePage)
{
    const ProbeCase cases[] = {
        {"P6 LF at the very end", std::string("P6\n"), 1},
        {"P1 CR LF at the very end", std::string("P1\r\n"), 1},
        {"P1 CR, then the end", std::string("P1\r"), 0},
        {"P5, then the end", std::string("P5"), 0},
        {"P, then the end", std::string("P"), 0},
        {"nothing", std::string(), 0},
    };
    for (const ProbeCase& c : cases) {
        GuardedImage image = MakeGuardedImage(c.data);
        EXPECT_EQ(Kelda().IsSupported("x", ULONG_PTR(image.data)), c.want) << c.name;
        FreeGuardedImage(image);
    }
}

TEST(IsSupported, ProbesAFileHandle)
{
    struct Case {
        const char* name;
        std::string file;
        int want;
    };
    const Case cases[] = {
        {"3-byte P4 LF", std::string("P4\n"), 1},
        {"2-byte P4", std::string("P4"), 0},
        {"empty", std::string(), 0},
        {"P2 CR LF header", std::string("P2\r\n2 1\r\n255\r\n0 1\r\n"), 1},
        {"P7", std::string("P7\n1 1\n"), 0},
    };
    for (const Case& c : cases) {
        std::string path = WriteTempFile("probe.pnm", c.file);
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        ASSERT_LT(ULONG_PTR(f), 0x10000u) << "Wine gives handles above 0x10000";
        EXPECT_EQ(Kelda().IsSupported(path.c_str(), ULONG_PTR(f)), c.want) << c.name;
        EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_CURRENT), DWORD(c.file.size())) << c.name;
        CloseHandle(f);
    }
}

TEST(IsSupported, ReadsAHundredBytesFromTheHandlesPosition)
{
    std::string file(500, 'x');
    file.replace(10, 3, "P5\n");
    std::string path = WriteTempFile("probe500.pnm", file);
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);

    SetFilePointer(f, 10, nullptr, FILE_BEGIN);
    EXPECT_EQ(Kelda().IsSupported(nullptr, ULONG_PTR(f)), 1) << "bytes 10 to 13 decide";
    EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_CURRENT), 110u);

    SetFilePointer(f, 0, nullptr, FILE_BEGIN);
    EXPECT_EQ(Kelda().IsSupported(nullptr, ULONG_PTR(f)), 0) << "byte 0 is x";
    EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_CURRENT), 100u);

    SetFilePointer(f, 460, nullptr, FILE_BEGIN);
    EXPECT_EQ(Kelda().IsSupported(nullptr, ULONG_PTR(f)), 0);
    EXPECT_EQ(SetFilePointer(f, 0, nullptr, FILE_CURRENT), 500u) << "40 bytes before the end";
    CloseHandle(f);
}

TEST(IsSupported, AHandleThatIsNoOpenFileGivesZero)
{
    EXPECT_EQ(Kelda().IsSupported(nullptr, 0), 0);
    EXPECT_EQ(Kelda().IsSupported(nullptr, 0xfffc), 0);
}

TEST(IsSupported, ValuesFrom0x10000AreAddresses)
{
    // The lowest 64 KiB are never mapped, so an address there would fault;
    // 0x10000 itself is the first address, and it is read as memory.
    void* page = VirtualAlloc(reinterpret_cast<void*>(0x10000), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (page == nullptr)
        GTEST_SKIP() << "0x10000 is taken in this process";
    memcpy(page, "P6\n", 3);
    EXPECT_EQ(Kelda().IsSupported(nullptr, 0x10000), 1);
    VirtualFree(page, 0, MEM_RELEASE);
}

TEST(GetPreview, IsNotImplemented)
{
    HLOCAL info = reinterpret_cast<HLOCAL>(0x1234), pixels = reinterpret_cast<HLOCAL>(0x5678);
    EXPECT_EQ(Kelda().GetPreview("P6\n1 1\n255\nabc", 0, 1, &info, &pixels, nullptr, 0), -1);
    EXPECT_EQ(Kelda().GetPreview(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(info, reinterpret_cast<HLOCAL>(0x1234));
    EXPECT_EQ(pixels, reinterpret_cast<HLOCAL>(0x5678));
}

TEST(Module, LoadsAndUnloadsRepeatedly)
{
    // A copy under another name is really loaded and unloaded each time,
    // not just counted, as a viewer does once per picture.
    char path[MAX_PATH];
    GetModuleFileNameA(Kelda().module, path, MAX_PATH);
    std::string copy = WriteTempFile("reload.spi", "");
    ASSERT_TRUE(CopyFileA(path, copy.c_str(), FALSE));
    for (int i = 0; i < 20; ++i) {
        HMODULE m = LoadLibraryA(copy.c_str());
        ASSERT_NE(m, nullptr);
        auto info = reinterpret_cast<GetPluginInfoFn>(reinterpret_cast<void*>(GetProcAddress(m, "GetPluginInfo")));
        char buffer[8];
        EXPECT_EQ(info(0, buffer, sizeof buffer), 4);
        EXPECT_TRUE(FreeLibrary(m));
        EXPECT_EQ(GetModuleHandleA(copy.c_str()), nullptr) << "still loaded after FreeLibrary";
    }
}

} // namespace
