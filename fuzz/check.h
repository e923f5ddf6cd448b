// Property checks of the fuzz targets: a broken property aborts with the file
// and line, which libFuzzer reports as a finding. Not assert(): the fuzz
// build defines NDEBUG.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void PropertyBroken(const char* file, int line, const char* what)
{
    fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    abort();
}

#define CHECK(condition)                                                                \
    do {                                                                                \
        if (!(condition))                                                               \
            PropertyBroken(__FILE__, __LINE__, #condition);                             \
    } while (0)
