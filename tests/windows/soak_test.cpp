// Long runs as a viewer makes them: many calls of every export, in both
// modes, on success and on every error path, and several threads at once.
// Nothing may leak: no memory, no open file, no block of the wrong size.
#include "tests/windows/host.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

// Bytes in committed private regions of this process. Wine reports 0 for
// PrivateUsage, so the address space is walked instead.
size_t CommittedPrivateBytes()
{
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* at = nullptr;
    while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return total;
}

size_t CommitCharge()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

struct SoakPicture {
    std::string bytes;
    int result;      // of GetPicture
    int infoResult;  // of GetPictureInfo
    std::string path;
};

std::string Greymap(int width, int height)
{
    std::string p = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int i = 0; i < width * height; ++i)
        p += char(i * 7);
    return p;
}

std::vector<SoakPicture> SoakPictures()
{
    std::vector<SoakPicture> pictures = {
        {Greymap(320, 200), 0, 0, ""}, // large enough that a lost file buffer shows
        {"P6\n3 2\n255\n" + std::string(18, 'x'), 0, 0, ""},
        {std::string("P4\n9 2\n\xff\x80\x01\x00", 11), 0, 0, ""},
        {"P1\n# comment\n3 2\n1 0 1 0 1 1\n", 0, 0, ""},
        {"P2\n# comment\n2 2\n255\n1 2 3 4\n", 0, 0, ""},
        {"P3\n1 2\n255\n1 2 3 4 5 6\n", 0, 0, ""},
        {"P3\n2 2\n255\n1 2 3 4 5 6\n", 3, 0, ""},
        {"P5\n4 4\n255\nabc", 3, 0, ""},
        {"P7\n1 1\n255\nx", 8, 8, ""},
        {"P2\n1 1\n15\n3\n", 8, 8, ""},
        {"P5\n-1 1\n255\nx", 8, 0, ""},
        {"P5\n65536 65537\n255\n", 4, 0, ""},
        // 1.2 GB: far more than 16 times the input; refused before anything
        // is allocated.
        {"P6\n20000 20000\n255\n", 4, 0, ""},
        {"", 8, 8, ""},
    };
    for (size_t i = 0; i < pictures.size(); ++i)
        pictures[i].path = WriteTempFile("soak" + std::to_string(i) + ".pnm", pictures[i].bytes);
    return pictures;
}

void ExpectNoOpenHandle(const std::string& path)
{
    HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE) << path << " is still open";
    CloseHandle(exclusive);
}

void ExpectDocumentedBlocks(HLOCAL info, HLOCAL pixels)
{
    const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(info);
    const size_t infoSize = header->biBitCount == 1 ? 52 : header->biBitCount == 8 ? 1068 : 44;
    EXPECT_EQ(LocalSize(info), infoSize);
    EXPECT_EQ(LocalSize(pixels), size_t(header->biSizeImage));
    EXPECT_EQ(LocalFree(info), nullptr);
    EXPECT_EQ(LocalFree(pixels), nullptr);
}

int __stdcall StopAtOnce(int, int, LONG_PTR)
{
    return 1;
}

