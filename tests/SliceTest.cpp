#include "Slice.h"
#include "LogCapture.h"
#include "SliceTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace SliceTestSupport;

namespace {

std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SliceTest : public ::testing::Test
{
protected:
    // A filled slice of a ramp file of `samples` samples; its audio in m_audio.
    QSharedPointer<Slice> load(unsigned samples)
    {
        const QString path = writeWav(m_dir, QString("ramp%1.wav").arg(samples), samples / 2);
        m_audio = stereoSamples(path);
        return loadFilled(path);
    }
    QString m_dir = freshTestDir();
    std::vector<float> m_audio;
};

} // namespace

TEST_F(SliceTest, SlicesSharingACacheOutliveTheSliceThatLoadedIt)
{
    // The loader goes while its fill still runs; the sharer keeps the reader alive.
    const QString path = writeWav(m_dir, "shared.wav", 1500000);
    const std::vector<float> audio = stereoSamples(path);
    QSharedPointer<Slice> sharing;
    {
        Slice loader(path);
        EXPECT_EQ(loader.getLength(), 3000000u); // known before the fill
        sharing.reset(new Slice(loader.getAudioBuffer(), loader.getAudioCache(), 44100, 0,
                                loader.getLength()));
    }
    ASSERT_TRUE(waitFilled(sharing->getAudioCache().data()));
    sharing->play(true, 0.5, 1.0);
    EXPECT_EQ(rawBlock(*sharing, 1000), pick(audio, {{1500000, 1501000}}));
}

TEST_F(SliceTest, PassBoundsAreTruncatedAndRoundedDownToEven)
{
    for (unsigned length : {88200u, 88202u}) {
        auto slice = load(length);
        ASSERT_TRUE(slice);
        slice->play(true, 0.25, 0.75);
        EXPECT_EQ(slice->getPlayPos(), 22050u);
        // In blocks of two the pass ends with the two samples before 66150.
        int blocks = 0;
        std::vector<float> last;
        while (slice->isPlaying()) {
            last = rawBlock(*slice, 2);
            ++blocks;
        }
        EXPECT_EQ(blocks, (66150 - 22050) / 2) << length;
        EXPECT_EQ(last, pick(m_audio, {{66148, 66150}}));
    }
}

TEST_F(SliceTest, LoopModeTwoPlaysOnlyTheRegionWhenStartedInsideIt)
{
    auto slice = load(200000);
    ASSERT_TRUE(slice);
    slice->setLoopMode(2);
    slice->setLoopStart(1000);
    slice->setLoopEnd(5000);
    slice->play(true, 0.01, 1.0);
    EXPECT_EQ(slice->getPlayPos(), 2000u);
    const std::vector<float> first = rawBlock(*slice, 3000);
    EXPECT_EQ(first + rawBlock(*slice, 1000), pick(m_audio, {{2000, 5000}, {1000, 2000}}));

    // Outside the region the pass runs to its end fraction first.
    slice->play(true, 0.5, 1.0);
    EXPECT_EQ(slice->getPlayPos(), 100000u);
    for (int i = 0; i < 99; ++i)
        rawBlock(*slice, 1000);
    // 199000 lies beyond the loop end: one sample there, then (198000 + 1) mod
    // 4000 = 2001 past the loop start.
    EXPECT_EQ(rawBlock(*slice, 1000), pick(m_audio, {{199000, 199001}, {3001, 4000}}));
}

