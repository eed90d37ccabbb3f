#include "SampleRendererLooper.h"

#include "ViewTestSupport.h"

#include <memory>
#include <thread>

using namespace ViewTest;

namespace {

bool isWaveColour(QRgb pixel)
{
    return qGreen(pixel) > 200 && qRed(pixel) > 100 && qRed(pixel) < 180 && qBlue(pixel) < 60;
}

class SampleRendererTest : public ::testing::Test
{
protected:
    std::unique_ptr<SampleRendererLooper> showSlice(const QString& path)
    {
        m_slice.reset(new Slice(path));
        if (m_slice->getLength() > 0)
            waitForFill(m_slice);
        auto view = std::make_unique<SampleRendererLooper>(nullptr, m_slice);
        showAt(view.get());
        return view;
    }

    QString m_dir = TestAudio::scratchDir(testName());
    QSharedPointer<Slice> m_slice;
};

TEST_F(SampleRendererTest, ConversionsAtKnownSizesAndViews)
{
    auto view = showSlice(writeLoop(m_dir));
    ASSERT_EQ(view->getViewEnd(), kLength);
    EXPECT_FLOAT_EQ(view->samplesPerPixel(), 882.0f);
    EXPECT_EQ(view->sampleAt(QPoint(400, 0)), 352800u);
    EXPECT_EQ(view->sampleAt(QPoint(-5, 0)), 0u);
    EXPECT_EQ(view->sampleAt(QPoint(900, 0)), kLength - 4); // beyond the end
    EXPECT_EQ(view->sampleAt(QPoint(kWidth, 0)), kLength);
    EXPECT_FLOAT_EQ(view->secondsAt(QPoint(400, 0)), 4.0f);
    EXPECT_DOUBLE_EQ(view->xOfSeconds(2.0f), 200.0);

    view->setViewPosition(88200, 264600); // one second to three seconds
    EXPECT_FLOAT_EQ(view->zoomFactor(), 4.0f);
    EXPECT_FLOAT_EQ(view->samplesPerPixel(), 220.5f);
    EXPECT_EQ(view->sampleAt(QPoint(400, 0)), 176400u);
    EXPECT_DOUBLE_EQ(view->xOfSample(0), -400.0);
    EXPECT_FLOAT_EQ(view->fractionAt(QPoint(400, 0)), 0.25f);
    EXPECT_EQ(view->xOfFraction(0.25f), 400);
    EXPECT_EQ(view->sampleAtViewFraction(0.25f), 132300u);

    view->setViewPosition(-100, long(kLength) + 1000); // clamped to the slice
    EXPECT_EQ(view->getViewEnd(), kLength);
    view->setViewStart(1000, true);
    view->setViewEnd(1100, true); // narrower than 101 samples: refused
    EXPECT_EQ(view->getViewEnd(), kLength);

    // Seconds are the slice's own: at 48 kHz the same samples last less.
    const QString fast = m_dir + "/48k.wav";
    ASSERT_TRUE(TestAudio::writeFile(fast, kFrames, 2, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                     TestAudio::ramp));
    view = showSlice(fast);
    EXPECT_FLOAT_EQ(view->secondsAt(QPoint(400, 0)), 3.675f);
    EXPECT_NEAR(view->xOfSeconds(3.675f), 400.0, 0.01);
}

TEST_F(SampleRendererTest, EmptySliceAndTinySliceAreSafe)
{
    // A file that gives no audio: a slice of length 0, nothing to divide by.
    TestAudio::writeBytes(m_dir + "/bad.wav", "not audio");
    auto empty = showSlice(m_dir + "/bad.wav");
    EXPECT_EQ(empty->sampleAt(QPoint(400, 0)), 0u);
    frame(empty.get());
    // Shorter than the narrowest view: shown whole rather than not at all.
    auto tiny = showSlice(writeLoop(m_dir, TestAudio::ramp, 40));
    EXPECT_EQ(tiny->getViewEnd(), 80u);
    frame(tiny.get());
}

TEST_F(SampleRendererTest, LoudSampleIsDrawnInItsColumn)
{
    // 0.75 for half a second from sample 352800 (x 400), silence elsewhere.
    auto view = showSlice(writeLoop(m_dir, [](long frame, int) {
        return frame >= 176400 && frame < 176400 + 22050 ? 0.75f : 0.0f;
    }));
    const int mid = kHeight / 2;
    const int peak = int(0.75f * kHeight * 0.5f);
    const QImage image = frame(view.get()); // one symmetric vertical line per column
    EXPECT_TRUE(isWaveColour(image.pixel(420, mid - peak / 2)));
    EXPECT_TRUE(isWaveColour(image.pixel(420, mid + peak / 2)));
    EXPECT_FALSE(isWaveColour(image.pixel(100, mid - 20)));
    EXPECT_FALSE(isWaveColour(image.pixel(420, mid - peak - 3)));
}

TEST_F(SampleRendererTest, FillProgressReachesTheViewOnlyThroughTheEventLoop)
{
    auto view = showSlice(writeLoop(m_dir));
    frame(view.get());
    view->hide(); // delivered repaints would rebuild (and clean) the picture
    std::thread([this] { emit m_slice->getAudioCache()->fillProgress(); }).join();
    EXPECT_FALSE(view->isWaveformDirty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->isWaveformDirty());
}

} // namespace
