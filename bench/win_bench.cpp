// spibench: kelda.spi (kelda.sph in the 64-bit build) timed through its real
// exports, as a viewer calls them, against what the machine does with the
// same bytes in the same process: the reference copy (memcpy into a fresh
// block of the DIB's size), the DIB-shaped copy (rows in reverse order, red
// and blue exchanged), ReadFile of the whole file into a fresh block and
// ReadFile by 1 MiB into one buffer. Beside them the native core's time from
// bench/pxm_bench, when its TSV is given. Also: what a viewer pays per
// picture when it browses a folder, GetPictureInfo on a huge file against a
// tiny one, the peak memory of GetPicture from a file, and the largest
// picture that the plug-in opens from a file.
//
//   spibench [--reps=N] [--scale=F] [--only=TEXT] [--plugin=PATH] [--core=FILE]
//            [--baseline=FILE] [--tsv=FILE] [--label=TEXT] [--largest]
//   spibench --peak PLUGIN FILE    one GetPicture from FILE; used by spibench
//                                   itself, in a fresh process each time
//
// --core names pxm_bench's TSV (its --tsv), --baseline a TSV that an earlier
// spibench wrote with --tsv, for the same plug-in, against which the memory
// mode must not have got slower; --tsv writes this run's figures; --label
// names the build in the heading and the TSV. The largest picture is for
// the 32-bit build, whose address space it tests; --largest runs it in the
// 64-bit build too.
//
// Ratios come from paired rounds: a round calls every method in turn, in
// one order and then the reverse, so that the two sides of a ratio run back
// to back; each ratio is the median of the rounds' ratios, with the lower
// and upper quartile beside. Files live in the temporary folder and are
// deleted afterwards; they are read through the system's file cache, warm,
// as a picture just saved or just browsed is.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/pictures.h"
#include "plugin/susie.h"

namespace {

struct Plugin {
    HMODULE module = nullptr;
    IsSupportedFn IsSupported = nullptr;
    GetPictureInfoFn GetPictureInfo = nullptr;
    GetPictureFn GetPicture = nullptr;
};

// Loads the plug-in; false, with the reason in `problem`, when it cannot.
bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* problem)
{
    plugin->module = LoadLibraryA(path.c_str());
    if (plugin->module == nullptr) {
        *problem = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    plugin->IsSupported = reinterpret_cast<IsSupportedFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin->module, "IsSupported")));
    plugin->GetPictureInfo = reinterpret_cast<GetPictureInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin->module, "GetPictureInfo")));
    plugin->GetPicture = reinterpret_cast<GetPictureFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin->module, "GetPicture")));
    if (plugin->IsSupported == nullptr || plugin->GetPictureInfo == nullptr ||
        plugin->GetPicture == nullptr) {
        *problem = path + " lacks IsSupported, GetPictureInfo or GetPicture";
        FreeLibrary(plugin->module);
        plugin->module = nullptr;
        return false;
    }
    return true;
}

// A viewer's progress function: it only lets the decoder go on.
int __stdcall KeepGoing(int, int, LONG_PTR)
{
    return 0;
}

double Now()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return double(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / frequency;
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

const char* PluginName()
{
    return sizeof(void*) == 8 ? "kelda.sph (64-bit)" : "kelda.spi (32-bit)";
}

// Whether this program may use addresses above 2 GiB: a 32-bit host needs
// it for the largest picture.
bool LargeAddressAware()
{
    const uint8_t* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return (nt->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) != 0;
}

std::string CpuName()
{
    char cpu[64] = "unknown CPU";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                      0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof cpu - 1;
        RegQueryValueExA(key, "ProcessorNameString", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(cpu), &size);
        RegCloseKey(key);
    }
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return std::string(cpu) + ", " + std::to_string(si.dwNumberOfProcessors) + " cores";
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(f);
    return ok;
}

// A picture's header at the start of a file of `size` bytes. The rest is
// made by moving the end of the file, which writes nothing: the file is
// sparse and its hole reads as zeros.
bool MakeHeaderFile(const std::string& path, const std::string& header, long long size)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool ok = WriteFile(f, header.data(), DWORD(header.size()), &written, nullptr) &&
                    SetFilePointerEx(f, end, nullptr, FILE_BEGIN) && SetEndOfFile(f);
    CloseHandle(f);
    return ok;
}

std::string Key(const std::string& name, int width, int height)
{
    return name + "\t" + std::to_string(width) + "\t" + std::to_string(height);
}

// The ways of getting a picture into memory that a round takes in turn, in
// this order and then the reverse: the memory mode sits between the
// DIB-shaped copy and the file mode, the two it is paired with.
enum Method {
    kReferenceCopy,
    kDibShapedCopy,
    kMemoryMode,
    kFileMode,
    kReadWhole,
    kReadChunked,
    kMethods
};
const char* const kMethodNames[kMethods] = {"reference copy",    "DIB-shaped copy",
                                            "GetPicture memory", "GetPicture file",
                                            "ReadFile whole",    "ReadFile by 1 MiB"};

// What a decoder that streams its file reads at a time.
constexpr DWORD kChunk = 1u << 20;

struct Run {
    const Plugin& plugin;
    const BenchPicture& picture;
    const std::string& path;
    // What the timed part made, released after the clock stops.
    void* block = nullptr;
    HLOCAL info = nullptr;
    HLOCAL pixels = nullptr;

    bool ReadWhole()
    {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return false;
        LARGE_INTEGER size;
        DWORD got = 0;
        bool ok = GetFileSizeEx(f, &size) != 0;
        if (ok) {
            // The C heap, as the plug-in's own file buffer.
            block = malloc(size_t(size.QuadPart));
            ok = block != nullptr && ReadFile(f, block, DWORD(size.QuadPart), &got, nullptr) &&
                 got == DWORD(size.QuadPart);
        }
        CloseHandle(f);
        return ok;
    }

