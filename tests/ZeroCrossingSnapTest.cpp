#include "ZeroCrossingSnap.h"

#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

using namespace SliceTestSupport;
using Points = QList<unsigned long>;

namespace {

// Period 400 frames, crossing between frames 199/200, 399/400, ... (no frame is 0);
// the quiet left channel crosses everywhere and must not count.
float slowSine(long frame, int channel)
{
    if (channel == 0)
        return 0.01f * float(std::sin(2.0 * M_PI * (frame - 2.5) / 10.0));
    return 0.8f * float(std::sin(2.0 * M_PI * (double(frame) - 199.5) / 400.0));
}

TEST(ZeroCrossingSnapTest, CutsGoToTheLouderChannelsCrossingWithinTwoMilliseconds)
{
    const QString dir = freshTestDir();
    EngineTestSupport::useFreshSettings(dir + "/data");
    // The menu's option is on until switched off; the dialog's is off until switched on.
    EXPECT_TRUE(ZeroCrossingSnap::isEnabled());
    EXPECT_FALSE(ZeroCrossingSnap::isEnabled(ZeroCrossingSnap::kAdvancedSlicingKey));
    ZeroCrossingSnap::setEnabled(false);
    EXPECT_FALSE(ZeroCrossingSnap::isEnabled());

    const QString path = dir + "/sine.wav";
    ASSERT_TRUE(
        TestAudio::writeFile(path, 4000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, slowSine));
    Kerfer kerfer;
    ASSERT_TRUE(kerfer.slotLoadLoop(path));
    ASSERT_TRUE(waitFilled(kerfer.getLoop()->getAudioCache().data()));
    const Slice& loop = *kerfer.getLoop();
    // Frame 250 is 50 frames (1.1 ms) past the crossing at 199/200: it lands there.
    const unsigned long snapped = ZeroCrossingSnap::snap(loop, 500);
    EXPECT_TRUE(snapped == 398 || snapped == 400) << snapped;
    // Frame 300 is 100 frames (2.3 ms) from both crossings: it stays.
    EXPECT_EQ(ZeroCrossingSnap::snap(loop, 600), 600u);
    EXPECT_EQ(ZeroCrossingSnap::snap(loop, 900000), 900000u); // beyond the audio

    // Only the points named move.
    kerfer.addSlicePoint(500);
    kerfer.addSlicePoint(1300);
    ZeroCrossingSnap::snapPoints(kerfer, {1300});
    const Points points = kerfer.getSlicePoints();
    EXPECT_EQ(points.first(), 500u);
    EXPECT_TRUE(points.last() == 1198 || points.last() == 1200) << points.last();
    Settings::resetInstanceForTests();
}

} // namespace
