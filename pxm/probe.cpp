// The format probe: does a file begin with a magic "P1" to "P6" and a line
// end? The host hands over either a handle of the open file or the address
// of the file's first bytes; the value alone tells which.
#include "pxm/pxm.h"

namespace {

// Bytes the probe takes from a handle, however large the file.
constexpr size_t kProbeBytes = 100;

bool BeginsWithMagicLine(const uint8_t* data, size_t length)
{
    if (length < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '6')
        return false;
    if (data[2] == '\n')
        return true;
    return data[2] == '\r' && length >= 4 && data[3] == '\n';
}

} // namespace

int32_t ProbePicture(uintptr_t source, const PxmProbeReader& reader)
{
    // The lowest 64 KiB of an address space are never mapped, so a value
    // there is a handle; from 0x10000 on it is an address.
    if (source < kPxmFirstAddress) {
        uint8_t probe[kProbeBytes] = {};
        const size_t got = reader.readHandle(source, probe, kProbeBytes);
        return BeginsWithMagicLine(probe, got < kProbeBytes ? got : kProbeBytes) ? 1 : 0;
    }
    // At most the four bytes that decide, and only those that can be read.
    const size_t readable = reader.readableAt(source, 4);
    return BeginsWithMagicLine(reinterpret_cast<const uint8_t*>(source), readable < 4 ? readable : 4)
               ? 1
               : 0;
}
