// The pictures that both benchmarks decode, made on the fly so that no large
// file lives in the repository. Portable C++17: the native benchmark and the
// Windows one share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct BenchPictureRecipe {
    std::string name; // short label for the table, e.g. "P2 CRLF"
    int kind;         // 1 to 6, the digit of the magic
    int width;
    int height;
    bool crlf;    // ASCII kinds: every line, the header's too, ends with CR LF
    bool pbmRuns; // P1: rows written as runs of "0"/"1" without blanks
};

struct BenchPicture {
    BenchPictureRecipe recipe;
    std::vector<uint8_t> bytes; // the whole file
    size_t dataOffset = 0;      // where the raster starts in `bytes`
    // What every decoder must produce, top row first, one byte per sample:
    // PBM 1 for black and 0 for white, PGM the grey, PPM red, green, blue.
    std::vector<uint8_t> samples;

    int64_t Pixels() const { return int64_t(recipe.width) * recipe.height; }
    int SamplesPerPixel() const { return recipe.kind % 3 == 0 ? 3 : 1; }
    // Bytes per row and in all of the bottom-up DIB that a decoder fills.
    size_t DibStride() const;
    size_t DibSize() const { return DibStride() * size_t(recipe.height); }
    // Samples in the DIB form, canonicalised as `samples` is, for checking.
    std::vector<uint8_t> SamplesFromDib(const uint8_t* dib) const;
};

// The benchmark's set: each raw kind at 6000 x 4000, and every ASCII kind
// with LF and with CR LF line ends at 20 MB of text or more (P1 both with
// blank-separated pixels and as runs). `scale` shrinks the heights for a
// quick look (1 is the real set).
std::vector<BenchPictureRecipe> BenchPictureRecipes(double scale);

// Whether a picture's name contains one of the comma-separated parts of
// `filter` (every name does when it is empty).
bool Wanted(const std::string& name, const std::string& filter);

// The picture with pseudo-random pixels fixed by the recipe. Samples of the
// ASCII kinds have 1, 2 or 3 digits in equal shares; lines are at most 70
// characters and every picture row starts a new line, as Netpbm writes them.
BenchPicture MakeBenchPicture(const BenchPictureRecipe& recipe);

// The reference copy: the picture's bytes copied into a block of the DIB's
// size, wrapping around (an ASCII text is longer than its DIB): every input
// byte read once, every block byte written at least once. What moving the
// bytes costs on this machine; a decoder may beat it, since it writes no
// more than the DIB and reads the input once.
void ReferenceCopy(const BenchPicture& picture, void* block);

// The DIB-shaped copy, the limit that the DIB's shape sets on a raw picture:
// its pixel bytes copied into a block of the DIB's size with the rows in
// reverse order, each row as the DIB holds it (blue before red for P6), the
// padding after each row left alone. Plain C++ without SIMD intrinsics. An
// ASCII text has no rows of pixel bytes to copy: false, nothing written.
bool DibShapedCopy(const BenchPicture& picture, void* block);

// The median of the times, and how far apart they are against it: a large
// spread means that other work on the machine got in the way.
double Median(std::vector<double> v);
double Spread(const std::vector<double>& v);

// The median with the lower and upper quartiles: the spread of paired ratios,
// which half of the rounds fall within.
struct Quartiles {
    double lower;
    double median;
    double upper;
};
Quartiles SummarizeQuartiles(std::vector<double> v);
