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

// No log capture: its QMutex hand-over happens inside Qt, unseen by ThreadSanitizer,
// so the reader thread's log lines would be reported as races.
class AudioCacheConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override { m_previous = qInstallMessageHandler(printFatal); }
    void TearDown() override { qInstallMessageHandler(m_previous); }
    static void printFatal(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    }
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
    if (queued.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "queueing waited for the fill in progress";
        files[0]->openGate();
    }
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
    // One read at a time while the destructor waits: it must return after the read in
    // progress (a few more if scheduled out), not after the whole file (~500 chunks).
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
}

TEST_F(AudioCacheConcurrencyTest, OwnersDestroyedAtAnyMomentOfTheirFillsNeverCrashTheReader)
{
    // Cache plus its file, the cache destroyed first, as a slice does.
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
        // Spin, not sleep: queue the next cache while the reader finishes with an empty queue.
        QElapsedTimer timer;
        timer.start();
        while (!first->isFilled() && timer.elapsed() < 20000)
            QThread::yieldCurrentThread();
        ASSERT_TRUE(first->isFilled()) << "round " << round;
        AudioCache second(&secondFile);
        ASSERT_TRUE(waitFilled(&second)) << "round " << round;
    }
}