// One call of the mix: call `n` picks the export, the mode and the picture.
void OneCall(const std::vector<SoakPicture>& pictures, int n)
{
    const SoakPicture& p = pictures[size_t(n) % pictures.size()];
    const bool fromFile = (n / int(pictures.size())) % 2 == 0;
    const int which = (n / int(2 * pictures.size())) % 6;
    GuardedImage image = MakeGuardedImage(p.bytes);
    const char* source = fromFile ? p.path.c_str() : image.data;
    const unsigned int flag = fromFile ? 0 : 1;
    switch (which) {
    case 0:
    case 1: {
        HLOCAL info = kUntouched, pixels = kUntouched;
        const bool stop = which == 1;
        const int result = Kelda().GetPicture(source, 0, flag, &info, &pixels, stop ? StopAtOnce : nullptr, 0);
        const bool hasRows = p.bytes.size() > 1 && p.result == 0;
        EXPECT_EQ(result, stop && hasRows ? 1 : p.result) << "picture " << n % pictures.size();
        if (result == 0 || result == 1 || result == 3)
            ExpectDocumentedBlocks(info, pixels);
        else
            EXPECT_EQ(info, kUntouched);
        break;
    }
    case 2: {
        PictureInfo info;
        const int result = Kelda().GetPictureInfo(source, 0, flag, &info);
        EXPECT_EQ(result, p.infoResult) << "picture " << n % pictures.size();
        if (result == 0 && info.commentHandle != nullptr) {
            EXPECT_EQ(LocalSize(info.commentHandle), strlen(static_cast<const char*>(info.commentHandle)) + 1);
            EXPECT_EQ(LocalFree(info.commentHandle), nullptr);
        }
        break;
    }
    case 3: {
        if (fromFile) {
            HANDLE f = CreateFileA(p.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            Kelda().IsSupported(p.path.c_str(), ULONG_PTR(f));
            CloseHandle(f);
        } else if (!p.bytes.empty()) {
            Kelda().IsSupported(nullptr, ULONG_PTR(image.data));
        }
        break;
    }
    case 4: {
        HLOCAL info = kUntouched, pixels = kUntouched;
        EXPECT_EQ(Kelda().GetPreview(source, 0, flag, &info, &pixels, nullptr, 0), -1);
        break;
    }
    default: {
        char text[64];
        Kelda().GetPluginInfo(n % 10 - 1, text, sizeof text);
        break;
    }
    }
    FreeGuardedImage(image);
    if (fromFile)
        ExpectNoOpenHandle(p.path);
}

TEST(Soak, TheMemoryMeasureSeesALeak)
{
    // A test of the test: blocks the host never frees must show.
    const size_t before = CommittedPrivateBytes();
    const size_t heapBefore = BusyHeapBytes();
    const size_t chargeBefore = CommitCharge();
    std::vector<HLOCAL> leaked;
    leaked.reserve(16);
    std::string picture = Greymap(1024, 1024);
    for (int i = 0; i < 4; ++i) {
        HLOCAL info, pixels;
        ASSERT_EQ(Kelda().GetPicture(&picture[0], 0, 1, &info, &pixels, nullptr, 0), 0);
        leaked.push_back(info);
        leaked.push_back(pixels);
    }
    const size_t after = CommittedPrivateBytes();
    EXPECT_GE(after, before + 4 * 1024 * 1024) << "have " << after - before << " more bytes";
    // A single small block shows in the heaps.
    HLOCAL small = LocalAlloc(LMEM_FIXED, 44);
    EXPECT_GE(BusyHeapBytes(), heapBefore + 4 * (1024 * 1024 + 1068) + 44);
    LocalFree(small);
    if (chargeBefore != 0) {
        EXPECT_GE(CommitCharge(), chargeBefore + 4 * 1024 * 1024);
    }
    for (HLOCAL h : leaked)
        LocalFree(h);
}

TEST(Soak, TenThousandCallsLeakNothing)
{
    const std::vector<SoakPicture> pictures = SoakPictures();
    const int round = int(12 * pictures.size()); // every export, mode and picture
    for (int n = 0; n < round; ++n)
        OneCall(pictures, n); // warms the heaps up
    const size_t before = CommittedPrivateBytes();
    const size_t heapBefore = BusyHeapBytes();
    const size_t chargeBefore = CommitCharge();
    int calls = 0;
    while (calls < 10000) {
        for (int n = 0; n < round; ++n, ++calls)
            OneCall(pictures, n);
        if (HasFailure())
            return;
    }
    const size_t after = CommittedPrivateBytes();
    const size_t heapAfter = BusyHeapBytes();
    const size_t tolerance = 64 << 10;
    EXPECT_LE(heapAfter, heapBefore + 4096) << "busy heap blocks grew by " << heapAfter - heapBefore
                                            << " bytes over " << calls << " calls";
    EXPECT_LE(after, before + tolerance) << "committed private memory grew by " << after - before
                                         << " bytes over " << calls << " calls";
    if (chargeBefore != 0) {
        EXPECT_LE(CommitCharge(), chargeBefore + tolerance);
    }
}

struct ThreadPicture {
    std::string bytes;
    std::string path;
    int rows, stride, rowBytes;
};

std::string Dib(const ThreadPicture& t, bool fromFile)
{
    std::string image = t.bytes;
    HLOCAL info = nullptr, pixels = nullptr;
    const int result = fromFile ? Kelda().GetPicture(t.path.c_str(), 0, 0, &info, &pixels, nullptr, 0)
                                : Kelda().GetPicture(&image[0], 0, 1, &info, &pixels, nullptr, 0);
    if (result != 0)
        return "result " + std::to_string(result);
    std::string dib = Bytes(info, 40) + RowsWithoutPadding(pixels, t.rows, t.stride, t.rowBytes);
    LocalFree(info);
    LocalFree(pixels);
    return dib;
}

TEST(Threads, DecodeSideBySideAsAlone)
{
    // One picture of each kind, 97 x 61 pixels, with every row different.
    const int w = 97, h = 61;
    std::vector<ThreadPicture> pictures;
    for (int kind = 1; kind <= 6; ++kind) {
        std::string p = "P" + std::to_string(kind) + "\n# thread " + std::to_string(kind) + "\n" +
                        std::to_string(w) + " " + std::to_string(h) + "\n";
        if (kind != 1 && kind != 4)
            p += "255\n";
        const int samples = kind == 3 || kind == 6 ? 3 * w * h : w * h;
        for (int i = 0; i < samples; ++i) {
            const int v = (i * 31 + i / w * 7) & 255;
            if (kind == 1)
                p += (v & 1) ? "1 " : "0 ";
            else if (kind <= 3)
                p += std::to_string(v) + ((i + 1) % 17 == 0 ? "\n" : " ");
            else if (kind != 4)
                p += char(v);
        }
        if (kind == 4)
            for (int i = 0; i < (w + 7) / 8 * h; ++i)
                p += char(i * 13);
        const int bits = kind % 3 == 1 ? 1 : kind % 3 == 2 ? 8 : 24;
        const int rowBytes = (w * bits + 7) / 8;
        pictures.push_back({p, WriteTempFile("thread" + std::to_string(kind) + ".pnm", p), h,
                            (w * bits + 31) / 32 * 4, rowBytes});
    }
    std::vector<std::string> alone;
    for (const ThreadPicture& t : pictures)
        alone.push_back(Dib(t, false));
    for (size_t i = 0; i < pictures.size(); ++i)
        ASSERT_EQ(alone[i].size(), 40u + size_t(h) * pictures[i].rowBytes) << "kind " << i + 1 << ": " << alone[i];

    const int threads = 6, rounds = 150;
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                const size_t which = size_t(t + r) % pictures.size();
                if (Dib(pictures[which], r % 2 == 0) != alone[which])
                    ++mismatches[size_t(t)];
            }
        });
    }
    for (std::thread& w2 : workers)
        w2.join();
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(mismatches[size_t(t)], 0) << "thread " << t;
}