    // The file through one buffer of kChunk bytes, taken and given back in
    // the call as a decoder that streams would, so that its fresh pages
    // count as they would there: on a small picture they cost more than the
    // reading.
    bool ReadChunked()
    {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return false;
        uint8_t* buffer = static_cast<uint8_t*>(malloc(kChunk));
        size_t total = 0;
        DWORD got = 0;
        while (buffer != nullptr && ReadFile(f, buffer, kChunk, &got, nullptr) && got > 0)
            total += got;
        free(buffer);
        CloseHandle(f);
        return total == picture.bytes.size();
    }

    bool Do(Method method)
    {
        switch (method) {
        case kReferenceCopy:
        case kDibShapedCopy:
            block = LocalAlloc(LMEM_FIXED, picture.DibSize());
            if (block == nullptr)
                return false;
            if (method == kReferenceCopy) {
                ReferenceCopy(picture, block);
                return true;
            }
            return DibShapedCopy(picture, block);
        case kMemoryMode:
            return plugin.GetPicture(reinterpret_cast<LPCSTR>(picture.bytes.data()),
                                     LONG_PTR(picture.bytes.size()), 1, &info, &pixels,
                                     KeepGoing, 0) == 0;
        case kFileMode:
            return plugin.GetPicture(path.c_str(), 0, 0, &info, &pixels, KeepGoing, 0) == 0;
        case kReadWhole:
            return ReadWhole();
        case kReadChunked:
            return ReadChunked();
        default:
            return false;
        }
    }

    void Release(Method method)
    {
        if (method == kReferenceCopy || method == kDibShapedCopy)
            LocalFree(block);
        else if (method == kReadWhole)
            free(block);
        if (info != nullptr)
            LocalFree(info);
        if (pixels != nullptr)
            LocalFree(pixels);
        block = info = pixels = nullptr;
    }

    // Seconds for one call, or a negative number when it fails.
    double Time(Method method)
    {
        const double start = Now();
        const bool ok = Do(method);
        const double seconds = Now() - start;
        Release(method);
        return ok ? seconds : -1;
    }
};

bool Applies(Method method, const BenchPicture& picture)
{
    return method != kDibShapedCopy || picture.recipe.kind > 3;
}

// Both results of GetPicture, and the DIB-shaped copy, must be the picture's
// own pixels.
std::string CheckPicture(const Plugin& plugin, const BenchPicture& picture,
                         const std::string& path)
{
    for (Method method : {kMemoryMode, kFileMode, kDibShapedCopy}) {
        if (!Applies(method, picture))
            continue;
        Run run{plugin, picture, path};
        if (!run.Do(method)) {
            run.Release(method);
            return std::string(kMethodNames[method]) + " fails";
        }
        const void* dib = method == kDibShapedCopy ? run.block : run.pixels;
        const bool same =
            picture.SamplesFromDib(static_cast<const uint8_t*>(dib)) == picture.samples;
        run.Release(method);
        if (!same)
            return std::string(kMethodNames[method]) + " gives other pixels";
    }
    return "";
}

// Committed memory outside loaded images: what the process has asked the
// system for, page by page.
size_t CommittedBytes()
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    uintptr_t at = reinterpret_cast<uintptr_t>(si.lpMinimumApplicationAddress);
    const uintptr_t end = reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress);
    size_t total = 0;
    MEMORY_BASIC_INFORMATION m;
    while (at < end && VirtualQuery(reinterpret_cast<void*>(at), &m, sizeof m) != 0) {
        if (m.State == MEM_COMMIT && m.Type != MEM_IMAGE)
            total += m.RegionSize;
        const uintptr_t next = reinterpret_cast<uintptr_t>(m.BaseAddress) + m.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return total;
}

size_t g_peakCommitted = 0;

// Samples the committed memory while the decoder runs, when everything it
// holds is held; every 64th row keeps the walk's cost small.
int __stdcall SampleMemory(int row, int lastRow, LONG_PTR)
{
    if (row % 64 == 0 || row == lastRow)
        g_peakCommitted = std::max(g_peakCommitted, CommittedBytes());
    return 0;
}

PROCESS_MEMORY_COUNTERS_EX Counters()
{
    PROCESS_MEMORY_COUNTERS_EX c = {};
    c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c),
                         sizeof c);
    return c;
}

// The child's side of the peak measurement: nothing large is allocated
// before the call, so every growth is the call's. Two measures: committed
// memory sampled during the decode; and the peak working set, which the
// system keeps itself. PeakPagefileUsage is no use here: Wine reports the
// current usage in it.
int PeakChild(const char* pluginPath, const char* file)
{
    Plugin plugin;
    std::string problem;
    if (!LoadPlugin(pluginPath, &plugin, &problem)) {
        fprintf(stderr, "spibench: %s\n", problem.c_str());
        return 1;
    }
    const size_t committedBefore = CommittedBytes();
    const PROCESS_MEMORY_COUNTERS_EX before = Counters();
    g_peakCommitted = committedBefore;
    HLOCAL info = nullptr, pixels = nullptr;
    const double start = Now();
    const int result = plugin.GetPicture(file, 0, 0, &info, &pixels, SampleMemory, 0);
    const double seconds = Now() - start;
    const PROCESS_MEMORY_COUNTERS_EX after = Counters();
    g_peakCommitted = std::max(g_peakCommitted, CommittedBytes());
    printf("result=%d seconds=%.6f committed=%lld workingset=%lld\n", result, seconds,
           (long long)g_peakCommitted - (long long)committedBefore,
           (long long)after.PeakWorkingSetSize - (long long)before.WorkingSetSize);
    return 0;
}

struct Peak {
    bool ran = false; // the child reported
    int result = -1;  // GetPicture's result
    double seconds = 0;
    long long committed = 0, workingSet = 0;
};

