#include "SampleRendererZoombar.h"

#include "ViewTestSupport.h"

#include <QApplication>
#include <QSignalSpy>

#include <memory>

using namespace ViewTest;
using Span = std::pair<unsigned long, unsigned long>;

namespace {

class SampleRendererZoombarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        loadLoop(&m_kerfer, writeLoop(m_dir));
        m_bar = std::make_unique<SampleRendererZoombar>(nullptr, m_kerfer.getLoop());
        showAt(m_bar.get(), kWidth, 25);
    }
    void TearDown() override
    {
        // Never leave the pointer hidden for the next test.
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
    Span bar() { return {m_bar->getBarStart(), m_bar->getBarEnd()}; }

    QString m_dir = TestAudio::scratchDir(testName());
    Kerfer m_kerfer;
    std::unique_ptr<SampleRendererZoombar> m_bar;
};

TEST_F(SampleRendererZoombarTest, NarrowBarIsGrabbedWithin10PixelsOfItsCentre)
{
    // 5 pixels from x 400: grabbable from x 393 to x 413.
    m_bar->setBarPosition(352800, 352800 + 4410);
    EXPECT_EQ(m_bar->getHandleStart(), 393u * 882);
    EXPECT_EQ(m_bar->getHandleEnd(), 413u * 882);
    press(m_bar.get(), QPoint(394, 12));
    EXPECT_TRUE(m_bar->isDragging());
    release(m_bar.get(), QPoint(394, 12));
    press(m_bar.get(), QPoint(414, 12));
    EXPECT_FALSE(m_bar->isDragging());
    release(m_bar.get(), QPoint(414, 12));
}

TEST_F(SampleRendererZoombarTest, DragPansAndZoomsWithThePointerHiddenWithinTheLoopAndMinimumSpan)
{
    m_bar->setBarPosition(88200, 264600);
    QSignalSpy changed(m_bar.get(), &SampleRendererZoombar::barChanged);
    press(m_bar.get(), QPoint(200, 12));
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BlankCursor);
    dragTo(m_bar.get(), QPoint(210, 12)); // right by 0.4 % of the span per pixel
    EXPECT_EQ(bar(), Span(88200 + 7056, 264600 + 7056));
    dragTo(m_bar.get(), QPoint(210, 2)); // up: narrower by 0.5 % at each end per pixel
    EXPECT_EQ(bar(), Span(95256 + 8820, 271656 - 8820));
    EXPECT_EQ(changed.count(), 2); // the views follow the bar
    release(m_bar.get(), QPoint(210, 2));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Dragged into either end, the bar stops there as wide as it was.
    m_bar->setBarPosition(88200, 264600);
    drag(m_bar.get(), QPoint(200, 12), QPoint(0, 12));
    EXPECT_EQ(bar(), Span(0, 176400));
    m_bar->setBarPosition(kLength - 264600, kLength - 88200);
    drag(m_bar.get(), QPoint(600, 12), QPoint(kWidth, 12));
    EXPECT_EQ(bar(), Span(kLength - 176400, kLength));
    m_bar->setBarPosition(88200, 264600);
    drag(m_bar.get(), QPoint(200, 12), QPoint(200, -288));
    EXPECT_EQ(bar(), Span(88200, 88300));
}

} // namespace
