// Input read as it is decoded: one buffer, refilled from the stream, with
// the bytes that a reader still needs (a token or a row cut by the end of a
// read, or a header not yet whole) kept.
#include "pxm/source.h"

#include <cstdlib>
#include <cstring>

bool RefillWindow(PxmSource* source, PxmCursor* window)
{
    if (source->ended || source->failure != 0)
        return false;
    const size_t kept = size_t(window->end - window->next);
    const size_t before = size_t(window->next - source->buffer);
    size_t room = source->capacity - size_t(window->end - source->buffer);
    // The bytes before the kept ones are done with: reclaim them once they
    // are more than the room after the window, so that however short the
    // reads, bytes are moved no more often than the buffer fills.
    if (before != 0 && room < before) {
        memmove(source->buffer, window->next, kept);
        *window = {source->buffer, source->buffer + kept};
        room = source->capacity - kept;
    }
    if (room == 0) {
        // What is kept fills the buffer: a token, a row or a header longer
        // than a read. Twice the room.
        const size_t grown = source->capacity * 2;
        uint8_t* larger = grown > source->capacity
                              ? static_cast<uint8_t*>(realloc(source->buffer, grown))
                              : nullptr;
        if (larger == nullptr) {
            source->failure = kPxmOutOfMemory;
            return false;
        }
        source->buffer = larger;
        source->capacity = grown;
        *window = {larger, larger + kept};
        room = grown - kept;
    }
    uint8_t* const end = source->buffer + (window->end - source->buffer);
    const intptr_t got = source->stream->read(source->stream->context, end, room);
    if (got < 0 || size_t(got) > room) {
        source->failure = kPxmReadError;
        return false;
    }
    if (got == 0) {
        source->ended = true;
        return false;
    }
    window->end += got;
    return true;
}
