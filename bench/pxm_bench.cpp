// The native benchmark of kelda's codec core: every kind decoded from memory
// by kelda and by the peers, beside two copies of the same bytes into a
// fresh block of the DIB's size: the reference copy (memcpy, what moving the
// bytes costs) and, for the raw kinds, the DIB-shaped copy (rows in reverse
// order, red and blue exchanged: the limit that the DIB's shape sets), all
// on the same bytes in one run. Prints one table and the targets it meets.
//
//   pxm_bench [--reps=N] [--scale=F] [--only=TEXT] [--wall] [--core-only]
//             [--tsv=FILE] [--label=TEXT] [Google Benchmark flags]
//
// --only keeps the pictures whose name contains TEXT, or one of several
// separated by commas ("P6", "P4,P5,P6", "CRLF"). --core-only times kelda's
// core alone, for the Windows benchmark's table when the peers are not
// wanted. --tsv writes the medians to FILE, where spibench reads the core's
// time to set beside the plug-in's; --label names the build in both.
//
// Each decoder's time includes allocating its output in fresh pages, as a
// viewer's GetPicture does; freeing it is not timed. Google Benchmark runs
// the repetitions in random order so that a burst of load from elsewhere
// spreads over all decoders instead of falling on one; the table shows the
// median repetition.
//
// The times compared are the process's CPU time (user and system, so the
// page faults of fresh blocks count): on a machine shared with builds and
// tests, a decoder that waits for a core would otherwise be charged for
// the wait. Every decoder here runs on the calling thread, so on an idle
// machine CPU time and wall time agree; the table shows the wall time too,
// and --wall bases the comparison on it instead.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/decoders.h"
#include "bench/pictures.h"

namespace {

using Clock = std::chrono::steady_clock;

// Each repetition lasts about this long, so that short decodes are averaged
// over many iterations and long ones still run a few times.
constexpr double kRepetitionSeconds = 0.2;

struct Entry {
    BenchDecoder* decoder;
    std::string problem; // why it is not timed, or a warning; empty when fine
    bool applies = true; // false: the picture gets no row for this decoder
    bool timed = false;
    int iterations = 1;
    std::vector<double> seconds; // per iteration, one value per repetition
    std::vector<double> wall;    // the same in wall time
};

bool g_wallClock = false;

struct Case {
    BenchPicture picture;
    std::vector<Entry> entries; // the two copies, kelda, then the peers
};

double Seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

std::string CpuModel()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

// Indexes of Case::entries.
constexpr size_t kReferenceEntry = 0;
constexpr size_t kDibShapedEntry = 1;
constexpr size_t kKeldaEntry = 2;
constexpr size_t kFirstPeerEntry = 3;

// Decodes once to check the pixels against the picture's own, then once more
// to size the repetitions. kelda is timed even when its pixels are wrong, with
// the problem shown beside its time; a peer that reads other pixels is not
// decoding this picture and is left out.
void Check(Case* c, Entry* e, bool timeAnyway)
{
    const BenchPicture& picture = c->picture;
    BenchDecoder* d = e->decoder;
    if (!d->Decode(picture)) {
        d->Release();
        e->problem = "cannot decode this kind";
        return;
    }
    if (d->HasPixels()) {
        const std::vector<uint8_t> samples = d->Samples(picture);
        if (samples != picture.samples) {
            char text[96];
            if (samples.size() != picture.samples.size()) {
                snprintf(text, sizeof text, "gives other pixels (%zu samples, not %zu)",
                         samples.size(), picture.samples.size());
            } else {
                size_t differ = 0;
                for (size_t i = 0; i < samples.size(); ++i)
                    differ += samples[i] != picture.samples[i];
                snprintf(text, sizeof text, "gives other pixels (%zu of %zu samples differ)",
                         differ, samples.size());
            }
            e->problem = text;
        }
    }
    d->Release();
    if (!e->problem.empty() && !timeAnyway)
        return;
    const Clock::time_point start = Clock::now();
    const bool ok = d->Decode(picture);
    const double once = Seconds(start, Clock::now());
    d->Release();
    if (!ok) {
        e->problem = "fails on the second decode";
        return;
    }
    e->timed = true;
    e->iterations = int(std::clamp(kRepetitionSeconds / std::max(once, 1e-6), 1.0, 1000.0));
}

class Collector : public benchmark::BenchmarkReporter {
public:
    explicit Collector(std::map<std::string, Entry*> entries, size_t total)
        : entries_(std::move(entries)), total_(total)
    {
    }
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            Entry* e = entries_.at(run.run_name.function_name);
            if (run.error_occurred) {
                e->problem = run.error_message;
                continue;
            }
            const double iterations = double(run.iterations);
            e->wall.push_back(run.real_accumulated_time / iterations);
            e->seconds.push_back((g_wallClock ? run.real_accumulated_time
                                              : run.cpu_accumulated_time) /
                                 iterations);
            ++done_;
            if (isatty(2))
                fprintf(stderr, "\rpxm_bench: %zu of %zu runs", done_, total_);
        }
    }
    void Finalize() override { fprintf(stderr, isatty(2) ? "\n" : "pxm_bench: %zu runs\n", done_); }

