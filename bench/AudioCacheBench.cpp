// Filling a cache from a five-minute WAV and from the same audio as MP3 (beside
// the ffmpeg command decoding that MP3 in the same run), and reading a cache
// back the way the audio thread does: by runs or sample by sample.

#include "AudioCache.h"
#include "AudioFileAudioDecoder.h"
#include "AudioFileSndFile.h"
#include "BenchAudio.h"

#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const long kRate = 44100;
const long kFrames = 5 * 60 * kRate;
QString g_wavPath;
QString g_mp3Path;

bool writeFiveMinuteWav(const QString& path)
{
    return BenchAudio::writeStereo(
        path, kFrames, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](long frame, float& left, float& right) {
            const double t = static_cast<double>(frame) / kRate;
            left = static_cast<float>(0.4 * std::sin(2 * M_PI * 220 * t));
            right = static_cast<float>(0.4 * std::sin(2 * M_PI * 331 * t));
        });
}

// Seconds from the construction of a cache to its last fillProgress(), as a
// load sees it.
double loadOnce(const std::function<std::unique_ptr<AudioFile>()>& open)
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::chrono::steady_clock::time_point end;

    const auto begin = std::chrono::steady_clock::now();
    std::unique_ptr<AudioFile> file = open();
    auto cache = std::make_unique<AudioCache>(file.get());
    const auto onProgress = [&] {
        if (!cache->isFilled())
            return;
        std::lock_guard<std::mutex> lock(mutex);
        if (!finished) {
            end = std::chrono::steady_clock::now();
            finished = true;
            done.notify_all();
        }
    };
    // Filling five minutes takes far longer than connecting; should it have
    // ended already, the signal's moment is now.
    QObject::connect(cache.get(), &AudioCache::fillProgress, onProgress);
    onProgress();
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return finished; });
    }
    cache.reset();
    file.reset();
    return std::chrono::duration<double>(end - begin).count();
}

// Arg 0: the first load of the process pays the first touch of ~100 MB of
// fresh heap in its first iteration. Arg 1: that load is done untimed first.
std::unique_ptr<AudioFile> openWav()
{
    return std::make_unique<AudioFileSndFile>(g_wavPath);
}

std::unique_ptr<AudioFile> openMp3()
{
    return std::make_unique<AudioFileAudioDecoder>(g_mp3Path);
}

void BM_FillFromWav(benchmark::State& state)
{
    if (state.range(0) != 0)
        loadOnce(openWav);
    for (auto _ : state)
        state.SetIterationTime(loadOnce(openWav));
    state.counters["chunks"] = static_cast<double>((2 * kFrames + 4095) / 4096);
}
BENCHMARK(BM_FillFromWav)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Construction to the last fillProgress() for the MP3, the way a loop loads.
void BM_FillFromMp3(benchmark::State& state)
{
    loadOnce(openMp3);
    for (auto _ : state)
        state.SetIterationTime(loadOnce(openMp3));
}
BENCHMARK(BM_FillFromMp3)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The reference: the ffmpeg command decoding the same MP3 on one thread.
void BM_FfmpegCommandMp3(benchmark::State& state)
{
    const QByteArray command = QString("ffmpeg -nostdin -loglevel error -threads 1 -i '%1' "
                                       "-f f32le -y /dev/null")
                                   .arg(g_mp3Path)
                                   .toLocal8Bit();
    for (auto _ : state) {
        if (std::system(command.constData()) != 0)
            state.SkipWithError("ffmpeg failed");
    }
}
BENCHMARK(BM_FfmpegCommandMp3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// What libsndfile alone needs to decode the same file, for comparison.
void BM_LibsndfileAlone(benchmark::State& state)
{
    std::vector<float> block(4096);
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* f = sf_open(QFile::encodeName(g_wavPath).constData(), SFM_READ, &info);
        while (sf_read_float(f, block.data(), 4096) == 4096)
            benchmark::DoNotOptimize(block.data());
        sf_close(f);
    }
}
BENCHMARK(BM_LibsndfileAlone)->Unit(benchmark::kMillisecond)->Iterations(10);

