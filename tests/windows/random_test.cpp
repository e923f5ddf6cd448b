// A randomized run through the exports, as a viewer calls them: pictures of
// the fuzz seed corpus, mutated as a fuzzer mutates its inputs, go through
// IsSupported, GetPictureInfo and GetPicture from a file, from a heap block
// of exactly their size and from a memory image that ends right before a
// no-access page. Every answer is held against what a host relies on: the
// allowed result codes, the handle variables and the record left alone on a
// refusal, blocks of the documented sizes that LocalFree takes, the host's
// memory image unchanged, progress calls in order up to a stop, the same
// answer from a file and from memory, the same shape from GetPictureInfo and
// GetPicture. The libFuzzer targets reach only the codec core; this reaches
// the Windows glue: loading from files and memory, handles, local blocks.
//
//   plugin_random [--seed N] [--seconds S] [--iterations K] [--iteration K]
//                 [--input FILE] CORPUS_DIRECTORY...
//
// The run takes iterations 0, 1, 2, ... until S seconds of wall time have
// passed (45 by default, as the build sets it) or K iterations are done:
// first every corpus picture as it is, then mutations of them. The seed (1
// by default) is printed first; KELDA_RANDOM_SEED and KELDA_RANDOM_SECONDS
// in the environment change the defaults, the options change both. Each iteration draws its input and its
// calls from random streams of its own, so `--iteration K` replays iteration
// K alone, and `--input FILE` puts a saved input through the calls of
// iteration K. On a failure, a crash or an iteration that does not finish,
// the program prints the seed, the iteration and the input, writes the
// input to random-failure-SEED-ITERATION.pnm in the current folder and
// exits non-zero. Copied into fuzz/regressions/, the input becomes a
// regression case that every run starts with.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/windows/host.h"

namespace {

// ---- Where the run is, for the reports -----------------------------------

// What a crash or a hang reports; written by the main thread before every
// call, read by the exception handler and the watchdog.
struct Whereabouts {
    uint64_t seed;
    long long iteration;
    const char* call;   // the export being called; null between calls
    const char* source; // where its picture comes from
    const std::string* input;
    volatile LONG iterationStart; // GetTickCount at the start of the iteration
    volatile LONG running;        // 1 while an iteration runs
};
Whereabouts g_where = {1, -1, nullptr, "", nullptr, 0, 0};

// An iteration that takes longer than this is a hang.
constexpr DWORD kHangMilliseconds = 60000;

// Writes text to the standard error without the run-time library, which a
// crashed call may have left locked.
void RawReport(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, DWORD(strlen(text)), &written, nullptr);
}

// Saves the input as a regression case in the current folder; the file's
// full name goes into `path` (empty when it cannot be written).
void SaveInput(const std::string& input, uint64_t seed, long long iteration, char* path, size_t capacity)
{
    char name[96];
    snprintf(name, sizeof name, "random-failure-%llu-%lld.pnm", (unsigned long long)seed, iteration);
    path[0] = 0;
    HANDLE f = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    const BOOL ok = input.empty() || WriteFile(f, input.data(), DWORD(input.size()), &written, nullptr);
    CloseHandle(f);
    if (ok)
        GetFullPathNameA(name, DWORD(capacity), path, nullptr);
}

