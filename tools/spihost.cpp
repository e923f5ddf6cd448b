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

bool ReadWholeFile(const char* path, std::string* bytes)
{
    FILE* f = fopen(path, "rb");
    if (f == nullptr)
        return false;
    char chunk[1 << 16];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) != 0)
        bytes->append(chunk, n);
    fclose(f);
    return true;
}

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
    // The plug-in leaves the palette's reserved bytes unwritten; a BMP file
    // wants them 0.
    std::string info(reinterpret_cast<const char*>(header), infoBytes);
    for (DWORD i = 0; i < palette; ++i)
        info[header->biSize + 4 * i + 3] = 0;
    bool ok = fwrite(&file, sizeof file, 1, f) == 1 && fwrite(info.data(), infoBytes, 1, f) == 1;
    // The plug-in leaves the padding at the end of each row unwritten; it is
    // cleared here so that the same picture always gives the same file.
    const size_t rowBytes = (size_t(header->biWidth) * header->biBitCount + 7) / 8;
    const size_t stride = (size_t(header->biWidth) * header->biBitCount + 31) / 32 * 4;
    const char zeros[4] = {0, 0, 0, 0};
    const char* row = static_cast<const char*>(pixels);
    for (LONG y = 0; ok && y < header->biHeight && size_t(y + 1) * stride <= pixelBytes; ++y) {
        ok = (rowBytes == 0 || fwrite(row, rowBytes, 1, f) == 1) &&
             (stride == rowBytes || fwrite(zeros, stride - rowBytes, 1, f) == 1);
        row += stride;
    }
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

    std::string bytes;
    if (!ReadWholeFile(picture, &bytes)) {
        fprintf(stderr, "spihost: %s: no such file, or it cannot be read\n", picture);
        return kExitNoFile;
    }
    // The probe gets the file's first bytes, padded as hosts do.
    std::string head = bytes.substr(0, 2048);
    head.resize(2048, '\0');
    const int supported = isSupported(picture, ULONG_PTR(head.data()));
    if (!quiet)
        printf("%s: %zu bytes, probe says %s\n", picture, bytes.size(),
               supported ? "supported" : "not supported");

    // A memory image carries no terminator: the plug-in must not need one.
    char* image = nullptr;
    if (memory) {
        image = static_cast<char*>(malloc(bytes.empty() ? 1 : bytes.size()));
        memcpy(image, bytes.data(), bytes.size());
    }
    const LPCSTR source = memory ? image : picture;
    const unsigned int flag = memory ? 1 : 0;

    PictureInfo info = {};
    const int infoResult = getPictureInfo(source, LONG_PTR(bytes.size()), flag, &info);
    if (infoResult != 0) {
        fprintf(stderr, "spihost: %s: picture information: %d, %s\n", picture, infoResult,
                ResultName(infoResult));
        free(image);
        return infoResult == 6 ? kExitNoFile : kExitNotPicture;
    }
    if (!quiet) {
        printf("picture information: %ld x %ld, %d bits per pixel\n", info.width, info.height, info.colorDepth);
        if (info.commentHandle != nullptr)
            printf("comment text:\n%s", static_cast<const char*>(info.commentHandle));
    }
    if (info.commentHandle != nullptr)
        LocalFree(info.commentHandle);

    HLOCAL infoBlock = nullptr, pixelBlock = nullptr;
    progressState.started = GetTickCount();
    const int result = getPicture(source, LONG_PTR(bytes.size()), flag, &infoBlock, &pixelBlock,
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
