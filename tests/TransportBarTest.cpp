#include "TransportBar.h"

#include "SampleRendererLooper.h"
#include "ViewTestSupport.h"

#include <QFontMetrics>

#include <cmath>
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
    void showLoop(long frames = kFrames)
    {
        loadLoop(&m_kerfer, writeLoop(m_dir, TestAudio::ramp, frames));
        m_view->setSlice(m_kerfer.getLoop());
        showAt(m_view.get());
    }

    QString m_dir = TestAudio::scratchDir(testName());
    Kerfer m_kerfer;
    std::unique_ptr<SampleRendererLooper> m_view;
    std::unique_ptr<TransportBar> m_bar;
};

TEST_F(TransportBarTest, RulerLabelsRoundTimesThatFitTheWidth)
{
    EXPECT_TRUE(m_bar->rulerTicks().isEmpty()); // nothing shown, nothing to measure
    showLoop(77175);                            // 1.75 s
    const QFontMetrics metrics(m_bar->rulerFont());
    // The labelled times in seconds, each far enough from the one before for its
    // label, all multiples of one step of 1, 2 or 5 times a power of ten.
    const auto labelled = [&] {
        QList<double> times;
        double lastEnd = -1e9;
        for (const TimeRuler::Tick& tick : m_bar->rulerTicks()) {
            if (tick.label.isEmpty())
                continue;
            const bool ms = tick.label.endsWith("ms");
            times << tick.label.chopped(ms ? 2 : 1).toDouble() / (ms ? 1000.0 : 1.0);
            EXPECT_GE(tick.x, lastEnd + 4) << tick.label.toStdString();
            lastEnd = tick.x + metrics.horizontalAdvance(tick.label);
        }
        const double step = times.size() > 1 ? times[1] - times[0] : 1.0;
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        EXPECT_NEAR(mantissa, mantissa < 1.5 ? 1 : mantissa < 3.5 ? 2 : 5, 1e-6) << step;
        for (double t : times)
            EXPECT_NEAR(t / step, std::round(t / step), 1e-6) << t;
        return times;
    };
    for (int width : {800, 300, 90}) {
        m_view->resize(width, kHeight);
        const QList<double> times = labelled();
        ASSERT_GE(times.size(), 2) << width;
        EXPECT_LE(times.last(), 1.75) << width; // within the loop, never "148.0s"
    }

    // Zoomed to 951.7..1038.4 ms: whole milliseconds.
    m_view->resize(kWidth, kHeight);
    m_view->setViewPosition(83940, 91586);
    EXPECT_GE(labelled().first(), 0.9517);
    for (const TimeRuler::Tick& tick : m_bar->rulerTicks())
        EXPECT_TRUE(tick.label.isEmpty() || QRegExp("\\d+ms").exactMatch(tick.label))
            << tick.label.toStdString();
    EXPECT_EQ(TimeRuler::label(1.5, 0.5), "1.5s");
    EXPECT_EQ(TimeRuler::label(0.00025, 0.00005), "0.25ms");

    // Time is the loop's own: at 48 kHz, "1s" stands at frame 48000.
    const QString path = m_dir + "/48k.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 96000, 2, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    loadLoop(&m_kerfer, path);
    m_view->setSlice(m_kerfer.getLoop());
    bool found = false;
    for (const TimeRuler::Tick& tick : m_bar->rulerTicks())
        if (tick.label == "1s" || tick.label == "1.0s") {
            EXPECT_NEAR(tick.x, m_view->xOfSample(96000), 0.5);
            found = true;
        }
    EXPECT_TRUE(found);
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
