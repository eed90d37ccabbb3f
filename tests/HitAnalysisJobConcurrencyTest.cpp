#include "HitAnalysisJob.h"

#include "DrumLoops.h"
#include "Slice.h"
#include "SliceTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace SliceTestSupport;

namespace {

// A drum loop played over and over for at least seconds: long enough that
// its analysis still runs when the test moves on.
QString writeDrums(const QString& dir, const QString& name, std::uint32_t seed, double seconds)
{
    DrumLoops::Loop loop = DrumLoops::make(seed, DrumLoops::Style());
    const std::vector<float> once = loop.stereo;
    while (loop.stereo.size() < 2 * seconds * loop.rate)
        loop.stereo.insert(loop.stereo.end(), once.begin(), once.end());
    const QString path = dir + "/" + name;
    EXPECT_TRUE(DrumLoops::writeWav(loop, path));
    return path;
}

TEST(HitAnalysisJobConcurrencyTest, OnlyTheNewestAnalysisCountsAndTheLoopMayGoWhileItIsRead)
{
    const QString dir = freshTestDir();
    const QString longPath = writeDrums(dir, "long.wav", 1, 60.0);
    const QString shortPath = writeDrums(dir, "short.wav", 2, 0.0);
    HitAnalysisJob job;
    QSignalSpy finished(&job, &HitAnalysisJob::finished);

    // Its slice gone while the analysis reads the audio: nothing is freed under it.
    QSharedPointer<Slice> loop = loadFilled(longPath);
    job.start(loop);
    EXPECT_TRUE(job.isBusy());
    loop.reset();
    // Replaced before its cache is filled: waits for the fill, and the
    // cancelled analysis that ends meanwhile is not taken for it.
    QSharedPointer<Slice> next(new Slice(shortPath));
    job.start(next);
    ASSERT_TRUE(finished.wait(120000));
    ASSERT_NE(job.getResult(), nullptr);
    EXPECT_EQ(job.getResult()->getFrames(), next->getLength() / 2);
    EXPECT_FALSE(job.isBusy());

    // Cleared, or destroyed, while running: nothing arrives.
    job.start(loadFilled(longPath));
    job.clear();
    EXPECT_FALSE(job.isBusy());
    EXPECT_EQ(job.getResult(), nullptr);
    {
        HitAnalysisJob quitting;
        quitting.start(loadFilled(longPath));
    }
    EXPECT_FALSE(finished.wait(300));
    EXPECT_EQ(finished.count(), 1);
}

} // namespace
