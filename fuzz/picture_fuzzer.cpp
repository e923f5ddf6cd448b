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
// Every picture is decoded three times: twice into blocks filled with 0x00,
// which must agree in every byte, and once into blocks filled with 0xFF. A
// byte that holds the fill in both the 0x00 and the 0xFF decode was never
// written; a byte equal in both was written. That makes reads of unwritten
// bytes visible without MemorySanitizer, and shows writes where nothing may
// be written (row padding, palette reserved bytes, the spare bytes after the
// palette, rows not reached).
//
// What is checked besides that: the result is one of 0, 1, 3, 4 and 8, and
// the one the header and the sizes call for; both blocks reach the caller
// with 0, 1 and 3 and neither otherwise, with nothing leaked; the block sizes
// and the bitmap header; progress calls 0, 1, 2, ... with the same last row;
// a stop at row k ends the decode right after row k's call; the pixels are
// those of a plain reference reading of the raster; the input is never
// written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/check.h"
#include "pxm/pxm.h"

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

uint32_t Get16(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
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

// The image as DecodePicture sees it: a heap block of exactly its length, so
// that a read past it is reported.
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
    PxmHeader header;
    int32_t early;     // the result before any decoding; -1 when both blocks come
    uint32_t bits;     // per pixel
    uint32_t palette;  // entries
    uint32_t infoSize; // bytes
    uint64_t stride;
    uint64_t pixelSize;
    uint64_t rowBytes; // pixel bytes of a row
    bool sizesFit;     // in the 32 bits of the DIB
};

Plan PlanOf(const uint8_t* image, size_t length)
{
    Plan plan = {};
    plan.early = -1;
    if (ParsePxmHeader(image, length, nullptr, 0, &plan.header) == 0) {
        plan.early = kPxmInternalError;
        return plan;
    }
    const PxmHeader& h = plan.header;
    const int group = (h.kind - 1) % 3;
    plan.bits = group == 0 ? 1 : group == 1 ? 8 : 24;
    plan.palette = group == 0 ? 2 : group == 1 ? 256 : 0;
    plan.infoSize = 44 + 4 * plan.palette;
    if (h.width < 0 || h.height < 0 || (h.width == 0 && h.height > kPxmMaxEmptyRows)) {
        plan.early = kPxmInternalError;
        return plan;
    }
    const uint64_t w = uint64_t(h.width);
    plan.rowBytes = group == 0 ? (w + 7) / 8 : group == 1 ? w : 3 * w;
    plan.stride = (w * plan.bits + 31) / 32 * 4;
    plan.pixelSize = plan.stride * uint64_t(h.height);
    plan.sizesFit = plan.stride <= uint64_t(INT32_MAX) && plan.pixelSize <= uint64_t(UINT32_MAX);
    if (!plan.sizesFit)
        plan.early = kPxmOutOfMemory;
    else if (plan.pixelSize > kBlockCap)
        plan.early = kPxmOutOfMemory; // the fuzzer's allocator refuses it
    return plan;
}

// ---- A plain reference reading of the raster -------------------------------

// The samples of an ASCII raster: tokens separated by space, carriage return
// and line feed, up to the first zero byte or the end.
struct Samples {
    const uint8_t* p;
    const uint8_t* end;
    const uint8_t* run; // rest of a PBM token of "0" and "1" characters
    const uint8_t* runEnd;
};

bool NextToken(Samples* s, const uint8_t** start, const uint8_t** stop)
{
    while (s->p != s->end && (*s->p == ' ' || *s->p == '\r' || *s->p == '\n'))
        ++s->p;
    if (s->p == s->end || *s->p == 0)
        return false;
    *start = s->p;
    while (s->p != s->end && *s->p != 0 && *s->p != ' ' && *s->p != '\r' && *s->p != '\n')
        ++s->p;
    *stop = s->p;
    return true;
}

// The leading decimal of a token, 0x09 to 0x0D and blanks skipped, one sign,
// wrapping in 32 bits.
uint32_t ValueOf(const uint8_t* p, const uint8_t* stop)
{
    while (p != stop && (*p == ' ' || (*p >= 0x09 && *p <= 0x0D)))
        ++p;
    bool negative = false;
    if (p != stop && (*p == '+' || *p == '-'))
        negative = *p++ == '-';
    uint32_t value = 0;
    while (p != stop && *p >= '0' && *p <= '9')
        value = value * 10u + uint32_t(*p++ - '0');
    return negative ? 0u - value : value;
}

