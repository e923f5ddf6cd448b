#include "bench/pictures.h"

#include <algorithm>
#include <cstring>

#include <cmath>

namespace {

// xorshift64*: fast and the same on every compiler, so both benchmarks and
// every run decode the very same bytes.
struct Random {
    uint64_t state;
    uint32_t Next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return uint32_t((state * 0x2545F4914F6CDD1DULL) >> 32);
    }
};

constexpr int kLineLimit = 70;

class TextWriter {
public:
    TextWriter(std::vector<uint8_t>* out, bool crlf) : out_(out), crlf_(crlf) {}

    void Text(const char* s)
    {
        while (*s)
            out_->push_back(uint8_t(*s++));
    }
    void EndLine()
    {
        if (crlf_)
            out_->push_back('\r');
        out_->push_back('\n');
        column_ = 0;
    }
    // A token after a blank, or on a new line when it would pass the limit.
    void Token(const char* s, int length)
    {
        if (column_ > 0 && column_ + 1 + length > kLineLimit)
            EndLine();
        if (column_ > 0) {
            out_->push_back(' ');
            ++column_;
        }
        out_->insert(out_->end(), s, s + length);
        column_ += length;
    }
    // One character of a run: runs are cut only by the line limit.
    void RunCharacter(char c)
    {
        if (column_ == kLineLimit)
            EndLine();
        out_->push_back(uint8_t(c));
        ++column_;
    }

private:
    std::vector<uint8_t>* out_;
    bool crlf_;
    int column_ = 0;
};

int Digits(uint8_t v, char* s)
{
    if (v >= 100) {
        s[0] = char('0' + v / 100);
        s[1] = char('0' + v / 10 % 10);
        s[2] = char('0' + v % 10);
        return 3;
    }
    if (v >= 10) {
        s[0] = char('0' + v / 10);
        s[1] = char('0' + v % 10);
        return 2;
    }
    s[0] = char('0' + v);
    return 1;
}

void WriteAsciiRaster(BenchPicture* picture)
{
    const BenchPictureRecipe& recipe = picture->recipe;
    TextWriter writer(&picture->bytes, recipe.crlf);
    const size_t rowSamples = size_t(recipe.width) * size_t(picture->SamplesPerPixel());
    const uint8_t* sample = picture->samples.data();
    char digits[3];
    for (int y = 0; y < recipe.height; ++y) {
        for (size_t i = 0; i < rowSamples; ++i, ++sample) {
            if (recipe.kind == 1 && recipe.pbmRuns)
                writer.RunCharacter(char('0' + *sample));
            else
                writer.Token(digits, Digits(*sample, digits));
        }
        writer.EndLine();
    }
}

void WriteRawRaster(BenchPicture* picture)
{
    const BenchPictureRecipe& recipe = picture->recipe;
    std::vector<uint8_t>& out = picture->bytes;
    if (recipe.kind != 4) {
        out.insert(out.end(), picture->samples.begin(), picture->samples.end());
        return;
    }
    const uint8_t* bit = picture->samples.data();
    for (int y = 0; y < recipe.height; ++y) {
        for (int x = 0; x < recipe.width; x += 8) {
            uint8_t packed = 0;
            for (int b = 0; b < 8; ++b)
                if (x + b < recipe.width && *bit++ != 0)
                    packed = uint8_t(packed | (0x80 >> b));
            out.push_back(packed);
        }
    }
}

} // namespace

size_t BenchPicture::DibStride() const
{
    const int bits = recipe.kind % 3 == 1 ? 1 : recipe.kind % 3 == 2 ? 8 : 24;
    return (size_t(recipe.width) * size_t(bits) + 31) / 32 * 4;
}

