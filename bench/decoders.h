// The decoders that the native benchmark times on the same bytes: the
// reference copy, the DIB-shaped copy, kelda's core and the peers from other
// image libraries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/pictures.h"

class BenchDecoder {
public:
    virtual ~BenchDecoder() = default;
    virtual const char* Name() const = 0;
    // The reference copy moves bytes without decoding them: it is timed but
    // never checked.
    virtual bool HasPixels() const { return true; }
    // False for a picture that the decoder has no meaning for: the
    // DIB-shaped copy on an ASCII text. Such a picture gets no row.
    virtual bool Applies(const BenchPicture&) const { return true; }
    // Allocates the output, as a fresh block of the library's own kind, and
    // fills it. False when the library refuses or fails; the timed part.
    virtual bool Decode(const BenchPicture& picture) = 0;
    // Frees what the last Decode made; not timed.
    virtual void Release() = 0;
    // The last output in the canonical form of BenchPicture::samples.
    virtual std::vector<uint8_t> Samples(const BenchPicture& picture) const = 0;
};

// ReferenceCopy and DibShapedCopy into a fresh block of the DIB's size.
std::unique_ptr<BenchDecoder> MakeReferenceCopy();
std::unique_ptr<BenchDecoder> MakeDibShapedCopy();
// DecodePicture with malloc and free.
std::unique_ptr<BenchDecoder> MakeKelda();
// The peers, in the table's order.
std::vector<std::unique_ptr<BenchDecoder>> MakePeers();
// The peers' versions for the table's heading.
std::string PeerVersions();