// The record and the comment block of one information call, as text.
std::string Described(const std::string& source, bool fromFile)
{
    std::string image = source;
    PictureInfo info;
    const int result = fromFile ? Kelda().GetPictureInfo(source.c_str(), 0, 0, &info)
                                : Kelda().GetPictureInfo(&image[0], LONG_PTR(image.size()), 1, &info);
    if (result != 0)
        return "result " + std::to_string(result);
    std::string out = std::to_string(info.width) + "x" + std::to_string(info.height) + "x" +
                      std::to_string(info.colorDepth) + ":";
    if (info.commentHandle != nullptr) {
        out += static_cast<const char*>(info.commentHandle);
        LocalFree(info.commentHandle);
    }
    return out;
}

TEST(Threads, DescribeSideBySideAsAlone)
{
    // Pictures whose comments differ in every call: a buffer shared between
    // calls would mix them.
    const int pictures = 12;
    std::vector<std::string> bytes, paths, alone;
    for (int i = 0; i < pictures; ++i) {
        std::string p = "P" + std::to_string(1 + i % 6) + "\n";
        // Comments that nearly fill the 2000 bytes: the longer a call works on
        // its comment text, the more often two calls meet there.
        for (int line = 0; line < 12 + i / 2; ++line)
            p += "# picture " + std::to_string(i) + ", comment line " + std::to_string(line) + " " +
                 std::string(size_t(40 + line), char('a' + i)) + "\n";
        p += std::to_string(10 + i) + " " + std::to_string(20 + i) + "\n";
        if (i % 3 != 0)
            p += "255\n";
        p += std::string(64, '1');
        bytes.push_back(p);
        paths.push_back(WriteTempFile("describe" + std::to_string(i) + ".pnm", p));
        alone.push_back(Described(p, false));
        ASSERT_EQ(Described(paths.back(), true), alone.back()) << "picture " << i;
        ASSERT_EQ(alone.back().find("result"), std::string::npos) << alone.back();
    }
    // Mostly from memory: no file to open between two calls, so the calls
    // of the threads overlap the most.
    const int threads = 6, rounds = 4000;
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                const size_t which = size_t(t * 7 + r) % size_t(pictures);
                const bool fromFile = (r + t) % 8 == 0;
                if (Described(fromFile ? paths[which] : bytes[which], fromFile) != alone[which])
                    ++mismatches[size_t(t)];
            }
        });
    }
    for (std::thread& w : workers)
        w.join();
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(mismatches[size_t(t)], 0) << "thread " << t;
}

} // namespace