// The lines that make a failure replayable, for a report that is ending
// the program.
void ReportReplay(const char* what)
{
    char path[MAX_PATH + 1] = "";
    if (g_where.input != nullptr)
        SaveInput(*g_where.input, g_where.seed, g_where.iteration, path, sizeof path);
    char text[1024 + MAX_PATH];
    snprintf(text, sizeof text,
             "plugin_random: %s in %s from %s: seed %llu, iteration %lld\n"
             "plugin_random: input of %u bytes written to %s\n"
             "plugin_random: replay with --seed %llu --iteration %lld\n",
             what, g_where.call != nullptr ? g_where.call : "the test between calls", g_where.source,
             (unsigned long long)g_where.seed, g_where.iteration,
             g_where.input != nullptr ? unsigned(g_where.input->size()) : 0u, path[0] ? path : "(nothing)",
             (unsigned long long)g_where.seed, g_where.iteration);
    RawReport(text);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* e)
{
    const DWORD code = e->ExceptionRecord->ExceptionCode;
    // Only errors: Wine and the run-time library raise informational
    // exceptions (debug output, thread names) that are no crash.
    if ((code >> 30) != 3)
        return EXCEPTION_CONTINUE_SEARCH;
    char what[160];
    snprintf(what, sizeof what, "crash: exception %08lX at %p", (unsigned long)code,
             e->ExceptionRecord->ExceptionAddress);
    ReportReplay(what);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        Sleep(1000);
        if (g_where.running && GetTickCount() - DWORD(g_where.iterationStart) > kHangMilliseconds) {
            char what[96];
            snprintf(what, sizeof what, "hang: no answer for %lu s", (unsigned long)(kHangMilliseconds / 1000));
            ReportReplay(what);
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
}

// ---- Random numbers -------------------------------------------------------

// SplitMix64: small, fast, and the same everywhere.
struct Random {
    uint64_t state;
};

uint64_t Next(Random* r)
{
    uint64_t z = (r->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t Below(Random* r, size_t n)
{
    return n == 0 ? 0 : uint32_t(Next(r) % n);
}

bool OneIn(Random* r, uint32_t n)
{
    return Below(r, n) == 0;
}

// The streams of one iteration: 0 makes its input, 1 its calls.
Random Stream(uint64_t seed, long long iteration, uint64_t which)
{
    Random r = {seed ^ (uint64_t(iteration) * 0xD1B54A32D192ED03ull) ^ (which << 62)};
    Next(&r);
    return r;
}

// ---- Mutations ------------------------------------------------------------

constexpr size_t kMaxInput = 1 << 20;

struct Corpus {
    std::vector<std::string> names;
    std::vector<std::string> pictures;
};

// Bytes that matter to the format: digits, every delimiter, the comment
// mark, signs, the magic's letter, a zero byte and bytes with the top bit.
const char kTelling[] = "0123456789 \n\r\t\v\f#-+P\0\xff\x80";

char TellingByte(Random* r)
{
    return kTelling[Below(r, sizeof kTelling - 1)];
}

// Most positions in the header, where a changed byte changes most.
size_t Position(const std::string& d, Random* r)
{
    if (OneIn(r, 2))
        return Below(r, std::min<size_t>(d.size(), 24) + 1);
    return Below(r, d.size() + 1);
}

// Short ranges mostly, now and then a long one.
size_t RangeLength(Random* r, size_t most)
{
    if (most == 0)
        return 0;
    const size_t longest = OneIn(r, 4) ? most : std::min<size_t>(most, 8);
    return 1 + Below(r, longest);
}

// Offset just after the n-th line feed (n from 1), or the end.
size_t AfterLine(const std::string& d, int n)
{
    size_t at = 0;
    for (int i = 0; i < n; ++i) {
        const size_t lf = d.find('\n', at);
        if (lf == std::string::npos)
            return d.size();
        at = lf + 1;
    }
    return at;
}

void FlipBit(std::string* d, Random* r, const Corpus&)
{
    if (d->empty())
        return;
    const size_t at = std::min(Position(*d, r), d->size() - 1);
    (*d)[at] = char((*d)[at] ^ (1 << Below(r, 8)));
}

void SetByte(std::string* d, Random* r, const Corpus&)
{
    if (d->empty())
        return;
    const size_t at = std::min(Position(*d, r), d->size() - 1);
    (*d)[at] = OneIn(r, 2) ? TellingByte(r) : char(Below(r, 256));
}

void InsertBytes(std::string* d, Random* r, const Corpus&)
{
    const size_t at = Position(*d, r);
    const size_t n = OneIn(r, 4) ? 1 + Below(r, 256) : 1 + Below(r, 8);
    std::string bytes;
    const bool telling = OneIn(r, 2);
    for (size_t i = 0; i < n; ++i)
        bytes += telling ? TellingByte(r) : char(Below(r, 256));
    d->insert(at, bytes);
}

void RemoveRange(std::string* d, Random* r, const Corpus&)
{
    if (d->empty())
        return;
    const size_t at = std::min(Position(*d, r), d->size() - 1);
    d->erase(at, RangeLength(r, d->size() - at));
}

void DuplicateRange(std::string* d, Random* r, const Corpus&)
{
    if (d->empty())
        return;
    const size_t from = Below(r, d->size());
    const std::string range = d->substr(from, RangeLength(r, d->size() - from));
    d->insert(Position(*d, r), range);
}

void Cut(std::string* d, Random* r, const Corpus&)
{
    d->resize(OneIn(r, 2) ? Below(r, d->size() + 1) : Position(*d, r));
}

// The start of one picture and the rest of another: a header over a foreign
// raster, or a header line of another kind.
void SpliceHeader(std::string* d, Random* r, const Corpus& corpus)
{
    const std::string& other = corpus.pictures[Below(r, corpus.pictures.size())];
    const size_t head = OneIn(r, 4) ? Below(r, other.size() + 1) : AfterLine(other, 1 + int(Below(r, 4)));
    const size_t tail = OneIn(r, 4) ? Below(r, d->size() + 1) : AfterLine(*d, 1 + int(Below(r, 4)));
    *d = other.substr(0, head) + d->substr(tail);
}

// Numbers at the edges of every size check: bytes per row and per block in
// 32 bits for each depth, the empty rows' limit, the only maxval taken, and
// what wraps, overflows or is no plain number.
const char* const kNumbers[] = {
    "0", "1", "2", "3", "7", "8", "9", "15", "16", "17", "31", "32", "33", "63", "64", "65",
    "127", "128", "254", "255", "256", "257", "1000", "4095", "4096", "16383", "16384",
    "46340", "46341", "65535", "65536", "65537", "99999", "1000000", "16777216", "536870911",
    "536870912", "715827882", "1073741823", "1073741824", "1431655765", "1431655766",
    "2147483647", "2147483648", "4294967295", "4294967296", "4294967551", "-1", "-0", "+255",
    "0255", "00000000000000000000255", "99999999999999999999", "-2147483648", "1e3", "0x10",
};

// Digit runs of the lines after the magic that are no comments: the size
// line and the maxval, with whatever a mutation made of them.
std::vector<std::pair<size_t, size_t>> HeaderNumbers(const std::string& d)
{
    std::vector<std::pair<size_t, size_t>> runs;
    size_t at = AfterLine(d, 1);
    for (int line = 0; line < 4 && at < d.size() && at < 4096; ++line) {
        size_t end = d.find('\n', at);
        if (end == std::string::npos)
            end = d.size();
        if (d[at] == '#') {
            --line;
        } else {
            for (size_t i = at; i < end;) {
                if (d[i] >= '0' && d[i] <= '9') {
                    size_t j = i;
                    while (j < end && d[j] >= '0' && d[j] <= '9')
                        ++j;
                    runs.push_back({i, j - i});
                    i = j;
                } else {
                    ++i;
                }
            }
        }
        at = end + 1;
    }
    return runs;
}

void ChangeNumber(std::string* d, Random* r, const Corpus&)
{
    const std::vector<std::pair<size_t, size_t>> runs = HeaderNumbers(*d);
    if (runs.empty())
        return;
    const std::pair<size_t, size_t> run = runs[Below(r, runs.size())];
    std::string number;
    switch (Below(r, 4)) {
    case 0:
    case 1:
        number = kNumbers[Below(r, sizeof kNumbers / sizeof kNumbers[0])];
        break;
    case 2: {
        const size_t digits = 1 + Below(r, 12);
        for (size_t i = 0; i < digits; ++i)
            number += char('0' + Below(r, 10));
        break;
    }
    default:
        number = d->substr(run.first, run.second);
        number[Below(r, number.size())] = char('0' + Below(r, 10));
        if (OneIn(r, 2))
            number += char('0' + Below(r, 10));
        break;
    }
    d->replace(run.first, run.second, number);
}

// Another kind for the same bytes: a raw raster read as text and the
// other way round, a bitmap read as a greymap, a kind that does not exist.
void ChangeMagic(std::string* d, Random* r, const Corpus&)
{
    if (d->size() < 2)
        return;
    if (OneIn(r, 8))
        (*d)[0] = OneIn(r, 2) ? 'p' : 'Q';
    else
        (*d)[1] = OneIn(r, 8) ? "07"[Below(r, 2)] : char('1' + Below(r, 6));
}

void ChangeLineEnd(std::string* d, Random* r, const Corpus&)
{
    static const char* const kEnds[] = {"\r\n", "\r", "\n\n", " ", "", "\n\r", "\t", "\n\n\n"};
    std::vector<size_t> feeds;
    for (size_t i = 0; i < d->size() && feeds.size() < 8; ++i)
        if ((*d)[i] == '\n')
            feeds.push_back(i);
    if (feeds.empty())
        return;
    if (OneIn(r, 4)) {
        // Every line end of the header at once, as a Windows tool writes it.
        for (size_t i = feeds.size(); i-- > 0;)
            d->replace(feeds[i], 1, "\r\n");
        return;
    }
    d->replace(feeds[Below(r, feeds.size())], 1, kEnds[Below(r, sizeof kEnds / sizeof kEnds[0])]);
}

// A comment line at a line start of the header; some so long that they push
// the rest of the header past the information query's 2000 bytes.
void InsertComment(std::string* d, Random* r, const Corpus&)
{
    static const size_t kLengths[] = {0, 1, 5, 40, 300, 1985, 1995, 2100, 5000};
    const size_t at = AfterLine(*d, int(Below(r, 4)));
    std::string comment = "#";
    const size_t n = kLengths[Below(r, sizeof kLengths / sizeof kLengths[0])];
    for (size_t i = 0; i < n; ++i)
        comment += OneIn(r, 16) ? TellingByte(r) : char('a' + Below(r, 26));
    comment += OneIn(r, 4) ? "\r\n" : "\n";
    d->insert(at, comment);
}

// A larger picture of the same kind, whole: the seeds are a few pixels
// each, and longer rows, more rows and files of some kilobytes take other
// paths through the decoders and the file reading.
void GrowPicture(std::string* d, Random* r, const Corpus&)
{
    const int kind = d->size() >= 2 && (*d)[0] == 'P' && (*d)[1] >= '1' && (*d)[1] <= '6' ? (*d)[1] - '0'
                                                                                          : 1 + int(Below(r, 6));
    const bool ascii = kind <= 3;
    const int samplesPerPixel = kind % 3 == 0 ? 3 : 1;
    const size_t width = 1 + Below(r, OneIn(r, 2) ? 16 : 400);
    const size_t most = (ascii ? 20000 : 60000) / (width * size_t(samplesPerPixel)) + 1;
    const size_t height = 1 + Below(r, std::min<size_t>(most, 200));
    std::string p = "P" + std::to_string(kind) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
    if (kind != 1 && kind != 4)
        p += "255\n";
    if (kind == 4) {
        for (size_t i = 0; i < (width + 7) / 8 * height; ++i)
            p += char(Below(r, 256));
    } else if (!ascii) {
        for (size_t i = 0; i < width * height * size_t(samplesPerPixel); ++i)
            p += char(Below(r, 256));
    } else {
        // Plain bitmaps now and then as runs of digits without blanks.
        const bool runs = kind == 1 && OneIn(r, 2);
        const size_t samples = width * height * size_t(samplesPerPixel);
        for (size_t i = 0; i < samples; ++i) {
            p += std::to_string(kind == 1 ? Below(r, 2) : Below(r, 256));
            if (!runs)
                p += (i + 1) % 17 == 0 ? '\n' : ' ';
        }
        p += '\n';
    }
    *d = p;
}

typedef void (*Mutator)(std::string* d, Random* r, const Corpus& corpus);

struct Mutation {
    const char* name;
    Mutator apply;
    int weight;
};

const Mutation kMutations[] = {
    {"flip a bit", FlipBit, 2},
    {"set a byte", SetByte, 2},
    {"insert bytes", InsertBytes, 2},
    {"remove a range", RemoveRange, 2},
    {"duplicate a range", DuplicateRange, 2},
    {"cut", Cut, 2},
    {"splice a header", SpliceHeader, 2},
    {"change a number", ChangeNumber, 4},
    {"change the magic", ChangeMagic, 1},
    {"change a line end", ChangeLineEnd, 2},
    {"insert a comment", InsertComment, 1},
    {"grow the picture", GrowPicture, 1},
};

// A corpus picture with a few mutations; `made` names them.
// The first iterations take the corpus pictures in turn as they are, so
// that every saved regression case runs on every run.
std::string MakeInput(const Corpus& corpus, long long iteration, Random* r, std::string* made)
{
    if (uint64_t(iteration) < corpus.pictures.size()) {
        *made = corpus.names[size_t(iteration)] + " as it is";
        return corpus.pictures[size_t(iteration)];
    }
    const size_t which = Below(r, corpus.pictures.size());
    std::string d = corpus.pictures[which];
    *made = corpus.names[which];
    int total = 0;
    for (const Mutation& m : kMutations)
        total += m.weight;
    // Now and then the picture itself, so that good pictures pass too.
    const int count = OneIn(r, 16) ? 0 : 1 + int(Below(r, 3)) + (OneIn(r, 4) ? int(Below(r, 5)) : 0);
    for (int i = 0; i < count; ++i) {
        int pick = int(Below(r, size_t(total)));
        const Mutation* m = kMutations;
        while (pick >= m->weight)
            pick -= (m++)->weight;
        m->apply(&d, r, corpus);
        if (d.size() > kMaxInput)
            d.resize(kMaxInput);
        *made += std::string(", ") + m->name;
    }
    return d;
}

// ---- Reading the header plainly --------------------------------------------

constexpr size_t kUnknown = ~size_t(0);

// From `at`, skips the bytes of `delimiters`, then the run up to the next of
// them. Returns the offset of the byte that ends the run: a delimiter, or a
// zero byte, after which a reader sees no more text; kUnknown when the input
// ends first.
size_t RunEnd(const std::string& d, size_t at, const char* delimiters, size_t* start)
{
    while (at < d.size() && d[at] != 0 && strchr(delimiters, d[at]) != nullptr)
        ++at;
    *start = at;
    while (at < d.size() && d[at] != 0 && strchr(delimiters, d[at]) == nullptr)
        ++at;
    return at < d.size() ? at : kUnknown;
}

// The offset of the last byte that decides the header, by a plain reading
// that errs late: the magic line, comment lines, the size line, and for
// every kind but the bitmaps the token after it (where the maxval is).
// kUnknown when the header runs to the end of the input: what follows the
// input might then change it.
size_t HeaderExtent(const std::string& d)
{
    size_t start = 0;
    size_t end = RunEnd(d, 0, "\n", &start);
    if (end == kUnknown || d[end] == 0)
        return end;
    const bool bitmap = end - start >= 2 && d[start] == 'P' && (d[start + 1] == '1' || d[start + 1] == '4');
    do {
        end = RunEnd(d, end + 1, "\n", &start);
        if (end == kUnknown || d[end] == 0)
            return end;
    } while (d[start] == '#');
    if (bitmap)
        return end;
    return RunEnd(d, end + 1, " \n", &start);
}

// The information query sees the first 2000 bytes. Its answer must match
// the picture's when the header ends well within them.
constexpr size_t kInfoWindow = 2000;
constexpr size_t kWindowMargin = 16;

// ---- The calls --------------------------------------------------------------

enum Source { kFile, kHeap, kGuarded, kSources };
const char* const kSourceNames[kSources] = {"a file", "a heap block", "memory before a no-access page"};
const char kProbeBuffer[] = "a 2 KiB buffer";
const char kFileHandle[] = "a file handle";

enum ProgressKind { kNoProgress, kNeverStop, kStopAtRow };

// How the host calls, drawn per iteration.
struct Calls {
    int progress;      // a ProgressKind
    int stopAt;        // the progress call that asks to stop
    bool heapLength;   // the heap block's length in argument 2, else 0
    bool guardedLength; // the no-access image's length in argument 2, else 0
    bool wide;         // the Unicode twins (kelda.sph only)
    unsigned int memoryFlag;
};

Calls DrawCalls(Random* r)
{
    static const unsigned int kMemoryFlags[] = {1, 1, 1, 1, 2, 3, 4, 7, 0x101};
    Calls c;
    c.progress = int(Below(r, 3));
    c.stopAt = OneIn(r, 4) ? int(Below(r, 2000)) : int(Below(r, 6));
    c.heapLength = !OneIn(r, 4);
    c.guardedLength = !OneIn(r, 4);
    c.wide = Kelda().GetPictureW != nullptr && OneIn(r, 2);
    c.memoryFlag = kMemoryFlags[Below(r, sizeof kMemoryFlags / sizeof kMemoryFlags[0])];
    return c;
}

// Where one input is for the calls of an iteration.
struct Host {
    const std::string* input;
    std::string path;
    std::wstring widePath;
    char* heap;
    GuardedImage guarded;
};

// What the iteration found wrong; empty while all is well.
std::vector<std::string> g_findings;

void Find(const char* call, const char* from, const std::string& what)
{
    g_findings.push_back(std::string(call) + " from " + from + ": " + what);
}

void Find(const char* call, int source, const std::string& what)
{
    Find(call, kSourceNames[source], what);
}

// Counts for the closing lines.
struct Tally {
    long long calls[3];       // IsSupported, GetPictureInfo, GetPicture
    long long info[9];        // by result
    long long picture[9];     // by result
    long long consistent;     // info and picture held against each other
    long long compared;       // file and memory held against each other
};
Tally g_tally = {};

void Count(long long* byResult, int result)
{
    if (result >= 0 && result < 9)
        ++byResult[result];
}

void Enter(const char* call, const char* from)
{
    g_where.call = call;
    g_where.source = from;
}

void Enter(const char* call, int source)
{
    Enter(call, kSourceNames[source]);
}

void Leave()
{
    g_where.call = nullptr;
}

// The host's memory images must come back as they went in.
void CheckImages(const Host& h, const char* call, int source)
{
    const std::string& in = *h.input;
    if (source == kHeap && memcmp(h.heap, in.data(), in.size()) != 0)
        Find(call, source, "the host's heap block changed");
    if (source == kGuarded && memcmp(h.guarded.data, in.data(), in.size()) != 0)
        Find(call, source, "the host's memory image changed");
}

// One call's arguments for a source: the name or the image, and argument 2.
const char* Image(const Host& h, int source)
{
    return source == kFile ? h.path.c_str() : source == kHeap ? h.heap : h.guarded.data;
}

LONG_PTR Length(const Host& h, const Calls& c, int source)
{
    if (source == kHeap)
        return c.heapLength ? LONG_PTR(h.input->size()) : 0;
    if (source == kGuarded)
        return c.guardedLength ? LONG_PTR(h.input->size()) : 0;
    return 0;
}

// -- IsSupported --

int Probe(const Host& h, const Calls& c, const char* from, ULONG_PTR what)
{
    Enter("IsSupported", from);
    ++g_tally.calls[0];
    const int result = c.wide ? Kelda().IsSupportedW(h.widePath.c_str(), what)
                              : Kelda().IsSupported(h.path.c_str(), what);
    Leave();
    if (result != 0 && result != 1)
        Find("IsSupported", from, "result " + std::to_string(result) + ", not 0 or 1");
    return result;
}

// The probe from a host's buffer of the file's first 2 KiB, from the image
// that ends before a no-access page, and from a file handle: three ways to
// ask about the same bytes, one answer.
void CheckProbe(const Host& h, const Calls& c)
{
    const std::string& in = *h.input;
    char buffer[2048] = {};
    memcpy(buffer, in.data(), std::min(in.size(), sizeof buffer));
    const int fromBuffer = Probe(h, c, kProbeBuffer, ULONG_PTR(buffer));
    const int fromImage = Probe(h, c, kSourceNames[kGuarded], ULONG_PTR(h.guarded.data));
    CheckImages(h, "IsSupported", kGuarded);
    HANDLE f = CreateFileA(h.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        Find("IsSupported", kFileHandle, "cannot open the input file");
        return;
    }
    const int fromHandle = Probe(h, c, kFileHandle, ULONG_PTR(f));
    CloseHandle(f);
    if (fromBuffer != fromImage || fromBuffer != fromHandle)
        g_findings.push_back("IsSupported answers " + std::to_string(fromBuffer) + " from a 2 KiB buffer, " +
                             std::to_string(fromImage) + " from the image, " + std::to_string(fromHandle) +
                             " from a file handle");
}

// -- GetPictureInfo --

struct InfoAnswer {
    int result;
    PictureInfo record;
    std::string comment; // without its zero byte
};

InfoAnswer QueryInfo(const Host& h, const Calls& c, int source)
{
    InfoAnswer a;
    memset(&a.record, 0x5a, sizeof a.record);
    const unsigned int flag = source == kFile ? 0 : c.memoryFlag;
    const LPCSTR image = Image(h, source);
    Enter("GetPictureInfo", source);
    ++g_tally.calls[1];
    a.result = c.wide && source == kFile
                   ? Kelda().GetPictureInfoW(h.widePath.c_str(), 0, flag, &a.record)
                   : c.wide ? Kelda().GetPictureInfoW(reinterpret_cast<LPCWSTR>(image), Length(h, c, source),
                                                      flag, &a.record)
                            : Kelda().GetPictureInfo(image, Length(h, c, source), flag, &a.record);
    Leave();
    Count(g_tally.info, a.result);
    CheckImages(h, "GetPictureInfo", source);

    const bool allowed = a.result == 0 || a.result == 4 || a.result == 8 || (a.result == 6 && source == kFile);
    if (!allowed)
        Find("GetPictureInfo", source, "result " + std::to_string(a.result) + " is not allowed");
    PictureInfo untouched;
    memset(&untouched, 0x5a, sizeof untouched);
    if (a.result != 0) {
        if (memcmp(&a.record, &untouched, sizeof untouched) != 0)
            Find("GetPictureInfo", source, "result " + std::to_string(a.result) + " with the record written");
        return a;
    }
#if defined(_WIN64)
    if (a.record.padding != untouched.padding)
        Find("GetPictureInfo", source, "the record's padding written");
#endif
    if (a.record.colorDepth != 1 && a.record.colorDepth != 8 && a.record.colorDepth != 24)
        Find("GetPictureInfo", source, "colour depth " + std::to_string(a.record.colorDepth));
    const HLOCAL comment = a.record.commentHandle;
    if (comment != nullptr) {
        const size_t size = LocalSize(comment);
        const char* text = static_cast<const char*>(comment);
        const size_t length = size == 0 ? 0 : strnlen(text, size);
        if (size == 0 || length != size - 1)
            Find("GetPictureInfo", source,
                 "comment block of " + std::to_string(size) + " bytes whose text has " + std::to_string(length) +
                     ": not one zero-terminated text");
        a.comment.assign(text, length);
        if (LocalFree(comment) != nullptr)
            Find("GetPictureInfo", source, "LocalFree refuses the comment block");
    }
    return a;
}

// -- GetPicture --

struct Progress {
    int stopAt; // -1: never
    int calls;
    int lastRow;
    bool disorder; // a row out of turn or a changing last row
};

int __stdcall FollowProgress(int row, int lastRow, LONG_PTR value)
{
    Progress* p = reinterpret_cast<Progress*>(value);
    if (row != p->calls || (p->calls > 0 && lastRow != p->lastRow))
        p->disorder = true;
    p->lastRow = lastRow;
    return p->calls++ == p->stopAt ? 1 : 0;
}

struct PictureAnswer {
    int result;
    int width, height, bits;
    std::string header; // the bitmap header and the palette's colours
    std::string rows;   // the picture rows known to be done, without padding
    int rowsDone;
    int calls;          // progress calls, -1 without a progress function
    uint32_t sizeImage;
};

// The DIB's information block: its size by depth, the header's fixed
// fields, and the pixel block's size against the header's.
bool CheckBlocks(HLOCAL info, HLOCAL pixels, int source, PictureAnswer* a)
{
    const size_t infoSize = LocalSize(info);
    if (LocalFlags(info) == LMEM_INVALID_HANDLE || LocalFlags(pixels) == LMEM_INVALID_HANDLE) {
        Find("GetPicture", source, "a handle is no local block");
        return false;
    }
    if (infoSize < 40) {
        Find("GetPicture", source, "information block of " + std::to_string(infoSize) + " bytes");
        return false;
    }
    BITMAPINFOHEADER b;
    memcpy(&b, info, sizeof b);
    a->width = b.biWidth;
    a->height = b.biHeight;
    a->bits = b.biBitCount;
    a->sizeImage = b.biSizeImage;
    const size_t want = b.biBitCount == 1 ? 52 : b.biBitCount == 8 ? 1068 : b.biBitCount == 24 ? 44 : 0;
    if (want == 0 || b.biSize != 40 || b.biPlanes != 1 || b.biCompression != BI_RGB || b.biWidth < 0 ||
        b.biHeight < 0) {
        Find("GetPicture", source,
             "bitmap header: size " + std::to_string(b.biSize) + ", " + std::to_string(b.biWidth) + " x " +
                 std::to_string(b.biHeight) + ", " + std::to_string(b.biBitCount) + " bits, planes " +
                 std::to_string(b.biPlanes) + ", compression " + std::to_string(b.biCompression));
        return false;
    }
    if (infoSize != want) {
        Find("GetPicture", source,
             "information block of " + std::to_string(infoSize) + " bytes for " + std::to_string(b.biBitCount) +
                 " bits, not " + std::to_string(want));
        return false;
    }
    const uint64_t stride = (uint64_t(b.biWidth) * b.biBitCount + 31) / 32 * 4;
    const uint64_t pixelSize = LocalSize(pixels);
    if (pixelSize != b.biSizeImage || uint64_t(b.biSizeImage) != stride * uint64_t(b.biHeight)) {
        Find("GetPicture", source,
             "pixel block of " + std::to_string(pixelSize) + " bytes, biSizeImage " +
                 std::to_string(b.biSizeImage) + ", stride " + std::to_string(stride) + " x " +
                 std::to_string(b.biHeight) + " rows");
        return false;
    }
    a->header = Bytes(info, 40);
    const int entries = b.biBitCount == 1 ? 2 : b.biBitCount == 8 ? 256 : 0;
    for (int i = 0; i < entries; ++i)
        a->header += Bytes(static_cast<const char*>(info) + 40 + 4 * i, 3); // the reserved byte is not written
    return true;
}

PictureAnswer Decode(const Host& h, const Calls& c, int source)
{
    PictureAnswer a = {-99, 0, 0, 0, "", "", 0, -1, 0};
    Progress progress = {c.progress == kStopAtRow ? c.stopAt : -1, 0, 0, false};
    const ProgressCallback callback = c.progress == kNoProgress ? nullptr : FollowProgress;
    HLOCAL info = kUntouched, pixels = kUntouched;
    const unsigned int flag = source == kFile ? 0 : c.memoryFlag;
    const LPCSTR image = Image(h, source);
    const LONG_PTR value = LONG_PTR(&progress);
    Enter("GetPicture", source);
    ++g_tally.calls[2];
    a.result = c.wide && source == kFile
                   ? Kelda().GetPictureW(h.widePath.c_str(), 0, flag, &info, &pixels, callback, value)
                   : c.wide ? Kelda().GetPictureW(reinterpret_cast<LPCWSTR>(image), Length(h, c, source), flag,
                                                  &info, &pixels, callback, value)
                            : Kelda().GetPicture(image, Length(h, c, source), flag, &info, &pixels, callback, value);
    Leave();
    Count(g_tally.picture, a.result);
    CheckImages(h, "GetPicture", source);
    if (callback != nullptr)
        a.calls = progress.calls;

    const int r = a.result;
    const bool handedOver = r == 0 || r == 1 || r == 3;
    if (!handedOver && r != 4 && r != 8 && !(r == 6 && source == kFile)) {
        Find("GetPicture", source, "result " + std::to_string(r) + " is not allowed");
        return a;
    }
    if (!handedOver) {
        if (info != kUntouched || pixels != kUntouched)
            Find("GetPicture", source, "result " + std::to_string(r) + " with the host's handle variables written");
        return a;
    }
    if (info == kUntouched || pixels == kUntouched || info == nullptr || pixels == nullptr) {
        Find("GetPicture", source, "result " + std::to_string(r) + " without both blocks");
        return a;
    }
    if (CheckBlocks(info, pixels, source, &a)) {
        // Progress: rows 0, 1, 2, ... each with the last row's index; all of
        // them on success; up to the stop and no further.
        if (progress.disorder || (progress.calls > 0 && progress.lastRow != a.height - 1))
            Find("GetPicture", source, "progress calls out of order or with another last row");
        if (callback == nullptr && r == 1)
            Find("GetPicture", source, "result 1 without a progress function");
        if (callback != nullptr) {
            const int m = progress.calls;
            const bool stopAsked = progress.stopAt >= 0 && m > progress.stopAt;
            if (stopAsked && (r != 1 || m != progress.stopAt + 1))
                Find("GetPicture", source,
                     "result " + std::to_string(r) + " after " + std::to_string(m) +
                         " progress calls, with a stop asked at call " + std::to_string(progress.stopAt));
            if (!stopAsked && r == 1)
                Find("GetPicture", source, "result 1 with no stop asked");
            if (r == 0 && m != a.height)
                Find("GetPicture", source,
                     "result 0 after " + std::to_string(m) + " progress calls for " + std::to_string(a.height) +
                         " rows");
            if (m > a.height)
                Find("GetPicture", source,
                     std::to_string(m) + " progress calls for " + std::to_string(a.height) + " rows");
        }
        // The rows known to be done: all on success, else those reported.
        a.rowsDone = r == 0 ? a.height : std::max(a.calls, 0);
        a.rowsDone = std::min(a.rowsDone, a.height);
        const int stride = int((uint64_t(a.width) * a.bits + 31) / 32 * 4);
        const int rowBytes = int((uint64_t(a.width) * a.bits + 7) / 8);
        for (int row = 0; row < a.rowsDone; ++row)
            a.rows += Bytes(static_cast<const char*>(pixels) + size_t(a.height - 1 - row) * size_t(stride),
                            size_t(rowBytes));
    }
    if (LocalFree(info) != nullptr || LocalFree(pixels) != nullptr)
        Find("GetPicture", source, "LocalFree refuses a block");
    return a;
}

// ---- One iteration ------------------------------------------------------------

std::string g_folder; // the run's temporary folder, with its separator

bool WriteInputFile(const Host& h)
{
    const std::string& in = *h.input;
    // No sharing: a handle that the plug-in left open makes this fail.
    HANDLE f = CreateFileA(h.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        g_findings.push_back("cannot write the input file (error " + std::to_string(GetLastError()) +
                             "): is it still open from the iteration before?");
        return false;
    }
    DWORD written = 0;
    const BOOL ok = in.empty() || WriteFile(f, in.data(), DWORD(in.size()), &written, nullptr);
    CloseHandle(f);
    if (!ok || written != in.size()) {
        g_findings.push_back("cannot write the input file");
        return false;
    }
    return true;
}

std::string Describe(const InfoAnswer& i)
{
    return "result " + std::to_string(i.result) + (i.result != 0 ? std::string() :
           ", " + std::to_string(i.record.width) + " x " + std::to_string(i.record.height) + ", depth " +
           std::to_string(i.record.colorDepth) + ", comment of " + std::to_string(i.comment.size()) + " bytes");
}

std::string Describe(const PictureAnswer& p)
{
    const bool handedOver = p.result == 0 || p.result == 1 || p.result == 3;
    return "result " + std::to_string(p.result) + (!handedOver ? std::string() :
           ", " + std::to_string(p.width) + " x " + std::to_string(p.height) + " at " + std::to_string(p.bits) +
           " bits, " + std::to_string(p.rowsDone) + " rows done, " + std::to_string(p.calls) + " progress calls");
}

bool HandedOver(const PictureAnswer& p)
{
    return p.result == 0 || p.result == 1 || p.result == 3;
}

// What GetPictureInfo says against the DIB that GetPicture made of the same
// bytes from the same source.
void CheckShape(const InfoAnswer& i, const PictureAnswer& p, int source, bool headerInWindow)
{
    if (!headerInWindow || !HandedOver(p) || p.header.empty())
        return;
    ++g_tally.consistent;
    if (i.result == 8) {
        Find("GetPictureInfo", source, "refuses a header that ends within its window, and GetPicture gives " +
                                           Describe(p));
        return;
    }
    if (i.result != 0)
        return;
    if (i.record.width != p.width || i.record.height != p.height || i.record.colorDepth != p.bits)
        Find("GetPictureInfo", source, "says " + Describe(i) + ", GetPicture gives " + Describe(p));
}

// A file and a memory image of exactly its bytes must give one answer. An
// allocation that fails is the moment's address space, not the bytes, so a
// refusal for memory against a large DIB on the other side is no mismatch.
void CheckSameAnswer(const InfoAnswer& fileInfo, const InfoAnswer& memoryInfo, const PictureAnswer& file,
                     const PictureAnswer& memory)
{
    ++g_tally.compared;
    if (fileInfo.result != memoryInfo.result ||
        (fileInfo.result == 0 &&
         (fileInfo.record.width != memoryInfo.record.width || fileInfo.record.height != memoryInfo.record.height ||
          fileInfo.record.colorDepth != memoryInfo.record.colorDepth || fileInfo.comment != memoryInfo.comment)))
        g_findings.push_back("GetPictureInfo: " + Describe(fileInfo) + " from a file, " + Describe(memoryInfo) +
                             " from memory");
    const uint32_t kLarge = 256u << 20;
    if ((file.result == 4 && HandedOver(memory) && memory.sizeImage >= kLarge) ||
        (memory.result == 4 && HandedOver(file) && file.sizeImage >= kLarge))
        return;
    const bool same = file.result == memory.result && file.header == memory.header &&
                      file.calls == memory.calls;
    const size_t rows = std::min(file.rows.size(), memory.rows.size());
    if (!same || file.rows.compare(0, rows, memory.rows, 0, rows) != 0) {
        size_t at = 0;
        while (at < rows && file.rows[at] == memory.rows[at])
            ++at;
        g_findings.push_back("GetPicture: " + Describe(file) + " from a file, " + Describe(memory) +
                             " from memory" + (at < rows ? ", pixel bytes differ from byte " + std::to_string(at)
                                                         : std::string()) +
                             (file.header != memory.header ? ", the headers differ" : std::string()));
    }
}

void RunIteration(const std::string& input, const Calls& c)
{
    Host h;
    h.input = &input;
    h.path = g_folder + "input.pnm";
    wchar_t wide[MAX_PATH];
    const int n = MultiByteToWideChar(CP_ACP, 0, h.path.c_str(), -1, wide, MAX_PATH);
    h.widePath = n > 0 ? wide : L"";
    if (!WriteInputFile(h))
        return;
    h.heap = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, input.size()));
    if (!input.empty())
        memcpy(h.heap, input.data(), input.size());
    h.guarded = MakeGuardedImage(input);

    CheckProbe(h, c);
    InfoAnswer info[kSources];
    PictureAnswer picture[kSources];
    for (int source = 0; source < kSources; ++source) {
        info[source] = QueryInfo(h, c, source);
        picture[source] = Decode(h, c, source);
    }

    // A file, an image before a no-access page and a heap block whose length
    // the host gives are read to their end and no further; a heap block
    // without a length may be read as far as the heap goes, so a header that
    // runs to the input's end decides only in the others.
    const size_t extent = HeaderExtent(input);
    const bool ends = extent != kUnknown && extent + kWindowMargin < kInfoWindow;
    const bool short_ = input.size() + kWindowMargin < kInfoWindow;
    CheckShape(info[kFile], picture[kFile], kFile, ends || short_);
    CheckShape(info[kGuarded], picture[kGuarded], kGuarded, ends || short_);
    CheckShape(info[kHeap], picture[kHeap], kHeap, ends || (c.heapLength && short_));
    if (c.guardedLength)
        CheckSameAnswer(info[kFile], info[kGuarded], picture[kFile], picture[kGuarded]);
    if (c.heapLength)
        CheckSameAnswer(info[kFile], info[kHeap], picture[kFile], picture[kHeap]);

    FreeGuardedImage(h.guarded);
    HeapFree(GetProcessHeap(), 0, h.heap);
}

// ---- Leaks ------------------------------------------------------------------

// The heaps are measured after this many iterations have warmed them up,
// and again every so many; a growth beyond the slack is a lost block.
constexpr long long kLeakWarmUp = 200;
constexpr long long kLeakEvery = 500;
constexpr size_t kLeakSlack = 16 << 10;

// ---- The run ----------------------------------------------------------------

// The run's time unless told otherwise; the build sets it.
#ifndef KELDA_RANDOM_SECONDS
#define KELDA_RANDOM_SECONDS 45
#endif

struct Settings {
    uint64_t seed;
    double seconds;
    long long iterations; // -1: as many as the time allows
    long long only;       // -1: all; else this iteration alone
    const char* input;    // a saved input instead of the corpus's
    std::vector<std::string> folders;
};

bool ReadFileBytes(const std::string& path, std::string* bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(f, &size) && uint64_t(size.QuadPart) <= kMaxInput;
    if (ok) {
        bytes->resize(size_t(size.QuadPart));
        DWORD got = 0;
        ok = bytes->empty() || (ReadFile(f, &(*bytes)[0], DWORD(bytes->size()), &got, nullptr) && got == bytes->size());
    }
    CloseHandle(f);
    return ok;
}

// Every file of the folders, each folder sorted by name.
bool ReadCorpus(const std::vector<std::string>& folders, Corpus* corpus)
{
    for (const std::string& folder : folders) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "plugin_random: cannot read the folder %s\n", folder.c_str());
            return false;
        }
        std::vector<std::string> names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::string bytes;
            if (!ReadFileBytes(folder + "\\" + name, &bytes)) {
                fprintf(stderr, "plugin_random: cannot read %s\\%s\n", folder.c_str(), name.c_str());
                return false;
            }
            corpus->names.push_back(name);
            corpus->pictures.push_back(bytes);
        }
    }
    if (corpus->pictures.empty()) {
        fprintf(stderr, "plugin_random: no pictures to start from\n");
        return false;
    }
    return true;
}

