// Inside the codec core: the raster decoder with its block width chosen by
// the caller, so that tests and fuzzers run both widths on every machine.
#pragma once

#include "pxm/samples.h"

// DecodeRaster with the ASCII greymap and pixmap reader examining blocks of
// `blocks` bytes; DecodeRaster uses kPxmNativeBlocks.
int32_t DecodeRasterWith(PxmBlockWidth blocks, const uint8_t* source, size_t length,
                         uint8_t* destination, PxmProgress progress, intptr_t hostValue,
                         PxmKind kind, int32_t width, int32_t height, int32_t rowStride);