Peak MeasurePeak(const std::string& pluginPath, const std::string& file)
{
    Peak peak;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" --peak \"" + pluginPath + "\" \"" +
                          file + "\"";
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return peak;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    const bool started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[512];
        DWORD got;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
            output.append(buffer, got);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(readEnd);
    peak.ran = sscanf(output.c_str(), "result=%d seconds=%lf committed=%lld workingset=%lld",
                      &peak.result, &peak.seconds, &peak.committed, &peak.workingSet) == 4;
    return peak;
}

// How much the memory mode's ratio to the reference copy may exceed the
// baseline's before it counts as slower, beyond the quartiles parting.
constexpr double kDrift = 1.1;

// The most that GetPicture from a file may commit: the DIB and room for a
// buffer that the file streams through.
constexpr long long kPeakAllowance = 4LL << 20;

struct CaseResult {
    BenchPictureRecipe recipe;
    size_t fileSize = 0;
    size_t dibSize = 0;
    int64_t pixels = 0;
    std::string problem;
    int passes = 0; // calls of each method per round
    // Seconds per call, one value per round; empty for a method that does
    // not apply to the picture.
    std::vector<double> rounds[kMethods];
    Peak peak;
};

// Each method over the other, round by round.
Quartiles Paired(const CaseResult& c, Method numerator, Method denominator)
{
    const std::vector<double>& a = c.rounds[numerator];
    const std::vector<double>& b = c.rounds[denominator];
    std::vector<double> ratios;
    for (size_t r = 0; r < a.size() && r < b.size(); ++r)
        ratios.push_back(a[r] / b[r]);
    return SummarizeQuartiles(ratios);
}

// A round lasts at least this long: short calls are repeated, in passes that
// take every method once, so that both sides of a ratio meet the same load.
constexpr double kRoundSeconds = 0.1;

CaseResult MeasureCase(const Plugin& plugin, const std::string& pluginPath,
                       const BenchPictureRecipe& recipe, const std::string& folder, int reps)
{
    CaseResult result;
    result.recipe = recipe;
    BenchPicture picture = MakeBenchPicture(recipe);
    result.fileSize = picture.bytes.size();
    result.dibSize = picture.DibSize();
    result.pixels = picture.Pixels();
    const std::string path = folder + "picture.pxm";
    if (!WriteWholeFile(path, picture.bytes)) {
        result.problem = "cannot write " + path;
        return result;
    }
    result.problem = CheckPicture(plugin, picture, path);
    std::vector<uint8_t>().swap(picture.samples);
    Run run{plugin, picture, path};
    // One pass untimed for the calls' own first-time costs, one to size the
    // rounds.
    double pass = 0;
    for (int warm = 0; warm < 2 && result.problem.empty(); ++warm) {
        pass = 0;
        for (int m = 0; m < kMethods && result.problem.empty(); ++m) {
            if (!Applies(Method(m), picture))
                continue;
            const double t = run.Time(Method(m));
            if (t < 0)
                result.problem = std::string(kMethodNames[m]) + " fails";
            pass += t;
        }
    }
    result.passes = int(std::min(200.0, std::max(1.0, kRoundSeconds / std::max(pass, 1e-6))));
    int direction = 0;
    for (int r = 0; r < reps && result.problem.empty(); ++r) {
        double total[kMethods] = {};
        for (int p = 0; p < result.passes && result.problem.empty(); ++p, direction ^= 1) {
            for (int i = 0; i < kMethods && result.problem.empty(); ++i) {
                const Method m = Method(direction == 0 ? i : kMethods - 1 - i);
                if (!Applies(m, picture))
                    continue;
                const double t = run.Time(m);
                if (t < 0)
                    result.problem = std::string(kMethodNames[m]) + " fails";
                total[m] += t;
            }
        }
        for (int m = 0; m < kMethods; ++m)
            if (Applies(Method(m), picture))
                result.rounds[m].push_back(total[m] / result.passes);
    }
    if (result.problem.empty())
        result.peak = MeasurePeak(pluginPath, path);
    DeleteFileA(path.c_str());
    fprintf(stderr, "spibench: %-13s %6.1f MB %s\n", recipe.name.c_str(),
            double(result.fileSize) / 1e6,
            result.problem.empty() ? "measured" : result.problem.c_str());
    return result;
}

// What a viewer does for each picture of a folder that it browses: loads
// the plug-in, asks whether it takes the file (with the file's first 2 KiB,
// read by the viewer), asks for the picture's information, decodes it from
// the file, frees both blocks and unloads the plug-in.
struct BrowseResult {
    BenchPictureRecipe recipe;
    size_t fileSize = 0;
    std::string problem;
    // Seconds per picture, one value per round: the whole visit, GetPicture
    // alone, LoadLibrary with FreeLibrary.
    std::vector<double> visit, getPicture, loadAndUnload;
};

constexpr int kBrowseFiles = 2;
constexpr int kBrowseSide = 1000; // 1 megapixel

const char* Extension(int kind)
{
    return kind % 3 == 1 ? ".pbm" : kind % 3 == 2 ? ".pgm" : ".ppm";
}

