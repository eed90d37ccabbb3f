// Cost of playing one voice: a cached slice rendered in 512-sample blocks, raw
// (at its own rate) and through SoundTouch, against a plain gain-and-add loop
// over a contiguous buffer of the same audio, which is as fast as mixing can
// go. The "xRealtime" counter is how many voices of real time one core renders.

#include "AudioCache.h"
#include "BenchAudio.h"
#include "Slice.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

const unsigned kBlock = 512;
const long kFrames = 44100 * 10;
const double kSamplesPerSecond = 88200.0;

QString benchFile()
{
    static QString path;
    if (!path.isEmpty())
        return path;
    path = QDir::tempPath() + "/tamberlo-slicebench.wav";
    BenchAudio::writeStereo(path, kFrames, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                            [](long i, float& left, float& right) {
                                left = static_cast<float>(0.5 * std::sin(i * 0.0627));
                                right = static_cast<float>(0.5 * std::sin(i * 0.0411));
                            });
    return path;
}

// A looping slice of the whole file with its cache filled.
std::unique_ptr<Slice> playingSlice()
{
    std::unique_ptr<Slice> slice(new Slice(benchFile()));
    while (!slice->getAudioCache()->isFilled())
        QThread::msleep(5);
    slice->setLoopMode(1);
    slice->setLoopEnd(slice->getLength());
    slice->play(true, 0.0, 1.0);
    return slice;
}

void setRealtime(benchmark::State& state)
{
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kSamplesPerSecond,
                           benchmark::Counter::kIsRate);
}

void BM_PlainMixLoop(benchmark::State& state)
{
    std::vector<float> audio(kFrames * 2);
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<float>(std::sin(i * 0.001));
    std::vector<float> out(kBlock, 0.0f);
    std::size_t pos = 0;
    const float gain = 0.8f;
    for (auto _ : state) {
        const float* src = audio.data() + pos;
        float* dst = out.data();
        for (unsigned i = 0; i < kBlock; ++i)
            dst[i] = src[i] * gain + dst[i];
        benchmark::DoNotOptimize(dst);
        benchmark::ClobberMemory();
        pos += kBlock;
        if (pos + kBlock > audio.size())
            pos = 0;
    }
    setRealtime(state);
}

void BM_SliceRenderRaw(benchmark::State& state)
{
    auto slice = playingSlice();
    slice->setGain(0.8f);
    std::vector<float> out(kBlock, 0.0f);
    for (auto _ : state) {
        slice->renderRaw(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRealtime(state);
}

// Arguments: pitch in semitones, and a stretch ratio given as n (n times
// longer) or -n (n times shorter).
double ratioArg(std::int64_t arg)
{
    return arg > 0 ? double(arg) : 1.0 / double(-arg);
}

void BM_SliceRender(benchmark::State& state)
{
    auto slice = playingSlice();
    if (state.range(0) != 0)
        slice->setPitch(static_cast<int>(state.range(0)));
    slice->setTimeStretchRatio(ratioArg(state.range(1)), 120);
    slice->play(true, 0.0, 1.0);
    std::vector<float> out(kBlock, 0.0f);
    for (auto _ : state) {
        slice->render(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRealtime(state);
}

// A rebuild holds the slice's lock, so a playing pad waits for it: at the
// limits of pitch and stretch it must stay short.
void BM_SliceRebuild(benchmark::State& state)
{
    auto slice = playingSlice();
    slice->setPitch(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        slice->setTimeStretchRatio(ratioArg(state.range(1)), 120);
        state.PauseTiming();
        slice->setTimeStretchRatio(1.0, 120);
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_PlainMixLoop);
BENCHMARK(BM_SliceRenderRaw);
// The limits of pitch (two octaves) and stretch (16 times) a pad may have.
BENCHMARK(BM_SliceRender)
    ->Args({0, 1})
    ->Args({7, 1})
    ->Args({24, -16})
    ->Args({-24, -16})
    ->Args({24, 16})
    ->Args({-24, 16});
BENCHMARK(BM_SliceRebuild)
    ->Args({24, 16})
    ->Args({-24, 16})
    ->Args({24, -16})
    ->Args({-24, -16})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Keep the slice's log lines out of the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return BenchAudio::runBenchmarks(argc, argv);
}
