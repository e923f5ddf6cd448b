// Loading a picture for the exports: a named file, or the host's memory image
// bounded by the memory that can actually be read from its address on.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The longest input the plug-in takes, from a file or from memory.
constexpr size_t kMaxInputBytes = size_t(INT32_MAX) - 1;

// How many bytes, up to `wanted`, can be read from `address` on: the run of
// committed, readable pages that starts there. The host passes no length
// with a memory image, so this is the only bound there is.
size_t ReadableLength(const void* address, size_t wanted);

// Opens a named file for reading, with no sharing restriction. Returns
// INVALID_HANDLE_VALUE when it cannot be opened (a directory included).
HANDLE OpenPicture(const char* name);
HANDLE OpenPictureW(const wchar_t* name);

// Reads up to `capacity` bytes from the file's current position; returns the
// count actually read.
size_t ReadUpTo(HANDLE file, uint8_t* buffer, size_t capacity);

// Reads a whole file into a buffer from the run-time heap and closes it.
// Result 0 with the buffer and the count of bytes read; 6 when the file is
// not open (INVALID_HANDLE_VALUE) or its size cannot be taken; 4 when it is
// too large or the buffer cannot be had.
int32_t LoadPicture(HANDLE file, uint8_t** buffer, size_t* length);
