#include "SliceTestSupport.h"

#include "AudioCache.h"
#include "LogCapture.h"
#include "Slice.h"
#include "TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <csignal>

namespace SliceTestSupport {

QString freshTestDir()
{
    LogCapture::clear();
    return TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

static QString writeFloatWav(const QString& path, long frames, int channels, int rate,
                             const TestAudio::Generator& gen)
{
    const int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    return TestAudio::writeFile(path, frames, channels, rate, format, gen) ? path : QString();
}

QString writeWav(const QString& dir, const QString& name, long frames, int channels, int rate)
{
    return writeFloatWav(dir + "/" + name, frames, channels, rate, TestAudio::ramp);
}

QString writeSine(const QString& dir, const QString& name, double hz, long frames, int rate,
                  int channels)
{
    return writeFloatWav(dir + "/" + name, frames, channels, rate, TestAudio::sine(hz, rate));
}

std::vector<float> stereoSamples(const QString& path)
{
    int channels = 0;
    const std::vector<float> raw = TestAudio::readFile(path, &channels);
    if (channels == 2)
        return raw;
    std::vector<float> stereo;
    for (float v : raw)
        stereo.insert(stereo.end(), {v, v});
    return stereo;
}

bool waitFilled(AudioCache* cache, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!cache->isFilled() && timer.elapsed() <= timeoutMs)
        QThread::msleep(2);
    return cache->isFilled();
}

QSharedPointer<Slice> loadFilled(const QString& path)
{
    QSharedPointer<Slice> slice(new Slice(path));
    const bool filled = slice->getAudioCache() && waitFilled(slice->getAudioCache().data());
    return filled ? slice : QSharedPointer<Slice>();
}

double frequency(const std::vector<float>& stereo, std::size_t from, std::size_t to)
{
    std::size_t first = 0, last = 0;
    int crossings = 0;
    for (std::size_t f = from + 1; f < to && 2 * f < stereo.size(); ++f) {
        if (stereo[2 * (f - 1)] < 0.0f && stereo[2 * f] >= 0.0f) {
            first = crossings++ ? first : f;
            last = f;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * 44100.0 / static_cast<double>(last - first);
}

std::vector<float> renderAll(Slice& slice, unsigned block, int maxBlocks)
{
    std::vector<float> all, buf(block);
    for (int i = 0; i < maxBlocks; ++i) {
        std::fill(buf.begin(), buf.end(), 0.0f);
        const unsigned got = slice.render(buf.data(), block);
        if (got == 0)
            break;
        all.insert(all.end(), buf.begin(), buf.begin() + got);
    }
    return all;
}

std::vector<float> rawBlock(Slice& slice, unsigned n)
{
    std::vector<float> out(n, 0.0f);
    slice.renderRaw(out.data(), n);
    return out;
}

std::vector<float> pick(const std::vector<float>& audio,
                        std::initializer_list<std::pair<unsigned, unsigned>> ranges, float gain)
{
    std::vector<float> out;
    for (auto range : ranges)
        for (unsigned i = range.first; i < range.second; ++i)
            out.push_back(audio[i] * gain);
    return out;
}

bool withFileSizeLimit(unsigned long bytes, const std::function<bool()>& write)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{bytes, old.rlim_max};
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool result = write();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace SliceTestSupport