// The values of the next pixel; false when the raster has no more.
bool NextPixel(Samples* s, PxmKind kind, uint32_t value[3])
{
    const uint8_t* start;
    const uint8_t* stop;
    if (kind == 1) {
        if (s->run != s->runEnd) {
            value[0] = *s->run++ & 1u;
            return true;
        }
        if (!NextToken(s, &start, &stop))
            return false;
        const uint8_t* q = start;
        while (q != stop && (*q == '0' || *q == '1'))
            ++q;
        if (q == stop) {
            value[0] = *start & 1u;
            s->run = start + 1;
            s->runEnd = stop;
        } else {
            value[0] = ValueOf(start, stop) & 1u;
        }
        return true;
    }
    const int count = kind == 2 ? 1 : 3;
    for (int i = 0; i < count; ++i) {
        if (!NextToken(s, &start, &stop))
            return false;
        value[i] = ValueOf(start, stop);
    }
    return true;
}

// What a decode should do: its result, the rows it reports and, for ASCII
// rasters, how many pixels it stores.
struct Outcome {
    int32_t result;
    int64_t reportedRows;
    uint64_t storedPixels; // ASCII kinds
};

Outcome OutcomeOf(const uint8_t* raster, size_t length, const Plan& plan, int32_t stopRow)
{
    const PxmKind kind = plan.header.kind;
    const uint64_t w = uint64_t(plan.header.width);
    const int64_t h = plan.header.height;
    // Rows that the data holds, and whether they fall short of the picture.
    int64_t rows;
    uint64_t available = 0;
    if (kind >= 4) {
        rows = plan.rowBytes == 0 ? h : int64_t(length / plan.rowBytes);
    } else {
        const uint64_t needed = w * uint64_t(h) > 0 ? w * uint64_t(h) : 1;
        Samples s = {raster, raster + length, nullptr, nullptr};
        uint32_t value[3];
        while (available < needed && NextPixel(&s, kind, value))
            ++available;
        // The first pixel is read ahead before any row, even for an empty
        // picture; each row is reported after the read of the next row's
        // first pixel.
        if (available == 0)
            return {kPxmCorrupted, 0, 0};
        if (w == 0 || available >= w * uint64_t(h))
            rows = h;
        else
            rows = int64_t((available - 1) / w);
    }
    if (rows > h)
        rows = h;
    Outcome outcome;
    if (stopRow >= 0 && stopRow < rows)
        outcome = {kPxmStopped, int64_t(stopRow) + 1, 0};
    else if (rows < h)
        outcome = {kPxmCorrupted, rows, 0};
    else
        outcome = {kPxmSuccess, h, 0};
    if (kind <= 3) {
        const uint64_t all = w * uint64_t(h);
        if (outcome.result == kPxmStopped)
            outcome.storedPixels = uint64_t(outcome.reportedRows) * w;
        else
            outcome.storedPixels = available < all ? available : all;
    }
    return outcome;
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
    a->blocks[n] = size > kBlockCap ? nullptr : malloc(size);
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
    void* const* info;
    void* const* pixels;
};

int32_t PXM_STDCALL OnProgress(int32_t row, int32_t lastRow, intptr_t hostValue)
{
    Watch* watch = reinterpret_cast<Watch*>(hostValue);
    CHECK(!watch->stopAsked);
    CHECK(row == watch->calls);
    CHECK(lastRow == watch->lastRow);
    // Both blocks are the caller's before the first row is decoded.
    CHECK(*watch->info != kUntouched && *watch->pixels != kUntouched);
    CHECK(Get32(static_cast<const uint8_t*>(*watch->info)) == 40);
    ++watch->calls;
    if (row == watch->stopRow) {
        watch->stopAsked = true;
        return 1;
    }
    return 0;
}

// ---- One decode ------------------------------------------------------------

struct Run {
    int32_t result;
    void* info;
    void* pixels;
    Allocations allocations;
    Watch watch;
    uint64_t hash;
};

// Eight bytes at a time: blocks of 64 MiB are read three times per input.
uint64_t Hash(uint64_t hash, const void* block, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(block);
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        memcpy(&word, p + i, 8);
        hash = (hash ^ word) * 0x100000001B3u;
    }
    for (; i < size; ++i)
        hash = (hash ^ p[i]) * 0x100000001B3u;
    return hash;
}

// Whether `size` bytes all hold `value`.
bool HoldsOnly(const uint8_t* p, uint64_t size, uint8_t value)
{
    return size == 0 || (p[0] == value && memcmp(p, p + 1, size_t(size) - 1) == 0);
}

