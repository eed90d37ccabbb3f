// Exporting all 16 slices of a 60-second loop as 16-bit WAV files through the
// engine, beside the sox command cutting (and, for loops not at 44.1 kHz,
// converting) the same 16 ranges of the same file, in the same run; the loop
// export of the same loop; the slices as an SFZ kit with its MIDI groove, and
// the loop with its slice markers. Each for a loop at 44.1, 48 and 96 kHz.
//
//   build/release/bench/ExportBench
//
// The loops (32-bit float WAV, so both sides convert to 16 bits) are made on
// first use in /tmp/tamberlo-bench and kept there.

#include "AudioCache.h"
#include "BenchAudio.h"
#include "Kerfer.h"
#include "KitExporter.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QThread>
#include <QtGlobal>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

const long kSeconds = 60;
const int kSlices = 16;

using BenchAudio::benchDir;

bool writeLoop(const QString& path, int rate)
{
    return BenchAudio::writeStereo(
        path, kSeconds * rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
        [noise = 54321u, rate](long frame, float& left, float& right) mutable {
            const double t = static_cast<double>(frame) / rate;
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.1;
            // A kick every half second over a bass line.
            const double beat = std::fmod(t, 0.5);
            const double kick = 0.6 * std::exp(-beat * 30) * std::sin(2 * M_PI * 55 * beat);
            const double bass = 0.2 * std::sin(2 * M_PI * 82.4 * t);
            left = static_cast<float>(kick + bass + hiss);
            right = static_cast<float>(kick + bass - hiss);
        },
        rate);
}

QString loopPath(int rate)
{
    const QString path = benchDir() + QString("/export-loop-%1.wav").arg(rate);
    if (QFileInfo(path).size() < kSeconds * rate * 8 && !writeLoop(path, rate))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString outDir(const char* name)
{
    const QString dir = benchDir() + "/" + name;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

// An engine that renders only when asked, with the loop at the rate decoded
// and cut into 16 even slices; its settings live in the bench folder.
SliceEngine* engine(int rate)
{
    static SliceEngine* engine = [] {
        qputenv("XDG_DATA_HOME", QFile::encodeName(benchDir() + "/data"));
        Settings::resetInstanceForTests();
        Settings::instance()->setSetting("AudioDevice", "99. none (bench)");
        Settings::instance()->setSetting("MidiDevice", "None");
        return new SliceEngine();
    }();
    static int loaded = 0;
    if (rate != loaded) {
        if (!engine->getKerfer()->slotLoadLoop(loopPath(rate)))
            qFatal("cannot load %s", qPrintable(loopPath(rate)));
        AudioCache* cache = engine->getKerfer()->getLoop()->getAudioCache().data();
        while (!cache->isFilled())
            QThread::msleep(5);
        engine->getKerfer()->sliceEvenly(kSlices);
        loaded = rate;
    }
    return engine;
}

void reportSpeed(benchmark::State& state)
{
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_ExportSlices(benchmark::State& state)
{
    SliceEngine* e = engine(static_cast<int>(state.range(0)));
    const QString dir = outDir("export-ours");
    for (auto _ : state) {
        if (e->exportSlices(dir + "/slice.wav").size() != kSlices)
            state.SkipWithError("export failed");
    }
    reportSpeed(state);
}

// The first export after the cuts changed also builds the export list.
void BM_ExportSlicesAfterEdit(benchmark::State& state)
{
    SliceEngine* e = engine(static_cast<int>(state.range(0)));
    const QString dir = outDir("export-edited");
    unsigned long marker = 0;
    for (auto _ : state) {
        marker = marker == 0 ? 2 : 0;
        e->getKerfer()->setStartMarker(marker);
        if (e->exportSlices(dir + "/slice.wav").size() != kSlices)
            state.SkipWithError("export failed");
    }
    e->getKerfer()->setStartMarker(0);
    reportSpeed(state);
}

// The loop played from its start and rendered with everything else into a
// 32-bit float file.
void BM_ExportLoop(benchmark::State& state)
{
    SliceEngine* e = engine(static_cast<int>(state.range(0)));
    const QString file = outDir("export-loop") + "/loop.wav";
    for (auto _ : state) {
        e->getKerfer()->playLoop(true);
        if (!e->exportLoop(file))
            state.SkipWithError("export failed");
        e->getKerfer()->playLoop(false);
    }
    reportSpeed(state);
}

// The same slices as an SFZ kit with its MIDI groove: the groove reads the
// loop once more for the slices' peaks.
void BM_ExportKit(benchmark::State& state)
{
    SliceEngine* e = engine(static_cast<int>(state.range(0)));
    const QString dir = outDir("export-kit");
    const KitExporter kit(LoopSlices(e->getKerfer()), ExportFormat(), 120.0);
    for (auto _ : state) {
        if (!kit.writeKit(dir + "/kit.sfz", true).wroteAll())
            state.SkipWithError("export failed");
    }
    reportSpeed(state);
}

void BM_ExportLoopWithMarkers(benchmark::State& state)
{
    SliceEngine* e = engine(static_cast<int>(state.range(0)));
    const QString file = outDir("export-markers") + "/loop.wav";
    const KitExporter kit(LoopSlices(e->getKerfer()), ExportFormat(), 120.0);
    for (auto _ : state) {
        if (!kit.writeLoopWithMarkers(file).wroteAll())
            state.SkipWithError("export failed");
    }
    reportSpeed(state);
}

void BM_SoxCommand(benchmark::State& state)
{
    const int rate = static_cast<int>(state.range(0));
    // The same ranges as the engine's export list, in frames.
    std::vector<std::pair<unsigned long, unsigned long>> ranges;
    engine(rate)->updateExportList();
    unsigned long start = 0;
    for (const QSharedPointer<Slice>& slice : engine(rate)->getExportList()) {
        ranges.emplace_back(start / 2, slice->getLength() / 2);
        start += slice->getLength();
    }
    const QString dir = outDir("export-sox");
    const QString convert = rate == 44100 ? QString() : QString(" rate -v 44100");
    QString script;
    for (size_t i = 0; i < ranges.size(); ++i) {
        script +=
            QString("sox -V1 '%1' -b 16 -e signed-integer '%2/slice_%3.wav' trim %4s %5s%6 && ")
                .arg(loopPath(rate), dir)
                .arg(i + 1)
                .arg(ranges[i].first)
                .arg(ranges[i].second)
                .arg(convert);
    }
    script += "true";
    const QByteArray command = script.toLocal8Bit();
    for (auto _ : state) {
        if (std::system(command.constData()) != 0)
            state.SkipWithError("sox failed");
    }
    reportSpeed(state);
}

void rates(benchmark::internal::Benchmark* bench)
{
    bench->Arg(44100)
        ->Arg(48000)
        ->Arg(96000)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(3.0);
}

BENCHMARK(BM_ExportSlices)->Apply(rates);
BENCHMARK(BM_ExportSlicesAfterEdit)
    ->Arg(44100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);
BENCHMARK(BM_ExportLoop)->Apply(rates);
BENCHMARK(BM_ExportKit)->Apply(rates);
BENCHMARK(BM_ExportLoopWithMarkers)->Apply(rates);
BENCHMARK(BM_SoxCommand)->Apply(rates);

void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char** argv)
{
    // Every save logs a few lines; a benchmark saves thousands of times.
    qInstallMessageHandler(quiet);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete engine(44100);
    return 0;
}