// A filled cache shared by the read benchmarks.
struct Filled
{
    std::unique_ptr<AudioFileSndFile> file;
    std::unique_ptr<AudioCache> cache;
};
Filled& filled()
{
    static Filled f = [] {
        Filled result;
        result.file = std::make_unique<AudioFileSndFile>(g_wavPath);
        result.cache = std::make_unique<AudioCache>(result.file.get());
        while (!result.cache->isFilled())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return result;
    }();
    return f;
}

const unsigned kBlock = 1024; // one audio buffer of 512 frames

// Reads the whole file in audio-buffer blocks, one lock per block.
template <typename PerBlock>
void readWholeFile(benchmark::State& state, bool reversed, PerBlock perBlock)
{
    AudioCache& cache = *filled().cache;
    cache.setReversed(reversed);
    const unsigned long length = cache.getLength();
    std::vector<float> out(kBlock, 0.0f);
    for (auto _ : state) {
        for (unsigned long pos = 0; pos + kBlock <= length; pos += kBlock) {
            cache.lock();
            perBlock(cache, pos, out.data());
            cache.unlock();
        }
        benchmark::DoNotOptimize(out.data());
    }
    cache.setReversed(false);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(length / kBlock * kBlock));
}

void BM_GetSamplePerSample(benchmark::State& state)
{
    readWholeFile(state, false, [](AudioCache& cache, unsigned long pos, float* out) {
        for (unsigned i = 0; i < kBlock; ++i)
            out[i] = cache.getSample(static_cast<long>(pos + i)) * 0.5f + out[i];
    });
}
BENCHMARK(BM_GetSamplePerSample)->Unit(benchmark::kMillisecond);

void BM_ReadSamples(benchmark::State& state)
{
    readWholeFile(state, false, [](AudioCache& cache, unsigned long pos, float* out) {
        cache.readSamples(pos, out, kBlock);
    });
}
BENCHMARK(BM_ReadSamples)->Unit(benchmark::kMillisecond);

void BM_MixSamples(benchmark::State& state)
{
    readWholeFile(state, false, [](AudioCache& cache, unsigned long pos, float* out) {
        cache.mixSamples(pos, out, kBlock, 0.5f);
    });
}
BENCHMARK(BM_MixSamples)->Unit(benchmark::kMillisecond);

void BM_GetSamplePerSampleReversed(benchmark::State& state)
{
    readWholeFile(state, true, [](AudioCache& cache, unsigned long pos, float* out) {
        for (unsigned i = 0; i < kBlock; ++i)
            out[i] = cache.getSample(static_cast<long>(pos + i)) * 0.5f + out[i];
    });
}
BENCHMARK(BM_GetSamplePerSampleReversed)->Unit(benchmark::kMillisecond);

void BM_ReadSamplesReversed(benchmark::State& state)
{
    readWholeFile(state, true, [](AudioCache& cache, unsigned long pos, float* out) {
        cache.readSamples(pos, out, kBlock);
    });
}
BENCHMARK(BM_ReadSamplesReversed)->Unit(benchmark::kMillisecond);

void BM_MixSamplesReversed(benchmark::State& state)
{
    readWholeFile(state, true, [](AudioCache& cache, unsigned long pos, float* out) {
        cache.mixSamples(pos, out, kBlock, 0.5f);
    });
}
BENCHMARK(BM_MixSamplesReversed)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    const QString dir = QDir::tempPath() + "/tamberlo-bench";
    QDir().mkpath(dir);
    g_wavPath = dir + "/five-minutes.wav";
    if (!writeFiveMinuteWav(g_wavPath)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(g_wavPath));
        return 1;
    }
    g_mp3Path = dir + "/five-minutes-cache.mp3";
    const QByteArray encode = QString("ffmpeg -nostdin -loglevel error -y -i '%1' -c:a libmp3lame "
                                      "-b:a 192k '%2'")
                                  .arg(g_wavPath, g_mp3Path)
                                  .toLocal8Bit();
    if (std::system(encode.constData()) != 0) {
        std::fprintf(stderr, "cannot encode %s\n", qPrintable(g_mp3Path));
        return 1;
    }
    // The cache's log lines would drown the table.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QFile::remove(g_wavPath);
    QFile::remove(g_mp3Path);
    return 0;
}