// One visit; false with the reason when a call fails.
bool Visit(const std::string& pluginPath, const std::string& file, int width, double* seconds,
           double* getPicture, double* loadAndUnload, std::string* problem)
{
    const double start = Now();
    Plugin plugin;
    if (!LoadPlugin(pluginPath, &plugin, problem))
        return false;
    const double loaded = Now();
    bool ok = false;
    uint8_t head[2048] = {};
    HANDLE f = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD got = 0;
    if (f != INVALID_HANDLE_VALUE) {
        ReadFile(f, head, sizeof head, &got, nullptr);
        CloseHandle(f);
    }
    PictureInfo info = {};
    HLOCAL infoBlock = nullptr, pixels = nullptr;
    double decodeStart = 0, decodeEnd = 0;
    if (got == 0) {
        *problem = "cannot read " + file;
    } else if (plugin.IsSupported(file.c_str(), reinterpret_cast<ULONG_PTR>(head)) == 0) {
        *problem = "IsSupported says no";
    } else if (plugin.GetPictureInfo(file.c_str(), 0, 0, &info) != 0 || info.width != width) {
        *problem = "GetPictureInfo fails";
    } else {
        if (info.commentHandle != nullptr)
            LocalFree(info.commentHandle);
        decodeStart = Now();
        const int result =
            plugin.GetPicture(file.c_str(), 0, 0, &infoBlock, &pixels, KeepGoing, 0);
        decodeEnd = Now();
        ok = result == 0;
        if (!ok)
            *problem = "GetPicture gives " + std::to_string(result);
        if (infoBlock != nullptr)
            LocalFree(infoBlock);
        if (pixels != nullptr)
            LocalFree(pixels);
    }
    const double unloadStart = Now();
    FreeLibrary(plugin.module);
    const double end = Now();
    *seconds = end - start;
    *getPicture = decodeEnd - decodeStart;
    *loadAndUnload = (loaded - start) + (end - unloadStart);
    return ok;
}

BrowseResult MeasureBrowse(const std::string& pluginPath, BenchPictureRecipe recipe,
                           const std::string& folder, int reps)
{
    BrowseResult result;
    recipe.width = recipe.height = kBrowseSide;
    result.recipe = recipe;
    const BenchPicture picture = MakeBenchPicture(recipe);
    result.fileSize = picture.bytes.size();
    std::vector<std::string> files;
    for (int i = 0; i < kBrowseFiles && result.problem.empty(); ++i) {
        files.push_back(folder + "browse-" + std::to_string(i) + Extension(recipe.kind));
        if (!WriteWholeFile(files.back(), picture.bytes))
            result.problem = "cannot write " + files.back();
    }
    // The first round only warms the file cache and the loader.
    for (int r = 0; r <= reps && result.problem.empty(); ++r) {
        double visit = 0, getPicture = 0, loadAndUnload = 0;
        for (const std::string& file : files) {
            double s = 0, g = 0, l = 0;
            if (!Visit(pluginPath, file, recipe.width, &s, &g, &l, &result.problem))
                break;
            visit += s;
            getPicture += g;
            loadAndUnload += l;
        }
        if (r > 0) {
            result.visit.push_back(visit / kBrowseFiles);
            result.getPicture.push_back(getPicture / kBrowseFiles);
            result.loadAndUnload.push_back(loadAndUnload / kBrowseFiles);
        }
    }
    if (result.problem.empty() && GetModuleHandleA(pluginPath.c_str()) != nullptr)
        result.problem = "the plug-in stays loaded after FreeLibrary";
    for (const std::string& file : files)
        DeleteFileA(file.c_str());
    return result;
}

struct InfoResult {
    bool ok = false;
    double huge = 0; // seconds per call on the 1 GiB file, median
    double tiny = 0; // on the 1 KiB file
    Quartiles ratio = {};
};

const char kInfoHeader[] = "P6\n# a picture of which only the header is read\n6000 4000\n255\n";

// One GetPictureInfo; false when it fails or reads another picture.
bool DescribeOnce(const Plugin& plugin, const char* path)
{
    PictureInfo info = {};
    if (plugin.GetPictureInfo(path, 0, 0, &info) != 0 || info.width != 6000)
        return false;
    if (info.commentHandle != nullptr)
        LocalFree(info.commentHandle);
    return true;
}

InfoResult MeasureInfo(const Plugin& plugin, const std::string& folder, int reps)
{
    InfoResult result;
    const std::string huge = folder + "huge.ppm";
    const std::string tiny = folder + "tiny.ppm";
    if (MakeHeaderFile(huge, kInfoHeader, 1LL << 30) && MakeHeaderFile(tiny, kInfoHeader, 1024)) {
        // Paired batches of calls on each file, the order turning each
        // round. A plug-in that reads the whole gigabyte would keep the
        // full count busy for many minutes: then a few single calls show it.
        const double start = Now();
        result.ok = DescribeOnce(plugin, huge.c_str());
        const bool slow = Now() - start > 0.05;
        const int batch = slow ? 1 : 50;
        const int rounds = slow ? 3 : 4 * reps;
        std::vector<double> samples[2], ratios;
        for (int r = 0; r < rounds && result.ok; ++r) {
            double seconds[2] = {};
            for (int turn = 0; turn < 2 && result.ok; ++turn) {
                const int which = (r + turn) % 2;
                const char* path = which == 0 ? huge.c_str() : tiny.c_str();
                const double from = Now();
                for (int i = 0; i < batch && result.ok; ++i)
                    result.ok = DescribeOnce(plugin, path);
                seconds[which] = (Now() - from) / batch;
                samples[which].push_back(seconds[which]);
            }
            ratios.push_back(seconds[0] / seconds[1]);
        }
        if (result.ok) {
            result.huge = Median(samples[0]);
            result.tiny = Median(samples[1]);
            result.ratio = SummarizeQuartiles(ratios);
        }
    }
    DeleteFileA(huge.c_str());
    DeleteFileA(tiny.c_str());
    return result;
}

// The largest picture: a P5 of 1.2 GB, as a sparse file, decoded from the
// file in a fresh process. A 32-bit host has 4 GiB of addresses when it is
// large-address aware, and the file's bytes and the DIB do not both fit.
constexpr int kLargestWidth = 40000;
constexpr int kLargestHeight = 30000;
const char kLargestName[] = "P5 largest";

struct LargestResult {
    bool wanted = false; // false: not run, and `problem` says why
    std::string problem;
    long long fileSize = 0;
    Peak peak;
};

