// What a viewer does to use kelda.spi: LoadLibrary, GetProcAddress, and the
// exports called through the Windows calling convention. Shared by the
// Windows-side tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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

typedef int(__stdcall* ProgressCallback)(int row, int lastRow, LONG_PTR hostValue);
typedef int(__stdcall* GetPluginInfoFn)(int number, LPSTR buffer, int capacity);
typedef int(__stdcall* IsSupportedFn)(LPCSTR name, ULONG_PTR source);
typedef int(__stdcall* GetPictureInfoFn)(LPCSTR image, LONG_PTR length, unsigned int flag,
                                         PictureInfo* info);
typedef int(__stdcall* GetPictureFn)(LPCSTR image, LONG_PTR length, unsigned int flag,
                                     HLOCAL* info, HLOCAL* pixels, ProgressCallback progress,
                                     LONG_PTR hostValue);

struct Plugin {
    HMODULE module;
    GetPluginInfoFn GetPluginInfo;
    IsSupportedFn IsSupported;
    GetPictureInfoFn GetPictureInfo;
    GetPictureFn GetPicture;
    GetPictureFn GetPreview;
};

// kelda.spi from the test program's own folder, loaded once per process.
const Plugin& Kelda();

// A file in a fresh temporary folder of the test process, holding `bytes`.
std::string WriteTempFile(const std::string& name, const std::string& bytes);

// A memory image whose last byte is the last byte before a PAGE_NOACCESS
// page: a read one byte past it faults.
struct GuardedImage {
    char* data;
    void* base;
    size_t size;
};
GuardedImage MakeGuardedImage(const std::string& bytes);
void FreeGuardedImage(const GuardedImage& image);

std::string Bytes(const void* p, size_t n);
