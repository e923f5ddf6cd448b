// Inside the codec core: the raster decoder with its block width chosen by
// the caller, so that tests and fuzzers run both widths on every machine.
#pragma once

#include "pxm/samples.h"

// DecodeRaster of the pixel data that begins at data.next, with more to come
// from `source` when it is not null, the ASCII greymap and pixmap reader
// examining blocks of `blocks` bytes.
int32_t DecodeRasterFrom(PxmSource* source, PxmCursor data, PxmBlockWidth blocks,
                         uint8_t* destination, PxmProgress progress, intptr_t hostValue,
                         PxmKind kind, int32_t width, int32_t height, int32_t rowStride);

// DecodeRaster with the ASCII greymap and pixmap reader examining blocks of
// `blocks` bytes; DecodeRaster uses kPxmNativeBlocks.
int32_t DecodeRasterWith(PxmBlockWidth blocks, const uint8_t* source, size_t length,
                         uint8_t* destination, PxmProgress progress, intptr_t hostValue,
                         PxmKind kind, int32_t width, int32_t height, int32_t rowStride);