LargestResult MeasureLargest(const std::string& pluginPath, const std::string& folder)
{
    LargestResult result;
    result.wanted = true;
    const std::string path = folder + "largest.pgm";
    const std::string header =
        "P5\n" + std::to_string(kLargestWidth) + " " + std::to_string(kLargestHeight) + "\n255\n";
    result.fileSize = (long long)header.size() + (long long)kLargestWidth * kLargestHeight;
    if (!MakeHeaderFile(path, header, result.fileSize))
        result.problem = "cannot make the sparse file " + path;
    else
        result.peak = MeasurePeak(pluginPath, path);
    DeleteFileA(path.c_str());
    fprintf(stderr, "spibench: %-13s %6.1f MB %s\n", kLargestName, result.fileSize / 1e6,
            result.problem.empty() ? "measured" : result.problem.c_str());
    return result;
}

// The lines of a TSV that pxm_bench or spibench wrote: section, picture,
// width, height, measure, median, lower and upper quartile. The comment line
// at the top names the program, the plug-in, the build and the machine.
struct TsvRow {
    std::string section, key, measure;
    Quartiles value;
};

bool ReadTsv(const std::string& path, std::vector<TsvRow>* rows, std::string* heading)
{
    FILE* in = fopen(path.c_str(), "r");
    if (in == nullptr)
        return false;
    char line[1024];
    while (fgets(line, sizeof line, in) != nullptr) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        if (s.empty())
            continue;
        if (s[0] == '#') {
            if (heading->empty())
                *heading = s;
            continue;
        }
        std::vector<std::string> fields;
        size_t from = 0;
        for (size_t tab; (tab = s.find('\t', from)) != std::string::npos; from = tab + 1)
            fields.push_back(s.substr(from, tab - from));
        fields.push_back(s.substr(from));
        if (fields.size() != 8)
            continue;
        TsvRow row;
        row.section = fields[0];
        row.key = fields[1] + "\t" + fields[2] + "\t" + fields[3];
        row.measure = fields[4];
        row.value = {atof(fields[6].c_str()), atof(fields[5].c_str()), atof(fields[7].c_str())};
        rows->push_back(row);
    }
    fclose(in);
    return true;
}

// A field of a TSV's heading, "build: ..." for instance; empty when absent.
std::string HeadingField(const std::string& heading, const std::string& name)
{
    const size_t at = heading.find("\t" + name + ": ");
    if (at == std::string::npos)
        return "";
    const size_t from = at + name.size() + 3;
    const size_t to = heading.find('\t', from);
    return heading.substr(from, to == std::string::npos ? to : to - from);
}

// The native core's time per picture, from pxm_bench's TSV: its CPU time,
// the measure it judges by, which load from elsewhere on the machine does
// not stretch; its wall time when it ran with --wall.
struct CoreTimes {
    std::string problem; // why there are none
    std::map<std::string, double> seconds;
};

CoreTimes ReadCoreTimes(const std::string& path)
{
    CoreTimes core;
    std::vector<TsvRow> rows;
    std::string heading;
    if (path.empty())
        core.problem = "not given (--core=FILE)";
    else if (!ReadTsv(path, &rows, &heading))
        core.problem = "cannot read " + path;
    for (const TsvRow& row : rows)
        if (row.section == "cpu" && row.measure == "kelda")
            core.seconds[row.key] = row.value.median;
    if (core.seconds.empty())
        for (const TsvRow& row : rows)
            if (row.section == "wall" && row.measure == "kelda")
                core.seconds[row.key] = row.value.median;
    return core;
}

const char kBaselineMeasure[] = "GetPicture memory / reference copy";

struct Baseline {
    std::string problem; // why it cannot be used
    std::string build;
    std::map<std::string, Quartiles> memory; // kBaselineMeasure per picture
};

Baseline ReadBaseline(const std::string& path)
{
    Baseline baseline;
    std::vector<TsvRow> rows;
    std::string heading;
    if (path.empty()) {
        baseline.problem = "no baseline given (--baseline=FILE)";
        return baseline;
    }
    if (!ReadTsv(path, &rows, &heading)) {
        baseline.problem = "cannot read the baseline " + path;
        return baseline;
    }
    if (HeadingField(heading, "plugin") != PluginName()) {
        baseline.problem = "the baseline " + path + " is not of " + PluginName();
        return baseline;
    }
    baseline.build = HeadingField(heading, "build");
    for (const TsvRow& row : rows)
        if (row.section == "ratio" && row.measure == kBaselineMeasure)
            baseline.memory[row.key] = row.value;
    return baseline;
}

std::string Range(const Quartiles& q)
{
    char text[48];
    snprintf(text, sizeof text, "%.2f (%.2f-%.2f)", q.median, q.lower, q.upper);
    return text;
}

void PrintTable(const std::vector<CaseResult>& cases, const CoreTimes& core, int reps,
                const std::string& label)
{
    printf("%s through its exports under Wine, against the copies and ReadFile in the same "
           "process\n",
           PluginName());
    if (!label.empty())
        printf("build: %s\n", label.c_str());
    printf("machine: %s; %d paired rounds\n", CpuName().c_str(), reps);
    printf("ms: median over the rounds (wall time); /ref copy and paired: the median of the "
           "rounds' ratios,\n(lower-upper quartile) beside; native core: kelda's core in "
           "bench/pxm_bench, without Wine or the exports\n(its CPU time); /native core: the "
           "time over the native core's\n\n");
    printf("%-13s %-9s %7s %5s  %-17s %8s %8s  %-17s %12s  %s\n", "picture", "size", "input",
           "Mpx", "method", "ms", "MB/s", "/ref copy", "/native core", "paired");
    for (const CaseResult& c : cases) {
        const double mb = double(c.fileSize) / 1e6;
        const double mpx = double(c.pixels) / 1e6;
        char size[24];
        snprintf(size, sizeof size, "%dx%d", c.recipe.width, c.recipe.height);
        printf("%-13s %-9s %5.1fMB %5.1f  ", c.recipe.name.c_str(), size, mb, mpx);
        const char* indent = "                                       ";
        const auto found = core.seconds.find(Key(c.recipe.name, c.recipe.width, c.recipe.height));
        const double coreSeconds = found == core.seconds.end() ? 0 : found->second;
        if (coreSeconds > 0)
            printf("%-17s %8.2f %8.1f\n", "native core", coreSeconds * 1e3, mb / coreSeconds);
        else
            printf("%-17s %s\n", "native core",
                   core.problem.empty() ? "not in pxm_bench's TSV" : core.problem.c_str());
        if (!c.problem.empty()) {
            printf("%s%s\n", indent, c.problem.c_str());
            continue;
        }
        for (int m = 0; m < kMethods; ++m) {
            if (c.rounds[m].empty())
                continue;
            const double t = Median(c.rounds[m]);
            printf("%s%-17s %8.2f %8.1f  %-17s", indent, kMethodNames[m], t * 1e3, mb / t,
                   Range(Paired(c, Method(m), kReferenceCopy)).c_str());
            if ((m == kMemoryMode || m == kFileMode) && coreSeconds > 0)
                printf(" %12.2f", t / coreSeconds);
            else
                printf(" %12s", "");
            if (m == kMemoryMode && !c.rounds[kDibShapedCopy].empty())
                printf("  %s x DIB-shaped copy",
                       Range(Paired(c, kMemoryMode, kDibShapedCopy)).c_str());
            if (m == kFileMode)
                printf("  %s x memory", Range(Paired(c, kFileMode, kMemoryMode)).c_str());
            printf("\n");
        }
    }
}

