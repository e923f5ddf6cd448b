#include "tests/windows/host.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

template <typename F> F Export(HMODULE module, const char* name)
{
    FARPROC p = GetProcAddress(module, name);
    if (p == nullptr) {
        fprintf(stderr, "kelda.spi has no export %s\n", name);
        abort();
    }
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

Plugin Load()
{
    std::string path = ProgramFolder() + "kelda.spi";
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        fprintf(stderr, "cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        abort();
    }
    return {module,
            Export<GetPluginInfoFn>(module, "GetPluginInfo"),
            Export<IsSupportedFn>(module, "IsSupported"),
            Export<GetPictureInfoFn>(module, "GetPictureInfo"),
            Export<GetPictureFn>(module, "GetPicture"),
            Export<GetPictureFn>(module, "GetPreview")};
}

std::string TempFolder()
{
    static std::string folder = [] {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        std::string f = std::string(base) + "kelda-test-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(f.c_str(), nullptr);
        return f + "\\";
    }();
    return folder;
}

} // namespace

const Plugin& Kelda()
{
    static Plugin plugin = Load();
    return plugin;
}

std::string WriteTempFile(const std::string& name, const std::string& bytes)
{
    std::string path = TempFolder() + name;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return path;
}

GuardedImage MakeGuardedImage(const std::string& bytes)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    const size_t dataPages = (bytes.size() + page - 1) / page + 1;
    const size_t size = (dataPages + 1) * page;
    char* base = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base + dataPages * page, page, PAGE_NOACCESS, &old);
    char* data = base + dataPages * page - bytes.size();
    memcpy(data, bytes.data(), bytes.size());
    return {data, base, size};
}

void FreeGuardedImage(const GuardedImage& image)
{
    VirtualFree(image.base, 0, MEM_RELEASE);
}

std::string Bytes(const void* p, size_t n)
{
    return std::string(static_cast<const char*>(p), n);
}
