// Loading a picture for the exports: a named file, or the host's memory image
// bounded by the length the host gives and by the memory that can actually
// be read from its address on.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "pxm/pxm.h"

// The longest input the plug-in takes, from a file or from memory: the
// 32-bit plug-in keeps below 2 GiB, what its address space can hold beside
// a DIB; the 64-bit one is bounded by its memory alone.
constexpr size_t kMaxInputBytes = sizeof(void*) == 4 ? size_t(INT32_MAX) - 1 : SIZE_MAX / 2;

// How many bytes, up to `wanted`, can be read from `address` on: the run of
// committed, readable pages that starts there.
size_t ReadableLength(const void* address, size_t wanted);

// The bytes of the host's memory image that may be read, up to `wanted`: at
// most `hostLength` when the host gives a positive one (hosts pass the size
// of the image there), and never more than can be read from its address.
size_t MemoryImageLength(const void* image, LONG_PTR hostLength, size_t wanted);

// Opens a named file for reading, with no sharing restriction. Returns
// INVALID_HANDLE_VALUE when it cannot be opened (a directory included).
HANDLE OpenPicture(const char* name);
HANDLE OpenPictureW(const wchar_t* name);

// Reads up to `capacity` bytes from the file's current position into
// `buffer`, and the count read into `*got`: less than `capacity` only at the
// end of the file. False when a read fails (an I/O error, a network share
// that drops): the end of the file is no failure.
bool ReadUpTo(HANDLE file, uint8_t* buffer, size_t capacity, size_t* got);

// The open file as the stream that the decoder reads as it goes, from the
// file's current position (its first byte, for a file just opened). 0; 6
// when the file is not open (INVALID_HANDLE_VALUE) or its size cannot be
// taken; 4 when it is larger than the plug-in takes. A file that changes
// size while it is read is read as far as it goes.
int32_t FileStream(HANDLE file, PxmStream* stream);
