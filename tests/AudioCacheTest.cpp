#include "AudioCache.h"
#include "AudioChunk.h"
#include "AudioFileSndFile.h"

#include "GatedAudioFile.h"
#include "LogCapture.h"
#include "TestAudio.h"

#include <QTest>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <memory>
#include <vector>

namespace {

// Holds the cache's lock for a scope, so that a failed ASSERT returning early
// does not leave it locked for the rest of the test.
struct Locked
{
    explicit Locked(AudioCache& cache) : m_cache(cache) { m_cache.lock(); }
    ~Locked() { m_cache.unlock(); }
    AudioCache& m_cache;
};

bool waitFilled(AudioCache& cache)
{
    return QTest::qWaitFor([&] { return cache.isFilled(); }, 20000);
}

QString stereoFile(const QString& test, long frames)
{
    const QString path = TestAudio::scratchDir(test) + "/loop.wav";
    EXPECT_TRUE(TestAudio::writeFile(path, frames, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    return path;
}

// Chunk sizes in key order, read under the cache's lock.
std::vector<unsigned long> chunkSizes(AudioCache& cache)
{
    std::vector<unsigned long> sizes;
    cache.lock();
    for (unsigned long key = 0; AudioChunk* chunk = cache.getChunk(key); key += 4096) {
        EXPECT_EQ(chunk->m_startSample, key);
        sizes.push_back(chunk->m_size);
    }
    cache.unlock();
    return sizes;
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
    Locked locked(cache);
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
        ASSERT_EQ(std::vector<float>(copied, copied + 5), perSample(cache, start, 5))
            << "short run at " << start;
    }
}

} // namespace

TEST(AudioCacheTest, ChunksCoverTheLengthAndTheFillRecordsWhatEachReceived)
{
    LogCapture::clear();
    AudioFileSndFile file(stereoFile("geometry10000", 5000));
    AudioCache cache(&file);
    EXPECT_EQ(cache.getLength(), 10000u);
    EXPECT_EQ(cache.getNumChunks(), 3);
    EXPECT_TRUE(LogCapture::contains("AudioCache::preallocate"));
    EXPECT_TRUE(
        LogCapture::containsAll({"AudioCache preallocate took", "milliseconds", "for 3 chunks"}));
    ASSERT_TRUE(waitFilled(cache));
    EXPECT_EQ(chunkSizes(cache), (std::vector<unsigned long>{4096, 4096, 1808}));
    EXPECT_TRUE(LogCapture::contains("Starting fill..."));
    EXPECT_TRUE(QTest::qWaitFor(
        [] {
            return LogCapture::containsAll(
                {"AudioCache fill took", "milliseconds", "for 3 chunks"});
        },
        5000));
    EXPECT_EQ(LogCapture::count("Warning: Allocated and inserted new chunk during fill"), 0);
}

TEST(AudioCacheTest, AFileOfWholeChunksEndsWithOneWarnedEmptyChunk)
{
    LogCapture::clear();
    AudioFileSndFile file(stereoFile("geometry8192", 4096));
    AudioCache cache(&file);
    EXPECT_EQ(cache.getNumChunks(), 2);
    ASSERT_TRUE(waitFilled(cache));
    EXPECT_EQ(cache.getNumChunks(), 3);
    EXPECT_EQ(chunkSizes(cache), (std::vector<unsigned long>{4096, 4096, 0}));
    EXPECT_EQ(LogCapture::count("Warning: Allocated and inserted new chunk during fill 8192"), 1);
}

TEST(AudioCacheTest, AFileThatYieldsNothingGetsOneSilentChunkAndAFinishedFill)
{
    AudioFileSndFile missing(TestAudio::scratchDir("nothing") + "/missing.wav");
    AudioCache cache(&missing);
    EXPECT_EQ(cache.getNumChunks(), 1);
    ASSERT_TRUE(waitFilled(cache));
    EXPECT_EQ(chunkSizes(cache), (std::vector<unsigned long>{0}));
    cache.lock();
    EXPECT_EQ(cache.getSample(0), 0.0f);
    cache.unlock();
}

TEST(AudioCacheTest, ReadersSeeTheFileAcrossChunkBordersAndSilenceBeyondIt)
{
    const QString path = stereoFile("contents", 10000);
    const std::vector<float> samples = TestAudio::readFile(path);
    AudioFileSndFile file(path);
    AudioCache cache(&file);
    ASSERT_TRUE(waitFilled(cache));

    cache.lock();
    EXPECT_EQ(cache.getSample(4095), samples[4095]);
    EXPECT_EQ(cache.getSample(4096), samples[4096]);
    EXPECT_EQ(cache.getSample(-1), 0.0f);
    EXPECT_EQ(cache.getSample(5 * 4096), 0.0f); // beyond the last chunk
    cache.unlock();

    const auto forward = [&](unsigned long i) { return i < samples.size() ? samples[i] : 0.0f; };
    expectReadersAgree(cache, forward, 20000 + 4096 * 2);
}

TEST(AudioCacheTest, ReversedReadingPlaysFramesBackwardsWithChannelsInOrder)
{
    const QString path = stereoFile("reversed", 10001);
    const std::vector<float> samples = TestAudio::readFile(path);
    const unsigned long length = samples.size();
    AudioFileSndFile file(path);
    AudioCache cache(&file);
    ASSERT_TRUE(waitFilled(cache));

    cache.setReversed(true);
    EXPECT_TRUE(cache.isReversed());
    cache.lock();
    // Frame 0 is the file's last frame, left then right.
    EXPECT_EQ(cache.getSample(0), samples[length - 2]);
    EXPECT_EQ(cache.getSample(1), samples[length - 1]);
    EXPECT_EQ(cache.getSample(static_cast<long>(length) - 1), samples[1]);
    cache.unlock();
    const auto backward = [&](unsigned long i) {
        return i < length ? samples[length - 2 - (i & ~1ul) + (i & 1ul)] : 0.0f;
    };
    expectReadersAgree(cache, backward, length + 4096);

    cache.setReversed(false);
    EXPECT_FALSE(cache.isReversed());
    const auto forward = [&](unsigned long i) { return i < length ? samples[i] : 0.0f; };
    expectReadersAgree(cache, forward, length + 4096);
}

TEST(AudioCacheTest, ChunksTheFillHasNotReachedReadAsSilence)
{
    const QString path = stereoFile("unfilled", 6000);
    const std::vector<float> samples = TestAudio::readFile(path);
    auto* gated = new GatedAudioFile(new AudioFileSndFile(path));
    std::unique_ptr<AudioFile> file(gated);
    gated->allow(1);
    AudioCache cache(file.get());
    // The second read is held: chunk 0 is in, chunk 4096 is not. The fill
    // holds no lock while it reads, so the cache stays readable meanwhile.
    ASSERT_TRUE(gated->waitUntilHeld());
    cache.lock();
    EXPECT_EQ(cache.getSample(4095), samples[4095]);
    EXPECT_EQ(cache.getSample(4096), 0.0f);
    EXPECT_EQ(cache.getSample(11999), 0.0f);
    cache.unlock();
    EXPECT_FALSE(cache.isFilled());

    gated->openGate();
    ASSERT_TRUE(waitFilled(cache));
    cache.lock();
    EXPECT_EQ(cache.getSample(4096), samples[4096]);
    cache.unlock();
}

TEST(AudioCacheTest, ProgressIsReportedEvery128ChunksAndAtTheEnd)
{
    // 300 chunks: reports after chunk 128, 256 and at the end.
    const QString path = stereoFile("progress", 300 * 2048 - 100);
    GatedAudioFile file(new AudioFileSndFile(path));
    std::atomic<int> reports{0};
    std::unique_ptr<AudioCache> cache(new AudioCache(&file));
    QObject::connect(cache.get(), &AudioCache::fillProgress, [&] { ++reports; });
    file.openGate();
    ASSERT_TRUE(waitFilled(*cache));
    EXPECT_TRUE(QTest::qWaitFor([&] { return reports.load() >= 3; }, 5000));
    cache.reset();
    EXPECT_LE(reports.load(), 3);
}
