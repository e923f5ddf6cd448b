// kelda.spi (32-bit) and kelda.sph (64-bit): the exports of an import filter
// of the Susie plug-in interface, reading PBM, PGM and PPM pictures. The
// 64-bit plug-in also has Unicode twins of the exports, for file names that
// the ANSI code page cannot spell.
//
// Windows glue only: the decoding lives in pxm/. Nothing is kept between
// calls, and the blocks handed to the host come from the local heap, so that
// they outlive the plug-in, which hosts often unload before using them.
#include <windows.h>

#include <cstring>

#include "plugin/input.h"
#include "plugin/susie.h"
#include "plugin/version.h"
#include "pxm/pxm.h"

// Exported through kelda.def and kelda64.def: undecorated names, ordinals in
// alphabetical order.
#define KELDA_EXPORT extern "C"


namespace {

#if defined(__GNUC__)
__attribute__((used))
#endif
const char kDescription[] = KELDA_DESCRIPTION;

// Hosts show this line as the plug-in's name and version.
constexpr char kVersionLine[] = "PxM to DIB ver 1.1 (c) 2026 the kelda developers";

// The version that a line names after "ver " as MAJOR.MINOR, as
// MAJOR * 1000 + MINOR; -1 when it names none, or more than MAJOR.MINOR.
constexpr int NamedVersion(const char* line)
{
    int at = 0;
    while (line[at] != 0 && !(line[at] == 'v' && line[at + 1] == 'e' && line[at + 2] == 'r' &&
                              line[at + 3] == ' '))
        ++at;
    if (line[at] == 0)
        return -1;
    at += 4;
    int numbers[2] = {0, 0};
    for (int field = 0; field < 2; ++field) {
        if (line[at] < '0' || line[at] > '9')
            return -1;
        while (line[at] >= '0' && line[at] <= '9')
            numbers[field] = numbers[field] * 10 + (line[at++] - '0');
        if (field == 0 && line[at++] != '.')
            return -1;
    }
    return line[at] == 0 || line[at] == ' ' ? numbers[0] * 1000 + numbers[1] : -1;
}

// The line is older than the version resource and stays as hosts know it;
// a release that changes the project's version changes it too.
static_assert(NamedVersion(kVersionLine) == KELDA_VERSION_MAJOR * 1000 + KELDA_VERSION_MINOR,
              "the information line's \"ver MAJOR.MINOR\" is not project(VERSION) of CMakeLists.txt");

const char* const kInformation[] = {
    "00IN",
    kVersionLine,
};
const char* const kPatterns[] = {"*.pbm", "*.pgm", "*.ppm"};
const char* const kFormatNames[] = {"PBM (ascii/raw)", "PGM (ascii/raw)", "PPM (ascii/raw)"};

// The header must end within this many bytes for the information query.
constexpr size_t kHeaderWindow = 2000;

const char* InformationString(int number)
{
    if (number < 2)
        return kInformation[number];
    const int format = (number - 2) / 2;
    return number % 2 == 0 ? kPatterns[format] : kFormatNames[format];
}

// Copies string `number` of the information table into the host's buffer of
// `capacity` characters, shortened if need be and always terminated; the
// result is the count of characters placed. The strings are ASCII, so each
// byte is also its UTF-16 character.
template <typename Char> int PlaceInformation(int number, Char* buffer, int capacity)
{
    if (unsigned(number) > 7 || buffer == nullptr || capacity <= 0)
        return 0;
    const char* text = InformationString(number);
    size_t length = strlen(text);
    if (length > size_t(capacity) - 1)
        length = size_t(capacity) - 1;
    for (size_t i = 0; i < length; ++i)
        buffer[i] = Char(static_cast<unsigned char>(text[i]));
    buffer[length] = 0;
    return int(length);
}

bool IsMemoryMode(unsigned int flag)
{
    return (flag & 7u) != 0;
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

size_t ReadProbeHandle(uintptr_t handle, uint8_t* buffer, size_t capacity)
{
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle), buffer, DWORD(capacity), &got, nullptr))
        return 0;
    return got;
}

size_t ReadableAt(uintptr_t address, size_t wanted)
{
    return ReadableLength(reinterpret_cast<const void*>(address), wanted);
}

const PxmProbeReader kProbeReader = {ReadProbeHandle, ReadableAt};

// Fills the host's record from the first bytes of a picture: `length` of
// them, at most one more than the window. A byte past the window means that
// the picture goes on, so a header that runs into the window's end is not
// known (its last token may be cut), and is refused.
int DescribePicture(const uint8_t* text, size_t length, PictureInfo* info)
{
    const bool cut = length > kHeaderWindow;
    char comments[kPxmCommentCapacity] = {};
    PxmHeader header;
    if (ParsePxmHeader(text, cut ? kHeaderWindow : length, comments, kPxmCommentCapacity,
                       &header) == 0)
        return kPxmInternalError;
    if (cut && header.reachedEnd)
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
    info->colorDepth = SHORT(PxmBitsPerPixel(header.kind));
    return kPxmSuccess;
}

