// kelda.spi: the five exports of an import filter of the Susie plug-in
// interface, reading PBM, PGM and PPM pictures.
//
// Windows glue only: the decoding lives in pxm/. Nothing is kept between
// calls, and the blocks handed to the host come from the local heap, so that
// they outlive the plug-in, which hosts often unload before using them.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "plugin/input.h"
#include "pxm/pxm.h"

// Exported through kelda.def: undecorated names, ordinals in alphabetical order.
#define KELDA_EXPORT extern "C"

// The host's record of GetPictureInfo: packed, commentHandle at offset 22.
#pragma pack(push, 1)
struct PictureInfo {
    LONG left;
    LONG top;
    LONG width;
    LONG height;
    WORD xDensity;
    WORD yDensity;
    SHORT colorDepth;
    HLOCAL commentHandle;
};
#pragma pack(pop)

static_assert(sizeof(void*) != 4 || sizeof(PictureInfo) == 26, "the host's record is 26 bytes");

typedef int(__stdcall* ProgressCallback)(int row, int lastRow, LONG_PTR hostValue);

namespace {

#if defined(__GNUC__)
__attribute__((used))
#endif
const char kDescription[] = "kelda Susie Plug-in for PxM (c) 2026 the kelda developers";

const char* const kInformation[] = {
    "00IN",
    "PxM to DIB ver 1.1 (c) 2026 the kelda developers",
};
const char* const kPatterns[] = {"*.pbm", "*.pgm", "*.ppm"};
const char* const kFormatNames[] = {"PBM (ascii/raw)", "PGM (ascii/raw)", "PPM (ascii/raw)"};

// Bytes that the probe reads from a file handle.
constexpr DWORD kProbeSize = 100;

// The header must end within this many bytes for the information query.
constexpr size_t kHeaderWindow = 2000;

const char* InformationString(int number)
{
    if (number < 2)
        return kInformation[number];
    const int format = (number - 2) / 2;
    return number % 2 == 0 ? kPatterns[format] : kFormatNames[format];
}

bool IsMemoryMode(unsigned int flag)
{
    return (flag & 7u) != 0;
}

SHORT ColorDepth(PxmKind kind)
{
    static const SHORT kDepths[7] = {0, 1, 8, 24, 1, 8, 24};
    return kDepths[kind];
}

void* AllocateForHost(size_t size)
{
    return LocalAlloc(LMEM_FIXED, size);
}

void ReleaseForHost(void* block)
{
    LocalFree(block);
}

const PxmAllocator kHostAllocator = {AllocateForHost, ReleaseForHost};

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

KELDA_EXPORT int __stdcall GetPluginInfo(int number, LPSTR buffer, int capacity)
{
    if (unsigned(number) > 7 || buffer == nullptr || capacity <= 0)
        return 0;
    const char* text = InformationString(number);
    size_t length = strlen(text);
    if (length > size_t(capacity) - 1)
        length = size_t(capacity) - 1;
    memcpy(buffer, text, length);
    buffer[length] = 0;
    return int(length);
}

KELDA_EXPORT int __stdcall IsSupported(LPCSTR, ULONG_PTR source)
{
    uint8_t probe[kProbeSize] = {};
    const uint8_t* data = probe;
    size_t length = kProbeSize;
    if ((source >> 16) == 0) {
        DWORD got = 0;
        ReadFile(reinterpret_cast<HANDLE>(source), probe, kProbeSize, &got, nullptr);
    } else {
        data = reinterpret_cast<const uint8_t*>(source);
        length = ReadableLength(data, 4);
    }
    if (length < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '6')
        return 0;
    if (data[2] == '\n')
        return 1;
    return data[2] == '\r' && length >= 4 && data[3] == '\n' ? 1 : 0;
}

KELDA_EXPORT int __stdcall GetPictureInfo(LPCSTR image, LONG_PTR, unsigned int flag,
                                          PictureInfo* info)
{
    uint8_t window[kHeaderWindow];
    const uint8_t* text;
    size_t length;
    if (IsMemoryMode(flag)) {
        text = reinterpret_cast<const uint8_t*>(image);
        length = ReadableLength(text, kHeaderWindow);
    } else {
        HANDLE file = OpenPicture(image);
        if (file == INVALID_HANDLE_VALUE)
            return kPxmReadError;
        length = ReadUpTo(file, window, kHeaderWindow);
        CloseHandle(file);
        text = window;
    }

    char comments[kPxmCommentCapacity] = {};
    PxmHeader header;
    if (ParsePxmHeader(text, length, comments, kPxmCommentCapacity, &header) == 0)
        return kPxmInternalError;

    HLOCAL commentBlock = nullptr;
    const size_t commentLength = strlen(comments);
    if (commentLength != 0) {
        commentBlock = LocalAlloc(LMEM_FIXED, commentLength + 1);
        if (commentBlock == nullptr)
            return kPxmOutOfMemory;
        memcpy(commentBlock, comments, commentLength + 1);
    }
    info->left = 0;
    info->top = 0;
    info->width = header.width;
    info->height = header.height;
    info->xDensity = 0;
    info->yDensity = 0;
    info->commentHandle = commentBlock;
    info->colorDepth = ColorDepth(header.kind);
    return kPxmSuccess;
}

KELDA_EXPORT int __stdcall GetPicture(LPCSTR image, LONG_PTR, unsigned int flag,
                                      HLOCAL* info, HLOCAL* pixels,
                                      ProgressCallback progress, LONG_PTR hostValue)
{
    const uint8_t* bytes;
    size_t length;
    uint8_t* fileBuffer = nullptr;
    if (IsMemoryMode(flag)) {
        bytes = reinterpret_cast<const uint8_t*>(image);
        length = ReadableLength(bytes, size_t(kPxmMaxText));
    } else {
        const int32_t loaded = LoadPicture(image, &fileBuffer, &length);
        if (loaded != kPxmSuccess)
            return loaded;
        bytes = fileBuffer;
    }
    // The handles go to the host's variables as soon as both blocks exist,
    // before decoding starts, so a progress function may already look at them.
    const int32_t result =
        DecodePicture(bytes, length, kHostAllocator, reinterpret_cast<PxmProgress>(progress),
                      intptr_t(hostValue), reinterpret_cast<void**>(info),
                      reinterpret_cast<void**>(pixels));
    free(fileBuffer);
    return result;
}

KELDA_EXPORT int __stdcall GetPreview(LPCSTR, LONG_PTR, unsigned int, HLOCAL*, HLOCAL*,
                                      ProgressCallback, LONG_PTR)
{
    return kPxmNotImplemented;
}
