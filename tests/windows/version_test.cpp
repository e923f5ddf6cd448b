// The plug-in's version resource, read back as Explorer's Details tab and
// installers read it: GetFileVersionInfo on the DLL's file. The version must
// be the project's, agree with the "ver" of the information line hosts show,
// and name this build's file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "plugin/version.h"
#include "tests/windows/host.h"

namespace {

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end()); // the expected values are ASCII
}

std::string Narrow(const std::wstring& s)
{
    std::string n;
    for (wchar_t c : s)
        n += c < 0x80 ? char(c) : '?';
    return n;
}

// The whole resource of the loaded plug-in's file; empty when it has none.
std::vector<char> VersionResource()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(Kelda().module, path, MAX_PATH);
    EXPECT_GT(n, 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    std::vector<char> resource(size);
    if (size == 0 || !GetFileVersionInfoW(path, 0, size, resource.data()))
        resource.clear();
    return resource;
}

// The value at `key`, or null when the resource has none.
const void* Query(std::vector<char>& resource, const std::wstring& key, UINT* length)
{
    void* value = nullptr;
    *length = 0;
    if (resource.empty() || !VerQueryValueW(resource.data(), key.c_str(), &value, length))
        return nullptr;
    return value;
}

// "MAJOR.MINOR" after "ver " in the information line that hosts show.
std::string VersionOfInformationLine()
{
    char line[256] = {};
    Kelda().GetPluginInfo(1, line, sizeof line);
    const std::string text = line;
    const size_t at = text.find("ver ");
    if (at == std::string::npos)
        return "";
    return text.substr(at + 4, text.find(' ', at + 4) - (at + 4));
}

TEST(VersionResource, StringsNameTheRelease)
{
    std::vector<char> resource = VersionResource();
    ASSERT_FALSE(resource.empty()) << kPluginName << " has no version resource";

    struct Field {
        const char* name;
        std::string value;
    };
    const Field fields[] = {
        {"FileDescription", "kelda Susie Plug-in for PxM (c) 2026 the kelda developers"},
        {"FileVersion", KELDA_VERSION_TEXT},
        {"ProductName", "kelda"},
        {"ProductVersion", KELDA_VERSION_TEXT},
        {"LegalCopyright", "Copyright (c) 2026 the kelda developers"},
        {"OriginalFilename", kPluginName},
        {"InternalName", "kelda"},
    };
    for (const Field& f : fields) {
        UINT length = 0;
        const void* value =
            Query(resource, L"\\StringFileInfo\\040904B0\\" + Wide(f.name), &length);
        ASSERT_NE(value, nullptr) << f.name << " missing";
        // The length counts the terminating zero, when there is one.
        std::wstring text(static_cast<const wchar_t*>(value), length);
        if (!text.empty() && text.back() == 0)
            text.pop_back();
        EXPECT_EQ(Narrow(text), f.value) << f.name;
    }
}

TEST(VersionResource, NumbersAreTheProjectsVersion)
{
    std::vector<char> resource = VersionResource();
    ASSERT_FALSE(resource.empty()) << kPluginName << " has no version resource";
    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(Query(resource, L"\\", &length));
    ASSERT_NE(fixed, nullptr);
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);

    const DWORD high = DWORD(KELDA_VERSION_MAJOR) << 16 | KELDA_VERSION_MINOR;
    const DWORD low = DWORD(KELDA_VERSION_PATCH) << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, DWORD(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flag";

    // The numbers, the version string and the information line hosts show
    // all tell one version.
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
             fixed->dwFileVersionMS & 0xffff, fixed->dwFileVersionLS >> 16);
    EXPECT_EQ(std::string(numbers), KELDA_VERSION_TEXT);
    const std::string majorMinor = std::to_string(fixed->dwFileVersionMS >> 16) + "." +
                                   std::to_string(fixed->dwFileVersionMS & 0xffff);
    EXPECT_EQ(VersionOfInformationLine(), majorMinor);
}

TEST(VersionResource, TranslationNamesTheStringBlock)
{
    std::vector<char> resource = VersionResource();
    ASSERT_FALSE(resource.empty()) << kPluginName << " has no version resource";
    UINT length = 0;
    const auto* pair = static_cast<const WORD*>(Query(resource, L"\\VarFileInfo\\Translation", &length));
    ASSERT_NE(pair, nullptr);
    ASSERT_GE(length, 4u);
    // US English in UTF-16: the block "040904B0" that the strings are in.
    EXPECT_EQ(pair[0], 0x0409);
    EXPECT_EQ(pair[1], 1200);
}

} // namespace
