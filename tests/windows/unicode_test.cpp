// The Unicode exports of the 64-bit plug-in: file names that no ANSI code
// page spells, in file mode and memory mode, give what the ANSI exports give.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/windows/host.h"

namespace {

std::wstring WideTempFolder()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"kelda-unicode-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\";
}

std::wstring WriteWideFile(const std::wstring& name, const std::string& bytes)
{
    std::wstring path = WideTempFolder() + name;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return path;
}

struct Named {
    const wchar_t* name;
    std::string picture;
    int width, height, depth, rowBytes, stride;
};

const Named kPictures[] = {
    {L"\u753b\u50cf-\u30c6\u30b9\u30c8.ppm", "P6\n# \xe7\x94\xbb\n2 2\n255\nABCDEFGHIJKL", 2, 2, 24, 6, 8},
    {L"caf\u00e9-\u0151\u0159\u00f8.pgm", "P2\n3 1\n255\n1 2 3\n", 3, 1, 8, 3, 4},
    {L"\U0001F600 smile \u2603.pbm", "P1\n9 1\n101010101\n", 9, 1, 1, 2, 4},
};

TEST(Unicode, NamesOutsideTheAnsiCodePage)
{
    ASSERT_NE(Kelda().GetPictureW, nullptr) << "the 64-bit plug-in has Unicode exports";
    for (const Named& n : kPictures) {
        const std::wstring path = WriteWideFile(n.name, n.picture);
        const int nameBytes = WideCharToMultiByte(CP_UTF8, 0, n.name, -1, nullptr, 0, nullptr, nullptr);
        std::string label(size_t(nameBytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, n.name, -1, &label[0], nameBytes, nullptr, nullptr);

        PictureInfo info;
        ASSERT_EQ(Kelda().GetPictureInfoW(path.c_str(), 0, 0, &info), 0) << label;
        EXPECT_EQ(info.width, n.width) << label;
        EXPECT_EQ(info.height, n.height) << label;
        EXPECT_EQ(info.colorDepth, n.depth) << label;
        if (info.commentHandle != nullptr)
            LocalFree(info.commentHandle);

        // The same picture through the ANSI export from memory is the reference.
        std::string image = n.picture;
        HLOCAL wantInfo, wantPixels;
        ASSERT_EQ(Kelda().GetPicture(&image[0], 0, 1, &wantInfo, &wantPixels, nullptr, 0), 0);
        const std::string want = Bytes(wantInfo, 40) + RowsWithoutPadding(wantPixels, n.height, n.stride, n.rowBytes);
        LocalFree(wantInfo);
        LocalFree(wantPixels);

        for (unsigned int flag : {0u, 1u}) {
            HLOCAL a = kUntouched, b = kUntouched;
            const LPCWSTR source = flag ? reinterpret_cast<LPCWSTR>(image.data()) : path.c_str();
            ASSERT_EQ(Kelda().GetPictureW(source, 0, flag, &a, &b, nullptr, 0), 0) << label << " flag " << flag;
            EXPECT_EQ(Hex(Bytes(a, 40) + RowsWithoutPadding(b, n.height, n.stride, n.rowBytes)), Hex(want))
                << label << " flag " << flag;
            LocalFree(a);
            LocalFree(b);
        }
        PictureInfo fromMemory;
        EXPECT_EQ(Kelda().GetPictureInfoW(reinterpret_cast<LPCWSTR>(image.data()), 0, 1, &fromMemory), 0);
        if (fromMemory.commentHandle != nullptr)
            LocalFree(fromMemory.commentHandle);

        HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(Kelda().IsSupportedW(path.c_str(), ULONG_PTR(f)), 1) << label;
        CloseHandle(f);
        EXPECT_EQ(Kelda().IsSupportedW(nullptr, ULONG_PTR(image.data())), 1) << label;
    }
}

TEST(Unicode, MissingWideNamesGiveReadError)
{
    ASSERT_NE(Kelda().GetPictureW, nullptr);
    PictureInfo info;
    EXPECT_EQ(Kelda().GetPictureInfoW(L"Z:\\\u65e0\\\u6b64.ppm", 0, 0, &info), 6);
    HLOCAL a = kUntouched, b = kUntouched;
    EXPECT_EQ(Kelda().GetPictureW(L"Z:\\\u65e0\\\u6b64.ppm", 0, 0, &a, &b, nullptr, 0), 6);
    EXPECT_EQ(a, kUntouched);
    EXPECT_EQ(Kelda().GetPreviewW(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
}

TEST(Unicode, InformationTableInUtf16)
{
    ASSERT_NE(Kelda().GetPluginInfoW, nullptr);
    for (int number = 0; number < 10; ++number) {
        char narrow[128];
        wchar_t wide[128];
        memset(wide, 0x55, sizeof wide);
        const int n = Kelda().GetPluginInfo(number, narrow, sizeof narrow);
        EXPECT_EQ(Kelda().GetPluginInfoW(number, wide, 128), n) << "number " << number;
        if (n == 0) {
            EXPECT_EQ(wide[0], wchar_t(0x5555)) << "number " << number << ": buffer touched";
            continue;
        }
        for (int i = 0; i <= n; ++i)
            ASSERT_EQ(wide[i], wchar_t(static_cast<unsigned char>(narrow[i]))) << "number " << number;
    }
    wchar_t shortBuffer[4];
    EXPECT_EQ(Kelda().GetPluginInfoW(3, shortBuffer, 4), 3) << "capacity in characters";
    EXPECT_EQ(std::wstring(shortBuffer), L"PBM");
}

} // namespace
