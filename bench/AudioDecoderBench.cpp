// Decoding speed of a five-minute stereo MP3 (and WAV) through our decoder,
// beside the ffmpeg command decoding the same file in the same run.
//
//   build/release/bench/AudioDecoderBench
//
// The files are made on first use in /tmp/tamberlo-bench and kept there.

#include "AudioDecoder.h"
#include "AudioFileAudioDecoder.h"
#include "BenchAudio.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QtGlobal>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

const int kRate = 44100;
const long kFrames = 5L * 60 * kRate;

using BenchAudio::benchDir;

// Something an encoder has to work at: a few drifting tones and some noise.
bool writeFiveMinuteWav(const QString& path)
{
    return BenchAudio::writeStereo(
        path, kFrames, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
        [noise = 12345u](long frame, float& left, float& right) mutable {
            const double t = static_cast<double>(frame) / kRate;
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.05;
            const double tone = 0.25 * std::sin(2 * M_PI * (220 + 20 * std::sin(t)) * t) +
                                0.1 * std::sin(2 * M_PI * 1870 * t);
            left = static_cast<float>(tone + hiss);
            right = static_cast<float>(0.8 * tone - hiss);
        });
}

bool run(const QString& command)
{
    return std::system(command.toLocal8Bit().constData()) == 0;
}

// The five-minute files, made once and cached between runs.
const QString& fiveMinuteWav()
{
    static const QString path = [] {
        const QString p = benchDir() + "/five-minutes.wav";
        if (QFileInfo(p).size() < kFrames * 4 && !writeFiveMinuteWav(p))
            qFatal("cannot write %s", qPrintable(p));
        return p;
    }();
    return path;
}

const QString& fiveMinuteMp3()
{
    static const QString path = [] {
        const QString p = benchDir() + "/five-minutes.mp3";
        if (!QFileInfo::exists(p) &&
            !run(QString("ffmpeg -nostdin -loglevel error -y -i '%1' -c:a libmp3lame -b:a 192k "
                         "'%2'")
                     .arg(fiveMinuteWav(), p)))
            qFatal("cannot encode %s", qPrintable(p));
        return p;
    }();
    return path;
}

// Reads a whole file the way the cache fill does: 4096-sample requests until
// a short one.
std::uint64_t readToEnd(AudioFile& file)
{
    static std::vector<float> block(4096);
    std::uint64_t total = 0;
    for (unsigned n = 4096; n == 4096;) {
        n = file.read(block.data(), 4096);
        total += n;
    }
    return total;
}

void reportSpeed(benchmark::State& state)
{
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(kFrames) / kRate *
                                                          static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_OpenMp3(benchmark::State& state)
{
    const std::string path = QFile::encodeName(fiveMinuteMp3()).toStdString();
    for (auto _ : state) {
        AudioDecoder decoder(path);
        if (decoder.open() != 0)
            state.SkipWithError("open failed");
        benchmark::DoNotOptimize(decoder.getTotalSamples());
    }
}

void readerBench(benchmark::State& state, const QString& path)
{
    for (auto _ : state) {
        AudioFileAudioDecoder reader(path);
        const std::uint64_t got = readToEnd(reader);
        if (got != 2 * static_cast<std::uint64_t>(kFrames))
            state.SkipWithError("wrong length");
    }
    reportSpeed(state);
}

void BM_DecodeMp3(benchmark::State& state)
{
    readerBench(state, fiveMinuteMp3());
}

void BM_DecodeWav(benchmark::State& state)
{
    readerBench(state, fiveMinuteWav());
}

void BM_FfmpegCommandMp3(benchmark::State& state)
{
    const QString command =
        QString("ffmpeg -nostdin -loglevel error -threads 1 -i '%1' -f f32le -y /dev/null")
            .arg(fiveMinuteMp3());
    for (auto _ : state)
        if (!run(command))
            state.SkipWithError("ffmpeg failed");
    reportSpeed(state);
}

BENCHMARK(BM_OpenMp3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMp3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegCommandMp3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeWav)->Unit(benchmark::kMillisecond)->UseRealTime();

void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char** argv)
{
    // The readers log every open; a benchmark opens hundreds of times.
    qInstallMessageHandler(quiet);
    benchmark::Initialize(&argc, argv);
    // Make the files before any timing starts.
    fiveMinuteMp3();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