void Decode(const uint8_t* image, size_t length, const Options& options, const Plan& plan,
            uint8_t fill, Run* run)
{
    run->info = kUntouched;
    run->pixels = kUntouched;
    run->allocations = {};
    run->allocations.fill = fill;
    // Progress comes only for a height of 0 or more; any other must not
    // overflow here.
    const int32_t lastRow = plan.header.height >= 0 ? plan.header.height - 1 : -1;
    run->watch = {lastRow, options.stopRow, 0, false, &run->info, &run->pixels};
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
    run->hash = 0xCBF29CE484222325u;
    if (r == kPxmSuccess || r == kPxmStopped || r == kPxmCorrupted) {
        CHECK(plan.early == -1);
        CHECK(a.requests == 2 && !a.released[0] && !a.released[1]);
        CHECK(run->info == a.blocks[0] && run->pixels == a.blocks[1]);
        CHECK(a.sizes[0] == plan.infoSize && a.sizes[1] == plan.pixelSize);
        // Every byte handed over is read once.
        run->hash = Hash(Hash(run->hash, run->info, a.sizes[0]), run->pixels, a.sizes[1]);
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

void Dispose(Run* run)
{
    if (run->info != kUntouched) {
        free(run->info);
        free(run->pixels);
    }
}

// ---- Checks of the blocks ----------------------------------------------------

// The information block: the header fields and the palette, written alike
// whatever the block held; reserved and spare bytes left alone.
void CheckInfo(const Run& zeros, const Run& ones, const Plan& plan)
{
    const uint8_t* a = static_cast<const uint8_t*>(zeros.info);
    const uint8_t* b = static_cast<const uint8_t*>(ones.info);
    CHECK(memcmp(a, b, 40) == 0);
    CHECK(Get32(a + 0) == 40);
    CHECK(Get32(a + 4) == uint32_t(plan.header.width));
    CHECK(Get32(a + 8) == uint32_t(plan.header.height));
    CHECK(Get16(a + 12) == 1);
    CHECK(Get16(a + 14) == plan.bits);
    CHECK(Get32(a + 16) == 0);
    CHECK(Get32(a + 20) == plan.pixelSize);
    CHECK(Get32(a + 20) == plan.stride * uint64_t(plan.header.height));
    CHECK(Get32(a + 24) == 0 && Get32(a + 28) == 0);
    CHECK(Get32(a + 32) == plan.palette);
    CHECK(Get32(a + 36) == 0);
    for (uint32_t i = 0; i < plan.palette; ++i) {
        const uint8_t* entryA = a + 40 + 4 * i;
        const uint8_t* entryB = b + 40 + 4 * i;
        const uint8_t grey = plan.palette == 2 ? (i == 0 ? 255 : 0) : uint8_t(i);
        for (int c = 0; c < 3; ++c)
            CHECK(entryA[c] == grey && entryB[c] == grey);
        CHECK(entryA[3] == 0x00 && entryB[3] == 0xFF);
    }
    const uint32_t spare = 40 + 4 * plan.palette;
    CHECK(spare + 4 == plan.infoSize);
    for (uint32_t i = spare; i < plan.infoSize; ++i)
        CHECK(a[i] == 0x00 && b[i] == 0xFF);
}

// Compares the stored pixels with the reference reading.
void CheckAsciiPixels(const uint8_t* block, const uint8_t* raster, size_t length, const Plan& plan,
                      uint64_t stored)
{
    const PxmKind kind = plan.header.kind;
    const uint64_t w = uint64_t(plan.header.width);
    const uint64_t h = uint64_t(plan.header.height);
    Samples s = {raster, raster + length, nullptr, nullptr};
    uint32_t value[3];
    for (uint64_t i = 0; i < stored; ++i) {
        CHECK(NextPixel(&s, kind, value));
        const uint64_t x = i % w;
        const uint8_t* row = block + (h - 1 - i / w) * plan.stride;
        if (kind == 1) {
            CHECK(((row[x / 8] >> (7 - x % 8)) & 1u) == value[0]);
        } else if (kind == 2) {
            CHECK(row[x] == uint8_t(value[0]));
        } else {
            CHECK(row[3 * x] == uint8_t(value[2]));
            CHECK(row[3 * x + 1] == uint8_t(value[1]));
            CHECK(row[3 * x + 2] == uint8_t(value[0]));
        }
    }
}

void CheckRawPixels(const uint8_t* block, const uint8_t* raster, const Plan& plan, int64_t rows)
{
    const uint64_t h = uint64_t(plan.header.height);
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t* source = raster + uint64_t(r) * plan.rowBytes;
        const uint8_t* row = block + (h - 1 - uint64_t(r)) * plan.stride;
        if (plan.header.kind == 6) {
            for (uint64_t i = 0; i < plan.rowBytes; i += 3) {
                CHECK(row[i] == source[i + 2]);
                CHECK(row[i + 1] == source[i + 1]);
                CHECK(row[i + 2] == source[i]);
            }
        } else {
            CHECK(memcmp(row, source, plan.rowBytes) == 0);
        }
    }
}

// Bytes of picture row r (from the top) that the reference reading writes.
uint64_t WrittenInRow(const Plan& plan, const Outcome& outcome, uint64_t r)
{
    if (plan.header.kind >= 4)
        return int64_t(r) < outcome.reportedRows ? plan.rowBytes : 0;
    const uint64_t w = uint64_t(plan.header.width);
    const uint64_t first = r * w;
    if (outcome.storedPixels <= first)
        return 0;
    const uint64_t pixels = outcome.storedPixels - first < w ? outcome.storedPixels - first : w;
    return plan.header.kind == 1 ? (pixels + 7) / 8 : plan.header.kind == 2 ? pixels : 3 * pixels;
}

// The pixel block: written bytes agree whatever the block held, unwritten
// ones keep the fill. `outcome.reportedRows` rows (from the top) are complete.
void CheckPixels(const Run& zeros, const Run& ones, const Plan& plan, const Outcome& outcome)
{
    const uint8_t* a = static_cast<const uint8_t*>(zeros.pixels);
    const uint8_t* b = static_cast<const uint8_t*>(ones.pixels);
    const uint64_t h = uint64_t(plan.header.height);
    // Rows of zero bytes hold nothing to look at, however many there are.
    if (plan.stride == 0)
        return;
    for (uint64_t r = 0; r < h; ++r) {
        const uint64_t at = (h - 1 - r) * plan.stride;
        // Independent of the reference: complete rows are written in full,
        // the padding of any row never.
        if (int64_t(r) < outcome.reportedRows)
            CHECK(memcmp(a + at, b + at, plan.rowBytes) == 0);
        const uint64_t padding = plan.stride - plan.rowBytes;
        CHECK(HoldsOnly(a + at + plan.rowBytes, padding, 0x00));
        CHECK(HoldsOnly(b + at + plan.rowBytes, padding, 0xFF));
        // By the reference: exactly the bytes of the stored pixels.
        const uint64_t written = WrittenInRow(plan, outcome, r);
        CHECK(memcmp(a + at, b + at, written) == 0);
        CHECK(HoldsOnly(a + at + written, plan.rowBytes - written, 0x00));
        CHECK(HoldsOnly(b + at + written, plan.rowBytes - written, 0xFF));
    }
}

// In a PBM row the bits after the last stored pixel, up to the end of its
// byte, are 0.
void CheckPbmTail(const uint8_t* block, const Plan& plan, const Outcome& outcome)
{
    const uint64_t storedPixels = outcome.storedPixels;
    const uint64_t w = uint64_t(plan.header.width);
    const uint64_t h = uint64_t(plan.header.height);
    for (uint64_t r = 0; r < h && r * w < storedPixels; ++r) {
        const uint64_t pixels = storedPixels - r * w < w ? storedPixels - r * w : w;
        const uint8_t* row = block + (h - 1 - r) * plan.stride;
        for (uint64_t x = pixels; x < WrittenInRow(plan, outcome, r) * 8; ++x)
            CHECK(((row[x / 8] >> (7 - x % 8)) & 1u) == 0);
    }
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

    Run zeros, again, ones;
    Decode(image, length, options, plan, 0x00, &zeros);
    Decode(image, length, options, plan, 0x00, &again);
    Decode(image, length, options, plan, 0xFF, &ones);
    CHECK(length == 0 || memcmp(image, pristine.data(), length) == 0);

    // The same bytes, the same decode.
    CHECK(again.result == zeros.result && ones.result == zeros.result);
    CHECK(again.watch.calls == zeros.watch.calls && ones.watch.calls == zeros.watch.calls);
    CHECK(again.watch.stopAsked == zeros.watch.stopAsked);
    CHECK(again.hash == zeros.hash);

    if (zeros.info != kUntouched) {
        CHECK(memcmp(zeros.info, again.info, plan.infoSize) == 0);
        CHECK(memcmp(zeros.pixels, again.pixels, plan.pixelSize) == 0);

        CHECK(ones.info != kUntouched && again.info != kUntouched);
        const uint8_t* raster = image + plan.header.dataOffset;
        const size_t rasterLength = length - size_t(plan.header.dataOffset);
        const Outcome outcome = OutcomeOf(raster, rasterLength, plan, options.stopRow);
        CHECK(zeros.result == outcome.result);
        if (options.withProgress) {
            CHECK(zeros.watch.calls == outcome.reportedRows);
            CHECK(zeros.watch.stopAsked == (zeros.result == kPxmStopped));
        }

        CheckInfo(zeros, ones, plan);
        CheckPixels(zeros, ones, plan, outcome);
        const uint8_t* block = static_cast<const uint8_t*>(zeros.pixels);
        if (plan.header.kind <= 3) {
            CheckAsciiPixels(block, raster, rasterLength, plan, outcome.storedPixels);
            if (plan.header.kind == 1)
                CheckPbmTail(block, plan, outcome);
        } else {
            CheckRawPixels(block, raster, plan, outcome.reportedRows);
        }
    }

    Dispose(&zeros);
    Dispose(&again);
    Dispose(&ones);
    delete[] image;
    return 0;
}