std::vector<uint8_t> BenchPicture::SamplesFromDib(const uint8_t* dib) const
{
    const int n = SamplesPerPixel();
    std::vector<uint8_t> out(size_t(Pixels()) * size_t(n));
    uint8_t* o = out.data();
    for (int y = 0; y < recipe.height; ++y) {
        const uint8_t* row = dib + size_t(recipe.height - 1 - y) * DibStride();
        for (int x = 0; x < recipe.width; ++x) {
            if (recipe.kind % 3 == 1) {
                *o++ = uint8_t((row[x >> 3] >> (7 - (x & 7))) & 1);
            } else if (n == 1) {
                *o++ = row[x];
            } else {
                *o++ = row[3 * size_t(x) + 2];
                *o++ = row[3 * size_t(x) + 1];
                *o++ = row[3 * size_t(x)];
            }
        }
    }
    return out;
}

std::vector<BenchPictureRecipe> BenchPictureRecipes(double scale)
{
    // Heights chosen so that each ASCII text is a little over 20 MB:
    // blank-separated samples average 3 bytes (2 digits and a blank),
    // runs 1 byte per pixel, blank-separated PBM pixels 2.
    std::vector<BenchPictureRecipe> recipes = {
        {"P1 LF", 1, 4000, 3000, false, false},
        {"P1 CRLF", 1, 4000, 3000, true, false},
        {"P1 runs LF", 1, 6000, 4000, false, true},
        {"P1 runs CRLF", 1, 6000, 4000, true, true},
        {"P2 LF", 2, 3000, 2500, false, false},
        {"P2 CRLF", 2, 3000, 2500, true, false},
        {"P3 LF", 3, 2000, 1250, false, false},
        {"P3 CRLF", 3, 2000, 1250, true, false},
        {"P4", 4, 6000, 4000, false, false},
        {"P5", 5, 6000, 4000, false, false},
        {"P6", 6, 6000, 4000, false, false},
    };
    for (BenchPictureRecipe& recipe : recipes) {
        const int height = int(std::lround(recipe.height * scale));
        recipe.height = height < 1 ? 1 : height;
    }
    return recipes;
}

bool Wanted(const std::string& name, const std::string& filter)
{
    size_t from = 0;
    do {
        const size_t comma = filter.find(',', from);
        const size_t length = comma == std::string::npos ? comma : comma - from;
        if (name.find(filter.substr(from, length)) != std::string::npos)
            return true;
        from = comma == std::string::npos ? comma : comma + 1;
    } while (from != std::string::npos);
    return false;
}

BenchPicture MakeBenchPicture(const BenchPictureRecipe& recipe)
{
    BenchPicture picture;
    picture.recipe = recipe;
    Random random = {0x9E3779B97F4A7C15ULL ^ (uint64_t(recipe.kind) << 40) ^
                     (uint64_t(recipe.width) << 20) ^ uint64_t(recipe.height) ^
                     (recipe.crlf ? 1ULL << 60 : 0) ^ (recipe.pbmRuns ? 1ULL << 61 : 0)};
    picture.samples.resize(size_t(picture.Pixels()) * size_t(picture.SamplesPerPixel()));
    for (uint8_t& s : picture.samples) {
        const uint32_t r = random.Next();
        if (recipe.kind % 3 == 1) {
            s = uint8_t(r & 1);
        } else if (recipe.kind > 3) {
            s = uint8_t(r);
        } else {
            // One, two or three digits, equally often.
            const uint32_t digits = (r >> 16) % 3;
            s = uint8_t(digits == 0 ? r % 10 : digits == 1 ? 10 + r % 90 : 100 + r % 156);
        }
    }

    TextWriter header(&picture.bytes, recipe.kind <= 3 && recipe.crlf);
    char magic[3] = {'P', char('0' + recipe.kind), 0};
    header.Text(magic);
    header.EndLine();
    header.Text((std::to_string(recipe.width) + " " + std::to_string(recipe.height)).c_str());
    header.EndLine();
    if (recipe.kind % 3 != 1) {
        header.Text("255");
        header.EndLine();
    }
    picture.dataOffset = picture.bytes.size();
    const size_t text = recipe.kind <= 3 ? picture.samples.size() * (recipe.pbmRuns ? 1 : 3) : 0;
    picture.bytes.reserve(picture.bytes.size() + text + text / 16 + size_t(picture.Pixels()));
    if (recipe.kind <= 3)
        WriteAsciiRaster(&picture);
    else
        WriteRawRaster(&picture);
    return picture;
}

