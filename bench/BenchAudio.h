#pragma once

// Audio for the benchmarks: stereo files (44.1 kHz unless asked otherwise)
// written block by block from a generator, so minutes of audio never sit in
// memory whole.

#include <QDir>
#include <QFile>
#include <QString>

#include <benchmark/benchmark.h>

#include <sndfile.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace BenchAudio {

inline QString benchDir()
{
    const QString dir = QDir::tempPath() + "/tamberlo-bench";
    QDir().mkpath(dir);
    return dir;
}

// Called once per frame, in order, with the frame's index.
using Generator = std::function<void(long frame, float& left, float& right)>;

inline bool writeStereo(const QString& path, long frames, int format, const Generator& generate,
                        int rate = 44100)
{
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = rate;
    info.format = format;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<float> block(2 * 4096);
    bool ok = true;
    for (long start = 0; start < frames; start += 4096) {
        const long n = std::min(4096L, frames - start);
        for (long i = 0; i < n; ++i)
            generate(start + i, block[2 * i], block[2 * i + 1]);
        ok = sf_writef_float(f, block.data(), n) == n && ok;
    }
    return sf_close(f) == 0 && ok;
}

// Runs the benchmarks named on the command line; what main does once it has
// made its application object.
inline int runBenchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace BenchAudio
