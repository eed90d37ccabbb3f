#include "ZeroCrossing.h"

#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"
#include "ZeroCrossingSnap.h"

#include <gtest/gtest.h>
#include <sndfile.h>

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

// Period 400 frames, crossing between frames 199/200, 399/400, ... (no frame is 0);
// the quiet left channel crosses everywhere and must not count.
float slowSine(long frame, int channel)
{
    if (channel == 0)
        return 0.01f * float(std::sin(2.0 * M_PI * (frame - 2.5) / 10.0));
    return 0.8f * float(std::sin(2.0 * M_PI * (double(frame) - 199.5) / 400.0));
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

TEST(ZeroCrossingTest, CutsGoToTheLouderChannelsCrossingWithinTwoMilliseconds)
{
    const QString dir = SliceTestSupport::freshTestDir();
    EngineTestSupport::useFreshSettings(dir + "/data");
    // The menu's option is on until switched off; the dialog's is off until switched on.
    EXPECT_TRUE(ZeroCrossingSnap::isEnabled());
    EXPECT_FALSE(ZeroCrossingSnap::isEnabled(ZeroCrossingSnap::kAdvancedSlicingKey));
    Settings::resetInstanceForTests();

    const QString path = dir + "/sine.wav";
    ASSERT_TRUE(
        TestAudio::writeFile(path, 4000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, slowSine));
    Kerfer kerfer;
    ASSERT_TRUE(kerfer.slotLoadLoop(path));
    ASSERT_TRUE(SliceTestSupport::waitFilled(kerfer.getLoop()->getAudioCache().data()));
    const Slice& loop = *kerfer.getLoop();
    // Frame 250 is 50 frames (1.1 ms) past the crossing at 199/200: it lands there.
    const unsigned long snapped = ZeroCrossingSnap::snap(loop, 500);
    EXPECT_TRUE(snapped == 398 || snapped == 400) << snapped;
    // Frame 300 is 100 frames (2.3 ms) from both crossings: it stays.
    EXPECT_EQ(ZeroCrossingSnap::snap(loop, 600), 600u);
    EXPECT_EQ(ZeroCrossingSnap::snap(loop, 900000), 900000u); // beyond the audio
}