void PrintPeaks(const std::vector<CaseResult>& cases)
{
    printf("\npeak memory of GetPicture from a file, in a fresh process, against the DIB + "
           "4 MiB\n");
    printf("(committed: sampled while decoding by a walk of the address space; working set: "
           "peak after less current before, an upper bound)\n");
    printf("%-13s %9s %9s %13s %11s %12s\n", "picture", "file MB", "DIB MB", "DIB+4MiB MB",
           "committed", "working set");
    for (const CaseResult& c : cases) {
        if (!c.problem.empty())
            continue;
        const double limit = double(c.dibSize) + double(kPeakAllowance);
        printf("%-13s %9.2f %9.2f %13.2f ", c.recipe.name.c_str(), c.fileSize / 1e6,
               c.dibSize / 1e6, limit / 1e6);
        if (c.peak.ran && c.peak.result == 0)
            printf("%11.2f %12.2f\n", c.peak.committed / 1e6, c.peak.workingSet / 1e6);
        else
            printf("failed (%s %d)\n", c.peak.ran ? "result" : "no report", c.peak.result);
    }
}

void PrintBrowse(const std::vector<BrowseResult>& browse)
{
    if (browse.empty())
        return;
    printf("\nbrowsing a folder: per picture LoadLibrary, IsSupported (the first 2 KiB), "
           "GetPictureInfo,\nGetPicture from the file, LocalFree of both blocks, FreeLibrary; "
           "%d files of %d x %d per kind\n",
           kBrowseFiles, kBrowseSide, kBrowseSide);
    printf("ms per picture: median over the rounds (lower-upper quartile)\n");
    printf("%-13s %8s  %-22s %11s %11s\n", "picture", "input", "per picture ms", "GetPicture",
           "Load+Free");
    for (const BrowseResult& b : browse) {
        printf("%-13s ", b.recipe.name.c_str());
        if (!b.problem.empty()) {
            printf("%s\n", b.problem.c_str());
            continue;
        }
        const Quartiles visit = SummarizeQuartiles(b.visit);
        char text[64];
        snprintf(text, sizeof text, "%.2f (%.2f-%.2f)", visit.median * 1e3, visit.lower * 1e3,
                 visit.upper * 1e3);
        printf("%6.1fMB  %-22s %11.2f %11.2f\n", b.fileSize / 1e6, text, Median(b.getPicture) * 1e3,
               Median(b.loadAndUnload) * 1e3);
    }
}

void PrintInfoAndLargest(const InfoResult& info, const LargestResult& largest)
{
    printf("\nGetPictureInfo from a file: ");
    if (info.ok)
        printf("%.1f us on 1 GiB, %.1f us on 1 KiB: %s x\n", info.huge * 1e6, info.tiny * 1e6,
               Range(info.ratio).c_str());
    else
        printf("failed\n");
    if (!largest.wanted) {
        printf("largest picture: %s\n", largest.problem.c_str());
        return;
    }
    printf("largest picture: GetPicture of a %d x %d P5 (%.2f GB) from a sparse file, in a "
           "fresh process%s: ",
           kLargestWidth, kLargestHeight, largest.fileSize / 1e9,
           sizeof(void*) == 4 ? (LargeAddressAware() ? " (large-address aware)"
                                                     : " (NOT large-address aware)")
                              : "");
    if (!largest.problem.empty())
        printf("%s\n", largest.problem.c_str());
    else if (!largest.peak.ran)
        printf("the child process did not report\n");
    else
        printf("result %d in %.2f s, peak committed %.2f MB\n", largest.peak.result,
               largest.peak.seconds, largest.peak.committed / 1e6);
}

void Verdict(const char* status, const std::string& text)
{
    printf("  %-6s %s\n", status, text.c_str());
}

void Verdict(bool met, const std::string& text)
{
    Verdict(met ? "met" : "MISSED", text);
}

