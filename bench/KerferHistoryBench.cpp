// What an undo or redo costs the audio thread: the Kerfer's mutex is held while
// the cuts are put back, so that time is the longest a render can wait for
// it. Measured for a hand-cut loop (16 points) and a finely cut one (10000),
// against a plain render of the same loop, which takes the same mutex.

#include "AudioCache.h"
#include "BenchAudio.h"
#include "Kerfer.h"
#include "KerferHistory.h"
#include "Slice.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QThread>

#include <cmath>
#include <vector>

namespace {

// A loaded loop of one minute with points spread evenly over it.
void load(Kerfer& kerfer, int points)
{
    const QString path = BenchAudio::benchDir() + "/history.wav";
    BenchAudio::writeStereo(path, 44100 * 60, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                            [](long i, float& left, float& right) {
                                left = right = static_cast<float>(0.5 * std::sin(i * 0.05));
                            });
    kerfer.slotLoadLoop(path);
    while (!kerfer.getLoop()->getAudioCache()->isFilled())
        QThread::msleep(5);
    Kerfer::Cuts cuts = kerfer.getCuts();
    for (int i = 1; i <= points; ++i)
        cuts.points.append(2ul * (cuts.endMarker / 2 / (points + 1)) * i);
    kerfer.setCuts(cuts);
}

void BM_UndoRedoStep(benchmark::State& state)
{
    Kerfer kerfer;
    load(kerfer, int(state.range(0)));
    KerferHistory history(&kerfer);
    history.edit("Clear Slicing", [&] { kerfer.clearSlicePoints(); });
    for (auto _ : state) {
        history.getStack()->undo();
        history.getStack()->redo();
    }
    // Two cut lists put back per iteration.
    state.SetItemsProcessed(2 * state.iterations());
}

void BM_RenderBlock(benchmark::State& state)
{
    Kerfer kerfer;
    load(kerfer, 16);
    kerfer.setLoopPlayback(true); // round and round, never running out
    kerfer.playLoop(true);
    std::vector<float> buffer(1024);
    for (auto _ : state) {
        kerfer.render(buffer.data(), unsigned(buffer.size()));
        benchmark::DoNotOptimize(buffer.data());
    }
}

} // namespace

BENCHMARK(BM_UndoRedoStep)->Arg(16)->Arg(10000);
BENCHMARK(BM_RenderBlock);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return BenchAudio::runBenchmarks(argc, argv);
}
