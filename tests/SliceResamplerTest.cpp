#include "LinearResampler.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

using namespace SliceTestSupport;

namespace {

class SliceResamplerTest : public ::testing::Test
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

// Plays the whole slice once through render() and returns what it delivered.
std::vector<float> playOnce(Slice& slice)
{
    slice.play(true, 0.0, 1.0);
    std::vector<float> out = renderAll(slice, 512, 4000);
    // The tail has drained: a stopped slice then renders nothing.
    std::vector<float> after(512, 0.0f);
    EXPECT_EQ(slice.render(after.data(), 512), 0u);
    return out;
}

} // namespace

TEST_F(SliceResamplerTest, PitchShiftRaisesTheFrequencyAndKeepsTheLength)
{
    auto slice = loadFilled(writeSine(dir, "sine.wav", 441.0, 88200, 44100));
    ASSERT_TRUE(slice);
    const std::vector<float> plain = playOnce(*slice);
    EXPECT_NEAR(frequency(plain, 8192, 80000), 441.0, 2.0);
    EXPECT_NEAR(plain.size() / 2.0, 88200, 88200 * 0.03);

    // Pass after pass the length stays that of the source: the tails do not
    // grow with silence.
    slice->setPitch(12);
    for (int pass = 0; pass < 4; ++pass) {
        const std::vector<float> octave = playOnce(*slice);
        EXPECT_NEAR(frequency(octave, 8192, 80000), 882.0, 882.0 * 0.01);
        EXPECT_NEAR(octave.size() / 2.0, 88200, 88200 * 0.03) << "pass " << pass;
    }
}

TEST_F(SliceResamplerTest, TimeStretchLengthensThePassAtTheSamePitch)
{
    auto slice = loadFilled(writeSine(dir, "sine.wav", 441.0, 44100, 44100));
    ASSERT_TRUE(slice);
    slice->setTimeStretchRatio(2.0, 120);
    const std::vector<float> out = playOnce(*slice);
    EXPECT_NEAR(out.size() / 2.0, 88200, 88200 * 0.03);
    EXPECT_NEAR(frequency(out, 8192, 80000), 441.0, 441.0 * 0.01);

    // Back to 1.0, by ratio or by zero beats, the pass has its own length again.
    slice->setTimeStretchRatio(1.0, 120);
    EXPECT_NEAR(playOnce(*slice).size() / 2.0, 44100, 44100 * 0.03);
    slice->stretchToBeats(2, 120); // 2 beats at 120 bpm = 1 s: ratio 1
    slice->setTimeStretchRatio(2.0, 120);
    slice->stretchToBeats(0, 120);
    EXPECT_NEAR(playOnce(*slice).size() / 2.0, 44100, 44100 * 0.03);
}

TEST_F(SliceResamplerTest, OtherSampleRatesPlayAtTheirTruePitchAndSpeed)
{
    for (int rate : {22050, 48000}) {
        auto slice = loadFilled(writeSine(dir, QString("sine%1.wav").arg(rate), 441.0, rate, rate));
        ASSERT_TRUE(slice);
        EXPECT_EQ(slice->getSampleRate(), rate);
        // One second of audio at any rate is one second at the working rate;
        // the stopped 22050 Hz slice must also come to rest after its tail.
        const std::vector<float> out = playOnce(*slice);
        EXPECT_NEAR(out.size() / 2.0, 44100, 44100 * 0.03) << rate;
        EXPECT_NEAR(frequency(out, 4096, 40000), 441.0, 441.0 * 0.01) << rate;
    }
}

TEST_F(SliceResamplerTest, StoppingFromOutsideLetsTheTailOutAndThenFallsSilent)
{
    auto slice = loadFilled(writeSine(dir, "sine.wav", 441.0, 44100, 22050));
    ASSERT_TRUE(slice);
    slice->setTimeStretchRatio(1.5, 120);
    slice->play(true, 0.0, 1.0);
    std::vector<float> out(512, 0.0f);
    for (int i = 0; i < 40; ++i)
        slice->render(out.data(), 512);
    slice->play(false, 0.0, 1.0);
    int blocks = 0;
    while (slice->render(out.data(), 512) > 0)
        ASSERT_LT(++blocks, 100);
    EXPECT_GT(blocks, 0);
}

TEST_F(SliceResamplerTest, LinearResamplerCopiesAtRateOneAndHalvesTheSourceAtRateOneHalf)
{
    const QString path = writeWav(dir, "ramp.wav", 10000);
    const std::vector<float> audio = stereoSamples(path);
    auto slice = loadFilled(path);
    ASSERT_TRUE(slice);

    slice->play(true, 0.0, 1.0);
    std::vector<float> out(512, 0.0f);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 0, 1.0f, slice), 512u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), audio.begin()));
    EXPECT_EQ(slice->getPlayPos(), 512u);
    // An octave up at half the rate is the rate 1.0 again.
    std::fill(out.begin(), out.end(), 0.0f);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 12, 0.5f, slice), 512u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), audio.begin() + 512));

    // Rate 0.5 pulls 256 source samples; output frame f mixes the source
    // frame at sample f (rounded down to a frame) half and half with the next.
    // The block stops at the frame that reaches the last source frame.
    slice->play(true, 0.0, 1.0);
    std::fill(out.begin(), out.end(), 0.0f);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 0, 0.5f, slice), 510u);
    EXPECT_EQ(slice->getPlayPos(), 256u);
    for (unsigned frame : {0u, 1u, 100u, 254u}) {
        const unsigned k = frame & ~1u;
        const unsigned k2 = std::min(k + 2, 254u);
        EXPECT_FLOAT_EQ(out[2 * frame], audio[k] + (audio[k2] - audio[k]) * 0.5f) << frame;
        EXPECT_FLOAT_EQ(out[2 * frame + 1], audio[k + 1] + (audio[k2 + 1] - audio[k + 1]) * 0.5f);
    }

    slice->play(false, 0.0, 1.0);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 0, 1.0f, slice), 0u);
}
