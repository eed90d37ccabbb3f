#include "SampleRendererKerfer.h"

#include "LogCapture.h"
#include "Settings.h"
#include "ViewTestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>

#include <cmath>
#include <memory>

using namespace ViewTest;
using Points = QList<unsigned long>;

namespace {

// Opens up the menu and replaces the file dialog by a given answer.
class TestView : public SampleRendererKerfer
{
public:
    using SampleRendererKerfer::SampleRendererKerfer;
    QAction* sliceHere() const { return m_pActionSliceHere; }
    QAction* deletePoint() const { return m_pActionDeleteSlicePoint; }
    QAction* saveSlice() const { return m_pActionSaveSlice; }
    QMenu* menu() const { return m_pContextMenu; }

    QString answer;
    QString answerFilter;
    QString suggested;

protected:
    QString askSliceFileName(const QString& suggestedPath, QString* selectedFilter) override
    {
        suggested = suggestedPath;
        if (!answerFilter.isEmpty())
            *selectedFilter = answerFilter;
        return answer;
    }
};

class SampleRendererKerferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(testName());
        LogCapture::clear();
        // Settings of this test only.
        Settings::resetInstanceForTests();
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir + "/data"));
        m_view = std::make_unique<TestView>(nullptr, &m_kerfer);
    }
    void TearDown() override
    {
        m_view.reset();
        Settings::resetInstanceForTests();
    }

    // Loads the test loop and shows it whole: 882 samples per pixel.
    void showLoop()
    {
        loadLoop(&m_kerfer, writeLoop(m_dir));
        m_view->setSlice(m_kerfer.getLoop());
        showAt(m_view.get());
    }
    void addPoints(const Points& points)
    {
        for (unsigned long p : points)
            m_kerfer.addSlicePoint(p);
    }
    Points points() { return m_kerfer.getSlicePoints(); }
    // Right-clicks and closes the menu again.
    void rightClick(int x)
    {
        press(m_view.get(), QPoint(x, 100), Qt::RightButton);
        m_view->menu()->hide();
    }
    unsigned long playPos() { return m_kerfer.getLoop()->getPlayPos(); }

    QString m_dir;
    Kerfer m_kerfer;
    std::unique_ptr<TestView> m_view;
};

TEST_F(SampleRendererKerferTest, DraggedPointMovesByThePixelDeltaOrLeavesTheView)
{
    showLoop();
    addPoints({176400}); // x 200
    drag(m_view.get(), QPoint(203, 50), QPoint(253, 50));
    EXPECT_EQ(points(), Points({176400 + 50 * 882}));
    drag(m_view.get(), QPoint(250, 50), QPoint(190, 50));
    EXPECT_EQ(points(), Points({176400 - 10 * 882}));

    // Released exactly on the right edge: moved, not removed.
    m_kerfer.clearSlicePoints();
    addPoints({529200}); // x 600
    drag(m_view.get(), QPoint(600, 50), QPoint(kWidth, 50));
    EXPECT_EQ(points(), Points({kLength}));

    // Beyond either edge: removed.
    m_kerfer.clearSlicePoints();
    addPoints({176400, 529200});
    drag(m_view.get(), QPoint(600, 50), QPoint(kWidth + 1, 50));
    EXPECT_EQ(points(), Points({176400}));
    drag(m_view.get(), QPoint(200, 50), QPoint(0, 50));
    EXPECT_TRUE(points().isEmpty());
}

TEST_F(SampleRendererKerferTest, MarkersKeep512SamplesApartAndPointsWinOverMarkers)
{
    showLoop();
    m_kerfer.setStartMarker(88200); // x 100
    m_kerfer.setEndMarker(441000);  // x 500

    drag(m_view.get(), QPoint(102, 50), QPoint(700, 50));
    EXPECT_EQ(m_kerfer.getStartMarker(), 441000u - 512);
    m_kerfer.setStartMarker(88200);
    drag(m_view.get(), QPoint(497, 50), QPoint(-50, 50));
    EXPECT_EQ(m_kerfer.getEndMarker(), 88200u + 512);
    m_kerfer.setEndMarker(441000);
    drag(m_view.get(), QPoint(497, 50), QPoint(kWidth, 50));
    EXPECT_EQ(m_kerfer.getEndMarker(), kLength); // clamped to the loop

    // Within 8 pixels of a point and the start marker: the point is dragged.
    addPoints({91728}); // x 104
    drag(m_view.get(), QPoint(102, 50), QPoint(152, 50));
    EXPECT_EQ(m_kerfer.getStartMarker(), 88200u);
    EXPECT_EQ(points(), Points({91728 + 50 * 882}));
}

