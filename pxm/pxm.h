// pxm: the portable codec core of kelda.
//
// Reads PBM, PGM and PPM pictures (magics P1 to P6) and turns them into the
// rows of a bottom-up Windows DIB. No Windows types: it builds and runs on
// any system. Every function takes the length of its input and never reads
// past it; a zero byte ends the text of the header and of an ASCII raster,
// just as the end of the given bytes does. Nothing here writes to its input.
#pragma once

#include <cstddef>
#include <cstdint>

// The host's progress function uses the Windows calling convention on
// 32-bit x86 (the callee removes the arguments), so the core calls it with
// that convention there and needs no adapter.
#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define PXM_STDCALL __stdcall
#else
#define PXM_STDCALL
#endif

// The kind of a picture: the digit of its magic, 1 to 6; 0 means that the
// header is not recognised or not supported.
typedef int32_t PxmKind;

// Result codes, as the host understands them.
enum : int32_t {
    kPxmSuccess = 0,
    kPxmStopped = 1,         // the progress function asked to stop
    kPxmNotImplemented = -1, // previews
    kPxmCorrupted = 3,       // the raster ends before the last sample
    kPxmOutOfMemory = 4,     // an allocation failed, or a size does not fit
    kPxmReadError = 6,       // the named file cannot be opened or read
    kPxmInternalError = 8,   // unsupported header, impossible size or kind
};

// The lowest value that the probe takes for an address; below it, a value
// is a handle of the open file.
constexpr uintptr_t kPxmFirstAddress = 0x10000;

// How the probe reaches the first bytes of a file.
struct PxmProbeReader {
    // Reads up to `capacity` bytes from the handle's position into
    // `buffer`; returns the count read, 0 when the read fails.
    size_t (*readHandle)(uintptr_t handle, uint8_t* buffer, size_t capacity);
    // How many bytes, up to `wanted`, can be read from the address on.
    size_t (*readableAt)(uintptr_t address, size_t wanted);
};

// 1 when the data begin with a magic "P1" to "P6" followed at once by a
// line feed, or by a carriage return and a line feed; else 0. `source`
// below kPxmFirstAddress is a handle: up to 100 bytes are read from it, and
// its position stays after them. From kPxmFirstAddress on it is the address
// of the data, of which at most the 4 deciding bytes are read.
int32_t ProbePicture(uintptr_t source, const PxmProbeReader& reader);

struct PxmHeader {
    PxmKind kind;
    int32_t width;      // as read, not validated
    int32_t height;     // as read, not validated
    int32_t dataOffset; // first byte of the pixel data; never past the text
    // A read of the header ran into the end of the bytes given: when the
    // input goes on past them, more of it could change the answer.
    bool reachedEnd;
};

// Room for the comment text that the information query hands to the host.
constexpr int32_t kPxmCommentCapacity = 2000;

// Reads the header at the start of `length` bytes. Comment lines that fit are
// appended, each followed by a line feed, to the zero-terminated text in
// `comments` (`capacity` bytes; null with capacity 0 when unwanted). Returns
// the kind, which is also stored in `header`; 0 for a header that is not
// recognised, not supported, or ends before a needed part.
PxmKind ParsePxmHeader(const uint8_t* text, size_t length, char* comments,
                       int32_t capacity, PxmHeader* header);

// The host's progress function: called after each picture row with the row
// just converted, the index of the last row and the host's own value; a
// nonzero result asks the decoder to stop. May be null.
typedef int32_t(PXM_STDCALL* PxmProgress)(int32_t row, int32_t lastRow,
                                          intptr_t hostValue);

// Converts the pixel data of a picture (`length` bytes from `source`) into
// `height` bottom-up rows of `rowStride` bytes in `destination`, which must
// hold rowStride * height bytes. Returns 0, 1 (stopped), 3 (the data ran
// out) or 8 (kind outside 1 to 6). Every byte of the block is written: the
// padding after each row's pixels with zeros, and when the decode ends early
// (stopped, or the data ran out), whatever it did not reach as well, so that
// nothing the block held before reaches the host.
int32_t DecodeRaster(const uint8_t* source, size_t length,
                     uint8_t* destination, PxmProgress progress,
                     intptr_t hostValue, PxmKind kind, int32_t width,
                     int32_t height, int32_t rowStride);