void PrintTargets(const std::vector<CaseResult>& cases, const InfoResult& info,
                  const LargestResult& largest, const Baseline& baseline)
{
    printf("\ntargets (paired medians, lower-upper quartile in brackets):\n");
    char text[300];
    for (const CaseResult& c : cases) {
        if (!c.problem.empty()) {
            Verdict(false, c.recipe.name + ": " + c.problem);
            continue;
        }
        const double bound = c.recipe.kind >= 4 ? 1.2 : 1.3;
        const Quartiles file = Paired(c, kFileMode, kMemoryMode);
        snprintf(text, sizeof text,
                 "%s: GetPicture from a file %.2f (%.2f-%.2f) x from memory, target at most %.1f",
                 c.recipe.name.c_str(), file.median, file.lower, file.upper, bound);
        Verdict(file.median <= bound, text);
    }
    for (const CaseResult& c : cases) {
        if (c.recipe.kind != 6 || !c.problem.empty())
            continue;
        const Quartiles memory = Paired(c, kMemoryMode, kReferenceCopy);
        snprintf(text, sizeof text,
                 "%s: GetPicture from memory %.2f (%.2f-%.2f) x the reference copy, target at "
                 "most 2",
                 c.recipe.name.c_str(), memory.median, memory.lower, memory.upper);
        Verdict(memory.median <= 2, text);
    }

    // Slower than the baseline only when the quartile ranges part, this
    // run's lower quartile above the baseline's upper one, and the median
    // is more than kDrift above the baseline's: between runs on a shared
    // machine the ratios move by a few percent while each run's quartiles
    // stay narrow.
    if (!baseline.problem.empty()) {
        Verdict("n/a", "GetPicture from memory no slower than before: " + baseline.problem);
    } else {
        std::string slower;
        int compared = 0;
        for (const CaseResult& c : cases) {
            const auto found =
                baseline.memory.find(Key(c.recipe.name, c.recipe.width, c.recipe.height));
            if (!c.problem.empty() || found == baseline.memory.end())
                continue;
            ++compared;
            const Quartiles now = Paired(c, kMemoryMode, kReferenceCopy);
            if (now.lower > found->second.upper && now.median > found->second.median * kDrift)
                slower += std::string(slower.empty() ? " " : "; ") + c.recipe.name + " " +
                          Range(now) + " against " + Range(found->second);
        }
        const std::string against = "the baseline (" + baseline.build + ")";
        if (compared == 0)
            Verdict("n/a", "GetPicture from memory no slower than " + against +
                               ": it has none of these pictures at these sizes (run at the "
                               "same --scale)");
        else if (slower.empty())
            Verdict(true, "GetPicture from memory, x the reference copy, no slower than " +
                              against + " on " + std::to_string(compared) +
                              " pictures (slower: quartiles apart and the median 10 % above)");
        else
            Verdict(false, "GetPicture from memory, x the reference copy, slower than " +
                               against + " on:" + slower);
    }

    long long worstOver = LLONG_MIN;
    std::string worstName, failed;
    int over = 0, measured = 0;
    for (const CaseResult& c : cases) {
        if (!c.problem.empty())
            continue;
        if (!c.peak.ran || c.peak.result != 0) {
            failed += " " + c.recipe.name;
            continue;
        }
        ++measured;
        const long long beyond = c.peak.committed - (long long)c.dibSize - kPeakAllowance;
        over += beyond > 0;
        if (beyond > worstOver) {
            worstOver = beyond;
            worstName = c.recipe.name;
        }
    }
    if (measured > 0) {
        snprintf(text, sizeof text,
                 "peak committed memory of GetPicture from a file at most the DIB + 4 MiB: "
                 "%d of %d over; %s %s, %.2f MB %s the limit%s%s",
                 over, measured, worstOver > 0 ? "the most" : "the closest",
                 worstName.c_str(), std::abs(double(worstOver)) / 1e6,
                 worstOver > 0 ? "over" : "under", failed.empty() ? "" : "; failed on",
                 failed.c_str());
        Verdict(over == 0 && failed.empty(), text);
    } else if (!failed.empty()) {
        Verdict(false, "peak committed memory of GetPicture from a file: failed on" + failed);
    }

    if (info.ok) {
        // Calls that cost tens of microseconds vary by a few percent from
        // batch to batch; a read of the whole gigabyte would cost thousands.
        snprintf(text, sizeof text,
                 "GetPictureInfo on 1 GiB %s x on 1 KiB, target the same within noise (1.25)",
                 Range(info.ratio).c_str());
        Verdict(info.ratio.median <= 1.25, text);
    } else {
        Verdict(false, "GetPictureInfo failed");
    }

    if (largest.wanted) {
        const bool opens = largest.problem.empty() && largest.peak.ran && largest.peak.result == 0;
        std::string outcome = !largest.problem.empty() ? largest.problem
                              : !largest.peak.ran ? "the child process did not report"
                                                  : "result " + std::to_string(largest.peak.result);
        if (sizeof(void*) == 4 && !LargeAddressAware())
            outcome += "; this spibench is not large-address aware";
        snprintf(text, sizeof text, "%s opens a %.1f GB P5 from a file: %s", PluginName(),
                 largest.fileSize / 1e9, outcome.c_str());
        Verdict(opens && (sizeof(void*) == 8 || LargeAddressAware()), text);
    }
}

