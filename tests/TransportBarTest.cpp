#include "TransportBar.h"

#include "SampleRendererLooper.h"
#include "ViewTestSupport.h"

#include <memory>

using namespace ViewTest;
using Points = QList<unsigned long>;

namespace {

const int kBarHeight = 25;
const int kLower = 19; // a y in the lower half

bool isBright(QRgb pixel)
{
    return qGray(pixel) > 150;
}

bool anyPixel(const QImage& image, const QRect& area, bool (*match)(QRgb))
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (match(image.pixel(x, y)))
                return true;
    return false;
}

class TransportBarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(testName());
        m_view = std::make_unique<SampleRendererLooper>(nullptr, QSharedPointer<Slice>());
        m_bar = std::make_unique<TransportBar>(nullptr, &m_kerfer, m_view.get());
        showAt(m_bar.get(), kWidth, kBarHeight);
    }

    // The loop shown whole in the view above which the bar sits.
    void showLoop()
    {
        loadLoop(&m_kerfer, writeLoop(m_dir));
        m_view->setSlice(m_kerfer.getLoop());
        showAt(m_view.get());
    }
    void click(int x, int y)
    {
        press(m_bar.get(), QPoint(x, y));
        release(m_bar.get(), QPoint(x, y));
    }
    void hover(int x, int y) { dragTo(m_bar.get(), QPoint(x, y), Qt::NoButton); }

    QString m_dir;
    Kerfer m_kerfer;
    std::unique_ptr<SampleRendererLooper> m_view;
    std::unique_ptr<TransportBar> m_bar;
};

TEST_F(TransportBarTest, RulerShrinksItsStepUntilMoreThanSevenTicksShow)
{
    EXPECT_EQ(m_bar->rulerScale().step, 0); // nothing shown, nothing to measure
    showLoop();
    // An eighth of the loop: one second.
    EXPECT_EQ(m_bar->rulerScale().step, 88200);
    EXPECT_FALSE(m_bar->rulerScale().milliseconds);

    // A tenth of the loop: 88200 shrunk by thirds to 7742, 9 ticks.
    m_view->setViewPosition(0, 70560);
    EXPECT_EQ(m_bar->rulerScale().step, 7742);
    EXPECT_FALSE(m_bar->rulerScale().milliseconds); // 87.8 ms

    // A hundredth: 678 samples, 7.7 ms, labelled in milliseconds.
    m_view->setViewPosition(0, 7056);
    EXPECT_EQ(m_bar->rulerScale().step, 678);
    EXPECT_TRUE(m_bar->rulerScale().milliseconds);

    EXPECT_EQ(TransportBar::rulerLabel(1.5f, false), "1.5s");
    EXPECT_EQ(TransportBar::rulerLabel(0.0123f, true), "12.3ms");
}

TEST_F(TransportBarTest, UpperHalfPlaysToTheSliceEndLowerHalfTogglesItsLoop)
{
    // Without a loop: a plain strip, clicks do nothing.
    hover(300, 3);
    click(300, 3);
    EXPECT_EQ(frame(m_bar.get()).pixel(300, kLower), QColor(40, 40, 40).rgb()); // hovered
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(m_bar.get(), &leave);
    EXPECT_EQ(frame(m_bar.get()).pixel(300, kLower), QColor(30, 30, 30).rgb());

    showLoop();
    m_kerfer.addSlicePoint(176400); // x 200
    m_kerfer.addSlicePoint(352800); // x 400
    const QSharedPointer<Slice> loop = m_kerfer.getLoop();
    click(300, 3);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 264600u);
    loop->play(false, 0.0, 1.0);

    click(300, kLower);
    EXPECT_EQ(loop->getLoopMode(), 2);
    EXPECT_EQ(m_kerfer.getLoopRegionStart(), 176400u);
    EXPECT_EQ(m_kerfer.getLoopRegionEnd(), 352800u);
    const QImage looped = frame(m_bar.get());
    EXPECT_EQ(looped.pixel(220, kLower), QColor(80, 80, 80).rgb());
    EXPECT_EQ(looped.pixel(500, kLower), QColor(30, 30, 30).rgb());
    click(300, kLower);
    EXPECT_EQ(loop->getLoopMode(), 0);
}

TEST_F(TransportBarTest, DrawsHoveredSliceTicksAndSlicePoints)
{
    showLoop();
    m_kerfer.addSlicePoint(176400);        // x 200
    m_kerfer.addSlicePoint(352800);        // x 400
    m_kerfer.addSlicePoint(352800 + 8820); // x 410
    hover(300, kLower);
    QImage image = frame(m_bar.get());
    EXPECT_EQ(image.pixel(220, kLower), QColor(60, 60, 60).rgb());
    EXPECT_EQ(image.pixel(500, kLower), QColor(40, 40, 40).rgb());
    EXPECT_TRUE(anyPixel(image, QRect(290, 13, 20, 12), isBright)); // the loop picture
    EXPECT_TRUE(nearHorizontal(image, 200, kLower, is(QColor(200, 0, 0))));
    // Major ticks every 4 steps (4 seconds), minor ones a quarter high.
    EXPECT_TRUE(nearHorizontal(image, 400, 10, is(QColor(200, 200, 200))));
    EXPECT_TRUE(nearHorizontal(image, 100, 3, is(QColor(128, 128, 128))));
    EXPECT_FALSE(nearHorizontal(image, 100, 9, is(QColor(128, 128, 128))));

    // A slice narrower than the picture is highlighted without it.
    hover(405, kLower);
    image = frame(m_bar.get());
    EXPECT_EQ(image.pixel(405, kLower), QColor(60, 60, 60).rgb());
    EXPECT_FALSE(anyPixel(image, QRect(401, 13, 8, 12), isBright));
}

} // namespace