void PrintInput(const std::string& input)
{
    const size_t shown = std::min<size_t>(input.size(), 512);
    fprintf(stderr, "plugin_random: input (%u bytes%s): %s\n", unsigned(input.size()),
            shown < input.size() ? ", the first 512 shown" : "", Hex(input.substr(0, shown)).c_str());
}

bool ParseSettings(int argc, char** argv, Settings* s)
{
    s->seed = 1;
    s->seconds = KELDA_RANDOM_SECONDS;
    s->iterations = -1;
    s->only = -1;
    s->input = nullptr;
    if (const char* seed = getenv("KELDA_RANDOM_SEED"))
        s->seed = strtoull(seed, nullptr, 10);
    if (const char* seconds = getenv("KELDA_RANDOM_SECONDS"))
        s->seconds = atof(seconds);
    bool secondsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--seed" && hasValue) {
            s->seed = strtoull(argv[++i], nullptr, 10);
        } else if (a == "--seconds" && hasValue) {
            s->seconds = atof(argv[++i]);
            secondsGiven = true;
        } else if (a == "--iterations" && hasValue) {
            s->iterations = atoll(argv[++i]);
        } else if (a == "--iteration" && hasValue) {
            s->only = atoll(argv[++i]);
        } else if (a == "--input" && hasValue) {
            s->input = argv[++i];
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return false;
        } else {
            s->folders.push_back(a);
        }
    }
    // A count of iterations alone makes the run the same on every machine.
    if (s->iterations >= 0 && !secondsGiven)
        s->seconds = 1e9;
    return s->input != nullptr || !s->folders.empty();
}