// The shape of the DIB of a picture.
struct PxmDibLayout {
    int32_t bitsPerPixel;   // 1, 8 or 24
    int32_t paletteEntries; // 2, 256 or 0
    uint32_t infoSize;      // header + palette + 4 spare bytes: 52, 1068, 44
    int32_t rowStride;      // bytes per row, a multiple of 4
    uint32_t pixelSize;     // rowStride * height
};

// Most rows that a picture of width 0 may have. Its rows take no bytes of the
// data, so nothing else bounds their number, and each costs a progress call:
// a header of a few bytes could otherwise keep the host busy with billions.
constexpr int32_t kPxmMaxEmptyRows = 65535;

// Bits per pixel of a kind's DIB: 1 (PBM), 8 (PGM) or 24 (PPM); 0 for a kind
// outside 1 to 6.
int32_t PxmBitsPerPixel(PxmKind kind);

// A pixel block larger than kPxmLargeBlock bytes is allocated only for an
// input of at least 1/kPxmBlockPerInputByte of its size. A complete picture
// never needs more than about 4 bytes of block per byte of input (a raw
// bitmap one pixel wide), so this refuses only inputs that announce a huge
// picture and hold little of it, before the host is handed a block of
// gigabytes for a file of a few bytes.
constexpr uint64_t kPxmLargeBlock = uint64_t(64) << 20;
constexpr uint64_t kPxmBlockPerInputByte = 16;

// Every size of the DIB, checked once, before anything is allocated: 0 when
// all of them fit; 8 for a kind outside 1 to 6, a negative width or height,
// or a width of 0 with more than kPxmMaxEmptyRows rows; 4 when a byte count
// does not fit in 32 bits, or when the pixel block is larger than
// kPxmLargeBlock and more than kPxmBlockPerInputByte times `inputLength`,
// the length of the whole input.
int32_t PlanDib(const PxmHeader& header, uint64_t inputLength, PxmDibLayout* layout);

// Writes the bitmap header and the palette into an information block of
// layout.infoSize bytes: every byte, the palette's reserved bytes and the 4
// spare bytes after it as zeros.
void WriteDibInfo(uint8_t* info, const PxmHeader& header,
                  const PxmDibLayout& layout);

// Where the blocks handed to the host come from. `allocate` returns null
// when it cannot serve the request.
struct PxmAllocator {
    void* (*allocate)(size_t size);
    void (*release)(void* block);
};

// The whole picture path: parse, check sizes, allocate both DIB blocks, write
// the header and decode. `*info` and `*pixels` are written only once both
// blocks exist; with any result but 0, 1 and 3 nothing is allocated and
// neither is written.
int32_t DecodePicture(const uint8_t* image, size_t length,
                      const PxmAllocator& allocator, PxmProgress progress,
                      intptr_t hostValue, void** info, void** pixels);

// Input that arrives in pieces, as a file does when it is decoded as it is
// read. `read` puts the next bytes of the input into `buffer`, at most
// `capacity` of them, and returns their count: 0 at the end of the input,
// -1 when the read fails.
struct PxmStream {
    intptr_t (*read)(void* context, uint8_t* buffer, size_t capacity);
    void* context;
    size_t chunkSize;     // bytes asked of a read: the buffer that is reused
    uint64_t inputLength; // the length known beforehand (a file's size), for PlanDib
};

// Bytes of a read. Small enough that the heap serves the buffer from memory
// it keeps, not fresh pages (under Wine a read into a fresh 1 MiB buffer
// costs ten times one into a used one), and that what a read fills is still
// in the processor's caches when it is decoded; large enough that the reads
// cost little. 64 KiB measured best against 256 KiB and 1 MiB.
constexpr size_t kPxmChunkSize = size_t(64) << 10;

// DecodePicture on input read as it is decoded, the rows written straight
// into the pixel block: for the same bytes, the same result, blocks and
// progress calls, whatever the pieces. Reading stops when the decode does.
// A read that fails gives 6 (and a buffer that cannot be had 4): before the
// blocks exist nothing is allocated; after, both are released and `*info`
// and `*pixels` get back what they held.
int32_t DecodePictureStream(const PxmStream& stream, const PxmAllocator& allocator,
                            PxmProgress progress, intptr_t hostValue, void** info,
                            void** pixels);