TEST_F(SampleRendererKerferTest, ClickAuditionsTheSliceUnderIt)
{
    showLoop();
    m_kerfer.setStartMarker(88200); // x 100
    addPoints({176400, 352800});    // x 200, 400

    press(m_view.get(), QPoint(300, 50));
    release(m_view.get(), QPoint(300, 50));
    EXPECT_TRUE(m_kerfer.getLoop()->isPlaying());
    EXPECT_EQ(playPos(), 176400u);
    EXPECT_EQ(points(), Points({176400, 352800})); // a click moves nothing

    // Before the first point: from the start marker.
    m_kerfer.playLoop(false);
    press(m_view.get(), QPoint(40, 50));
    release(m_view.get(), QPoint(40, 50));
    EXPECT_TRUE(m_kerfer.getLoop()->isPlaying());
    EXPECT_EQ(playPos(), 88200u);
}

TEST_F(SampleRendererKerferTest, ContextMenuOffersWhatFitsThePlace)
{
    showLoop();
    addPoints({176400}); // x 200

    rightClick(205);
    EXPECT_TRUE(m_view->deletePoint()->isEnabled());
    EXPECT_FALSE(m_view->sliceHere()->isEnabled());
    EXPECT_TRUE(m_view->saveSlice()->isEnabled());
    m_view->deletePoint()->trigger();
    EXPECT_TRUE(points().isEmpty());

    rightClick(301);
    EXPECT_FALSE(m_view->deletePoint()->isEnabled());
    EXPECT_TRUE(m_view->sliceHere()->isEnabled());
    m_view->sliceHere()->trigger();
    EXPECT_EQ(points(), Points({301 * 882}));
    // A right-click never starts a drag.
    release(m_view.get(), QPoint(400, 50));
    EXPECT_EQ(points(), Points({301 * 882}));
}

TEST_F(SampleRendererKerferTest, WheelZoomsTowardsTheMouseAndScrolls)
{
    showLoop();
    QSignalSpy changed(m_view.get(), &SampleRenderer::viewChanged);
    wheel(m_view.get(), QPoint(600, 50), QPoint(0, 120));
    const double span = double(m_view->getViewEnd() - m_view->getViewStart());
    EXPECT_NEAR(span / kLength, std::exp(-0.25), 0.001);
    EXPECT_GT(m_view->getViewStart(), kLength - m_view->getViewEnd()); // towards x 600
    EXPECT_GE(changed.count(), 1);

    // Sideways: 15 % of the span per notch.
    const unsigned long start = m_view->getViewStart();
    wheel(m_view.get(), QPoint(400, 50), QPoint(-120, 0));
    EXPECT_NEAR(double(m_view->getViewStart()), start + 0.15 * span, 1.0);

    // Zooming in for ever stops short of 101 samples.
    for (int i = 0; i < 100; ++i)
        wheel(m_view.get(), QPoint(400, 50), QPoint(0, 120));
    const unsigned long narrowest = m_view->getViewEnd() - m_view->getViewStart();
    EXPECT_GE(narrowest, 101u);
    EXPECT_LT(narrowest, 140u);
    wheel(m_view.get(), QPoint(400, 50), QPoint(0, 120));
    EXPECT_EQ(m_view->getViewEnd() - m_view->getViewStart(), narrowest);

    // Zooming out ends at the whole loop.
    for (int i = 0; i < 100; ++i)
        wheel(m_view.get(), QPoint(400, 50), QPoint(0, -120));
    EXPECT_EQ(m_view->getViewStart(), 0u);
    EXPECT_EQ(m_view->getViewEnd(), kLength);
}

TEST_F(SampleRendererKerferTest, DrawsPointsAndMarkerTriangles)
{
    showLoop();
    m_kerfer.setStartMarker(88200); // x 100
    m_kerfer.setEndMarker(441000);  // x 500
    addPoints({264600});            // x 300
    const QImage image = frame(m_view.get());
    const int h = kHeight;
    const auto red = is(QColor(255, 40, 40));
    const auto blue = is(QColor(40, 40, 255));
    EXPECT_TRUE(nearHorizontal(image, 300, 50, is(QColor(200, 0, 0))));
    EXPECT_TRUE(nearHorizontal(image, 300, h - 20, is(QColor(200, 0, 0))));
    // Triangles at the top and bottom edges, the line between them.
    for (const QPoint& p : {QPoint(94, 1), QPoint(106, 1), QPoint(100, 6), QPoint(94, h - 2),
                            QPoint(106, h - 2), QPoint(100, h - 7), QPoint(100, h / 2)})
        EXPECT_TRUE(nearHorizontal(image, p.x(), p.y(), red)) << p.x() << "," << p.y();
    for (const QPoint& p : {QPoint(494, 1), QPoint(506, 1), QPoint(500, h - 7)})
        EXPECT_TRUE(nearHorizontal(image, p.x(), p.y(), blue)) << p.x() << "," << p.y();
    EXPECT_FALSE(nearHorizontal(image, 94, 12, red));
}