std::string MakeFolder()
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    const std::string folder = std::string(base) + "kelda-random-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

LARGE_INTEGER g_start; // when the run's clock started

double Seconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - g_start.QuadPart) / double(frequency.QuadPart);
}

// Makes the input of an iteration and puts it through the calls; prints
// what was found wrong and returns false when anything was.
bool Iterate(const Settings& s, const Corpus& corpus, const std::string& saved, long long iteration)
{
    Random make = Stream(s.seed, iteration, 0);
    Random call = Stream(s.seed, iteration, 1);
    std::string made = "saved input";
    const std::string input = s.input != nullptr ? saved : MakeInput(corpus, iteration, &make, &made);
    const Calls c = DrawCalls(&call);

    g_where.iteration = iteration;
    g_where.input = &input;
    g_where.iterationStart = LONG(GetTickCount());
    g_where.running = 1;
    g_findings.clear();
    RunIteration(input, c);
    g_where.running = 0;
    g_where.input = nullptr;
    if (g_findings.empty())
        return true;

    fprintf(stderr, "plugin_random: FAILED at seed %llu, iteration %lld, after %.1f s (%s; %s; progress %s, "
                    "stop at %d, length in argument 2: heap %s, no-access image %s; memory flag %u)\n",
            (unsigned long long)s.seed, iteration, Seconds(), made.c_str(), c.wide ? "Unicode exports" : "ANSI exports",
            c.progress == kNoProgress ? "none" : c.progress == kNeverStop ? "never stops" : "stops", c.stopAt,
            c.heapLength ? "yes" : "0", c.guardedLength ? "yes" : "0", c.memoryFlag);
    for (const std::string& f : g_findings)
        fprintf(stderr, "plugin_random:   %s\n", f.c_str());
    PrintInput(input);
    char path[MAX_PATH + 1];
    SaveInput(input, s.seed, iteration, path, sizeof path);
    fprintf(stderr, "plugin_random: input written to %s\n", path[0] ? path : "(nothing: cannot write)");
    fprintf(stderr, "plugin_random: replay with --seed %llu --iteration %lld %s%s\n", (unsigned long long)s.seed,
            iteration, s.input != nullptr ? "--input " : "and the same corpus folders, or --input ",
            s.input != nullptr ? s.input : path[0] ? path : "FILE");
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    Settings s;
    if (!ParseSettings(argc, argv, &s)) {
        fprintf(stderr, "usage: plugin_random [--seed N] [--seconds S] [--iterations K] [--iteration K]\n"
                        "                     [--input FILE] CORPUS_DIRECTORY...\n");
        return 2;
    }
    Corpus corpus;
    std::string saved;
    if (s.input != nullptr) {
        if (!ReadFileBytes(s.input, &saved)) {
            fprintf(stderr, "plugin_random: cannot read %s\n", s.input);
            return 2;
        }
    } else if (!ReadCorpus(s.folders, &corpus)) {
        return 2;
    }
    const long long first = s.only >= 0 ? s.only : 0;
    const long long last = s.only >= 0 ? s.only + 1 : s.iterations >= 0 ? s.iterations : LLONG_MAX;
    printf("plugin_random: %s, seed %llu, %s\n", kPluginName, (unsigned long long)s.seed,
           s.input != nullptr ? "one saved input"
                              : (std::to_string(corpus.pictures.size()) + " corpus pictures").c_str());
    if (s.only < 0 && s.input == nullptr) {
        if (s.iterations >= 0)
            printf("plugin_random: %lld iterations\n", s.iterations);
        if (s.seconds < 1e9)
            printf("plugin_random: for %.0f s\n", s.seconds);
    }
    fflush(stdout);

    Kelda(); // loaded before the clock starts
    g_where.seed = s.seed;
    g_folder = MakeFolder();
    AddVectoredExceptionHandler(1, OnException);
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);

    QueryPerformanceCounter(&g_start);
    const bool watchHeaps = s.only < 0 && s.input == nullptr;
    long long done = 0;
    size_t heapBaseline = 0;
    long long baselineAt = -1;
    int status = 0;
    for (long long iteration = first; iteration < last; ++iteration) {
        if (s.only < 0 && Seconds() >= s.seconds)
            break;
        const bool passed = Iterate(s, corpus, saved, iteration);
        ++done;
        if (!passed) {
            status = 1;
            break;
        }
        // Measured between iterations, when the test itself holds no input.
        if (watchHeaps && done == kLeakWarmUp) {
            heapBaseline = BusyHeapBytes();
            baselineAt = iteration;
        } else if (watchHeaps && done > kLeakWarmUp && done % kLeakEvery == 0) {
            const size_t busy = BusyHeapBytes();
            if (busy > heapBaseline + kLeakSlack) {
                fprintf(stderr, "plugin_random: FAILED at seed %llu: busy heap bytes grew by %llu between "
                                "iterations %lld and %lld: blocks are lost\n"
                                "plugin_random: replay with --seed %llu --iterations %lld and the same corpus "
                                "folders\n",
                        (unsigned long long)s.seed, (unsigned long long)(busy - heapBaseline), baselineAt, iteration,
                        (unsigned long long)s.seed, iteration + 1);
                status = 1;
                break;
            }
        }
    }
    const double elapsed = Seconds();
    DeleteFileA((g_folder + "input.pnm").c_str());
    RemoveDirectoryA(g_folder.c_str());

    const Tally& t = g_tally;
    printf("plugin_random: seed %llu: %lld inputs in %.1f s, %lld calls (IsSupported %lld, GetPictureInfo %lld, "
           "GetPicture %lld)\n",
           (unsigned long long)s.seed, done, elapsed, t.calls[0] + t.calls[1] + t.calls[2], t.calls[0], t.calls[1],
           t.calls[2]);
    printf("plugin_random: GetPicture results: 0: %lld, 1: %lld, 3: %lld, 4: %lld, 6: %lld, 8: %lld\n",
           t.picture[0], t.picture[1], t.picture[3], t.picture[4], t.picture[6], t.picture[8]);
    printf("plugin_random: GetPictureInfo results: 0: %lld, 4: %lld, 6: %lld, 8: %lld\n", t.info[0], t.info[4],
           t.info[6], t.info[8]);
    printf("plugin_random: %lld information answers held against the picture's, %lld files against memory\n",
           t.consistent, t.compared);
    return status;
}
