#include "AudioCache.h"
#include "AudioFileSndFile.h"

#include "GatedAudioFile.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using SliceTestSupport::waitFilled;

namespace {

QString stereoFile(const QString& test, long frames)
{
    const QString path = TestAudio::scratchDir(test) + "/a.wav";
    EXPECT_TRUE(TestAudio::writeFile(path, frames, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    return path;
}

// The suite drops log lines: LogCapture guards its store with a QMutex, whose
// contended hand-over happens inside the Qt library where ThreadSanitizer
// cannot see it, so the reader thread's lines would be reported as races.
class AudioCacheConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Qt aborts after a fatal message itself.
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& message) {
                if (type == QtFatalMsg)
                    std::fprintf(stderr, "%s\n", qPrintable(message));
            });
    }
    void TearDown() override { qInstallMessageHandler(m_previous); }
    QtMessageHandler m_previous = nullptr;
};

} // namespace

TEST_F(AudioCacheConcurrencyTest, QueuedCachesAreFilledInTurnAndLeaveTheQueueWhenDestroyed)
{
    const QString path = stereoFile("order", 40000);
    std::vector<std::unique_ptr<GatedAudioFile>> files;
    for (int id = 0; id < 5; ++id)
        files.emplace_back(new GatedAudioFile(new AudioFileSndFile(path)));
    std::vector<std::unique_ptr<AudioCache>> caches;
    files[0]->allow(2);
    caches.emplace_back(new AudioCache(files[0].get()));
    ASSERT_TRUE(files[0]->waitUntilHeld());

    // Loading more files while one fills must return at once.
    auto queued = std::async(std::launch::async, [&] {
        for (int id = 1; id < 5; ++id)
            caches.emplace_back(new AudioCache(files[id].get()));
    });
    const bool returned = queued.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(returned) << "queueing waited for the fill in progress";
    if (!returned)
        files[0]->openGate();
    queued.get();
    caches[2].reset(); // still queued: never read (AddressSanitizer would see it)

    // One at a time, in the order queued.
    for (int id : {0, 1, 3, 4}) {
        ASSERT_TRUE(files[id]->waitUntilHeld()) << id;
        for (int later = id + 1; later < 5; ++later)
            EXPECT_EQ(files[later]->readsStarted(), 0) << later << " read during " << id;
        files[id]->openGate();
        ASSERT_TRUE(waitFilled(caches[id].get())) << id;
    }
}

TEST_F(AudioCacheConcurrencyTest, DestroyingACacheMidFillWaitsOnlyForTheChunkBeingRead)
{
    const QString path = stereoFile("midfill", 500 * 2048);
    auto file = std::make_unique<GatedAudioFile>(new AudioFileSndFile(path));
    file->allow(3);
    auto* cache = new AudioCache(file.get());
    ASSERT_TRUE(file->waitUntilHeld());
    ASSERT_EQ(file->readsStarted(), 4);

    std::atomic<bool> started{false}, destroyed{false};
    std::thread destroyer([&] {
        started = true;
        delete cache;
        destroyed = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 10000));
    // Let the held read finish, then one read at a time for as long as the
    // destructor still waits. It returns after the read in progress; a few more
    // only if it was scheduled out before it could ask the fill to stop. The
    // whole file (~500 chunks) is what a destructor waiting for the fill costs.
    int released = 0;
    while (!destroyed && released < 600) {
        file->allow(1);
        ++released;
        if (!QTest::qWaitFor([&] { return destroyed || file->readsStarted() >= 4 + released; },
                             10000))
            break;
    }
    destroyer.join();
    EXPECT_LE(released, 20);
    file.reset(); // the reader must not touch it any more (AddressSanitizer)

    // The reader carries on with the next cache.
    AudioFileSndFile next(path);
    AudioCache after(&next);
    EXPECT_TRUE(waitFilled(&after));
}

TEST_F(AudioCacheConcurrencyTest, OwnersDestroyedAtAnyMomentOfTheirFillsNeverCrashTheReader)
{
    // Owner = cache plus its file, destroyed cache first, as a slice does.
    const QString path = stereoFile("churn", 150 * 2048 + 77);
    struct Owner
    {
        explicit Owner(const QString& path) : file(path), cache(&file) {}
        AudioFileSndFile file;
        AudioCache cache;
    };
    for (int round = 0; round < 60; ++round) {
        std::vector<std::unique_ptr<Owner>> owners;
        for (int k = 0; k < 3; ++k)
            owners.emplace_back(new Owner(path));
        // A varying head start moves the destruction through the fills.
        QThread::usleep(static_cast<unsigned long>((round * 397) % 4000));
        // Queued ones first or the one being filled first, alternately.
        if (round % 2)
            std::reverse(owners.begin(), owners.end());
        owners.erase(owners.begin() + (round % 3));
        owners.clear();
    }
    Owner last(path);
    EXPECT_TRUE(waitFilled(&last.cache));
}

TEST_F(AudioCacheConcurrencyTest, ACacheQueuedAsTheReaderRunsDryIsStillFilled)
{
    const QString path = stereoFile("dry", 100);
    for (int round = 0; round < 300; ++round) {
        AudioFileSndFile firstFile(path), secondFile(path);
        auto first = std::make_unique<AudioCache>(&firstFile);
        // Spin, not sleep: queue the next cache the moment the previous fill
        // ends, while the reader is finishing with an empty queue.
        QElapsedTimer timer;
        timer.start();
        while (!first->isFilled() && timer.elapsed() < 20000)
            QThread::yieldCurrentThread();
        ASSERT_TRUE(first->isFilled()) << "round " << round;
        AudioCache second(&secondFile);
        ASSERT_TRUE(waitFilled(&second)) << "round " << round;
    }
}

TEST_F(AudioCacheConcurrencyTest, ReadingAndReversingWhileTheFillRunsIsSafe)
{
    const QString path = stereoFile("readers", 200 * 2048);
    const std::vector<float> samples = TestAudio::readFile(path);
    AudioFileSndFile file(path);
    AudioCache cache(&file);
    std::atomic<bool> stop{false};
    // An audio-thread-like reader: one lock per block, as a render takes it.
    std::thread audio([&] {
        std::vector<float> out(1024);
        for (unsigned long pos = 0; !stop.load(); pos = (pos + 1024) % samples.size()) {
            std::lock_guard<AudioCache> locked(cache);
            cache.mixSamples(pos, out.data(), 1024, 0.5f);
            cache.readSamples(pos + 4000, out.data(), 1024);
        }
    });
    for (int flip = 0; !cache.isFilled() && flip < 100000; ++flip)
        cache.setReversed(flip % 2 == 0);
    const bool filled = waitFilled(&cache);
    stop = true;
    audio.join();
    ASSERT_TRUE(filled);
    cache.setReversed(false);

    std::vector<float> copy(samples.size());
    cache.lock();
    cache.readSamples(0, copy.data(), static_cast<unsigned>(copy.size()));
    cache.unlock();
    EXPECT_EQ(copy, samples);
}
