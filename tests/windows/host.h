// What a viewer does to use the plug-in: LoadLibrary, GetProcAddress, and the
// exports called through the Windows calling convention. Shared by the
// Windows-side tests.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "plugin/susie.h"

struct Plugin {
    HMODULE module;
    GetPluginInfoFn GetPluginInfo;
    IsSupportedFn IsSupported;
    GetPictureInfoFn GetPictureInfo;
    GetPictureFn GetPicture;
    GetPictureFn GetPreview;
    // The Unicode twins: null in the 32-bit plug-in, which has none.
    GetPluginInfoWFn GetPluginInfoW;
    IsSupportedWFn IsSupportedW;
    GetPictureInfoWFn GetPictureInfoW;
    GetPictureWFn GetPictureW;
    GetPictureWFn GetPreviewW;
};

// The plug-in's file name: kelda.spi, or kelda.sph in the 64-bit build.
extern const char kPluginName[];

// The plug-in from the test program's own folder, loaded once per process.
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

std::string Hex(const std::string& s);
uint32_t U32(const std::string& s, size_t at);
uint16_t U16(const std::string& s, size_t at);

// How a picture reaches the plug-in: by name, as a memory image in a heap
// block, or as a memory image that ends right before a no-access page.
enum class Mode { File, Memory, GuardedMemory };
const char* Name(Mode m);
extern const Mode kModes[3];

// What the host's progress function saw; hostValue points at it.
struct Recorder {
    std::vector<std::pair<int, int>> calls;
    int stopAt = -1; // the call index at which to ask for a stop
};
int __stdcall Record(int row, int lastRow, LONG_PTR hostValue);

struct Decoded {
    int result = -99;
    std::string info;   // the information block, as LocalSize gives it
    std::string pixels; // the pixel block
    HLOCAL infoHandle = nullptr;
    HLOCAL pixelHandle = nullptr;
    std::vector<std::pair<int, int>> calls;
};

// What the host's handle variables hold before a call.
extern const HLOCAL kUntouched;

// Calls GetPicture as a host does, takes over both blocks and frees them.
Decoded Decode(const std::string& picture, Mode mode, int stopAt = -1, bool withProgress = true,
               unsigned int memoryFlag = 1);

// GetPicture on a memory image in a heap block, given `length` in argument 2
// (the image may run on past it, as a host's bytes do).
Decoded DecodeImage(const std::string& image, LONG_PTR length);

struct InfoResult {
    int result;
    PictureInfo info;
    std::string comment; // the comment block with its zero byte
};

// Calls GetPictureInfo as a host does and frees the comment block.
InfoResult QueryInfo(const std::string& picture, Mode mode, unsigned int memoryFlag = 1);

// Bytes in busy blocks of every heap of the process: the local heap's blocks
// and the run-time library's, which page counts are too coarse to see.
size_t BusyHeapBytes();

// The pixel bytes of every row, without the padding that is never written.
std::string RowsWithoutPadding(const void* pixels, int rows, int stride, int rowBytes);
