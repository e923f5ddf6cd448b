// Inside the codec core: input that the decoders read as it arrives, held a
// window at a time in one buffer that is reused.
#pragma once

#include "pxm/text.h"

struct PxmSource {
    const PxmStream* stream; // where the bytes come from
    uint8_t* buffer;         // from the run-time heap; the window lies in it
    size_t capacity;
    bool ended;              // the stream has given its last byte
    int32_t failure;         // 0; or 6, a read failed; or 4, the buffer could not grow
};

// Keeps the bytes of the window from its `next` on and appends the next
// bytes of the stream after them; `window` then covers them all, `next` at
// the first kept byte. The kept bytes may move to the start of the buffer,
// and the buffer grows when they fill it. True when bytes came. False at the
// end of the stream, when a read fails or the buffer cannot grow: the window
// may still have moved, so a caller looks at it afresh either way.
bool RefillWindow(PxmSource* source, PxmCursor* window);

// More bytes for a decoder's window: never any for an input all in memory
// (no source).
inline bool MoreInput(PxmSource* source, PxmCursor* window)
{
    return source != nullptr && RefillWindow(source, window);
}
