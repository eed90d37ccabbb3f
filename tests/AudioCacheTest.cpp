#include "AudioCache.h"
#include "AudioChunk.h"
#include "AudioFileSndFile.h"

#include "GatedAudioFile.h"
#include "LogCapture.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QTest>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

using SliceTestSupport::waitFilled;

namespace {

QString stereoFile(const QString& test, long frames)
{
    const QString path = TestAudio::scratchDir(test) + "/loop.wav";
    EXPECT_TRUE(TestAudio::writeFile(path, frames, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    return path;
}

std::vector<float> perSample(AudioCache& cache, unsigned long start, unsigned count)
{
    std::vector<float> out(count);
    for (unsigned i = 0; i < count; ++i)
        out[i] = cache.getSample(static_cast<long>(start + i));
    return out;
}

// Every reader of the cache agrees with `expected` (index -> sample), and the
// run readers agree with getSample bit for bit, across chunk borders, at odd
// starts and beyond the end.
void expectReadersAgree(AudioCache& cache, const std::function<float(unsigned long)>& expected,
                        unsigned long span)
{
    std::lock_guard<AudioCache> locked(cache);
    EXPECT_EQ(cache.getSample(-1), 0.0f);
    for (unsigned long i = 0; i < span; ++i)
        ASSERT_EQ(cache.getSample(static_cast<long>(i)), expected(i)) << "index " << i;

    const std::pair<unsigned long, unsigned> runs[] = {
        {0, 8191},    {4090, 12},         {4095, 4098},      {1, 4096},
        {8000, 3000}, {span - 700, 1400}, {span + 5000, 64}, {12, 0}};
    for (const auto& run : runs) {
        std::vector<float> copied(run.second, 7.0f);
        cache.readSamples(run.first, copied.data(), run.second);
        EXPECT_EQ(copied, perSample(cache, run.first, run.second)) << "run at " << run.first;

        std::vector<float> mixed(run.second), reference(run.second);
        for (unsigned i = 0; i < run.second; ++i)
            mixed[i] = reference[i] = 0.25f - 0.001f * static_cast<float>(i % 97);
        cache.mixSamples(run.first, mixed.data(), run.second, 0.8f);
        for (unsigned i = 0; i < run.second; ++i)
            reference[i] = cache.getSample(static_cast<long>(run.first + i)) * 0.8f + reference[i];
        EXPECT_EQ(mixed, reference) << "mix at " << run.first;
    }
    // Short runs at every start: every way a run can meet a chunk border.
    for (unsigned long start = 0; start < span; ++start) {
        float copied[5];
        cache.readSamples(start, copied, 5);
        ASSERT_EQ(std::vector<float>(copied, copied + 5), perSample(cache, start, 5)) << start;
    }
}

} // namespace

TEST(AudioCacheTest, ChunksCoverTheLengthAndTheFillRecordsWhatEachReceived)
{
    const struct
    {
        long frames; // negative: no file
        int before;
        std::vector<unsigned long> sizes;
    } cases[] = {{5000, 3, {4096, 4096, 1808}},
                 // Whole chunks: the last read finds the end in an extra chunk.
                 {4096, 2, {4096, 4096, 0}},
                 {-1, 1, {0}}};
    for (const auto& c : cases) {
        LogCapture::clear();
        const QString name = QString("geometry%1").arg(c.frames);
        AudioFileSndFile file(c.frames < 0 ? TestAudio::scratchDir(name) + "/missing.wav"
                                           : stereoFile(name, c.frames));
        AudioCache cache(&file);
        // The fill may have run already: its chunk count is read from the log.
        EXPECT_TRUE(LogCapture::containsAll({"AudioCache preallocate took", "milliseconds",
                                             QString("for %1 chunks").arg(c.before)}));
        ASSERT_TRUE(waitFilled(&cache));
        std::vector<unsigned long> sizes;
        cache.lock();
        for (unsigned long key = 0; AudioChunk* chunk = cache.getChunk(key); key += 4096) {
            EXPECT_EQ(chunk->m_startSample, key);
            sizes.push_back(chunk->m_size);
        }
        EXPECT_EQ(cache.getSample(static_cast<long>(cache.getLength())), 0.0f);
        cache.unlock();
        EXPECT_EQ(sizes, c.sizes) << c.frames;
        EXPECT_EQ(cache.getNumChunks(), static_cast<int>(sizes.size()));
        EXPECT_EQ(LogCapture::count("Warning: Allocated and inserted new chunk during fill"),
                  static_cast<int>(c.sizes.size()) - c.before);
    }
}

TEST(AudioCacheTest, ReadersSeeTheFileForwardsAndBackwardsAcrossChunkBorders)
{
    const QString path = stereoFile("contents", 10001);
    const std::vector<float> samples = TestAudio::readFile(path);
    const unsigned long length = samples.size();
    AudioFileSndFile file(path);
    AudioCache cache(&file);
    ASSERT_TRUE(waitFilled(&cache));

    const auto forward = [&](unsigned long i) { return i < length ? samples[i] : 0.0f; };
    expectReadersAgree(cache, forward, length + 8192);
    // Frame 0 is the file's last frame, channels in their order.
    cache.setReversed(true);
    expectReadersAgree(
        cache,
        [&](unsigned long i) {
            return i < length ? samples[length - 2 - (i & ~1ul) + (i & 1ul)] : 0.0f;
        },
        length + 4096);
    cache.setReversed(false);
    expectReadersAgree(cache, forward, length + 4096);
}

TEST(AudioCacheTest, ChunksTheFillHasNotReachedReadAsSilence)
{
    const QString path = stereoFile("unfilled", 6000);
    const std::vector<float> samples = TestAudio::readFile(path);
    GatedAudioFile file(new AudioFileSndFile(path));
    file.allow(1);
    AudioCache cache(&file);
    // The second read is held: chunk 0 is in, chunk 4096 is not. The fill
    // holds no lock while it reads, so the cache stays readable meanwhile.
    ASSERT_TRUE(file.waitUntilHeld());
    cache.lock();
    EXPECT_EQ(perSample(cache, 4094, 4), (std::vector<float>{samples[4094], samples[4095], 0, 0}));
    EXPECT_EQ(cache.getSample(11999), 0.0f);
    cache.unlock();
    EXPECT_FALSE(cache.isFilled());
    file.openGate();
    ASSERT_TRUE(waitFilled(&cache));
    std::lock_guard<AudioCache> locked(cache);
    EXPECT_EQ(cache.getSample(4096), samples[4096]);
}

TEST(AudioCacheTest, ProgressIsReportedEvery128ChunksAndAtTheEnd)
{
    // 300 chunks: reports after chunk 128, 256 and at the end.
    GatedAudioFile file(new AudioFileSndFile(stereoFile("progress", 300 * 2048 - 100)));
    std::atomic<int> reports{0};
    std::unique_ptr<AudioCache> cache(new AudioCache(&file));
    QObject::connect(cache.get(), &AudioCache::fillProgress, [&] { ++reports; });
    file.openGate();
    ASSERT_TRUE(waitFilled(cache.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return reports.load() >= 3; }, 5000));
    cache.reset();
    EXPECT_EQ(reports.load(), 3);
}
