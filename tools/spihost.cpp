// spihost: a command-line host for Susie import-filter plug-ins.
//
// Loads a plug-in (kelda.spi next to this program, kelda.sph in the 64-bit
// build, unless --plugin names another), shows its information table, probes
// a picture, asks for the picture's information and decodes it, from the
// file or from a memory image, into a BMP file that any viewer opens.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <string>

#include "plugin/susie.h"

namespace {

// Exit codes.
enum {
    kExitOk = 0,
    kExitUsage = 1,
    kExitNoPlugin = 2,
    kExitNoFile = 3,
    kExitNotPicture = 4,
    kExitDecode = 5,
    kExitWrite = 6,
};

const char* ResultName(int code)
{
    switch (code) {
    case 0: return "success";
    case 1: return "stopped by the host";
    case -1: return "not implemented";
    case 2: return "unsupported format";
    case 3: return "data corrupted";
    case 4: return "out of memory";
    case 5: return "memory error";
    case 6: return "file read error";
    case 7: return "reserved";
    case 8: return "internal error (not a supported picture)";
    default: return "unknown result";
    }
}

void Usage()
{
    fprintf(stderr,
            "usage: spihost [--plugin FILE.spi|FILE.sph] [--memory] [--quiet] [-o OUT.bmp] PICTURE\n"
            "       spihost [--plugin FILE.spi] --info\n"
            "Decodes PICTURE through an import-filter plug-in into a BMP file\n"
            "(default: PICTURE with .bmp appended). --memory hands the plug-in a memory\n"
            "image of the file instead of its name; --info shows the plug-in's\n"
            "information table only.\n");
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

struct Progress {
    DWORD started;
    int shown; // percent last drawn, -1 before the first
};
Progress progressState = {0, -1};

// Draws a bar once the picture has taken a quarter of a second, so small
// pictures stay quiet.
int __stdcall ShowProgress(int row, int lastRow, LONG_PTR)
{
    if (GetTickCount() - progressState.started < 250 && row != lastRow)
        return 0;
    if (progressState.shown < 0 && row == lastRow)
        return 0;
    const int percent = lastRow > 0 ? int((row * 100LL) / lastRow) : 100;
    if (percent != progressState.shown) {
        progressState.shown = percent;
        char bar[41];
        const int filled = percent * 40 / 100;
        for (int i = 0; i < 40; ++i)
            bar[i] = i < filled ? '#' : '.';
        bar[40] = 0;
        fprintf(stderr, "\r[%s] %3d%%", bar, percent);
        if (row == lastRow)
            fputc('\n', stderr);
    }
    return 0;
}

// The whole file in a block from malloc (at least one byte), and its
// length; null when it cannot be opened, read or held.
char* ReadWholeFile(const char* path, size_t* length)
{
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size;
    char* bytes = nullptr;
    if (GetFileSizeEx(f, &size) && uint64_t(size.QuadPart) < SIZE_MAX)
        bytes = static_cast<char*>(malloc(size.QuadPart == 0 ? 1 : size_t(size.QuadPart)));
    size_t total = 0;
    bool ok = bytes != nullptr;
    while (ok && total < size_t(size.QuadPart)) {
        const size_t left = size_t(size.QuadPart) - total;
        DWORD got = 0;
        ok = ReadFile(f, bytes + total, left < (1u << 30) ? DWORD(left) : (1u << 30), &got, nullptr) != 0;
        if (got == 0)
            break;
        total += got;
    }
    CloseHandle(f);
    if (!ok) {
        free(bytes);
        return nullptr;
    }
    *length = total;
    return bytes;
}

// The DIB as the plug-in handed it over, behind a BMP file header: the
// plug-in writes every byte of both blocks, so the same picture always
// gives the same file.
bool WriteBmp(const char* path, const BITMAPINFOHEADER* header, SIZE_T pixelBytes, const void* pixels)
{
    DWORD palette = header->biClrUsed;
    if (palette == 0 && header->biBitCount <= 8)
        palette = 1u << header->biBitCount;
    const DWORD infoBytes = header->biSize + 4 * palette;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = DWORD(sizeof file) + infoBytes;
    file.bfSize = file.bfOffBits + DWORD(pixelBytes);
    FILE* f = fopen(path, "wb");
    if (f == nullptr)
        return false;
    const bool ok = fwrite(&file, sizeof file, 1, f) == 1 && fwrite(header, infoBytes, 1, f) == 1 &&
                    (pixelBytes == 0 || fwrite(pixels, pixelBytes, 1, f) == 1);
    return fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
#if defined(_WIN64)
    std::string pluginPath = ProgramFolder() + "kelda.sph";
#else
    std::string pluginPath = ProgramFolder() + "kelda.spi";
#endif
    const char* picture = nullptr;
    std::string output;
    bool memory = false, infoOnly = false, quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--plugin" && i + 1 < argc)
            pluginPath = argv[++i];
        else if ((a == "-o" || a == "--output") && i + 1 < argc)
            output = argv[++i];
        else if (a == "--memory")
            memory = true;
        else if (a == "--info")
            infoOnly = true;
        else if (a == "--quiet")
            quiet = true;
        else if (a == "-h" || a == "--help") {
            Usage();
            return kExitOk;
        } else if (a[0] != '-' && picture == nullptr)
            picture = argv[i];
        else {
            Usage();
            return kExitUsage;
        }
    }
    if (picture == nullptr && !infoOnly) {
        Usage();
        return kExitUsage;
    }

    HMODULE plugin = LoadLibraryA(pluginPath.c_str());
    if (plugin == nullptr) {
        fprintf(stderr, "spihost: cannot load the plug-in %s (error %lu)\n", pluginPath.c_str(),
                GetLastError());
        return kExitNoPlugin;
    }
    auto getPluginInfo = reinterpret_cast<GetPluginInfoFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPluginInfo")));
    auto isSupported = reinterpret_cast<IsSupportedFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "IsSupported")));
    auto getPictureInfo = reinterpret_cast<GetPictureInfoFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPictureInfo")));
    auto getPicture = reinterpret_cast<GetPictureFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetPicture")));
    if (!getPluginInfo || !isSupported || !getPictureInfo || !getPicture) {
        fprintf(stderr, "spihost: %s is not an import-filter plug-in (exports missing)\n", pluginPath.c_str());
        return kExitNoPlugin;
    }

    if (!quiet || infoOnly) {
        printf("plug-in %s\n", pluginPath.c_str());
        for (int n = 0;; ++n) {
            char text[256];
            if (getPluginInfo(n, text, sizeof text) == 0)
                break;
            printf("  info %d: %s\n", n, text);
        }
    }
    if (infoOnly)
        return kExitOk;

    // The file's bytes, exactly: a memory image carries no terminator, and
    // the plug-in must not need one.
    size_t length = 0;
    char* image = ReadWholeFile(picture, &length);
    if (image == nullptr) {
        fprintf(stderr, "spihost: %s: no such file, or it cannot be read or held in memory\n",
                picture);
        return kExitNoFile;
    }
    // The probe gets the file's first bytes, padded as hosts do.
    char head[2048] = {};
    memcpy(head, image, length < sizeof head ? length : sizeof head);
    const int supported = isSupported(picture, ULONG_PTR(head));
    if (!quiet)
        printf("%s: %zu bytes, probe says %s\n", picture, length,
               supported ? "supported" : "not supported");

    const LPCSTR source = memory ? image : picture;
    const unsigned int flag = memory ? 1 : 0;

    // A host may still ask for the picture when the information call fails:
    // a header longer than its window, for one, decodes all the same.
    PictureInfo info = {};
    const int infoResult = getPictureInfo(source, LONG_PTR(length), flag, &info);
    if (infoResult != 0) {
        printf("picture information: %d, %s\n", infoResult, ResultName(infoResult));
    } else {
        if (!quiet) {
            printf("picture information: %ld x %ld, %d bits per pixel\n", info.width, info.height,
                   info.colorDepth);
            if (info.commentHandle != nullptr)
                printf("comment text:\n%s", static_cast<const char*>(info.commentHandle));
        }
        if (info.commentHandle != nullptr)
            LocalFree(info.commentHandle);
    }

    HLOCAL infoBlock = nullptr, pixelBlock = nullptr;
    progressState.started = GetTickCount();
    const int result = getPicture(source, LONG_PTR(length), flag, &infoBlock, &pixelBlock,
                                  ShowProgress, 0);
    free(image);
    if (!quiet || result != 0)
        printf("picture from %s: %d, %s\n", memory ? "memory" : "the file", result, ResultName(result));
    if (result != 0) {
        if (infoBlock != nullptr)
            LocalFree(infoBlock);
        if (pixelBlock != nullptr)
            LocalFree(pixelBlock);
        fprintf(stderr, "spihost: %s: %s\n", picture, ResultName(result));
        return result == 6 ? kExitNoFile : result == 8 ? kExitNotPicture : kExitDecode;
    }

    const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(infoBlock);
    if (output.empty())
        output = std::string(picture) + ".bmp";
    const bool written = WriteBmp(output.c_str(), header, header->biSizeImage, pixelBlock);
    const LONG width = header->biWidth, height = header->biHeight;
    const int bits = header->biBitCount;
    LocalFree(infoBlock);
    LocalFree(pixelBlock);
    FreeLibrary(plugin);
    if (!written) {
        fprintf(stderr, "spihost: cannot write %s\n", output.c_str());
        return kExitWrite;
    }
    printf("wrote %s (%ld x %ld, %d bits per pixel)\n", output.c_str(), width, height, bits);
    return kExitOk;
}
