#include "SampleRendererKerfer.h"

#include "EngineTestSupport.h"
#include "KerferHistory.h"
#include "Settings.h"
#include "ViewTestSupport.h"

#include <QAction>
#include <QMenu>

#include <cmath>
#include <memory>

using namespace ViewTest;
using Points = QList<unsigned long>;

namespace {

// Opens up the menu.
class TestView : public SampleRendererKerfer
{
public:
    using SampleRendererKerfer::SampleRendererKerfer;
    QAction* sliceHere() const { return m_pActionSliceHere; }
    QAction* deletePoint() const { return m_pActionDeleteSlicePoint; }
    QMenu* menu() const { return m_pContextMenu; }
};

class SampleRendererKerferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EngineTestSupport::useFreshSettings(m_dir + "/data");
        m_view = std::make_unique<TestView>(nullptr, &m_kerfer);
    }
    void TearDown() override
    {
        m_view.reset();
        Settings::resetInstanceForTests();
    }
    // The test loop shown whole: 882 samples per pixel.
    void showLoop(const Points& points = {})
    {
        loadLoop(&m_kerfer, writeLoop(m_dir));
        m_view->setSlice(m_kerfer.getLoop());
        showAt(m_view.get());
        for (unsigned long p : points)
            m_kerfer.addSlicePoint(p);
    }
    void dragX(int from, int to) { drag(m_view.get(), QPoint(from, 50), QPoint(to, 50)); }
    void click(int x) { ViewTest::click(m_view.get(), QPoint(x, 50)); }
    void rightClick(int x)
    {
        press(m_view.get(), QPoint(x, 100), Qt::RightButton);
        m_view->menu()->hide();
    }
    Points points() { return m_kerfer.getSlicePoints(); }
    QSharedPointer<Slice> loop() { return m_kerfer.getLoop(); }

    QString m_dir = TestAudio::scratchDir(testName());
    Kerfer m_kerfer;
    std::unique_ptr<TestView> m_view;
};

TEST_F(SampleRendererKerferTest, DraggedPointsAndMarkers)
{
    showLoop({176400, 529200}); // x 200, 600
    const unsigned long moved = 176400 + 50 * 882;
    const struct
    {
        int from, to;
        Points after;
    } steps[] = {
        {203, 253, {moved, 529200}},
        {600, kWidth, {moved, kLength}}, // released exactly on the right edge: kept
        {kWidth, kWidth + 1, {moved}},   // beyond either edge: removed
        {250, 0, {}},
    };
    for (const auto& step : steps) {
        dragX(step.from, step.to);
        EXPECT_EQ(points(), step.after) << step.from << " to " << step.to;
    }
    // The markers keep 512 samples apart.
    m_kerfer.setStartMarker(88200); // x 100
    m_kerfer.setEndMarker(441000);  // x 500
    dragX(497, -50);
    EXPECT_EQ(m_kerfer.getEndMarker(), 88200u + 512);
    // Within 8 pixels of a point and a marker: the point is dragged.
    m_kerfer.addSlicePoint(91728); // x 104
    dragX(102, 152);
    EXPECT_EQ(m_kerfer.getStartMarker(), 88200u);
    EXPECT_EQ(points(), Points({91728 + 50 * 882}));
}

TEST_F(SampleRendererKerferTest, EachDragIsOneStepAndPointsPutByHandGoToTheNearestCrossing)
{
    loadLoop(&m_kerfer, writeLoop(m_dir, fiftyHz));
    m_view->setSlice(loop());
    showAt(m_view.get());
    KerferHistory history(&m_kerfer);
    m_view->setHistory(&history);
    m_view->setSnapToZeroCrossings(true);
    m_kerfer.addSlicePoint(176400); // x 200
    QUndoStack* stack = history.getStack();

    // However many moves, one step; dropped 100 samples left of a crossing, it lands there.
    press(m_view.get(), QPoint(203, 50));
    for (int x = 204; x <= 260; ++x)
        dragTo(m_view.get(), QPoint(x, 50));
    release(m_view.get(), QPoint(260, 50));
    ASSERT_EQ(stack->count(), 1);
    EXPECT_EQ(stack->undoText(), "Move Slice Point");
    ASSERT_EQ(points().size(), 1);
    EXPECT_NEAR(double(points().first()), 257 * 882 + 100, 2.0);
    stack->undo();
    EXPECT_EQ(points(), Points({176400}));
    stack->redo();

    rightClick(301);
    m_view->sliceHere()->trigger();
    EXPECT_EQ(stack->undoText(), "Add Slice Point");
    const unsigned long added = points().last();
    EXPECT_NEAR(double(added), 301 * 882 + 100, 2.0);
    // A click on a point moves nothing and makes no step; off, a drop stays where it is put.
    click(301);
    m_view->setSnapToZeroCrossings(false);
    dragX(301, 351);
    EXPECT_EQ(points().last(), added + 50 * 882);
    EXPECT_EQ(stack->count(), 3);
}