private:
    std::map<std::string, Entry*> entries_;
    size_t total_;
    size_t done_ = 0;
};

double Fastest(std::vector<double> v)
{
    return *std::min_element(v.begin(), v.end());
}

// The fastest peer by a statistic of its repetitions; null when no peer
// decodes the picture.
const Entry* FastestPeer(const Case& c, double (*statistic)(std::vector<double>))
{
    const Entry* best = nullptr;
    for (size_t i = kFirstPeerEntry; i < c.entries.size(); ++i) {
        const Entry& e = c.entries[i];
        if (e.timed && !e.seconds.empty() && e.problem.empty() &&
            (best == nullptr || statistic(e.seconds) < statistic(best->seconds)))
            best = &e;
    }
    return best;
}

double MedianOrZero(const Entry& e)
{
    return e.timed && !e.seconds.empty() ? Median(e.seconds) : 0;
}

void PrintTable(const std::vector<Case>& cases, int reps, const std::string& label, bool coreOnly)
{
    if (coreOnly)
        printf("kelda's core alone, decoding from memory (--core-only)\n");
    else
        printf("kelda's core against the reference copy, the DIB-shaped copy and the peers, "
               "decoding from memory\n");
    if (!label.empty())
        printf("build: %s\n", label.c_str());
    printf("machine: %s, %u cores; %s; median of %d repetitions; times in %s\n",
           CpuModel().c_str(), std::thread::hardware_concurrency(), ("g++ " __VERSION__), reps,
           g_wallClock ? "wall time" : "CPU time (wall time beside)");
    printf("peers: %s\n", coreOnly ? "left out (--core-only)" : PeerVersions().c_str());
    printf("spread: slowest less fastest repetition over the median;\n"
           "/ref copy, /DIB-shaped: the time over the reference copy's, over the DIB-shaped "
           "copy's (raw kinds);\nvs peer: the fastest peer's time over kelda's (above 1: kelda "
           "is faster)\n\n");
    printf("%-13s %-9s %7s %5s  %-15s %8s %6s %8s %8s %7s %9s %11s  %s\n", "picture", "size",
           "input", "Mpx", "decoder", "ms", "spread", "wall ms", "MB/s", "Mpx/s", "/ref copy",
           "/DIB-shaped", "vs peer");
    for (const Case& c : cases) {
        const BenchPicture& p = c.picture;
        const double mb = double(p.bytes.size()) / 1e6;
        const double mpx = double(p.Pixels()) / 1e6;
        const double reference = MedianOrZero(c.entries[kReferenceEntry]);
        const double dibShaped = MedianOrZero(c.entries[kDibShapedEntry]);
        const Entry* peer = FastestPeer(c, Median);
        char size[24];
        snprintf(size, sizeof size, "%dx%d", p.recipe.width, p.recipe.height);
        bool first = true;
        for (size_t i = 0; i < c.entries.size(); ++i) {
            const Entry& e = c.entries[i];
            if (!e.applies)
                continue;
            if (first)
                printf("%-13s %-9s %5.1fMB %5.1f  ", p.recipe.name.c_str(), size, mb, mpx);
            else
                printf("%-13s %-9s %7s %5s  ", "", "", "", "");
            first = false;
            if (!e.timed || e.seconds.empty()) {
                printf("%-15s %s\n", e.decoder->Name(),
                       e.problem.empty() ? "not run" : e.problem.c_str());
                continue;
            }
            const double t = Median(e.seconds);
            char versusReference[16] = "", versusDibShaped[16] = "";
            if (reference > 0)
                snprintf(versusReference, sizeof versusReference, "%.2f", t / reference);
            if (dibShaped > 0)
                snprintf(versusDibShaped, sizeof versusDibShaped, "%.2f", t / dibShaped);
            printf("%-15s %8.2f %5.0f%% %8.2f %8.1f %7.1f %9s %11s", e.decoder->Name(), t * 1e3,
                   100 * Spread(e.seconds), Median(e.wall) * 1e3, mb / t, mpx / t,
                   versusReference, versusDibShaped);
            if (i == kKeldaEntry && !coreOnly) {
                if (peer != nullptr)
                    printf("  %.2f (%s)", Median(peer->seconds) / t, peer->decoder->Name());
                else
                    printf("  no peer");
            }
            if (!e.problem.empty())
                printf("  %s", e.problem.c_str());
            printf("\n");
        }
    }
}

