#include "AudioCache.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace SliceTestSupport;

namespace {

std::vector<float> raw(Slice& slice, unsigned n)
{
    std::vector<float> out(n, 0.0f);
    slice.renderRaw(out.data(), n);
    return out;
}

// Frames back to front, each keeping its channel order.
std::vector<float> reversedFrames(const std::vector<float>& audio)
{
    std::vector<float> out(audio.size());
    for (std::size_t i = 0; i + 1 < audio.size(); i += 2) {
        out[i] = audio[audio.size() - i - 2];
        out[i + 1] = audio[audio.size() - i - 1];
    }
    return out;
}

class SliceEditTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir =
            TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        LogCapture::clear();
    }
    QString dir;
};

// Records every signal of a slice by name, in the order they arrive.
struct SignalLog
{
    QStringList names;
    explicit SignalLog(Slice* s)
    {
        QObject::connect(s, &Slice::played, [this] { names << "played"; });
        QObject::connect(s, &Slice::playPosChanged, [this] { names << "playPosChanged"; });
        QObject::connect(s, &Slice::stopped, [this] { names << "stopped"; });
        QObject::connect(s, &Slice::playbackToggled,
                         [this](bool on) { names << (on ? "toggled(true)" : "toggled(false)"); });
        QObject::connect(s, &Slice::loopChanged, [this] { names << "loopChanged"; });
    }
    QStringList take()
    {
        QStringList out = names;
        names.clear();
        return out;
    }
};

} // namespace

TEST_F(SliceEditTest, PlaybackSignalsComeInOrderAndOnlyWhenTheStateChanges)
{
    auto slice = loadFilled(writeWav(dir, "a.wav", 100000));
    ASSERT_TRUE(slice);
    SignalLog log(slice.data());

    // Stopped, with nothing in the resampler: nothing to render, nothing said.
    std::vector<float> out(512, 0.0f);
    EXPECT_EQ(slice->render(out.data(), 512), 0u);
    EXPECT_TRUE(log.take().isEmpty());

    slice->play(true, 0.0, 1.0);
    EXPECT_EQ(log.take(), QStringList({"played", "toggled(true)"}));
    EXPECT_TRUE(slice->isPlaying());
    slice->play(true, 0.5, 1.0); // re-targeted: no signal
    EXPECT_TRUE(log.take().isEmpty());
    EXPECT_EQ(slice->render(out.data(), 512), 512u);
    EXPECT_EQ(log.take(), QStringList({"playPosChanged"}));

    slice->play(false, 0.0, 1.0);
    EXPECT_EQ(log.take(), QStringList({"stopped", "toggled(false)"}));
    slice->play(false, 0.0, 1.0); // stopping a stopped slice still reports it
    EXPECT_EQ(log.take(), QStringList({"stopped", "toggled(false)"}));

    slice->setLoopMode(1);
    slice->setLoopStart(10);
    slice->setLoopEnd(100);
    slice->setGain(0.5f);
    EXPECT_EQ(log.take(), QStringList({"loopChanged", "loopChanged", "loopChanged"}));
}

TEST_F(SliceEditTest, LoopEditsRewindAndSwapAndTakeEffectWhilePlaying)
{
    const QString path = writeWav(dir, "a.wav", 50000);
    const std::vector<float> audio = stereoSamples(path);
    auto slice = loadFilled(path);
    ASSERT_TRUE(slice);

    slice->setLoopMode(2);
    slice->setLoopStart(4000);
    slice->setLoopEnd(8000);
    slice->play(true, 0.05, 1.0); // 5000, inside the region
    slice->setLoopEnd(6000);      // the pass now ends at 6000 and wraps to 4000
    std::vector<float> expected(audio.begin() + 5000, audio.begin() + 6000);
    expected.insert(expected.end(), audio.begin() + 4000, audio.begin() + 4024);
    EXPECT_EQ(raw(*slice, 1024), expected);
    EXPECT_EQ(slice->getPlayPos(), 4024u);

    // An end below the start swaps them; the position now lies at the new
    // loop end, so it goes back to the loop start.
    slice->setLoopEnd(1000);
    EXPECT_EQ(slice->getLoopStart(), 1000u);
    EXPECT_EQ(slice->getLoopEnd(), 4000u);
    EXPECT_EQ(slice->getPlayPos(), 1000u);
    // ... while the pass itself ends at the value given.
    expected.assign(audio.begin() + 1000, audio.begin() + 1000 + 8);
    EXPECT_EQ(raw(*slice, 8), expected);

    // Switching to looping while beyond the loop end rewinds: to 0 in mode 1,
    // to the loop start in mode 2; a position inside the region stays.
    slice->setLoopStart(2000);
    slice->setLoopEnd(3000);
    slice->play(true, 0.1, 1.0);
    slice->setLoopMode(1);
    EXPECT_EQ(slice->getPlayPos(), 0u);
    slice->play(true, 0.1, 1.0);
    slice->setLoopMode(2);
    EXPECT_EQ(slice->getPlayPos(), 2000u);
    slice->play(true, 0.025, 1.0);
    slice->setLoopMode(1);
    EXPECT_EQ(slice->getPlayPos(), 2500u);
    // Stopping in mode 2 rests at the loop start.
    slice->setLoopMode(2);
    slice->play(false, 0.0, 1.0);
    EXPECT_EQ(slice->getPlayPos(), 2000u);
}

