// Fuzz target: the whole picture path as the plug-in runs it, DecodePicture
// (parse, size check, allocation of both blocks, header, raster).
//
// The last three input bytes choose the options, the bytes before them are
// the picture:
//   byte -3, -2  the row at which the progress function asks to stop, little
//                endian; 0xFFFF never stops
//   byte -1      bits 0-1: the bounds of the image: 0 a file (exactly the
//                bytes), 1 to 3 a memory image whose page runs on after the
//                picture with zero bytes, with "1 " or with 0xFF bytes;
//                bit 2: no progress function at all
// Shorter inputs are a file picture without a stop.
//
// Every picture is decoded three times: twice into blocks filled with 0x00
// and once into blocks filled with 0xFF. All three must agree in every byte
// of both blocks: nothing that a block held before may reach the host.
//
// What is checked besides that, each against a reading of its own:
// - the result, and whether blocks are handed over, is the one that the
//   header, as the traditional reader reads it (tests/reference), and the
//   sizes call for; with 4 and 8 nothing is allocated, or what was is
//   released, and the caller's variables are untouched;
// - the information block, byte for byte, from the header;
// - the progress calls: rows 0, 1, 2, ... with the same last row, and a
//   stop at row k ends the decode right after row k's call;
// - the pixel block, the result and the number of progress calls are those
//   of the reference decoder (tests/reference) on the same raster, and those
//   of the raster decoder with the other block width of the sample reader;
// - the same image read in pieces (DecodePictureStream), with pieces of 1 to
//   64 bytes that the input chooses, gives the same result, progress calls
//   and blocks;
// - the input is never written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/check.h"
#include "pxm/raster.h"
#include "tests/reference/header_reference.h"
#include "tests/reference/reference.h"