struct Verdict {
    std::string text;
    bool met;
};

// Each ratio from the medians, and in brackets from the fastest repetitions,
// which show what the ratio is when nothing else gets in the way.
void PrintTargets(const std::vector<Case>& cases)
{
    std::vector<Verdict> verdicts;
    bool aheadEverywhere = true;
    std::string behind;
    for (const Case& c : cases) {
        const std::string& name = c.picture.recipe.name;
        const Entry& reference = c.entries[kReferenceEntry];
        const Entry& kelda = c.entries[kKeldaEntry];
        if (kelda.timed && kelda.seconds.empty() && kelda.problem.empty())
            continue; // left out by a Google Benchmark filter
        if (!kelda.timed || kelda.seconds.empty() || !kelda.problem.empty()) {
            verdicts.push_back(
                {name + ": kelda " + (kelda.problem.empty() ? "not timed" : kelda.problem), false});
            aheadEverywhere = false;
            continue;
        }
        const double k = Median(kelda.seconds);
        const Entry* peer = FastestPeer(c, Median);
        const Entry* peerAtBest = FastestPeer(c, Fastest);
        char text[200];
        if (peer != nullptr && k >= Median(peer->seconds)) {
            aheadEverywhere = false;
            snprintf(text, sizeof text, " %s (%s, %.2f [%.2f] x its time)", name.c_str(),
                     peer->decoder->Name(), k / Median(peer->seconds),
                     Fastest(kelda.seconds) / Fastest(peerAtBest->seconds));
            behind += text;
        }
        const int kind = c.picture.recipe.kind;
        if (kind >= 4 && !reference.seconds.empty()) {
            const double bound = kind == 6 ? 1.2 : 1.1;
            const double ratio = k / Median(reference.seconds);
            snprintf(text, sizeof text,
                     "%s: time %.2f [%.2f] x the reference copy, target at most %.1f",
                     name.c_str(), ratio, Fastest(kelda.seconds) / Fastest(reference.seconds),
                     bound);
            verdicts.push_back({text, ratio <= bound});
        } else if (kind <= 3 && peer != nullptr) {
            const double speedup = Median(peer->seconds) / k;
            snprintf(text, sizeof text,
                     "%s: %.2f [%.2f] x the speed of the fastest peer (%s), target at least 4",
                     name.c_str(), speedup, Fastest(peerAtBest->seconds) / Fastest(kelda.seconds),
                     peer->decoder->Name());
            verdicts.push_back({text, speedup >= 4});
        }
    }
    verdicts.insert(verdicts.begin(),
                    {aheadEverywhere ? std::string("ahead of every peer on every picture")
                                     : "behind a peer on:" + behind,
                     aheadEverywhere});
    printf("\ntargets (from the medians; in brackets from the fastest repetitions):\n");
    for (const Verdict& v : verdicts)
        printf("  %-6s %s\n", v.met ? "met" : "MISSED", v.text.c_str());
}