// One byte past the window tells whether the picture goes on past it.
int DescribeMemoryImage(const void* image, LONG_PTR hostLength, PictureInfo* info)
{
    const uint8_t* text = static_cast<const uint8_t*>(image);
    return DescribePicture(text, MemoryImageLength(text, hostLength, kHeaderWindow + 1), info);
}

// The header must end within the first bytes of the file: only those are read.
int DescribeFile(HANDLE file, PictureInfo* info)
{
    if (file == INVALID_HANDLE_VALUE)
        return kPxmReadError;
    uint8_t window[kHeaderWindow + 1];
    size_t length = 0;
    const bool read = ReadUpTo(file, window, sizeof window, &length);
    CloseHandle(file);
    if (!read)
        return kPxmReadError;
    return DescribePicture(window, length, info);
}

// In both modes the handles go to the host's variables as soon as both
// blocks exist, before decoding starts, so a progress function may already
// look at them.
int DecodeMemoryImage(const void* image, LONG_PTR hostLength, HLOCAL* info, HLOCAL* pixels,
                      ProgressCallback progress, LONG_PTR hostValue)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(image);
    return DecodePicture(bytes, MemoryImageLength(bytes, hostLength, kMaxInputBytes),
                         kHostAllocator, reinterpret_cast<PxmProgress>(progress),
                         intptr_t(hostValue), reinterpret_cast<void**>(info),
                         reinterpret_cast<void**>(pixels));
}

// The file is decoded as it is read, a chunk at a time into one buffer, the
// rows straight into the pixel block: no copy of the whole file is made.
int DecodeFile(HANDLE file, HLOCAL* info, HLOCAL* pixels, ProgressCallback progress,
               LONG_PTR hostValue)
{
    PxmStream stream;
    int result = FileStream(file, &stream);
    if (result == kPxmSuccess)
        result = DecodePictureStream(stream, kHostAllocator, reinterpret_cast<PxmProgress>(progress),
                                     intptr_t(hostValue), reinterpret_cast<void**>(info),
                                     reinterpret_cast<void**>(pixels));
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return result;
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

KELDA_EXPORT int __stdcall GetPluginInfo(int number, LPSTR buffer, int capacity)
{
    return PlaceInformation(number, buffer, capacity);
}

KELDA_EXPORT int __stdcall IsSupported(LPCSTR, ULONG_PTR source)
{
    return ProbePicture(source, kProbeReader);
}

// In memory mode, argument 2 is the length of the image when it is positive;
// in file mode it plays no part: the file is read from its first byte.
KELDA_EXPORT int __stdcall GetPictureInfo(LPCSTR image, LONG_PTR length, unsigned int flag,
                                          PictureInfo* info)
{
    return IsMemoryMode(flag) ? DescribeMemoryImage(image, length, info)
                              : DescribeFile(OpenPicture(image), info);
}

KELDA_EXPORT int __stdcall GetPicture(LPCSTR image, LONG_PTR length, unsigned int flag,
                                      HLOCAL* info, HLOCAL* pixels,
                                      ProgressCallback progress, LONG_PTR hostValue)
{
    return IsMemoryMode(flag)
               ? DecodeMemoryImage(image, length, info, pixels, progress, hostValue)
               : DecodeFile(OpenPicture(image), info, pixels, progress, hostValue);
}

KELDA_EXPORT int __stdcall GetPreview(LPCSTR, LONG_PTR, unsigned int, HLOCAL*, HLOCAL*,
                                      ProgressCallback, LONG_PTR)
{
    return kPxmNotImplemented;
}

#if defined(_WIN64)
// The Unicode twins: a file name is a UTF-16 string, opened with the wide
// file functions; everything else is as above.

KELDA_EXPORT int __stdcall GetPluginInfoW(int number, LPWSTR buffer, int capacity)
{
    return PlaceInformation(number, buffer, capacity);
}

KELDA_EXPORT int __stdcall IsSupportedW(LPCWSTR, ULONG_PTR source)
{
    return ProbePicture(source, kProbeReader);
}

KELDA_EXPORT int __stdcall GetPictureInfoW(LPCWSTR image, LONG_PTR length, unsigned int flag,
                                           PictureInfo* info)
{
    return IsMemoryMode(flag) ? DescribeMemoryImage(image, length, info)
                              : DescribeFile(OpenPictureW(image), info);
}

KELDA_EXPORT int __stdcall GetPictureW(LPCWSTR image, LONG_PTR length, unsigned int flag,
                                       HLOCAL* info, HLOCAL* pixels,
                                       ProgressCallback progress, LONG_PTR hostValue)
{
    return IsMemoryMode(flag)
               ? DecodeMemoryImage(image, length, info, pixels, progress, hostValue)
               : DecodeFile(OpenPictureW(image), info, pixels, progress, hostValue);
}

KELDA_EXPORT int __stdcall GetPreviewW(LPCWSTR, LONG_PTR, unsigned int, HLOCAL*, HLOCAL*,
                                       ProgressCallback, LONG_PTR)
{
    return kPxmNotImplemented;
}
#endif
