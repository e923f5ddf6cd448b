// The header as the format's traditional reader takes it, for holding
// ParsePxmHeader against it in the tests and fuzzers. Not part of the
// plug-in.
#pragma once

#include "pxm/pxm.h"

struct ReferenceHeader {
    PxmKind kind;
    bool sizeRead;      // width and height were read (else they are not set)
    int32_t width;
    int32_t height;
    int32_t dataOffset; // 0 when the kind is 0 for want of a token
};

// Reads the header at the start of `length` bytes as the traditional reader
// does: over a copy with zero bytes after it, cutting its tokens in place.
ReferenceHeader ReadReferenceHeader(const uint8_t* bytes, size_t length);
