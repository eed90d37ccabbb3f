#include "SampleRendererLooper.h"

#include "ViewTestSupport.h"

#include <QSignalSpy>

#include <memory>

using namespace ViewTest;

namespace {

bool isWaveColour(QRgb pixel)
{
    return qGreen(pixel) > 200 && qRed(pixel) > 100 && qRed(pixel) < 180 && qBlue(pixel) < 60;
}

// A loud block of 0.75 from frame 176400 (sample 352800, the middle of the
// loop) for half a second; silence elsewhere.
float loudBlock(long frame, int)
{
    return frame >= 176400 && frame < 176400 + 22050 ? 0.75f : 0.0f;
}

class SampleRendererTest : public ::testing::Test
{
protected:
    void SetUp() override { m_dir = TestAudio::scratchDir(testName()); }

    // A view over a slice of the file, filled and shown at the standard size.
    std::unique_ptr<SampleRendererLooper> showSlice(const QString& path)
    {
        m_slice.reset(new Slice(path));
        if (m_slice->getLength() > 0)
            waitForFill(m_slice);
        auto view = std::make_unique<SampleRendererLooper>(nullptr, m_slice);
        showAt(view.get());
        return view;
    }

    QString m_dir;
    QSharedPointer<Slice> m_slice;
};

TEST_F(SampleRendererTest, ConversionsAtKnownSizesAndViews)
{
    auto view = showSlice(writeLoop(m_dir));
    ASSERT_EQ(m_slice->getLength(), kLength);
    EXPECT_EQ(view->getViewStart(), 0u);
    EXPECT_EQ(view->getViewEnd(), kLength);
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.0f);
    EXPECT_FLOAT_EQ(view->samplesPerPixel(), 882.0f);
    EXPECT_EQ(view->sampleAt(QPoint(400, 0)), 352800u);
    EXPECT_EQ(view->sampleAt(QPoint(1, 0)), 882u);
    EXPECT_EQ(view->sampleAt(QPoint(-5, 0)), 0u);
    EXPECT_EQ(view->sampleAt(QPoint(900, 0)), kLength - 4); // beyond the end
    EXPECT_EQ(view->sampleAt(QPoint(kWidth, 0)), kLength);
    EXPECT_FLOAT_EQ(view->secondsAt(QPoint(400, 0)), 4.0f);
    EXPECT_FLOAT_EQ(view->fractionAt(QPoint(400, 0)), 0.5f);
    EXPECT_DOUBLE_EQ(view->xOfSample(352800), 400.0);
    EXPECT_DOUBLE_EQ(view->xOfSeconds(2.0f), 200.0);
    EXPECT_EQ(view->xOfFraction(0.25f), 200);
    EXPECT_EQ(view->sampleAtViewFraction(0.5f), 352800u);

    // One second to three seconds.
    view->setViewPosition(88200, 264600);
    EXPECT_FLOAT_EQ(view->zoomFactor(), 4.0f);
    EXPECT_FLOAT_EQ(view->samplesPerPixel(), 220.5f);
    EXPECT_EQ(view->sampleAt(QPoint(400, 0)), 176400u);
    EXPECT_DOUBLE_EQ(view->xOfSample(88200), 0.0);
    EXPECT_DOUBLE_EQ(view->xOfSample(0), -400.0);
    EXPECT_FLOAT_EQ(view->fractionAt(QPoint(400, 0)), 0.25f);
    EXPECT_EQ(view->xOfFraction(0.25f), 400);
    EXPECT_EQ(view->sampleAtViewFraction(0.25f), 132300u);

    // The slot clamps to the slice and emits nothing.
    QSignalSpy changed(view.get(), &SampleRenderer::viewChanged);
    view->setViewPosition(-100, long(kLength) + 1000);
    EXPECT_EQ(view->getViewStart(), 0u);
    EXPECT_EQ(view->getViewEnd(), kLength);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(SampleRendererTest, ViewNeverNarrowerThan101Samples)
{
    auto view = showSlice(writeLoop(m_dir));
    QSignalSpy changed(view.get(), &SampleRenderer::viewChanged);
    view->setViewStart(1000, true);
    view->setViewEnd(1100, true); // 100 samples: refused
    EXPECT_EQ(view->getViewEnd(), kLength);
    EXPECT_EQ(changed.count(), 1);
    view->setViewEnd(1101, true);
    EXPECT_EQ(view->getViewEnd(), 1101u);
    view->setViewStart(1001, true);
    EXPECT_EQ(view->getViewStart(), 1000u);
    view->setViewStart(999, false);
    EXPECT_EQ(view->getViewStart(), 999u);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.last().at(0).value<long>(), 1000);
    EXPECT_EQ(changed.last().at(1).value<long>(), 1101);
}