TEST_F(SampleRendererKerferTest, WithoutAudioItInvitesADropAndIgnoresTheMouse)
{
    // Nothing loaded: the picture in the middle, no reaction to the mouse.
    showAt(m_view.get());
    const QImage image = frame(m_view.get());
    // The arrow of the picture lies 10 pixels left of the middle, 50 above.
    EXPECT_TRUE(nearHorizontal(image, kWidth / 2, kHeight / 2 - 50, is(QColor(200, 200, 200))));
    press(m_view.get(), QPoint(400, 50));
    release(m_view.get(), QPoint(400, 50));
    rightClick(400);
    EXPECT_FALSE(m_view->menu()->isVisible());

    // A file that gave no audio: a loop of length 0, drawn the same way.
    TestAudio::writeBytes(m_dir + "/bad.wav", "not audio");
    EXPECT_FALSE(m_kerfer.slotLoadLoop(m_dir + "/bad.wav"));
    m_view->setSlice(m_kerfer.getLoop());
    m_kerfer.addSlicePoint(1000);
    const QImage empty = frame(m_view.get());
    EXPECT_TRUE(nearHorizontal(empty, kWidth / 2, kHeight / 2 - 50, is(QColor(200, 200, 200))));
    wheel(m_view.get(), QPoint(400, 50), QPoint(0, 120));
    EXPECT_EQ(m_view->getViewEnd(), 0u);
}

TEST_F(SampleRendererKerferTest, SaveSliceWritesTheSliceUnderTheRightClick)
{
    showLoop();
    // Until export comes, the Kerfer writes nothing and says so.
    const bool exportMissing =
        !m_kerfer.saveSlice(0, m_dir + "/probe.wav") && LogCapture::contains("not available yet");
    addPoints({176400, 352800}); // x 200, 400
    QSignalSpy saved(m_view.get(), &SampleRendererKerfer::sliceSaved);

    // The slice 176400..352800, chosen by a right-click; a left click in
    // between does not change which one is saved.
    rightClick(300);
    press(m_view.get(), QPoint(600, 50));
    release(m_view.get(), QPoint(600, 50));
    m_kerfer.playLoop(false);
    const QString out = m_dir + "/out";
    QDir().mkpath(out);
    m_view->answer = out + "/piece";
    m_view->answerFilter = m_view->tr("AIFF files (*.aif *.aiff)");
    m_view->saveSlice()->trigger();

    // The first dialog starts beside the loop, with the slice's number.
    EXPECT_EQ(m_view->suggested, m_dir + "/loop_2.wav");
    if (exportMissing) {
        // A failed write is reported nowhere but the log, and not remembered.
        EXPECT_EQ(saved.count(), 0);
        EXPECT_TRUE(Settings::instance()->getSetting("last_slice_save_path").isEmpty());
        GTEST_SKIP() << "slices cannot be written yet (export)";
    }
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved.at(0).at(0).toString(), out);
    EXPECT_EQ(saved.at(0).at(1).toString(), "piece.aif");
    int channels = 0;
    const std::vector<float> written = TestAudio::readFile(out + "/piece.aif", &channels);
    ASSERT_EQ(written.size(), 352800u - 176400u);
    EXPECT_FLOAT_EQ(written.front(), TestAudio::ramp(88200, 0));
    EXPECT_FLOAT_EQ(written.back(), TestAudio::ramp(176399, 1));
    EXPECT_EQ(Settings::instance()->getSetting("last_slice_save_path"), out);

    // The next dialog starts in that folder; cancelling writes nothing.
    rightClick(100);
    m_view->answer.clear();
    m_view->saveSlice()->trigger();
    EXPECT_EQ(m_view->suggested, out + "/loop_1.wav");
    EXPECT_EQ(saved.count(), 1);
}

} // namespace