TEST_F(SliceTest, ModeZeroEndContinuesFromTheLoopStartAndStops)
{
    auto slice = load(204800);
    ASSERT_TRUE(slice);
    slice->setGain(0.5f);
    slice->play(true, 1000.0 / 204800, 1600.0 / 204800);
    QSignalSpy stopped(slice.data(), &Slice::stopped);
    QSignalSpy toggled(slice.data(), &Slice::playbackToggled);

    EXPECT_EQ(rawBlock(*slice, 1024), pick(m_audio, {{1000, 1600}, {0, 424}}, 0.5f));
    EXPECT_FALSE(slice->isPlaying());
    EXPECT_EQ(slice->getPlayPos(), 0u);
    // The end stops playback and then reports the stop once more; stopping a
    // stopped slice reports it again.
    EXPECT_EQ(stopped.count(), 2);
    ASSERT_EQ(toggled.count(), 2);
    EXPECT_FALSE(toggled.at(1).at(0).toBool());
    slice->play(false, 0.0, 1.0);
    EXPECT_EQ(stopped.count(), 3);
    std::vector<float> silent(64, 0.0f);
    EXPECT_EQ(slice->renderRaw(silent.data(), 64), 0u);
    EXPECT_EQ(silent, std::vector<float>(64, 0.0f));
}

TEST_F(SliceTest, ModeOneCyclesThroughTheRegionAfterThePass)
{
    auto slice = load(100000);
    ASSERT_TRUE(slice);
    slice->setLoopMode(1);
    slice->setLoopStart(4000);
    slice->play(true, 0.075, 1.0);
    slice->setLoopEnd(8000); // now cycling, with the pass ending at 8000
    EXPECT_EQ(rawBlock(*slice, 1024), pick(m_audio, {{7500, 8000}, {4000, 4524}}));
    EXPECT_EQ(slice->getPlayPos(), 4524u);

    slice->play(true, 0.0, 1.0);
    for (int i = 0; i < 97; ++i)
        rawBlock(*slice, 1024);
    EXPECT_EQ(slice->getPlayPos(), 99328u);
    EXPECT_EQ(rawBlock(*slice, 1024), pick(m_audio, {{99328, 99329}, {7329, 8000}, {4000, 4352}}));
    EXPECT_TRUE(slice->isPlaying());

    // A pass ending more than a loop length before the region: one sample,
    // then the remainder (-2976 + 1) mod 1000 = -975 counts up into it.
    slice->setLoopEnd(5000);
    slice->play(true, 0.0, 1.0 / 64); // ends at 1562
    rawBlock(*slice, 1024);
    EXPECT_EQ(rawBlock(*slice, 1024), pick(m_audio, {{1024, 1025}, {3025, 4048}}));
    // A region shorter than the block wraps within it again and again.
    slice->setLoopEnd(4100);
    std::vector<float> cycles;
    for (unsigned k = 0; k < 1024; ++k)
        cycles.push_back(m_audio[4000 + (48 + k) % 100]);
    EXPECT_EQ(rawBlock(*slice, 1024), cycles);
}

TEST_F(SliceTest, UnusualPassesEndQuietlyInsteadOfFailing)
{
    auto slice = load(20000);
    ASSERT_TRUE(slice);
    // Mode 0 with the start beyond the end: the pass is over.
    slice->play(true, 0.5, 0.25);
    std::vector<float> out(512, 0.0f);
    EXPECT_EQ(slice->renderRaw(out.data(), 512), 512u);
    EXPECT_FALSE(slice->isPlaying());
    EXPECT_TRUE(LogCapture::contains("Playpos is past loop end"));

    // A loop region of zero length: the rest of the pass plays, then it stops.
    const std::vector<float> tail = pick(m_audio, {{18000, 20000}}) + std::vector<float>(2000);
    slice->setLoopMode(1);
    slice->setLoopStart(6000);
    slice->setLoopEnd(6000);
    slice->play(true, 0.9, 1.0);
    EXPECT_EQ(rawBlock(*slice, 4000), tail);
    EXPECT_FALSE(slice->isPlaying());
    // A loop end past the audio reads silence there.
    slice->setLoopStart(18000);
    slice->setLoopEnd(24000);
    slice->play(true, 0.9, 1.0);
    EXPECT_EQ(rawBlock(*slice, 4000), tail);

    // An empty take played in a loop.
    Slice take;
    take.play(true, 0.0, 1.0);
    take.setLoopMode(1);
    EXPECT_EQ(rawBlock(take, 512), std::vector<float>(512, 0.0f));
    EXPECT_FALSE(take.isPlaying());
}
