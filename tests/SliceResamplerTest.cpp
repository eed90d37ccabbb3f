#include "LinearResampler.h"
#include "Slice.h"
#include "SliceTestSupport.h"

#include <gtest/gtest.h>

using namespace SliceTestSupport;

namespace {

// Plays the whole slice once through render(); the tail drains, and then a
// stopped slice renders nothing.
std::vector<float> playOnce(Slice& slice)
{
    slice.play(true, 0.0, 1.0);
    std::vector<float> out = renderAll(slice, 512, 4000);
    std::vector<float> after(512, 0.0f);
    EXPECT_EQ(slice.render(after.data(), 512), 0u);
    return out;
}

} // namespace

TEST(SliceResamplerTest, PitchRaisesTheFrequencyAndStretchTheLength)
{
    auto slice = loadFilled(writeSine(freshTestDir(), "sine.wav", 441.0, 88200, 44100));
    ASSERT_TRUE(slice);
    // Pass after pass the length stays that of the source: tails do not grow.
    slice->setPitch(12);
    for (int pass = 0; pass < 3; ++pass) {
        const std::vector<float> octave = playOnce(*slice);
        EXPECT_NEAR(frequency(octave, 8192, 80000), 882.0, 882.0 * 0.01);
        EXPECT_NEAR(octave.size() / 2.0, 88200, 88200 * 0.03) << "pass " << pass;
    }
    slice->setPitch(0);
    slice->setTimeStretchRatio(2.0, 120);
    const std::vector<float> stretched = playOnce(*slice);
    EXPECT_NEAR(stretched.size() / 2.0, 2 * 88200, 88200 * 0.06);
    EXPECT_NEAR(frequency(stretched, 8192, 160000), 441.0, 441.0 * 0.01);
    // Back to 1.0, by ratio or by zero beats, the pass has its own length again.
    slice->setTimeStretchRatio(1.0, 120);
    EXPECT_NEAR(playOnce(*slice).size() / 2.0, 88200, 88200 * 0.03);
    slice->setTimeStretchRatio(2.0, 120);
    slice->stretchToBeats(0, 120);
    EXPECT_NEAR(playOnce(*slice).size() / 2.0, 88200, 88200 * 0.03);
}

TEST(SliceResamplerTest, OtherSampleRatesPlayAtTheirTruePitchAndSpeed)
{
    const QString dir = freshTestDir();
    for (int rate : {22050, 48000}) {
        auto slice = loadFilled(writeSine(dir, QString("sine%1.wav").arg(rate), 441.0, rate, rate));
        ASSERT_TRUE(slice);
        const std::vector<float> out = playOnce(*slice);
        EXPECT_NEAR(out.size() / 2.0, 44100, 44100 * 0.03) << rate;
        EXPECT_NEAR(frequency(out, 4096, 40000), 441.0, 441.0 * 0.01) << rate;

        // Stopped from outside mid-pass, the tail comes out and then ends.
        slice->setTimeStretchRatio(1.5, 120);
        slice->play(true, 0.0, 1.0);
        std::vector<float> block(512, 0.0f);
        for (int i = 0; i < 40; ++i)
            slice->render(block.data(), 512);
        slice->play(false, 0.0, 1.0);
        int blocks = 0;
        while (slice->render(block.data(), 512) > 0)
            ASSERT_LT(++blocks, 100);
        EXPECT_GT(blocks, 0);
    }
}

TEST(SliceResamplerTest, LinearResamplerCopiesAtRateOneAndInterpolatesAtRateOneHalf)
{
    const QString path = writeWav(freshTestDir(), "ramp.wav", 10000);
    const std::vector<float> audio = stereoSamples(path);
    auto slice = loadFilled(path);
    ASSERT_TRUE(slice);
    slice->play(true, 0.0, 1.0);
    std::vector<float> out(512, 0.0f);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 0, 1.0f, slice), 512u);
    EXPECT_EQ(out, pick(audio, {{0, 512}}));
    // An octave up at half the rate is the rate 1.0 again.
    std::fill(out.begin(), out.end(), 0.0f);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 12, 0.5f, slice), 512u);
    EXPECT_EQ(out, pick(audio, {{512, 1024}}));

    // Rate 0.5 pulls 256 source samples; output frame f mixes the source frame
    // at sample f (rounded down to a frame) half and half with the next. The
    // block stops at the frame that reaches the last source frame.
    slice->play(true, 0.0, 1.0);
    std::fill(out.begin(), out.end(), 0.0f);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 0, 0.5f, slice), 510u);
    EXPECT_EQ(slice->getPlayPos(), 256u);
    for (unsigned frame : {0u, 1u, 100u, 254u}) {
        const unsigned k = frame & ~1u, k2 = std::min(k + 2, 254u);
        EXPECT_FLOAT_EQ(out[2 * frame], audio[k] + (audio[k2] - audio[k]) * 0.5f) << frame;
        EXPECT_FLOAT_EQ(out[2 * frame + 1], audio[k + 1] + (audio[k2 + 1] - audio[k + 1]) * 0.5f);
    }
    slice->play(false, 0.0, 1.0);
    EXPECT_EQ(LinearResampler::process(out.data(), 512, 0, 1.0f, slice), 0u);
}
