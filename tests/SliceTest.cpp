#include "Slice.h"
#include "AudioCache.h"
#include "SliceTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using namespace SliceTestSupport;

namespace {

// Plays the whole slice once through render(); then a stopped slice renders nothing.
std::vector<float> playOnce(Slice& slice)
{
    slice.play(true, 0.0, 1.0);
    std::vector<float> out = renderAll(slice, 512, 4000);
    EXPECT_TRUE(renderAll(slice, 512, 1).empty());
    return out;
}

class SliceTest : public ::testing::Test
{
protected:
    // A filled slice of the file; an empty one (and a failure) when it cannot load.
    QSharedPointer<Slice> filled(const QString& path)
    {
        QSharedPointer<Slice> slice = loadFilled(path);
        EXPECT_TRUE(slice) << qPrintable(path);
        return slice ? slice : QSharedPointer<Slice>::create();
    }
    // A ramp file of `samples` samples; its audio in m_audio.
    QSharedPointer<Slice> load(unsigned samples)
    {
        const QString path = writeWav(m_dir, QString("ramp%1.wav").arg(samples), samples / 2);
        m_audio = stereoSamples(path);
        return filled(path);
    }
    static void region(Slice& slice, int mode, unsigned long start, unsigned long end)
    {
        slice.setLoopMode(mode);
        slice.setLoopStart(start);
        slice.setLoopEnd(end);
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
    auto loader = QSharedPointer<Slice>::create(path);
    auto sharing = QSharedPointer<Slice>::create(loader->getAudioBuffer(), loader->getAudioCache(),
                                                 44100, 0, 3000000);
    loader.reset();
    ASSERT_TRUE(waitFilled(sharing->getAudioCache().data()));
    sharing->play(true, 0.5, 1.0);
    EXPECT_EQ(rawBlock(*sharing, 1000), pick(audio, {{1500000, 1501000}}));
}

TEST_F(SliceTest, PassBoundsAreTruncatedAndRoundedDownToEven)
{
    for (unsigned length : {88200u, 88202u}) {
        auto slice = load(length);
        slice->play(true, 0.25, 0.75);
        EXPECT_EQ(slice->getPlayPos(), 22050u);
        int blocks = 0; // in blocks of two the pass ends with the two before 66150
        std::vector<float> last;
        for (; slice->isPlaying(); ++blocks)
            last = rawBlock(*slice, 2);
        EXPECT_EQ(blocks, (66150 - 22050) / 2) << length;
        EXPECT_EQ(last, pick(m_audio, {{66148, 66150}}));
    }
}

TEST_F(SliceTest, LoopModeTwoPlaysOnlyTheRegionWhenStartedInsideIt)
{
    auto slice = load(200000);
    region(*slice, 2, 1000, 5000);
    slice->play(true, 0.01, 1.0);
    EXPECT_EQ(slice->getPlayPos(), 2000u);
    EXPECT_EQ(rawBlock(*slice, 3000), pick(m_audio, {{2000, 5000}}));
    EXPECT_EQ(rawBlock(*slice, 1000), pick(m_audio, {{1000, 2000}}));
    // Outside the region the pass runs to its end first: one sample beyond the
    // loop end, then (198000 + 1) mod 4000 = 2001 past the loop start.
    slice->play(true, 0.5, 1.0);
    for (int i = 0; i < 99; ++i)
        rawBlock(*slice, 1000);
    EXPECT_EQ(rawBlock(*slice, 1000), pick(m_audio, {{199000, 199001}, {3001, 4000}}));
}

TEST_F(SliceTest, ModeZeroEndsInSilenceAndStops)
{
    auto slice = load(204800);
    slice->setGain(0.5f);
    slice->play(true, 1000.0 / 204800, 1600.0 / 204800);
    std::vector<float> once = pick(m_audio, {{1000, 1600}}, 0.5f);
    once.resize(1024); // the rest of the block: not the loop's start
    EXPECT_EQ(rawBlock(*slice, 1024), once);
    EXPECT_FALSE(slice->isPlaying());
    EXPECT_EQ(slice->getPlayPos(), 0u);
}

TEST_F(SliceTest, ModeOneCyclesThroughTheRegionAfterThePass)
{
    auto slice = load(100000);
    slice->setLoopMode(1);
    slice->setLoopStart(4000);
    slice->play(true, 0.075, 1.0);
    slice->setLoopEnd(8000); // now cycling, with the pass ending at 8000
    EXPECT_EQ(rawBlock(*slice, 1024), pick(m_audio, {{7500, 8000}, {4000, 4524}}));

    slice->play(true, 0.0, 1.0);
    for (int i = 0; i < 97; ++i)
        rawBlock(*slice, 1024);
    EXPECT_EQ(rawBlock(*slice, 1024), pick(m_audio, {{99328, 99329}, {7329, 8000}, {4000, 4352}}));
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
    slice->play(true, 0.5, 0.25); // mode 0 with the start beyond the end: over
    std::vector<float> out(512, 0.0f);
    EXPECT_EQ(slice->renderRaw(out.data(), 512), 512u);
    EXPECT_FALSE(slice->isPlaying());
    // A loop region of zero length, or past the audio: the rest of the pass plays.
    std::vector<float> tail = pick(m_audio, {{18000, 20000}});
    tail.resize(4000);
    region(*slice, 1, 6000, 6000);
    slice->play(true, 0.9, 1.0);
    EXPECT_EQ(rawBlock(*slice, 4000), tail);
    EXPECT_FALSE(slice->isPlaying());
    slice->setLoopStart(18000);
    slice->setLoopEnd(24000);
    slice->play(true, 0.9, 1.0);
    EXPECT_EQ(rawBlock(*slice, 4000), tail);

    Slice take; // an empty take played in a loop
    take.play(true, 0.0, 1.0);
    take.setLoopMode(1);
    EXPECT_EQ(rawBlock(take, 512), std::vector<float>(512, 0.0f));
    EXPECT_FALSE(take.isPlaying());
}

TEST_F(SliceTest, LoopEditsRewindAndSwapAndTakeEffectWhilePlaying)
{
    auto slice = load(100000);
    region(*slice, 2, 4000, 8000);
    slice->play(true, 0.05, 1.0); // 5000, inside the region
    slice->setLoopEnd(6000);      // the pass now ends at 6000 and wraps to 4000
    EXPECT_EQ(rawBlock(*slice, 1024), pick(m_audio, {{5000, 6000}, {4000, 4024}}));
    // An end below the start swaps them; the position, now at the loop end,
    // goes back to the loop start, while the pass itself ends at 1000.
    slice->setLoopEnd(1000);
    EXPECT_EQ(slice->getLoopStart(), 1000u);
    EXPECT_EQ(slice->getLoopEnd(), 4000u);
    EXPECT_EQ(rawBlock(*slice, 8), pick(m_audio, {{1000, 1008}}));
    // Looping switched on beyond the loop end rewinds: to 0 in mode 1, to the
    // loop start in mode 2.
    slice->setLoopStart(2000);
    slice->setLoopEnd(3000);
    for (int mode : {1, 2}) {
        slice->play(true, 0.1, 1.0);
        slice->setLoopMode(mode);
        EXPECT_EQ(slice->getPlayPos(), mode == 1 ? 0u : 2000u);
    }
}

TEST_F(SliceTest, ReversingTwiceRestoresAndClearingEmptiesATake)
{
    // Reversed straight after loading, while the background fill still runs.
    const QString path = writeWav(m_dir, "long.wav", 1500000);
    const std::vector<float> audio = stereoSamples(path);
    Slice slice(path);
    slice.reverse();
    ASSERT_TRUE(waitFilled(slice.getAudioCache().data()));
    slice.play(true, 0.0, 1.0);
    const std::vector<float> head = rawBlock(slice, 8192);
    for (unsigned i = 0; i < head.size(); i += 2) // frames back to front, channels kept
        ASSERT_EQ(pick(head, {{i, i + 2}}), pick(audio, {{3000000 - i - 2, 3000000 - i}})) << i;
    slice.reverse();
    slice.play(true, 0.5, 1.0);
    EXPECT_EQ(rawBlock(slice, 8192), pick(audio, {{1500000, 1508192}}));
    // A take cleared while playing (a recorder starting over): nothing is read from it.
    Slice take;
    const float frames[] = {1, 2, 3, 4, 5, 6};
    take.appendSamples(frames, 6);
    take.play(true, 0.0, 1.0);
    take.clear();
    EXPECT_EQ(rawBlock(take, 512), std::vector<float>(512, 0.0f));
}

TEST_F(SliceTest, PitchRaisesTheFrequencyStretchTheLengthAndBadRatiosAreRefused)
{
    auto slice = filled(writeSine(m_dir, "sine.wav", 441.0, 88200, 44100));
    // Pass after pass the length stays that of the source: tails do not grow.
    slice->setPitch(12);
    for (int pass = 0; pass < 3; ++pass) {
        const std::vector<float> octave = playOnce(*slice);
        EXPECT_NEAR(frequency(octave, 8192, 80000), 882.0, 882.0 * 0.01);
        EXPECT_NEAR(octave.size() / 2.0, 88200, 88200 * 0.03) << "pass " << pass;
    }
    slice->setPitch(0);
    // What the resampler cannot take is refused, whoever asks: these hung or crashed it.
    for (int pitch : {25, -25, 200, -1000, std::numeric_limits<int>::max()})
        slice->setPitch(pitch);
    EXPECT_EQ(slice->getPitch(), 0);
    slice->setGain(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(slice->getGain(), 1.0f);
    slice->stretchToBeats(8, 120); // two seconds to four
    for (double ratio : {0.0, -1.0, std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN(), 1e300, 1e38, 17.0, 1e-6})
        slice->setTimeStretchRatio(ratio, 120); // no usable ratio: refused
    slice->stretchToBeats(8, 0);
    slice->stretchToBeats(-8, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 2.0);
    const std::vector<float> stretched = playOnce(*slice);
    EXPECT_NEAR(stretched.size() / 2.0, 2 * 88200, 88200 * 0.06);
    EXPECT_NEAR(frequency(stretched, 8192, 160000), 441.0, 441.0 * 0.01);
    slice->stretchToBeats(0, 120); // back to the pass's own length
    EXPECT_NEAR(playOnce(*slice).size() / 2.0, 88200, 88200 * 0.03);
}

TEST_F(SliceTest, OtherSampleRatesPlayAtTheirTruePitchAndSpeed)
{
    for (int rate : {22050, 48000}) {
        auto slice = filled(writeSine(m_dir, QString("sine%1.wav").arg(rate), 441.0, rate, rate));
        const std::vector<float> out = playOnce(*slice);
        EXPECT_NEAR(out.size() / 2.0, 44100, 44100 * 0.03) << rate;
        EXPECT_NEAR(frequency(out, 4096, 40000), 441.0, 441.0 * 0.01) << rate;
        slice->stretchToBeats(4, 120); // one second to two, whatever the file's rate
        EXPECT_NEAR(slice->getTimeStretchRatio(), 2.0, 1e-6) << rate;
        // Stopped from outside mid-pass, the tail comes out and then ends.
        slice->setTimeStretchRatio(1.5, 120);
        slice->play(true, 0.0, 1.0);
        renderAll(*slice, 512, 40);
        slice->play(false, 0.0, 1.0);
        const size_t tail = renderAll(*slice, 512, 100).size();
        EXPECT_GT(tail, 0u);
        EXPECT_LT(tail, 99u * 512);
    }
}
