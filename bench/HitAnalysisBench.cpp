// Analysis of a five-minute stereo loop mix: time per run, and the most memory
// the analysis holds beyond the decoded audio (counted at every allocation).

#include "HitAnalysis.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

std::atomic<long> g_live{0};
std::atomic<long> g_peak{0};

// Five minutes of hits over a hum: a kick-like thump every 250 ms, a tick
// between, both decaying, with a little noise.
std::vector<float> fiveMinutes()
{
    const long frames = 44100L * 300;
    std::vector<float> audio(2 * frames);
    unsigned seed = 7;
    for (long f = 0; f < frames; ++f) {
        const long inBeat = f % 11025;
        const long inTick = (f + 5512) % 11025;
        seed = seed * 1664525u + 1013904223u;
        const double noise = (int(seed >> 9) % 2000 - 1000) / 1000.0;
        const double v =
            0.6 * std::exp(-inBeat / 3000.0) * std::sin(2 * M_PI * 60.0 * inBeat / 44100.0) +
            0.1 * std::exp(-inTick / 400.0) * noise + 0.001 * noise;
        audio[2 * f] = float(v);
        audio[2 * f + 1] = float(0.8 * v);
    }
    return audio;
}

} // namespace

void* operator new(std::size_t size)
{
    void* p = std::malloc(size + 16);
    if (!p)
        throw std::bad_alloc();
    *static_cast<std::size_t*>(p) = size;
    const long live = g_live += long(size);
    long peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(p) + 16;
}

void operator delete(void* p) noexcept
{
    if (!p)
        return;
    char* base = static_cast<char*>(p) - 16;
    g_live -= long(*reinterpret_cast<std::size_t*>(base));
    std::free(base);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

static void BM_AnalyseFiveMinutes(benchmark::State& state)
{
    const std::vector<float> audio = fiveMinutes();
    const double audioBytes = double(audio.size() * sizeof(float));
    double extra = 0;
    size_t hits = 0;
    for (auto _ : state) {
        const long before = g_live.load();
        g_peak = before;
        const HitAnalysis analysis = HitAnalysis::analyse(audio.data(), audio.size() / 2, 44100);
        extra = double(g_peak.load() - before);
        hits = analysis.getHits().size();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = double(hits);
    state.counters["extra_MB"] = extra / 1e6;
    state.counters["extra_percent_of_audio"] = 100.0 * extra / audioBytes;
    state.counters["times_real_time"] =
        benchmark::Counter(300.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AnalyseFiveMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
