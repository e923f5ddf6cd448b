#include "plugin/input.h"

#include <cstdlib>

#include "pxm/pxm.h"

namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                            PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                            PAGE_EXECUTE_WRITECOPY;

// One ReadFile moves at most this much, so that huge reads work everywhere.
constexpr DWORD kReadChunk = 1u << 30;

} // namespace

size_t ReadableLength(const void* address, size_t wanted)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(address);
    uintptr_t at = start;
    while (at - start < wanted) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0)
            break;
        if (region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 ||
            (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
            break;
        const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (regionEnd <= at)
            break; // the top of the address space
        at = regionEnd;
    }
    const size_t readable = at - start;
    return readable < wanted ? readable : wanted;
}

HANDLE OpenPicture(const char* name)
{
    if (name == nullptr)
        return INVALID_HANDLE_VALUE;
    return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

HANDLE OpenPictureW(const wchar_t* name)
{
    if (name == nullptr)
        return INVALID_HANDLE_VALUE;
    return CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

size_t ReadUpTo(HANDLE file, uint8_t* buffer, size_t capacity)
{
    size_t total = 0;
    while (total < capacity) {
        const size_t left = capacity - total;
        DWORD got = 0;
        if (!ReadFile(file, buffer + total, left < kReadChunk ? DWORD(left) : kReadChunk, &got, nullptr) ||
            got == 0)
            break;
        total += got;
    }
    return total;
}

int32_t LoadPicture(HANDLE file, uint8_t** buffer, size_t* length)
{
    if (file == INVALID_HANDLE_VALUE)
        return kPxmReadError;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        CloseHandle(file);
        return kPxmReadError;
    }
    if (uint64_t(size.QuadPart) > uint64_t(kMaxInputBytes)) {
        CloseHandle(file);
        return kPxmOutOfMemory;
    }
    const size_t wanted = size_t(size.QuadPart);
    uint8_t* bytes = static_cast<uint8_t*>(malloc(wanted == 0 ? 1 : wanted));
    if (bytes == nullptr) {
        CloseHandle(file);
        return kPxmOutOfMemory;
    }
    *length = ReadUpTo(file, bytes, wanted);
    *buffer = bytes;
    CloseHandle(file);
    return kPxmSuccess;
}