TEST_F(SampleRendererKerferTest, ClickPlaysTheSliceUnderItAndTheMenuFitsThePlace)
{
    showLoop({176400, 352800}); // x 200, 400
    m_kerfer.setStartMarker(88200);
    click(300);
    EXPECT_TRUE(loop()->isPlaying());
    EXPECT_EQ(loop()->getPlayPos(), 176400u);
    EXPECT_EQ(points(), Points({176400, 352800})); // a click moves nothing
    click(40);                                     // before the first point: from the start marker
    EXPECT_EQ(loop()->getPlayPos(), 88200u);
    m_kerfer.playLoop(false);

    rightClick(405);
    EXPECT_TRUE(m_view->deletePoint()->isEnabled());
    EXPECT_FALSE(m_view->sliceHere()->isEnabled());
    m_view->deletePoint()->trigger();
    rightClick(301);
    EXPECT_FALSE(m_view->deletePoint()->isEnabled());
    EXPECT_TRUE(m_view->sliceHere()->isEnabled());
    m_view->sliceHere()->trigger();
    release(m_view.get(), QPoint(500, 50)); // a right press starts no drag
    EXPECT_EQ(points(), Points({176400, 301 * 882}));
}

TEST_F(SampleRendererKerferTest, WheelZoomsTowardsTheMouseDownTo101SamplesAndStopsAtTheEnds)
{
    // A slice of length 0: nothing to divide by.
    m_view->setSlice(QSharedPointer<Slice>(new Slice()));
    showAt(m_view.get());
    wheel(m_view.get(), QPoint(400, 50), 120);
    EXPECT_EQ(m_view->getViewEnd(), 0u);
    click(400);
    rightClick(400);
    EXPECT_FALSE(m_view->menu()->isVisible());

    showLoop();
    const auto span = [this] { return m_view->getViewEnd() - m_view->getViewStart(); };
    wheel(m_view.get(), QPoint(600, 50), 120);
    EXPECT_NEAR(double(span()) / kLength, std::exp(-0.25), 0.001);
    EXPECT_GT(m_view->getViewStart(), kLength - m_view->getViewEnd()); // towards x 600
    for (int i = 0; i < 100; ++i)
        wheel(m_view.get(), QPoint(400, 50), 120);
    const unsigned long narrowest = span();
    EXPECT_GE(narrowest, 101u);
    EXPECT_LT(narrowest, 140u);
    wheel(m_view.get(), QPoint(400, 50), 120);
    EXPECT_EQ(span(), narrowest);
    for (int i = 0; i < 100; ++i)
        wheel(m_view.get(), QPoint(400, 50), -120);
    EXPECT_EQ(span(), kLength);

    // Scrolled or zoomed out into an end, the view stops there as wide as it was.
    wheel(m_view.get(), QPoint(400, 50), 480);
    const unsigned long zoomed = span();
    for (int i = 0; i < 30; ++i)
        wheel(m_view.get(), QPoint(400, 50), 0, -120);
    EXPECT_EQ(m_view->getViewEnd(), kLength);
    EXPECT_EQ(span(), zoomed);
    wheel(m_view.get(), QPoint(400, 50), -120);
    EXPECT_EQ(m_view->getViewEnd(), kLength);
    EXPECT_NEAR(double(span()) / zoomed, std::exp(0.25), 0.001);
    for (int i = 0; i < 30; ++i)
        wheel(m_view.get(), QPoint(400, 50), 0, 120);
    EXPECT_EQ(m_view->getViewStart(), 0u);
    EXPECT_NEAR(double(span()) / zoomed, std::exp(0.25), 0.001);
}

TEST_F(SampleRendererKerferTest, DrawsPointsAndMarkerTriangles)
{
    // The second slice, 4 pixels wide, has no room for its number.
    showLoop({264600, 268128});     // x 300, 304
    m_kerfer.setStartMarker(88200); // x 100
    m_kerfer.setEndMarker(441000);  // x 500
    const QImage image = frame(m_view.get());
    const auto numberPixels = [&image](int from, int to) {
        int n = 0;
        for (int x = from; x <= to; ++x)
            for (int y = 12; y < 28; ++y)
                n += QColor(image.pixel(x, y)).value() > 200 &&
                     QColor(image.pixel(x, y)).saturation() < 40;
        return n;
    };
    EXPECT_GT(numberPixels(101, 112), 5);
    EXPECT_EQ(numberPixels(60, 99), 0);
    EXPECT_EQ(numberPixels(301, 305), 0);
    EXPECT_GT(numberPixels(306, 318), 5);
    const int h = kHeight;
    const auto red = is(QColor(255, 40, 40));
    EXPECT_TRUE(nearLine(image, 300, 50, is(QColor(200, 0, 0))));
    // Triangles at the top and bottom edges, the line between them.
    for (const QPoint& p : {QPoint(94, 1), QPoint(106, 1), QPoint(100, 6), QPoint(94, h - 2),
                            QPoint(106, h - 2), QPoint(100, h - 7), QPoint(100, h / 2)})
        EXPECT_TRUE(nearLine(image, p.x(), p.y(), red)) << p.x() << "," << p.y();
    EXPECT_FALSE(nearLine(image, 94, 12, red));
    for (const QPoint& p : {QPoint(494, 1), QPoint(506, 1), QPoint(500, h - 7)})
        EXPECT_TRUE(nearLine(image, p.x(), p.y(), is(QColor(40, 40, 255))));
}

} // namespace
