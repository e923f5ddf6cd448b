// The DIB that the host receives: its sizes, its header and palette, and the
// whole path from an image to both blocks.
#include <cstdlib>

#include "pxm/kinds.h"
#include "pxm/raster.h"

namespace {

constexpr uint32_t kBitmapInfoHeaderSize = 40;

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void PutColor(uint8_t* entry, uint8_t grey)
{
    entry[0] = grey; // blue
    entry[1] = grey; // green
    entry[2] = grey; // red
    entry[3] = 0;    // reserved
}

} // namespace

int32_t PxmBitsPerPixel(PxmKind kind)
{
    return FactsOf(kind).bitsPerPixel;
}

int32_t PlanDib(const PxmHeader& header, uint64_t inputLength, PxmDibLayout* layout)
{
    if (!IsPxmKind(header.kind))
        return kPxmInternalError;
    if (header.width < 0 || header.height < 0)
        return kPxmInternalError;
    if (header.width == 0 && header.height > kPxmMaxEmptyRows)
        return kPxmInternalError;
    const PxmKindFacts& facts = FactsOf(header.kind);
    const uint64_t rowStride = DibRowStride(header.kind, uint64_t(header.width));
    const uint64_t pixelSize = rowStride * uint64_t(header.height);
    if (rowStride > uint64_t(INT32_MAX) || pixelSize > uint64_t(UINT32_MAX) ||
        pixelSize > uint64_t(SIZE_MAX))
        return kPxmOutOfMemory;
    // pixelSize > 16 * inputLength, without the product.
    const uint64_t leastInput = (pixelSize + kPxmBlockPerInputByte - 1) / kPxmBlockPerInputByte;
    if (pixelSize > kPxmLargeBlock && inputLength < leastInput)
        return kPxmOutOfMemory;
    layout->bitsPerPixel = facts.bitsPerPixel;
    layout->paletteEntries = facts.paletteEntries;
    layout->infoSize = kBitmapInfoHeaderSize + 4 * uint32_t(facts.paletteEntries) + 4;
    layout->rowStride = int32_t(rowStride);
    layout->pixelSize = uint32_t(pixelSize);
    return kPxmSuccess;
}

void WriteDibInfo(uint8_t* info, const PxmHeader& header, const PxmDibLayout& layout)
{
    Put32(info + 0, kBitmapInfoHeaderSize);
    Put32(info + 4, uint32_t(header.width));
    Put32(info + 8, uint32_t(header.height)); // positive: bottom row first
    Put16(info + 12, 1);                      // planes
    Put16(info + 14, uint32_t(layout.bitsPerPixel));
    Put32(info + 16, 0); // BI_RGB
    Put32(info + 20, layout.pixelSize);
    Put32(info + 24, 0);
    Put32(info + 28, 0);
    Put32(info + 32, uint32_t(layout.paletteEntries));
    Put32(info + 36, 0);
    uint8_t* palette = info + kBitmapInfoHeaderSize;
    if (layout.paletteEntries == 2) {
        PutColor(palette, 255); // 0 is white in PBM
        PutColor(palette + 4, 0);
    } else {
        for (int32_t i = 0; i < layout.paletteEntries; ++i)
            PutColor(palette + 4 * i, uint8_t(i));
    }
    // The 4 spare bytes after the palette.
    Put32(palette + 4 * layout.paletteEntries, 0);
}

namespace {

// Both blocks for an accepted header, in the caller's variables once both
// exist, the information block written: 0, or the result that ends the
// call with nothing allocated and neither variable written.
int32_t HandOverDib(const PxmHeader& header, uint64_t inputLength, const PxmAllocator& allocator,
                    PxmDibLayout* planned, void** info, void** pixels)
{
    PxmDibLayout& layout = *planned;
    const int32_t result = PlanDib(header, inputLength, &layout);
    if (result != kPxmSuccess)
        return result;
    void* infoBlock = allocator.allocate(layout.infoSize);
    if (infoBlock == nullptr)
        return kPxmOutOfMemory;
    void* pixelBlock = allocator.allocate(layout.pixelSize);
    if (pixelBlock == nullptr) {
        allocator.release(infoBlock);
        return kPxmOutOfMemory;
    }
    *info = infoBlock;
    *pixels = pixelBlock;
    WriteDibInfo(static_cast<uint8_t*>(infoBlock), header, layout);
    return kPxmSuccess;
}

} // namespace

int32_t DecodePicture(const uint8_t* image, size_t length, const PxmAllocator& allocator,
                      PxmProgress progress, intptr_t hostValue, void** info, void** pixels)
{
    PxmHeader header;
    if (ParsePxmHeader(image, length, nullptr, 0, &header) == 0)
        return kPxmInternalError;
    PxmDibLayout layout;
    const int32_t handedOver = HandOverDib(header, length, allocator, &layout, info, pixels);
    if (handedOver != kPxmSuccess)
        return handedOver;
    const size_t offset = size_t(header.dataOffset);
    return DecodeRaster(image + offset, length - offset, static_cast<uint8_t*>(*pixels), progress,
                        hostValue, header.kind, header.width, header.height, layout.rowStride);
}

int32_t DecodePictureStream(const PxmStream& stream, const PxmAllocator& allocator,
                            PxmProgress progress, intptr_t hostValue, void** info, void** pixels)
{
    PxmSource source = {&stream, nullptr, stream.chunkSize > 0 ? stream.chunkSize : 1, false, 0};
    source.buffer = static_cast<uint8_t*>(malloc(source.capacity));
    if (source.buffer == nullptr)
        return kPxmOutOfMemory;
    PxmCursor window = {source.buffer, source.buffer};

    // The header from the first read, and from more while a read of it runs
    // into the end of what is in: the answer must be the one that the whole
    // input gives.
    PxmHeader header;
    bool more = RefillWindow(&source, &window);
    for (;;) {
        const size_t inWindow = size_t(window.end - window.next);
        ParsePxmHeader(window.next, inWindow, nullptr, 0, &header);
        if (!header.reachedEnd || !more || inWindow > kPxmMaxHeaderText)
            break;
        more = RefillWindow(&source, &window);
    }

    int32_t result;
    if (source.failure != 0) {
        result = source.failure;
    } else if (header.kind == 0) {
        result = kPxmInternalError;
    } else {
        void* const heldInfo = *info;
        void* const heldPixels = *pixels;
        PxmDibLayout layout;
        result = HandOverDib(header, stream.inputLength, allocator, &layout, info, pixels);
        if (result == kPxmSuccess) {
            window.next += header.dataOffset;
            result = DecodeRasterFrom(&source, window, kPxmNativeBlocks,
                                      static_cast<uint8_t*>(*pixels), progress, hostValue,
                                      header.kind, header.width, header.height,
                                      layout.rowStride);
            if (source.failure != 0) {
                // The picture could not be read: nothing of it is handed over.
                allocator.release(*info);
                allocator.release(*pixels);
                *info = heldInfo;
                *pixels = heldPixels;
                result = source.failure;
            }
        }
    }
    free(source.buffer);
    return result;
}
