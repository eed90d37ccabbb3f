#include "TransportBar.h"

#include "SampleRendererLooper.h"
#include "ViewTestSupport.h"

#include <memory>

using namespace ViewTest;

namespace {

const int kLower = 19; // a y in the lower half

class TransportBarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_view = std::make_unique<SampleRendererLooper>(nullptr, QSharedPointer<Slice>());
        m_bar = std::make_unique<TransportBar>(nullptr, &m_kerfer, m_view.get());
        showAt(m_bar.get(), kWidth, 25);
    }
    // The loop shown whole in the view above which the bar sits.
    void showLoop()
    {
        loadLoop(&m_kerfer, writeLoop(m_dir));
        m_view->setSlice(m_kerfer.getLoop());
        showAt(m_view.get());
    }

    QString m_dir = TestAudio::scratchDir(testName());
    Kerfer m_kerfer;
    std::unique_ptr<SampleRendererLooper> m_view;
    std::unique_ptr<TransportBar> m_bar;
};

TEST_F(TransportBarTest, RulerShrinksItsStepUntilMoreThanSevenTicksShow)
{
    EXPECT_EQ(m_bar->rulerScale().step, 0); // nothing shown, nothing to measure
    showLoop();
    // A tenth of the loop: 88200 shrunk by thirds to 7742 (87.8 ms), 9 ticks.
    m_view->setViewPosition(0, 70560);
    EXPECT_EQ(m_bar->rulerScale().step, 7742);
    EXPECT_FALSE(m_bar->rulerScale().milliseconds);
    // A hundredth: 678 samples, 7.7 ms, labelled in milliseconds.
    m_view->setViewPosition(0, 7056);
    EXPECT_EQ(m_bar->rulerScale().step, 678);
    EXPECT_TRUE(m_bar->rulerScale().milliseconds);
    EXPECT_EQ(TransportBar::rulerLabel(1.5f, false), "1.5s");
    EXPECT_EQ(TransportBar::rulerLabel(0.0123f, true), "12.3ms");
}

TEST_F(TransportBarTest, UpperHalfPlaysLowerHalfLoopsTheHoveredSlice)
{
    click(m_bar.get(), QPoint(300, 3)); // without a loop: nothing to play
    click(m_bar.get(), QPoint(300, kLower));
    showLoop();
    m_kerfer.addSlicePoint(176400); // x 200
    m_kerfer.addSlicePoint(352800); // x 400
    const QSharedPointer<Slice> loop = m_kerfer.getLoop();
    click(m_bar.get(), QPoint(300, 3));
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 264600u);
    loop->play(false, 0.0, 1.0);

    dragTo(m_bar.get(), QPoint(300, kLower), Qt::NoButton); // hover
    click(m_bar.get(), QPoint(300, kLower));
    EXPECT_EQ(loop->getLoopMode(), 2);
    EXPECT_EQ(m_kerfer.getLoopRegionStart(), 176400u);
    EXPECT_EQ(m_kerfer.getLoopRegionEnd(), 352800u);
    click(m_bar.get(), QPoint(300, kLower));
    EXPECT_EQ(loop->getLoopMode(), 0);
}

} // namespace
