#include "plugin/input.h"

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

size_t MemoryImageLength(const void* image, LONG_PTR hostLength, size_t wanted)
{
    if (hostLength > 0 && size_t(hostLength) < wanted)
        wanted = size_t(hostLength);
    return ReadableLength(image, wanted);
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

bool ReadUpTo(HANDLE file, uint8_t* buffer, size_t capacity, size_t* got)
{
    size_t total = 0;
    bool ok = true;
    while (total < capacity) {
        const size_t left = capacity - total;
        DWORD read = 0;
        if (!ReadFile(file, buffer + total, left < kReadChunk ? DWORD(left) : kReadChunk, &read,
                      nullptr)) {
            ok = false;
            break;
        }
        if (read == 0)
            break; // the end of the file
        total += read;
    }
    *got = total;
    return ok;
}

namespace {

intptr_t ReadFromFile(void* context, uint8_t* buffer, size_t capacity)
{
    size_t got = 0;
    return ReadUpTo(static_cast<HANDLE>(context), buffer, capacity, &got) ? intptr_t(got) : -1;
}

} // namespace

int32_t FileStream(HANDLE file, PxmStream* stream)
{
    if (file == INVALID_HANDLE_VALUE)
        return kPxmReadError;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0)
        return kPxmReadError;
    if (uint64_t(size.QuadPart) > uint64_t(kMaxInputBytes))
        return kPxmOutOfMemory;
    *stream = {ReadFromFile, file, kPxmChunkSize, uint64_t(size.QuadPart)};
    return kPxmSuccess;
}
