// Exporting all 16 slices of a 60-second loop as 16-bit WAV files through the
// engine, beside the sox command cutting and converting the same 16 ranges of
// the same file, in the same run.
//
//   build/release/bench/ExportBench
//
// The loop (32-bit float WAV, so both sides convert to 16 bits) is made on
// first use in /tmp/tamberlo-bench and kept there.

#include "AudioCache.h"
#include "BenchAudio.h"
#include "Kerfer.h"
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

const int kRate = 44100;
const long kFrames = 60L * kRate;
const int kSlices = 16;

using BenchAudio::benchDir;

bool writeLoop(const QString& path)
{
    return BenchAudio::writeStereo(
        path, kFrames, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
        [noise = 54321u](long frame, float& left, float& right) mutable {
            const double t = static_cast<double>(frame) / kRate;
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.1;
            // A kick every half second over a bass line.
            const double beat = std::fmod(t, 0.5);
            const double kick = 0.6 * std::exp(-beat * 30) * std::sin(2 * M_PI * 55 * beat);
            const double bass = 0.2 * std::sin(2 * M_PI * 82.4 * t);
            left = static_cast<float>(kick + bass + hiss);
            right = static_cast<float>(kick + bass - hiss);
        });
}

const QString& loopPath()
{
    static const QString path = [] {
        const QString p = benchDir() + "/export-loop.wav";
        if (QFileInfo(p).size() < kFrames * 8 && !writeLoop(p))
            qFatal("cannot write %s", qPrintable(p));
        return p;
    }();
    return path;
}

QString outDir(const char* name)
{
    const QString dir = benchDir() + "/" + name;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

// An engine that renders only when asked, with the loop decoded and cut into
// 16 even slices; its settings live in the bench folder.
SliceEngine* engine()
{
    static SliceEngine* engine = [] {
        qputenv("XDG_DATA_HOME", QFile::encodeName(benchDir() + "/data"));
        Settings::resetInstanceForTests();
        Settings::instance()->setSetting("AudioDevice", "99. none (bench)");
        Settings::instance()->setSetting("MidiDevice", "None");
        SliceEngine* e = new SliceEngine();
        if (!e->getKerfer()->slotLoadLoop(loopPath()))
            qFatal("cannot load %s", qPrintable(loopPath()));
        AudioCache* cache = e->getKerfer()->getLoop()->getAudioCache().data();
        while (!cache->isFilled())
            QThread::msleep(5);
        e->getKerfer()->sliceEvenly(kSlices);
        return e;
    }();
    return engine;
}

void reportSpeed(benchmark::State& state)
{
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(kFrames) / kRate *
                                                          static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_ExportSlices(benchmark::State& state)
{
    SliceEngine* e = engine();
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
    SliceEngine* e = engine();
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

void BM_SoxCommand(benchmark::State& state)
{
    // The same ranges as the engine's export list, in frames.
    std::vector<std::pair<unsigned long, unsigned long>> ranges;
    engine()->updateExportList();
    unsigned long start = 0;
    for (const QSharedPointer<Slice>& slice : engine()->getExportList()) {
        ranges.emplace_back(start / 2, slice->getLength() / 2);
        start += slice->getLength();
    }
    const QString dir = outDir("export-sox");
    QString script;
    for (size_t i = 0; i < ranges.size(); ++i) {
        script += QString("sox -V1 '%1' -b 16 -e signed-integer '%2/slice_%3.wav' trim %4s %5s && ")
                      .arg(loopPath(), dir)
                      .arg(i + 1)
                      .arg(ranges[i].first)
                      .arg(ranges[i].second);
    }
    script += "true";
    const QByteArray command = script.toLocal8Bit();
    for (auto _ : state) {
        if (std::system(command.constData()) != 0)
            state.SkipWithError("sox failed");
    }
    reportSpeed(state);
}

BENCHMARK(BM_ExportSlices)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_ExportSlicesAfterEdit)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_SoxCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

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
    // Decode the loop before any timing starts.
    engine();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete engine();
    return 0;
}
