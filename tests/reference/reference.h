// The reference raster decoder, for holding the fast one against it in the
// tests, the fuzzers and the benchmark. Not part of the plug-in.
#pragma once

#include "pxm/pxm.h"

int32_t DecodeRasterReference(const uint8_t* source, size_t length, uint8_t* destination,
                              PxmProgress progress, intptr_t hostValue, PxmKind kind,
                              int32_t width, int32_t height, int32_t rowStride);
