// What slicing at the hits costs the window on a ten-minute loop: a step of
// the sensitivity slider (picking the cuts again), a marker move (estimating
// the tempo again), both on the user-interface thread, and how long closing
// the window or loading another loop waits for an analysis that runs
// (cancelling it).

#include "AudioCache.h"
#include "BenchAudio.h"
#include "HitAnalysis.h"
#include "HitAnalysisJob.h"
#include "Slice.h"
#include "TempoEstimator.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

const long kRate = 44100;
const long kFrames = 10 * 60 * kRate;
QSharedPointer<Slice> g_loop;

// A thump on every beat at 125 bpm and a tick between, over a little noise.
void drums(long frame, float& left, float& right)
{
    static unsigned seed = 7;
    const long beat = kRate * 60 / 125;
    const long inBeat = frame % beat;
    const long inTick = (frame + beat / 2) % beat;
    seed = seed * 1664525u + 1013904223u;
    const double noise = (int(seed >> 9) % 2000 - 1000) / 1000.0;
    const double v = 0.6 * std::exp(-inBeat / 3000.0) * std::sin(2 * M_PI * 60.0 * inBeat / kRate) +
                     0.1 * std::exp(-inTick / 400.0) * noise + 0.001 * noise;
    left = float(v);
    right = float(0.8 * v);
}

const HitAnalysis& analysis()
{
    static const HitAnalysis analysed = HitAnalysis::analyse(*g_loop->getAudioCache(), kRate);
    return analysed;
}

void BM_PickAtASliderStep(benchmark::State& state)
{
    int sensitivity = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(analysis().pick(sensitivity, 0, kFrames));
        sensitivity = (sensitivity + 1) % 101;
    }
    state.counters["hits"] = double(analysis().getHits().size());
}
BENCHMARK(BM_PickAtASliderStep)->Unit(benchmark::kMillisecond);

void BM_TempoAfterAMarkerMove(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            TempoEstimator::estimate(analysis(), 0, kFrames - state.iterations()));
}
BENCHMARK(BM_TempoAfterAMarkerMove)->Unit(benchmark::kMillisecond);

// From the cancel to the analysis thread's end, an analysis well under way.
void BM_CancelARunningAnalysis(benchmark::State& state)
{
    for (auto _ : state) {
        auto job = std::make_unique<HitAnalysisJob>();
        job->start(g_loop);
        QThread::msleep(300);
        const auto start = std::chrono::steady_clock::now();
        job.reset();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_CancelARunningAnalysis)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString path = BenchAudio::benchDir() + "/ten-minute-drums.wav";
    if (!BenchAudio::writeStereo(path, kFrames, SF_FORMAT_WAV | SF_FORMAT_PCM_16, drums)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    g_loop.reset(new Slice(path));
    while (!g_loop->getAudioCache()->isFilled())
        QThread::msleep(10);
    analysis(); // once, before anything is timed
    const int result = BenchAudio::runBenchmarks(argc, argv);
    g_loop.reset();
    return result;
}