void ReferenceCopy(const BenchPicture& picture, void* block)
{
    const size_t size = picture.DibSize();
    uint8_t* to = static_cast<uint8_t*>(block);
    const uint8_t* from = picture.bytes.data();
    size_t left = picture.bytes.size();
    while (left > 0 && size > 0) {
        const size_t n = left < size ? left : size;
        memcpy(to, from, n);
        from += n;
        left -= n;
    }
}

namespace {

uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

void Store32(uint8_t* p, uint32_t v)
{
    memcpy(p, &v, 4);
}

uint32_t ReverseBytes(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// One row of red-green-blue pixels as blue-green-red, four pixels (twelve
// bytes) a step: each pixel loaded as a little-endian word and its bytes
// reversed, which puts blue, green, red in the low three; then the four are
// packed back into three words. Of the variants tried (byte by byte, three
// words shuffled by masks, eight pixels in 64-bit words) this was the
// fastest, by a little, with g++ natively and with mingw-w64 for 64-bit
// Windows; all of them take a fraction of the time that the fresh block's
// pages cost.
void SwapRow(const uint8_t* from, uint8_t* to, size_t pixels)
{
    size_t i = 0;
    for (; i + 4 <= pixels; i += 4, from += 12, to += 12) {
        const uint32_t p0 = ReverseBytes(Load32(from)) >> 8;
        const uint32_t p1 = ReverseBytes(Load32(from + 3)) >> 8;
        const uint32_t p2 = ReverseBytes(Load32(from + 6)) >> 8;
        // The last word starts a byte early, so as not to read past the row.
        const uint32_t p3 = ReverseBytes(Load32(from + 8)) & 0xFFFFFFu;
        Store32(to, p0 | (p1 << 24));
        Store32(to + 4, (p1 >> 8) | (p2 << 16));
        Store32(to + 8, (p2 >> 16) | (p3 << 8));
    }
    for (; i < pixels; ++i, from += 3, to += 3) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
    }
}

} // namespace

bool DibShapedCopy(const BenchPicture& picture, void* block)
{
    const BenchPictureRecipe& recipe = picture.recipe;
    if (recipe.kind <= 3)
        return false;
    const size_t width = size_t(recipe.width);
    const size_t rowBytes =
        recipe.kind == 4 ? (width + 7) / 8 : width * size_t(picture.SamplesPerPixel());
    const size_t stride = picture.DibStride();
    const uint8_t* from = picture.bytes.data() + picture.dataOffset;
    uint8_t* to = static_cast<uint8_t*>(block) + stride * size_t(recipe.height);
    for (int y = 0; y < recipe.height; ++y, from += rowBytes) {
        to -= stride;
        if (recipe.kind == 6)
            SwapRow(from, to, width);
        else
            memcpy(to, from, rowBytes);
    }
    return true;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Spread(const std::vector<double>& v)
{
    const auto [low, high] = std::minmax_element(v.begin(), v.end());
    return (*high - *low) / Median(v);
}

Quartiles SummarizeQuartiles(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    // Linear between the two nearest ranks, as spreadsheets do.
    auto at = [&v](double q) {
        const double rank = q * double(v.size() - 1);
        const size_t below = size_t(rank);
        const size_t above = below + 1 < v.size() ? below + 1 : below;
        return v[below] + (rank - double(below)) * (v[above] - v[below]);
    };
    if (v.empty())
        return {0, 0, 0};
    return {at(0.25), at(0.5), at(0.75)};
}