// The medians and quartiles of every timed decoder, one line each, tab
// separated: what the clock measured, the picture's name, width and height,
// the decoder, then median, lower and upper quartile in seconds. spibench
// reads kelda's time from it.
bool WriteTsv(const std::string& path, const std::vector<Case>& cases, int reps,
              const std::string& label)
{
    FILE* out = fopen(path.c_str(), "w");
    if (out == nullptr)
        return false;
    fprintf(out, "# pxm_bench\tbuild: %s\tmachine: %s, %u cores\t%d repetitions\n",
            label.c_str(), CpuModel().c_str(), std::thread::hardware_concurrency(), reps);
    for (const Case& c : cases) {
        const BenchPictureRecipe& r = c.picture.recipe;
        for (const Entry& e : c.entries) {
            if (!e.applies || !e.timed || e.seconds.empty())
                continue;
            const Quartiles wall = SummarizeQuartiles(e.wall);
            fprintf(out, "wall\t%s\t%d\t%d\t%s\t%.9g\t%.9g\t%.9g\n", r.name.c_str(), r.width,
                    r.height, e.decoder->Name(), wall.median, wall.lower, wall.upper);
            if (!g_wallClock) {
                const Quartiles cpu = SummarizeQuartiles(e.seconds);
                fprintf(out, "cpu\t%s\t%d\t%d\t%s\t%.9g\t%.9g\t%.9g\n", r.name.c_str(),
                        r.width, r.height, e.decoder->Name(), cpu.median, cpu.lower, cpu.upper);
            }
        }
    }
    return fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    int reps = 7;
    double scale = 1;
    std::string only, tsv, label;
    bool coreOnly = false;
    // Our own flags first; everything else goes to Google Benchmark, after
    // our defaults so that the command line can override them.
    std::vector<std::string> flags = {argv[0], "--benchmark_enable_random_interleaving=true"};
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--reps=", 7) == 0)
            reps = std::max(1, atoi(argv[i] + 7));
        else if (strncmp(argv[i], "--scale=", 8) == 0)
            scale = atof(argv[i] + 8);
        else if (strncmp(argv[i], "--only=", 7) == 0)
            only = argv[i] + 7;
        else if (strcmp(argv[i], "--wall") == 0)
            g_wallClock = true;
        else if (strcmp(argv[i], "--core-only") == 0)
            coreOnly = true;
        else if (strncmp(argv[i], "--tsv=", 6) == 0)
            tsv = argv[i] + 6;
        else if (strncmp(argv[i], "--label=", 8) == 0)
            label = argv[i] + 8;
        else
            flags.push_back(argv[i]);
    }
    std::vector<char*> benchArgv;
    for (std::string& f : flags)
        benchArgv.push_back(f.data());
    int benchArgc = int(benchArgv.size());
    benchmark::Initialize(&benchArgc, benchArgv.data());

    // A fixed threshold stops glibc from raising it after the first large
    // free: every output block then comes from mmap in fresh pages, for
    // every decoder, as the large blocks of a real GetPicture do.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    std::vector<std::unique_ptr<BenchDecoder>> decoders;
    decoders.push_back(MakeReferenceCopy());
    decoders.push_back(MakeDibShapedCopy());
    decoders.push_back(MakeKelda());
    if (!coreOnly)
        for (auto& peer : MakePeers())
            decoders.push_back(std::move(peer));

    std::vector<Case> cases;
    for (const BenchPictureRecipe& recipe : BenchPictureRecipes(scale)) {
        if (!Wanted(recipe.name, only))
            continue;
        Case c;
        c.picture = MakeBenchPicture(recipe);
        for (auto& d : decoders) {
            const size_t index = c.entries.size();
            c.entries.push_back(Entry{d.get(), {}, true, false, 1, {}, {}});
            Entry& e = c.entries.back();
            e.applies = d->Applies(c.picture) && (index == kKeldaEntry || !coreOnly);
            if (e.applies)
                Check(&c, &e, index == kKeldaEntry);
        }
        fprintf(stderr, "pxm_bench: %-13s %6.1f MB checked\n", recipe.name.c_str(),
                double(c.picture.bytes.size()) / 1e6);
        std::vector<uint8_t>().swap(c.picture.samples); // only needed for the check
        cases.push_back(std::move(c));
    }

    std::map<std::string, Entry*> byName;
    for (Case& c : cases) {
        for (Entry& e : c.entries) {
            if (!e.timed)
                continue;
            const std::string name = c.picture.recipe.name + "/" + e.decoder->Name();
            byName[name] = &e;
            const BenchPicture* picture = &c.picture;
            BenchDecoder* d = e.decoder;
            benchmark::RegisterBenchmark(name.c_str(), [picture, d](benchmark::State& state) {
                for (auto _ : state) {
                    const bool ok = d->Decode(*picture);
                    state.PauseTiming();
                    d->Release();
                    state.ResumeTiming();
                    if (!ok) {
                        state.SkipWithError("decode failed");
                        break;
                    }
                }
            })
                ->MeasureProcessCPUTime()
                ->Iterations(e.iterations)
                ->Repetitions(reps);
        }
    }
    Collector collector(byName, byName.size() * size_t(reps));
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    PrintTable(cases, reps, label, coreOnly);
    if (!coreOnly)
        PrintTargets(cases);
    if (!tsv.empty() && !WriteTsv(tsv, cases, reps, label)) {
        fprintf(stderr, "pxm_bench: cannot write %s\n", tsv.c_str());
        return 1;
    }
    return 0;
}
