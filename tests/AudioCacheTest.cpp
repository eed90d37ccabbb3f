#include "AudioCache.h"
#include "AudioFile.h"
#include "AudioFileSndFile.h"

#include "GatedAudioFile.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QTest>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

using SliceTestSupport::waitFilled;

namespace {

QString stereoFile(const QString& dir, long frames)
{
    const QString path = dir + "/loop.wav";
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

// getSample agrees with `expected`; the run readers agree with getSample bit for
// bit, across chunk borders, at odd starts and beyond the end.
void expectReadersAgree(AudioCache& cache, const std::function<float(unsigned long)>& expected,
                        unsigned long span)
{
    std::lock_guard<AudioCache> locked(cache);
    EXPECT_EQ(cache.getSample(-1), 0.0f);
    for (unsigned long i = 0; i < span; ++i)
        ASSERT_EQ(cache.getSample(static_cast<long>(i)), expected(i)) << "index " << i;

    const std::pair<unsigned long, unsigned> runs[] = {
        {0, 8191}, {4095, 4098}, {span - 700, 1400}, {span + 5000, 64}, {12, 0}};
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

// A header that claims 1 GiB of audio over the 6,000,000 samples the file
// holds; samples 1 and 2 are damaged (NaN and infinite).
class ClaimingFile : public AudioFile
{
public:
    static constexpr unsigned long kHeld = 6000000;
    static float at(unsigned long i)
    {
        return i == 1 || i == 2 ? (i == 1 ? NAN : INFINITY)
                                : static_cast<float>(i % 1000) / 1000.0f;
    }

    unsigned long getLength() override { return 1ul << 28; }
    int getSampleRate() override { return 44100; }
    unsigned read(float* buffer, unsigned n) override
    {
        const unsigned got = static_cast<unsigned>(std::min<unsigned long>(n, kHeld - m_position));
        for (unsigned i = 0; i < n; ++i)
            buffer[i] = i < got ? at(m_position + i) : 0.0f;
        m_position += got;
        return got;
    }
    void seek(unsigned long) override {}
    std::uint64_t getPosition() override { return m_position; }

private:
    unsigned long m_position = 0;
};

} // namespace

TEST(AudioCacheTest, MemoryFollowsTheAudioDeliveredAndDamagedSamplesAreSilence)
{
    ClaimingFile file;
    AudioCache cache(&file);
    ASSERT_TRUE(waitFilled(&cache));
    EXPECT_EQ(cache.getLength(), 1ul << 28);
    // The chunks of what was delivered, past the first minute made up front.
    EXPECT_EQ(cache.getNumChunks(), static_cast<int>(ClaimingFile::kHeld / 4096 + 1));
    std::lock_guard<AudioCache> locked(cache);
    for (unsigned long i : {0ul, 5291999ul, 5292000ul, ClaimingFile::kHeld - 1})
        EXPECT_EQ(cache.getSample(static_cast<long>(i)), ClaimingFile::at(i)) << i;
    // Damaged samples would take the whole mix: they are silence.
    EXPECT_EQ(cache.getSample(1), 0.0f);
    EXPECT_EQ(cache.getSample(2), 0.0f);
    EXPECT_EQ(cache.getSample(static_cast<long>(ClaimingFile::kHeld)), 0.0f);
}

TEST(AudioCacheTest, ReadersSeeTheFileForwardsAndBackwardsAcrossChunkBorders)
{
    // Whole chunks (the last read finds the end in an extra chunk), a part chunk, no file.
    for (long frames : {4096, 10001, -1}) {
        const QString dir = TestAudio::scratchDir(QString("contents%1").arg(frames));
        const QString path = frames < 0 ? dir + "/missing.wav" : stereoFile(dir, frames);
        const std::vector<float> samples =
            frames < 0 ? std::vector<float>() : TestAudio::readFile(path);
        const unsigned long length = samples.size();
        AudioFileSndFile file(path);
        AudioCache cache(&file);
        ASSERT_TRUE(waitFilled(&cache));
        EXPECT_EQ(cache.getLength(), length);

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
    }
}

TEST(AudioCacheTest, UnfilledChunksReadAsSilenceAndProgressComesEvery128ChunksAndAtTheEnd)
{
    const QString path = stereoFile(TestAudio::scratchDir("unfilled"), 300 * 2048 - 100);
    const std::vector<float> samples = TestAudio::readFile(path);
    std::atomic<int> reports{0};
    {
        GatedAudioFile file(new AudioFileSndFile(path));
        file.allow(1);
        AudioCache cache(&file);
        QObject::connect(&cache, &AudioCache::fillProgress, [&] { ++reports; });
        // Chunk 0 is in, chunk 4096 is held: the fill reads without the lock.
        ASSERT_TRUE(file.waitUntilHeld());
        cache.lock();
        EXPECT_EQ(perSample(cache, 4094, 4),
                  (std::vector<float>{samples[4094], samples[4095], 0, 0}));
        cache.unlock();
        EXPECT_FALSE(cache.isFilled());
        file.openGate();
        ASSERT_TRUE(waitFilled(&cache));
        EXPECT_EQ(perSample(cache, 4096, 1), std::vector<float>{samples[4096]});
        // 300 chunks: reports after chunk 128, 256 and at the end.
        EXPECT_TRUE(QTest::qWaitFor([&] { return reports.load() >= 3; }, 5000));
    }
    EXPECT_EQ(reports.load(), 3);
}