TEST_F(SampleRendererTest, NoSliceEmptySliceAndTinySliceAreSafe)
{
    SampleRendererLooper none(nullptr, QSharedPointer<Slice>());
    showAt(&none);
    EXPECT_FLOAT_EQ(none.zoomFactor(), 1.0f);
    EXPECT_EQ(none.sampleAt(QPoint(400, 0)), 0u);
    EXPECT_FLOAT_EQ(none.fractionAt(QPoint(400, 0)), 0.0f);
    EXPECT_DOUBLE_EQ(none.xOfSample(1000), 0.0);
    EXPECT_EQ(none.xOfFraction(0.5f), 0);
    EXPECT_EQ(none.sampleAtViewFraction(0.5f), 0u);
    const QImage blank = frame(&none);
    EXPECT_FALSE(isWaveColour(blank.pixel(400, kHeight / 2)));
    // Background: dark grey at the top, fading to black at the bottom.
    EXPECT_EQ(QColor(blank.pixel(400, 10)), QColor(80, 80, 80));
    EXPECT_LT(qGray(blank.pixel(400, kHeight - 1)), 5);

    // A file that gives no audio: a slice of length 0, nothing to divide by.
    TestAudio::writeBytes(m_dir + "/bad.wav", "not audio");
    auto empty = showSlice(m_dir + "/bad.wav");
    ASSERT_EQ(m_slice->getLength(), 0u);
    EXPECT_EQ(empty->sampleAt(QPoint(400, 0)), 0u);
    EXPECT_FLOAT_EQ(empty->samplesPerPixel(), 0.0f);
    frame(empty.get());
    EXPECT_TRUE(empty->isWaveformDirty()); // nothing to build

    // Shorter than the narrowest view: shown whole rather than not at all.
    auto tiny = showSlice(writeLoop(m_dir, TestAudio::ramp, 40));
    EXPECT_EQ(tiny->getViewEnd(), 80u);
    EXPECT_DOUBLE_EQ(tiny->xOfSample(40), 400.0);
    frame(tiny.get());
    EXPECT_FALSE(tiny->isWaveformDirty());
}

TEST_F(SampleRendererTest, LoudSampleIsDrawnInItsColumnInBothModes)
{
    auto view = showSlice(writeLoop(m_dir, loudBlock));
    const int mid = kHeight / 2;
    const int peak = int(0.75f * kHeight * 0.5f);

    // 882 samples per pixel: one symmetric vertical line per column.
    QImage image = frame(view.get());
    EXPECT_TRUE(isWaveColour(image.pixel(420, mid - peak / 2)));
    EXPECT_TRUE(isWaveColour(image.pixel(420, mid + peak / 2)));
    EXPECT_FALSE(isWaveColour(image.pixel(100, mid - 20)));
    EXPECT_FALSE(isWaveColour(image.pixel(420, mid - peak - 3)));

    // 100 samples per pixel: a joined line, positive values below the centre
    // line, the centre line showing where the line leaves it.
    view->setViewPosition(352800 - 40000, 352800 + 40000);
    image = frame(view.get());
    EXPECT_TRUE(nearVertical(image, 600, mid + peak, isWaveColour));
    EXPECT_FALSE(nearVertical(image, 600, mid - peak, isWaveColour));
    EXPECT_TRUE(nearVertical(image, 600, mid, is(QColor(64, 64, 64))));
    EXPECT_TRUE(nearVertical(image, 200, mid, isWaveColour));
}

TEST_F(SampleRendererTest, RebuildsOnlyWhenDirtyAndRedrawsThroughTheEventLoop)
{
    auto view = showSlice(writeLoop(m_dir));
    frame(view.get());
    EXPECT_FALSE(view->isWaveformDirty());
    EXPECT_FALSE(view->isBackgroundDirty());
    // Hidden, so that delivered repaints do not rebuild (and clean) the picture.
    view->hide();

    // Progress arrives from the reader thread: it may touch the view only
    // once the event loop delivers it.
    QThread* reader = QThread::create([this] { emit m_slice->getAudioCache()->fillProgress(); });
    reader->start();
    reader->wait();
    delete reader;
    EXPECT_FALSE(view->isWaveformDirty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->isWaveformDirty());

    view->setWaveformDirty(false);
    view->setColour(Qt::blue);
    EXPECT_TRUE(view->isBackgroundDirty());
    EXPECT_FALSE(view->isWaveformDirty());
    view->setViewStart(1000, false);
    EXPECT_TRUE(view->isWaveformDirty());

    // A replaced slice no longer reaches the view.
    QSharedPointer<Slice> old = m_slice;
    view->setSlice(QSharedPointer<Slice>());
    view->setWaveformDirty(false);
    emit old->getAudioCache()->fillProgress();
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->isWaveformDirty());
}

} // namespace
