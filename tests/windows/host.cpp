#include "tests/windows/host.h"

#include <gtest/gtest.h>

#include <cstring>

#if defined(_WIN64)
const char kPluginName[] = "kelda.sph";
#else
const char kPluginName[] = "kelda.spi";
#endif

namespace {

// Only the 64-bit plug-in has Unicode exports.
constexpr bool kUnicode = sizeof(void*) == 8;

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

template <typename F> F Export(HMODULE module, const char* name, bool required = true)
{
    FARPROC p = GetProcAddress(module, name);
    if (p == nullptr && required) {
        fprintf(stderr, "%s has no export %s\n", kPluginName, name);
        abort();
    }
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

Plugin Load()
{
    std::string path = ProgramFolder() + kPluginName;
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
            Export<GetPictureFn>(module, "GetPreview"),
            Export<GetPluginInfoWFn>(module, "GetPluginInfoW", kUnicode),
            Export<IsSupportedWFn>(module, "IsSupportedW", kUnicode),
            Export<GetPictureInfoWFn>(module, "GetPictureInfoW", kUnicode),
            Export<GetPictureWFn>(module, "GetPictureW", kUnicode),
            Export<GetPictureWFn>(module, "GetPreviewW", kUnicode)};
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

const char* Name(Mode m)
{
    return m == Mode::File ? "file" : m == Mode::Memory ? "memory" : "memory before a no-access page";
}

const Mode kModes[3] = {Mode::File, Mode::Memory, Mode::GuardedMemory};

int __stdcall Record(int row, int lastRow, LONG_PTR hostValue)
{
    Recorder* r = reinterpret_cast<Recorder*>(hostValue);
    r->calls.push_back({row, lastRow});
    return int(r->calls.size()) - 1 == r->stopAt ? 1 : 0;
}

const HLOCAL kUntouched = reinterpret_cast<HLOCAL>(0x7e7e7e7e);

namespace {

// Takes over what GetPicture handed over: copies both blocks and frees them.
void TakeOver(Decoded* d, const Recorder& recorder, HLOCAL info, HLOCAL pixels)
{
    d->calls = recorder.calls;
    d->infoHandle = info;
    d->pixelHandle = pixels;
    if (info != kUntouched) {
        d->info = Bytes(info, LocalSize(info));
        d->pixels = Bytes(pixels, LocalSize(pixels));
        EXPECT_EQ(LocalFree(info), nullptr);
        EXPECT_EQ(LocalFree(pixels), nullptr);
    }
}

} // namespace

Decoded DecodeImage(const std::string& image, LONG_PTR length)
{
    Decoded d;
    Recorder recorder;
    std::string copy = image;
    HLOCAL info = kUntouched, pixels = kUntouched;
    d.result = Kelda().GetPicture(&copy[0], length, 1, &info, &pixels, Record, LONG_PTR(&recorder));
    EXPECT_EQ(copy, image) << "the host's image changed";
    TakeOver(&d, recorder, info, pixels);
    return d;
}

// Calls GetPicture as a host does and takes over both blocks.
Decoded Decode(const std::string& picture, Mode mode, int stopAt, bool withProgress,
               unsigned int memoryFlag)
{
    Decoded d;
    Recorder recorder;
    recorder.stopAt = stopAt;
    HLOCAL info = kUntouched, pixels = kUntouched;
    ProgressCallback progress = withProgress ? Record : nullptr;
    if (mode == Mode::File) {
        std::string path = WriteTempFile("picture.pnm", picture);
        d.result = Kelda().GetPicture(path.c_str(), 0, 0, &info, &pixels, progress, LONG_PTR(&recorder));
    } else if (mode == Mode::Memory) {
        std::string image = picture;
        d.result = Kelda().GetPicture(&image[0], LONG_PTR(image.size()), memoryFlag, &info, &pixels,
                                      progress, LONG_PTR(&recorder));
    } else {
        GuardedImage image = MakeGuardedImage(picture);
        d.result = Kelda().GetPicture(image.data, 0, memoryFlag, &info, &pixels, progress, LONG_PTR(&recorder));
        FreeGuardedImage(image);
    }
    TakeOver(&d, recorder, info, pixels);
    return d;
}

uint32_t U32(const std::string& s, size_t at)
{
    uint32_t v;
    memcpy(&v, s.data() + at, 4);
    return v;
}

uint16_t U16(const std::string& s, size_t at)
{
    uint16_t v;
    memcpy(&v, s.data() + at, 2);
    return v;
}

std::string Hex(const std::string& s)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

InfoResult QueryInfo(const std::string& picture, Mode mode, unsigned int memoryFlag)
{
    InfoResult r;
    memset(&r.info, 0x5a, sizeof r.info);
    if (mode == Mode::File) {
        std::string path = WriteTempFile("info.pnm", picture);
        r.result = Kelda().GetPictureInfo(path.c_str(), 0, 0, &r.info);
    } else if (mode == Mode::Memory) {
        std::string image = picture + std::string(2000, '\0');
        r.result = Kelda().GetPictureInfo(image.data(), 0, memoryFlag, &r.info);
        EXPECT_EQ(image, picture + std::string(2000, '\0')) << "the host's image changed";
    } else {
        GuardedImage image = MakeGuardedImage(picture);
        r.result = Kelda().GetPictureInfo(image.data, 0, memoryFlag, &r.info);
        EXPECT_EQ(Bytes(image.data, picture.size()), picture) << "the host's image changed";
        FreeGuardedImage(image);
    }
    if (r.result == 0 && r.info.commentHandle != nullptr) {
        r.comment = Bytes(r.info.commentHandle, LocalSize(r.info.commentHandle));
        EXPECT_EQ(LocalFree(r.info.commentHandle), nullptr);
    }
    return r;
}

// The pixel bytes of every row, without the padding that is never written.
std::string RowsWithoutPadding(const void* pixels, int rows, int stride, int rowBytes)
{
    std::string out;
    for (int r = 0; r < rows; ++r)
        out += Bytes(static_cast<const char*>(pixels) + r * stride, size_t(rowBytes));
    return out;
}

size_t BusyHeapBytes()
{
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    size_t total = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return total;
}
