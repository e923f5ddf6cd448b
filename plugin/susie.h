// The Susie import-filter interface as a host and a plug-in share it: the
// host's picture record, the progress function and the exports' signatures.
// In the 64-bit interface every argument that carries a pointer or a size is
// pointer-sized and the record gains two bytes of padding.
#pragma once

#include <windows.h>

#pragma pack(push, 1)
struct PictureInfo {
    LONG left;
    LONG top;
    LONG width;
    LONG height;
    WORD xDensity;
    WORD yDensity;
    SHORT colorDepth;
#if defined(_WIN64)
    WORD padding; // never written
#endif
    HLOCAL commentHandle; // at offset 22, or 24 in the 64-bit interface
};
#pragma pack(pop)

static_assert(sizeof(PictureInfo) == (sizeof(void*) == 4 ? 26 : 32), "the host's record");

typedef int(__stdcall* ProgressCallback)(int row, int lastRow, LONG_PTR hostValue);

typedef int(__stdcall* GetPluginInfoFn)(int number, LPSTR buffer, int capacity);
typedef int(__stdcall* IsSupportedFn)(LPCSTR name, ULONG_PTR source);
typedef int(__stdcall* GetPictureInfoFn)(LPCSTR image, LONG_PTR length, unsigned int flag,
                                         PictureInfo* info);
typedef int(__stdcall* GetPictureFn)(LPCSTR image, LONG_PTR length, unsigned int flag,
                                     HLOCAL* info, HLOCAL* pixels, ProgressCallback progress,
                                     LONG_PTR hostValue);

// The Unicode twins of the 64-bit interface.
typedef int(__stdcall* GetPluginInfoWFn)(int number, LPWSTR buffer, int capacity);
typedef int(__stdcall* IsSupportedWFn)(LPCWSTR name, ULONG_PTR source);
typedef int(__stdcall* GetPictureInfoWFn)(LPCWSTR image, LONG_PTR length, unsigned int flag,
                                          PictureInfo* info);
typedef int(__stdcall* GetPictureWFn)(LPCWSTR image, LONG_PTR length, unsigned int flag,
                                      HLOCAL* info, HLOCAL* pixels, ProgressCallback progress,
                                      LONG_PTR hostValue);
