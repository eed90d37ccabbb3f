#include "ZeroCrossing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Left and right as given per frame.
std::vector<float> stereo(long frames, float (*left)(long), float (*right)(long))
{
    std::vector<float> out(2 * frames);
    for (long f = 0; f < frames; ++f) {
        out[2 * f] = left(f);
        out[2 * f + 1] = right(f);
    }
    return out;
}

// Crosses zero going up between frames 99/100, 199/200, ... (period 200 frames,
// phase chosen so no frame is exactly 0).
float loudSine(long f)
{
    return 0.8f * std::sin(2.0 * M_PI * (f - 99.5) / 200.0);
}
float quietFast(long f)
{
    return 0.01f * std::sin(2.0 * M_PI * (f - 10.5) / 20.0);
}
float dc(long)
{
    return 0.3f;
}

} // namespace

TEST(ZeroCrossingTest, FindsTheLouderChannelsNearestCrossingWithinTheWindow)
{
    const std::vector<float> a = stereo(1000, quietFast, loudSine);
    // The quiet left channel crosses every 10 frames; only the loud right counts.
    // Its crossings lie between 99/100, 199/200, 299/300 (values ±0.0126 there).
    const long found = ZeroCrossing::nearest(a.data(), 1000, 290, 20, 20);
    EXPECT_TRUE(found == 299 || found == 300) << found;
    // Looking only backwards never lands after the frame.
    const long back = ZeroCrossing::nearest(a.data(), 1000, 290, 100, 0);
    EXPECT_TRUE(back == 199 || back == 200) << back;
    // Nothing within reach.
    EXPECT_EQ(ZeroCrossing::nearest(a.data(), 1000, 250, 20, 20), -1);
    // A crossing just outside the window is not taken even though its nearer frame is inside.
    EXPECT_EQ(ZeroCrossing::nearest(a.data(), 1000, 280, 0, 19), -1);

    const std::vector<float> flat = stereo(100, dc, dc);
    EXPECT_EQ(ZeroCrossing::nearest(flat.data(), 100, 50, 50, 50), -1);
    EXPECT_EQ(ZeroCrossing::nearest(flat.data(), 100, 100, 5, 5), -1);
}

TEST(ZeroCrossingTest, MillisecondsToFrames)
{
    EXPECT_EQ(ZeroCrossing::framesForMs(1.0, 44100), 44);
    EXPECT_EQ(ZeroCrossing::framesForMs(2.0, 48000), 96);
    EXPECT_EQ(ZeroCrossing::framesForMs(-1.0, 48000), 0);
}