TEST_F(SliceEditTest, ReversingAFileSliceReversesWhatPlaysAndTwiceRestoresIt)
{
    // Reversed straight after loading, while the background fill still runs.
    const QString path = writeWav(dir, "long.wav", 1500000);
    const std::vector<float> audio = stereoSamples(path);
    Slice slice(path);
    slice.reverse();
    EXPECT_TRUE(slice.isReversed());
    EXPECT_TRUE(slice.getAudioBuffer()->empty());
    ASSERT_TRUE(waitFilled(slice.getAudioCache().data()));

    const std::vector<float> backwards = reversedFrames(audio);
    slice.play(true, 0.0, 1.0);
    std::vector<float> head = raw(slice, 8192);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), backwards.begin()));
    // The views read the cache: they see the same.
    AudioCache* cache = slice.getAudioCache().data();
    cache->lock();
    EXPECT_EQ(cache->getSample(0), audio[audio.size() - 2]);
    EXPECT_EQ(cache->getSample(1), audio[audio.size() - 1]);
    cache->unlock();

    slice.reverse();
    EXPECT_FALSE(slice.isReversed());
    slice.play(true, 0.0, 1.0);
    head = raw(slice, 8192);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), audio.begin()));
    slice.play(true, 0.5, 1.0);
    head = raw(slice, 8192);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), audio.begin() + 1500000));
}

TEST_F(SliceEditTest, ReversingATakeReversesItsBufferForEveryHolder)
{
    Slice take;
    const float frames[] = {1, 2, 3, 4, 5, 6};
    take.appendSamples(frames, 6);
    Slice sharing(take.getAudioBuffer(), take.getAudioCache(), 44100, 0, 6);

    take.reverse();
    EXPECT_TRUE(take.isReversed());
    EXPECT_EQ(*take.getAudioBuffer(), std::vector<float>({5, 6, 3, 4, 1, 2}));
    EXPECT_EQ(*sharing.getAudioBuffer(), std::vector<float>({5, 6, 3, 4, 1, 2}));
    sharing.play(true, 0.0, 1.0);
    EXPECT_EQ(raw(sharing, 4), std::vector<float>({5, 6, 3, 4}));

    take.reverse();
    EXPECT_FALSE(take.isReversed());
    EXPECT_EQ(*take.getAudioBuffer(), std::vector<float>({1, 2, 3, 4, 5, 6}));
}

TEST_F(SliceEditTest, AppendAndClearKeepLengthAndLoopEndTogether)
{
    Slice take;
    EXPECT_EQ(take.getSampleRate(), 0);
    EXPECT_FALSE(take.getAudioCache());
    std::vector<float> block(512);
    for (unsigned i = 0; i < 512; ++i)
        block[i] = float(i) / 512.0f;
    QSignalSpy loop(&take, &Slice::loopChanged);
    take.appendSamples(block.data(), 512);
    take.appendSamples(block.data(), 512);
    EXPECT_EQ(take.getLength(), 1024u);
    EXPECT_EQ(take.getLoopEnd(), 1024u);
    EXPECT_EQ(loop.count(), 0);

    // A recorder plays its take from the start, looping the whole of it.
    take.play(true, 0.0, 1.0);
    take.setLoopMode(1);
    std::vector<float> out = raw(take, 1536);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), out.begin() + 1024));

    take.clear();
    EXPECT_EQ(take.getLength(), 0u);
    EXPECT_EQ(take.getLoopStart(), 0u);
    EXPECT_EQ(take.getLoopEnd(), 0u);
    EXPECT_EQ(take.getPlayPos(), 0u);
    EXPECT_TRUE(take.getAudioBuffer()->empty());
    // Cleared while playing: nothing is read from the emptied buffer.
    EXPECT_EQ(raw(take, 512), std::vector<float>(512, 0.0f));
}

TEST_F(SliceEditTest, StretchingRefusesWhatGivesNoUsableRatio)
{
    auto slice = loadFilled(writeWav(dir, "a.wav", 44100)); // 88200 samples
    ASSERT_TRUE(slice);
    slice->stretchToBeats(4, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 2.0);
    EXPECT_TRUE(LogCapture::contains("Orig length was"));

    for (double ratio : {0.0, -1.0, std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN(), 1e300}) {
        slice->setTimeStretchRatio(ratio, 120);
        EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 2.0) << ratio;
    }
    EXPECT_TRUE(LogCapture::contains("Refusing time stretch ratio"));
    slice->stretchToBeats(4, 0);
    slice->stretchToBeats(-4, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 2.0);
    slice->setTimeStretchRatio(0.5, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 0.5);
    slice->stretchToBeats(0, 120);
    EXPECT_DOUBLE_EQ(slice->getTimeStretchRatio(), 1.0);

    Slice empty;
    LogCapture::clear();
    empty.stretchToBeats(4, 120);
    EXPECT_DOUBLE_EQ(empty.getTimeStretchRatio(), 1.0);
    EXPECT_TRUE(LogCapture::contains("Refusing to stretch"));

    slice->setPitch(-7);
    EXPECT_EQ(slice->getPitch(), -7);
}
