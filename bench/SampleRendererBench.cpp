// Rebuilding the cached waveform picture of a 1600-pixel view over a
// one-minute and a ten-minute loop, at the whole loop, a tenth and a
// thousandth of it. The rebuild reads a bounded number of samples per pixel
// column, so its time should follow the width, not the length or the zoom.
//
//   xvfb-run -a -s "-screen 0 1600x1000x24" build/release/bench/SampleRendererBench
//
// The loops are written on first use to /tmp/tamberlo-bench and kept there.

#include "AudioCache.h"
#include "BenchAudio.h"
#include "SampleRendererLooper.h"
#include "Slice.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace {

const int kRate = 44100;
const int kWidth = 1600;
const int kHeight = 200;

// Opens up the rebuild.
class BenchView : public SampleRendererLooper
{
public:
    using SampleRenderer::renderWaveform;
    using SampleRendererLooper::SampleRendererLooper;
};

// A drum-like loop: decaying bursts twice a second over a quiet tone.
bool writeLoop(const QString& path, long frames)
{
    return BenchAudio::writeStereo(
        path, frames, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](long frame, float& left, float& right) {
            const double t = double(frame % (kRate / 2)) / kRate;
            const double v = 0.8 * std::exp(-t * 30) * std::sin(2 * M_PI * 90 * t) +
                             0.05 * std::sin(2 * M_PI * 440 * double(frame) / kRate);
            left = float(v);
            right = float(0.9 * v);
        });
}

// The loop of the given length, loaded and completely filled, kept for the run.
QSharedPointer<Slice> loop(int minutes)
{
    static std::map<int, QSharedPointer<Slice>> loops;
    QSharedPointer<Slice>& slice = loops[minutes];
    if (slice)
        return slice;
    const QString dir = QDir::tempPath() + "/tamberlo-bench";
    QDir().mkpath(dir);
    const QString path = dir + QString("/loop-%1-minutes.wav").arg(minutes);
    const long frames = long(minutes) * 60 * kRate;
    if (QFileInfo(path).size() < frames * 4 && !writeLoop(path, frames))
        qFatal("cannot write %s", qPrintable(path));
    slice.reset(new Slice(path));
    if (slice->getLength() != static_cast<unsigned long>(2 * frames))
        qFatal("cannot load %s", qPrintable(path));
    while (!slice->getAudioCache()->isFilled())
        QThread::msleep(10);
    return slice;
}

void BM_RebuildWaveform(benchmark::State& state)
{
    const int minutes = int(state.range(0));
    const long zoom = long(state.range(1));
    BenchView view(nullptr, loop(minutes));
    view.resize(kWidth, kHeight);
    const long length = long(view.getSlice()->getLength());
    // A stretch in the middle of the loop, zoom times narrower than the whole.
    const long span = length / zoom;
    const long start = (length - span) / 2;
    view.setViewPosition(start, start + span);

    for (auto _ : state) {
        view.setWaveformDirty(true);
        view.renderWaveform();
    }
    if (view.isWaveformDirty())
        state.SkipWithError("the waveform was not rebuilt");
    state.counters["samples_per_pixel"] = double(span) / kWidth;
}

BENCHMARK(BM_RebuildWaveform)
    ->ArgNames({"minutes", "zoom"})
    ->ArgsProduct({{1, 10}, {1, 10, 1000}})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    return BenchAudio::runBenchmarks(argc, argv);
}
