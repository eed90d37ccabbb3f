// Cost of the samplers in the render cycle: sixteen playing pads with mixed
// pitch and stretch (each through its own SoundTouch processor) plus four
// loop recorders playing their takes, in blocks of 256 frames. The figure
// that matters is "budget_%": the time of one block as a share of the 5.8 ms
// that 256 frames last at 44100 Hz, on one core, from the rendering thread's
// CPU time ("wall_budget_%" gives the same from the wall clock).

#include "AudioCache.h"
#include "BankSampler.h"
#include "BenchAudio.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "Slice.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>

#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

const unsigned kBlockSamples = 512; // 256 frames
const double kBlockSeconds = 256.0 / 44100.0;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

bool writeSine(const QString& path, double hz, long frames)
{
    return BenchAudio::writeStereo(
        path, frames, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [hz](long f, float& left, float& right) {
            left = float(0.3 * std::sin(2.0 * M_PI * hz * double(f) / 44100.0));
            right = -left;
        });
}

struct Rig
{
    QTemporaryDir dir;
    BankSampler pads;
    LoopingSamplerBank loopers;
    std::vector<float> buffer = std::vector<float>(kBlockSamples);
    bool ok = true;

    Rig(bool withPads, bool withLoopers)
    {
        const int semitones[] = {0, 3, -5, 7, 12, -12, 2, -2};
        const double ratios[] = {1.0, 1.25, 0.8, 1.5, 2.0, 0.66};
        for (int pad = 0; pad < BankSampler::PadCount; ++pad) {
            const QString path = dir.filePath(QStringLiteral("pad%1.wav").arg(pad));
            ok = ok && writeSine(path, 110.0 * (pad + 1), 88200);
            pads.loadSample(pad, path, semitones[pad % 8], ratios[pad % 6], 1, 0, 0, 0.2f, false,
                            QStringLiteral("None"));
        }
        for (int pad = 0; pad < BankSampler::PadCount; ++pad) {
            while (!pads.getSample(pad)->getAudioCache()->isFilled())
                QThread::msleep(5);
        }

        // Two seconds of the pads into every recorder, then all play.
        for (LoopingSampler* looper : loopers.getLoopers())
            looper->armRecording(true);
        loopers.handleNoteAll(40);
        for (int pad = 0; pad < BankSampler::PadCount; ++pad)
            pads.triggerSample(pad);
        for (int block = 0; block < 2 * 44100 / 256; ++block)
            cycle();
        loopers.handleNoteAll(LoopingSampler::StopNote);
        if (!withPads)
            for (int pad = 0; pad < BankSampler::PadCount; ++pad)
                pads.stopSample(pad);
        if (!withLoopers)
            for (LoopingSampler* looper : loopers.getLoopers())
                looper->togglePlayback(false);
        for (int block = 0; block < 64; ++block)
            cycle();
    }

    void cycle()
    {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        pads.render(buffer.data(), kBlockSamples);
        loopers.recordAll(buffer.data(), kBlockSamples);
        loopers.renderAll(buffer.data(), kBlockSamples);
    }
};

void runRig(benchmark::State& state, bool withPads, bool withLoopers)
{
    Rig rig(withPads, withLoopers);
    if (!rig.ok) {
        state.SkipWithError("could not write the pad files");
        return;
    }
    // The share is taken from the rendering thread's own CPU time, which is
    // what the audio thread needs of its core; on a machine shared with other
    // work the wall time also counts the time spent waiting for the core.
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
    for (auto _ : state) {
        const double cpuStart = threadCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        rig.cycle();
        wallSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpuSeconds += threadCpuSeconds() - cpuStart;
        benchmark::DoNotOptimize(rig.buffer.data());
        benchmark::ClobberMemory();
    }
    const double blocks = double(state.iterations());
    state.counters["budget_%"] = 100.0 * cpuSeconds / blocks / kBlockSeconds;
    state.counters["wall_budget_%"] = 100.0 * wallSeconds / blocks / kBlockSeconds;
}

void BM_SixteenPadsAndFourLoopers(benchmark::State& state)
{
    runRig(state, true, true);
}
BENCHMARK(BM_SixteenPadsAndFourLoopers)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

void BM_SixteenPadsOnly(benchmark::State& state)
{
    runRig(state, true, false);
}
BENCHMARK(BM_SixteenPadsOnly)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_FourLoopersOnly(benchmark::State& state)
{
    runRig(state, false, true);
}
BENCHMARK(BM_FourLoopersOnly)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The loads log plenty; the rendering itself logs nothing.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    return BenchAudio::runBenchmarks(argc, argv);
}
