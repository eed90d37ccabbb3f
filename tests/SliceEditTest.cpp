#include "AudioCache.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using namespace SliceTestSupport;

TEST(SliceEditTest, LoopEditsRewindAndSwapAndTakeEffectWhilePlaying)
{
    const QString path = writeWav(freshTestDir(), "a.wav", 50000);
    const std::vector<float> audio = stereoSamples(path);
    auto slice = loadFilled(path);
    ASSERT_TRUE(slice);
    slice->setLoopMode(2);
    slice->setLoopStart(4000);
    slice->setLoopEnd(8000);
    slice->play(true, 0.05, 1.0); // 5000, inside the region
    slice->setLoopEnd(6000);      // the pass now ends at 6000 and wraps to 4000
    EXPECT_EQ(rawBlock(*slice, 1024), pick(audio, {{5000, 6000}, {4000, 4024}}));

    // An end below the start swaps them; the position, now at the loop end,
    // goes back to the loop start, while the pass itself ends at 1000.
    slice->setLoopEnd(1000);
    EXPECT_EQ(slice->getLoopStart(), 1000u);
    EXPECT_EQ(slice->getLoopEnd(), 4000u);
    EXPECT_EQ(rawBlock(*slice, 8), pick(audio, {{1000, 1008}}));

    // Switching to looping beyond the loop end rewinds: to 0 in mode 1, to the
    // loop start in mode 2; a position inside the region stays.
    slice->setLoopStart(2000);
    slice->setLoopEnd(3000);
    for (int mode : {1, 2}) {
        slice->play(true, 0.1, 1.0);
        slice->setLoopMode(mode);
        EXPECT_EQ(slice->getPlayPos(), mode == 1 ? 0u : 2000u);
    }
    slice->play(true, 0.025, 1.0);
    slice->setLoopMode(1);
    EXPECT_EQ(slice->getPlayPos(), 2500u);
    slice->setLoopMode(2);
    slice->play(false, 0.0, 1.0); // stopping in mode 2 rests at the loop start
    EXPECT_EQ(slice->getPlayPos(), 2000u);
}

TEST(SliceEditTest, ReversingTwiceRestoresAndClearingEmptiesATake)
{
    // Reversed straight after loading, while the background fill still runs.
    const QString path = writeWav(freshTestDir(), "long.wav", 1500000);
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

    // A take's buffer is reversed in place, for every slice sharing it.
    Slice take;
    const float frames[] = {1, 2, 3, 4, 5, 6};
    take.appendSamples(frames, 6);
    Slice sharing(take.getAudioBuffer(), take.getAudioCache(), 44100, 0, 6);
    take.reverse();
    sharing.play(true, 0.0, 1.0);
    EXPECT_EQ(rawBlock(sharing, 6), std::vector<float>({5, 6, 3, 4, 1, 2}));
    take.reverse();
    EXPECT_FALSE(take.isReversed());
    EXPECT_EQ(*take.getAudioBuffer(), std::vector<float>({1, 2, 3, 4, 5, 6}));
    // Cleared while playing (a recorder starting over): nothing is read from it.
    take.play(true, 0.0, 1.0);
    take.clear();
    EXPECT_EQ(take.getLoopEnd(), 0u);
    EXPECT_EQ(rawBlock(take, 512), std::vector<float>(512, 0.0f));
}

TEST(SliceEditTest, StretchingRefusesWhatGivesNoUsableRatio)
{
    auto slice = loadFilled(writeWav(freshTestDir(), "a.wav", 44100)); // 88200 samples
    ASSERT_TRUE(slice);
    slice->stretchToBeats(4, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 2.0);
    for (double ratio : {0.0, -1.0, std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN(), 1e300})
        slice->setTimeStretchRatio(ratio, 120);
    slice->stretchToBeats(4, 0);
    slice->stretchToBeats(-4, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 2.0);
    EXPECT_TRUE(LogCapture::contains("Refusing time stretch ratio"));
    slice->stretchToBeats(0, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 1.0);

    Slice empty;
    empty.stretchToBeats(4, 120);
    EXPECT_DOUBLE_EQ(empty.getTimeStretchRatio(), 1.0);
}