namespace {

// Larger blocks are refused, as an exhausted heap would, to keep runs fast.
constexpr size_t kBlockCap = size_t(64) << 20;

constexpr size_t kPage = 4096;

// What the caller's handle variables hold before the call.
void* const kUntouched = reinterpret_cast<void*>(uintptr_t(0x5A5A5A50));

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// ---- Options -------------------------------------------------------------

struct Options {
    size_t pictureLength;
    int32_t stopRow; // -1: never
    int bounds;      // 0 file, 1 to 3 memory with a padding pattern
    bool withProgress;
};

Options OptionsOf(const uint8_t* data, size_t size)
{
    Options options = {size, -1, 0, true};
    if (size < 3)
        return options;
    options.pictureLength = size - 3;
    const uint32_t stop = uint32_t(data[size - 3]) | uint32_t(data[size - 2]) << 8;
    options.stopRow = stop == 0xFFFF ? -1 : int32_t(stop);
    options.bounds = data[size - 1] & 3;
    options.withProgress = (data[size - 1] & 4) == 0;
    if (!options.withProgress)
        options.stopRow = -1;
    return options;
}

// The image as DecodePicture sees it.
std::vector<uint8_t> ImageOf(const uint8_t* picture, const Options& options)
{
    std::vector<uint8_t> image(picture, picture + options.pictureLength);
    if (options.bounds != 0 && image.size() % kPage != 0) {
        const size_t padded = (image.size() / kPage + 1) * kPage;
        for (size_t i = image.size(); i < padded; ++i) {
            if (options.bounds == 1)
                image.push_back(0);
            else if (options.bounds == 2)
                image.push_back(i % 2 == 0 ? '1' : ' ');
            else
                image.push_back(0xFF);
        }
    }
    return image;
}

// ---- What the header and the sizes call for --------------------------------

struct Plan {
    ReferenceHeader header;
    int32_t early;     // the result before any decoding; -1 when both blocks come
    uint32_t bits;     // per pixel
    uint32_t palette;  // entries
    uint32_t infoSize; // bytes
    uint64_t stride;
    uint64_t pixelSize;
    bool sizesFit;     // in the 32 bits of the DIB, and for the input's length
};

Plan PlanOf(const uint8_t* image, size_t length)
{
    Plan plan = {};
    plan.early = -1;
    plan.header = ReadReferenceHeader(image, length);
    const ReferenceHeader& h = plan.header;
    if (h.kind == 0) {
        plan.early = kPxmInternalError;
        return plan;
    }
    const int group = (h.kind - 1) % 3;
    plan.bits = group == 0 ? 1 : group == 1 ? 8 : 24;
    plan.palette = group == 0 ? 2 : group == 1 ? 256 : 0;
    plan.infoSize = 44 + 4 * plan.palette;
    if (h.width < 0 || h.height < 0 || (h.width == 0 && h.height > 65535)) {
        plan.early = kPxmInternalError;
        return plan;
    }
    const uint64_t w = uint64_t(h.width);
    plan.stride = (w * plan.bits + 31) / 32 * 4;
    plan.pixelSize = plan.stride * uint64_t(h.height);
    // A block over 64 MiB needs an input of at least a sixteenth of it.
    const bool tooLittleInput = plan.pixelSize > (uint64_t(64) << 20) &&
                                plan.pixelSize > 16 * uint64_t(length);
    plan.sizesFit = plan.stride <= uint64_t(INT32_MAX) && plan.pixelSize <= uint64_t(UINT32_MAX) &&
                    !tooLittleInput;
    if (!plan.sizesFit || plan.pixelSize > kBlockCap)
        plan.early = kPxmOutOfMemory; // the fuzzer's allocator refuses it
    return plan;
}

// ---- The host's side: allocator and progress function ----------------------

// PxmAllocator has no context argument, so the allocation record is global.
struct Allocations {
    uint8_t fill;
    int requests;
    void* blocks[2];
    size_t sizes[2];
    bool released[2];
};

Allocations* g_allocations;

void* Allocate(size_t size)
{
    Allocations* a = g_allocations;
    CHECK(a->requests < 2);
    const int n = a->requests++;
    a->sizes[n] = size;
    a->released[n] = false;
    a->blocks[n] = size > kBlockCap ? nullptr : malloc(size == 0 ? 1 : size);
    if (a->blocks[n] != nullptr)
        memset(a->blocks[n], a->fill, size);
    return a->blocks[n];
}

void Release(void* block)
{
    Allocations* a = g_allocations;
    for (int n = 0; n < a->requests; ++n) {
        if (a->blocks[n] == block && block != nullptr && !a->released[n]) {
            a->released[n] = true;
            free(block);
            return;
        }
    }
    PropertyBroken(__FILE__, __LINE__, "release of a block that was not handed out");
}

const PxmAllocator kAllocator = {Allocate, Release};

struct Watch {
    int32_t lastRow;  // height - 1
    int32_t stopRow;  // -1: never
    int64_t calls;    // the next row expected
    bool stopAsked;
    void* const* info; // the caller's variables, when the decode is DecodePicture's
    void* const* pixels;
};

int32_t PXM_STDCALL OnProgress(int32_t row, int32_t lastRow, intptr_t hostValue)
{
    Watch* watch = reinterpret_cast<Watch*>(hostValue);
    CHECK(!watch->stopAsked);
    CHECK(row == watch->calls);
    CHECK(lastRow == watch->lastRow);
    if (watch->info != nullptr) {
        // Both blocks are the caller's before the first row is decoded.
        CHECK(*watch->info != kUntouched && *watch->pixels != kUntouched);
        CHECK(Get32(static_cast<const uint8_t*>(*watch->info)) == 40);
    }
    ++watch->calls;
    if (row == watch->stopRow) {
        watch->stopAsked = true;
        return 1;
    }
    return 0;
}

Watch WatchFor(const Plan& plan, const Options& options, void* const* info, void* const* pixels)
{
    // Progress comes only for a height of 0 or more; any other must not
    // overflow here.
    const int32_t lastRow = plan.header.height >= 0 ? plan.header.height - 1 : -1;
    return {lastRow, options.stopRow, 0, false, info, pixels};
}

// ---- One decode ------------------------------------------------------------

struct Run {
    int32_t result;
    void* info;
    void* pixels;
    Allocations allocations;
    Watch watch;
};

void Decode(const uint8_t* image, size_t length, const Options& options, const Plan& plan,
            uint8_t fill, Run* run)
{
    run->info = kUntouched;
    run->pixels = kUntouched;
    run->allocations = {};
    run->allocations.fill = fill;
    run->watch = WatchFor(plan, options, &run->info, &run->pixels);
    g_allocations = &run->allocations;
    run->result = DecodePicture(image, length, kAllocator,
                                options.withProgress ? OnProgress : nullptr,
                                reinterpret_cast<intptr_t>(&run->watch), &run->info,
                                &run->pixels);
    g_allocations = nullptr;

    const int32_t r = run->result;
    CHECK(r == kPxmSuccess || r == kPxmStopped || r == kPxmCorrupted || r == kPxmOutOfMemory ||
          r == kPxmInternalError);
    const Allocations& a = run->allocations;
    if (r == kPxmSuccess || r == kPxmStopped || r == kPxmCorrupted) {
        CHECK(plan.early == -1);
        CHECK(a.requests == 2 && !a.released[0] && !a.released[1]);
        CHECK(run->info == a.blocks[0] && run->pixels == a.blocks[1]);
        CHECK(a.sizes[0] == plan.infoSize && a.sizes[1] == plan.pixelSize);
    } else {
        CHECK(r == plan.early);
        CHECK(run->info == kUntouched && run->pixels == kUntouched);
        for (int n = 0; n < a.requests; ++n)
            CHECK(a.blocks[n] == nullptr || a.released[n]);
        // Blocks are asked for only once every size is known to fit.
        if (!plan.sizesFit || plan.early == kPxmInternalError)
            CHECK(a.requests == 0);
        if (plan.early == kPxmOutOfMemory && plan.sizesFit)
            CHECK(a.requests == 2 && a.blocks[1] == nullptr);
        CHECK(run->watch.calls == 0);
    }
}

// The image in pieces: the first read gives `first` bytes at most, every
// later one `chunk` at most.
struct Pieces {
    const uint8_t* bytes;
    size_t length;
    size_t at;
    size_t chunk;
    size_t first;
    int reads;
};

intptr_t ReadPieces(void* context, uint8_t* buffer, size_t capacity)
{
    Pieces* p = static_cast<Pieces*>(context);
    size_t n = p->reads++ == 0 ? p->first : p->chunk;
    if (n > capacity)
        n = capacity;
    if (n > p->length - p->at)
        n = p->length - p->at;
    memcpy(buffer, p->bytes + p->at, n);
    p->at += n;
    return intptr_t(n);
}

void DecodeInPieces(const uint8_t* image, size_t length, const Options& options, const Plan& plan,
                    size_t chunk, size_t first, Run* run)
{
    run->info = kUntouched;
    run->pixels = kUntouched;
    run->allocations = {};
    run->watch = WatchFor(plan, options, &run->info, &run->pixels);
    Pieces pieces = {image, length, 0, chunk, first, 0};
    const PxmStream stream = {ReadPieces, &pieces, chunk, length};
    g_allocations = &run->allocations;
    run->result = DecodePictureStream(stream, kAllocator,
                                      options.withProgress ? OnProgress : nullptr,
                                      reinterpret_cast<intptr_t>(&run->watch), &run->info,
                                      &run->pixels);
    g_allocations = nullptr;
}

void Dispose(Run* run)
{
    if (run->info != kUntouched) {
        free(run->info);
        free(run->pixels);
    }
}

bool SameBlocks(const Run& a, const Run& b, const Plan& plan)
{
    return memcmp(a.info, b.info, plan.infoSize) == 0 &&
           (plan.pixelSize == 0 || memcmp(a.pixels, b.pixels, size_t(plan.pixelSize)) == 0);
}

// The information block, byte for byte: the header fields, the palette with
// zero reserved bytes, and 4 zero bytes after it.
void CheckInfo(const uint8_t* info, const Plan& plan)
{
    std::vector<uint8_t> want(plan.infoSize, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            want[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, uint32_t(plan.header.width));
    put32(8, uint32_t(plan.header.height));
    want[12] = 1;
    want[14] = uint8_t(plan.bits);
    put32(20, uint32_t(plan.pixelSize));
    put32(32, plan.palette);
    for (uint32_t i = 0; i < plan.palette; ++i) {
        const uint8_t grey = plan.palette == 2 ? (i == 0 ? 255 : 0) : uint8_t(i);
        for (size_t c = 0; c < 3; ++c)
            want[40 + 4 * i + c] = grey;
    }
    CHECK(memcmp(info, want.data(), want.size()) == 0);
}

// The raster decoded again on its own, into a block of the same size, by
// the reference decoder or with the other block width of the sample reader.
void CheckRasterAgainst(bool reference, const uint8_t* raster, size_t rasterLength,
                        const Plan& plan, const Options& options, const Run& run)
{
    std::vector<uint8_t> block(size_t(plan.pixelSize) + 1, 0xA5);
    Watch watch = WatchFor(plan, options, nullptr, nullptr);
    const PxmProgress progress = options.withProgress ? OnProgress : nullptr;
    const intptr_t hostValue = reinterpret_cast<intptr_t>(&watch);
    const PxmBlockWidth otherWidth =
        kPxmNativeBlocks == kPxmBlocks64 ? kPxmBlocks32 : kPxmBlocks64;
    const int32_t result =
        reference ? DecodeRasterReference(raster, rasterLength, block.data(), progress, hostValue,
                                          plan.header.kind, plan.header.width, plan.header.height,
                                          int32_t(plan.stride))
                  : DecodeRasterWith(otherWidth, raster, rasterLength, block.data(), progress,
                                     hostValue, plan.header.kind, plan.header.width,
                                     plan.header.height, int32_t(plan.stride));
    CHECK(result == run.result);
    CHECK(watch.calls == run.watch.calls);
    CHECK(plan.pixelSize == 0 ||
          memcmp(block.data(), run.pixels, size_t(plan.pixelSize)) == 0);
    CHECK(block[size_t(plan.pixelSize)] == 0xA5);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Options options = OptionsOf(data, size);
    const std::vector<uint8_t> pristine = ImageOf(data, options);
    // Exactly the image's bytes on the heap, so that a read past them shows.
    const size_t length = pristine.size();
    uint8_t* image = new uint8_t[length];
    if (length != 0)
        memcpy(image, pristine.data(), length);
    const Plan plan = PlanOf(image, length);

    Run zeros, again, ones, pieces;
    Decode(image, length, options, plan, 0x00, &zeros);
    Decode(image, length, options, plan, 0x00, &again);
    Decode(image, length, options, plan, 0xFF, &ones);
    // Pieces of 1 to 64 bytes; 64 times that for larger pictures, which
    // would otherwise take too many reads to keep the fuzzer quick.
    const size_t chunk = (1 + (size > 1 ? data[size - 2] % 64 : 0)) * (length > 4096 ? 64 : 1);
    const size_t first = 1 + (size > 3 ? data[size - 4] % chunk : 0);
    DecodeInPieces(image, length, options, plan, chunk, first, &pieces);
    CHECK(length == 0 || memcmp(image, pristine.data(), length) == 0);

    // The same bytes, the same decode, whatever the blocks held and however
    // the bytes arrived.
    CHECK(again.result == zeros.result && ones.result == zeros.result);
    CHECK(pieces.result == zeros.result);
    CHECK(again.watch.calls == zeros.watch.calls && ones.watch.calls == zeros.watch.calls);
    CHECK(pieces.watch.calls == zeros.watch.calls);
    CHECK(again.watch.stopAsked == zeros.watch.stopAsked);
    CHECK((pieces.info != kUntouched) == (zeros.info != kUntouched));

    if (zeros.info != kUntouched) {
        CHECK(SameBlocks(zeros, again, plan));
        CHECK(SameBlocks(zeros, ones, plan));
        CHECK(SameBlocks(zeros, pieces, plan));
        if (options.withProgress)
            CHECK(zeros.watch.stopAsked == (zeros.result == kPxmStopped));
        CheckInfo(static_cast<const uint8_t*>(zeros.info), plan);
        const uint8_t* raster = image + plan.header.dataOffset;
        const size_t rasterLength = length - size_t(plan.header.dataOffset);
        CheckRasterAgainst(true, raster, rasterLength, plan, options, zeros);
        CheckRasterAgainst(false, raster, rasterLength, plan, options, zeros);
    }

    Dispose(&zeros);
    Dispose(&again);
    Dispose(&ones);
    Dispose(&pieces);
    delete[] image;
    return 0;
}