// This run's figures, in the form ReadTsv reads.
bool WriteTsv(const std::string& path, const std::vector<CaseResult>& cases,
              const std::vector<BrowseResult>& browse, const InfoResult& info,
              const LargestResult& largest, int reps, const std::string& label)
{
    FILE* out = fopen(path.c_str(), "w");
    if (out == nullptr)
        return false;
    fprintf(out, "# spibench\tplugin: %s\tbuild: %s\tmachine: %s\trounds: %d\n", PluginName(),
            label.c_str(), CpuName().c_str(), reps);
    auto row = [out](const char* section, const std::string& name, int width, int height,
                     const std::string& measure, const Quartiles& q) {
        fprintf(out, "%s\t%s\t%d\t%d\t%s\t%.9g\t%.9g\t%.9g\n", section, name.c_str(), width,
                height, measure.c_str(), q.median, q.lower, q.upper);
    };
    auto one = [](double v) { return Quartiles{v, v, v}; };
    for (const CaseResult& c : cases) {
        if (!c.problem.empty())
            continue;
        const BenchPictureRecipe& r = c.recipe;
        for (int m = 0; m < kMethods; ++m) {
            if (c.rounds[m].empty())
                continue;
            row("time", r.name, r.width, r.height, kMethodNames[m],
                SummarizeQuartiles(c.rounds[m]));
            if (m != kReferenceCopy)
                row("ratio", r.name, r.width, r.height,
                    std::string(kMethodNames[m]) + " / reference copy",
                    Paired(c, Method(m), kReferenceCopy));
        }
        if (!c.rounds[kDibShapedCopy].empty())
            row("ratio", r.name, r.width, r.height, "GetPicture memory / DIB-shaped copy",
                Paired(c, kMemoryMode, kDibShapedCopy));
        row("ratio", r.name, r.width, r.height, "GetPicture file / GetPicture memory",
            Paired(c, kFileMode, kMemoryMode));
        if (c.peak.ran && c.peak.result == 0) {
            row("peak", r.name, r.width, r.height, "committed bytes",
                one(double(c.peak.committed)));
            row("peak", r.name, r.width, r.height, "working set bytes",
                one(double(c.peak.workingSet)));
            row("peak", r.name, r.width, r.height, "DIB bytes", one(double(c.dibSize)));
        }
    }
    for (const BrowseResult& b : browse) {
        if (!b.problem.empty())
            continue;
        const BenchPictureRecipe& r = b.recipe;
        row("browse", r.name, r.width, r.height, "per picture", SummarizeQuartiles(b.visit));
        row("browse", r.name, r.width, r.height, "GetPicture", SummarizeQuartiles(b.getPicture));
        row("browse", r.name, r.width, r.height, "LoadLibrary and FreeLibrary",
            SummarizeQuartiles(b.loadAndUnload));
    }
    if (info.ok)
        row("info", "P6", 6000, 4000, "GetPictureInfo 1 GiB / 1 KiB", info.ratio);
    if (largest.wanted && largest.problem.empty() && largest.peak.ran) {
        row("largest", kLargestName, kLargestWidth, kLargestHeight, "result",
            one(largest.peak.result));
        row("largest", kLargestName, kLargestWidth, kLargestHeight, "seconds",
            one(largest.peak.seconds));
        row("largest", kLargestName, kLargestWidth, kLargestHeight, "committed bytes",
            one(double(largest.peak.committed)));
    }
    return fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "--peak") == 0)
        return PeakChild(argv[2], argv[3]);
    int reps = 15;
    double scale = 1;
    std::string only, corePath, baselinePath, tsvPath, label;
    bool largestWanted = sizeof(void*) == 4;
    std::string pluginPath = ProgramFolder() + (sizeof(void*) == 8 ? "kelda.sph" : "kelda.spi");
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--reps=", 7) == 0) {
            reps = std::max(1, atoi(argv[i] + 7));
        } else if (strncmp(argv[i], "--scale=", 8) == 0) {
            scale = atof(argv[i] + 8);
        } else if (strncmp(argv[i], "--only=", 7) == 0) {
            only = argv[i] + 7;
        } else if (strncmp(argv[i], "--plugin=", 9) == 0) {
            pluginPath = argv[i] + 9;
        } else if (strncmp(argv[i], "--core=", 7) == 0) {
            corePath = argv[i] + 7;
        } else if (strncmp(argv[i], "--baseline=", 11) == 0) {
            baselinePath = argv[i] + 11;
        } else if (strncmp(argv[i], "--tsv=", 6) == 0) {
            tsvPath = argv[i] + 6;
        } else if (strncmp(argv[i], "--label=", 8) == 0) {
            label = argv[i] + 8;
        } else if (strcmp(argv[i], "--largest") == 0) {
            largestWanted = true;
        } else {
            fprintf(stderr, "usage: spibench [--reps=N] [--scale=F] [--only=TEXT] "
                            "[--plugin=PATH] [--core=FILE] [--baseline=FILE] [--tsv=FILE] "
                            "[--label=TEXT] [--largest]\n");
            return 2;
        }
    }
    // Read before anything is measured, so that a wrong path shows at once.
    const CoreTimes core = ReadCoreTimes(corePath);
    const Baseline baseline = ReadBaseline(baselinePath);
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    const std::string folder =
        std::string(base) + "kelda-bench-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);

    std::vector<CaseResult> cases;
    InfoResult info;
    {
        Plugin plugin;
        std::string problem;
        if (!LoadPlugin(pluginPath, &plugin, &problem)) {
            fprintf(stderr, "spibench: %s\n", problem.c_str());
            return 1;
        }
        for (const BenchPictureRecipe& recipe : BenchPictureRecipes(scale))
            if (Wanted(recipe.name, only))
                cases.push_back(MeasureCase(plugin, pluginPath, recipe, folder, reps));
        info = MeasureInfo(plugin, folder, reps);
        // Unloaded, so that each visit of the browse loads it afresh.
        FreeLibrary(plugin.module);
    }
    std::vector<BrowseResult> browse;
    for (const BenchPictureRecipe& recipe : BenchPictureRecipes(1))
        if (Wanted(recipe.name, only))
            browse.push_back(MeasureBrowse(pluginPath, recipe, folder, reps));
    if (!browse.empty())
        fprintf(stderr, "spibench: browsing measured\n");
    LargestResult largest;
    if (!largestWanted)
        largest.problem = "for kelda.spi, in the 32-bit build (--largest runs it here too)";
    else if (!Wanted(kLargestName, only))
        largest.problem = "left out by --only";
    else
        largest = MeasureLargest(pluginPath, folder);
    RemoveDirectoryA(folder.c_str());

    PrintTable(cases, core, reps, label);
    PrintPeaks(cases);
    PrintBrowse(browse);
    PrintInfoAndLargest(info, largest);
    PrintTargets(cases, info, largest, baseline);
    if (!tsvPath.empty() && !WriteTsv(tsvPath, cases, browse, info, largest, reps, label)) {
        fprintf(stderr, "spibench: cannot write %s\n", tsvPath.c_str());
        return 1;
    }
    return 0;
}
